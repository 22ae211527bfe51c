"""zelvo info: what is attached and how it is set."""
import os

from zelvo import intrinsics as lenses
from zelvo.camera import Camera

HELP = "show the board, the camera, its settings and where its intrinsics come from"


def register(subparsers, common):
    parser = subparsers.add_parser("info", parents=[common], help=HELP,
                                   description=HELP[:1].upper() + HELP[1:] + ".")
    parser.set_defaults(func=run)


def run(args):
    with Camera(args.connect, args.index, args.config_file, args.mode) as camera:
        lines = describe(camera)
    print("\n".join(lines))
    return 0


def describe(camera):
    meta = camera.meta()
    lines = [
        "board:       %s" % meta["board"],
        "camera:      %s over %s, index %d" % (meta["device_type"], meta["connection"],
                                              meta["index"]),
        "depth frame: %d x %d pixels" % (meta["width"], meta["height"]),
    ]
    if meta["mode"] is not None:
        lines.append("mode:        %s frequency" % meta["mode"])
    lines += [
        "range:       %d mm" % meta["range_mm"],
        "frame rate:  " + ("%d frames/s" % meta["frame_rate"] if meta["frame_rate"] > 0
                           else "not reported by the camera"),
        "controls:",
    ]
    lines += ["  %-16s %d" % (name, value) for name, value in meta["controls"].items()]
    intrinsics = camera.intrinsics
    lines += ["intrinsics:  %s" % intrinsics.describe(),
              "  distortion k1 %g k2 %g p1 %g p2 %g" % intrinsics.distortion,
              "  from %s" % intrinsics.source]
    if meta["device_type"] == "VGA":
        lines.append("calibration: " + depth_calibration_text())
    return lines


def depth_calibration_text():
    """Whether the VGA device corrects its depth: it applies "cali.bin" of the working
    directory at each start."""
    if os.path.exists(lenses.CALIBRATION_FILE):
        return "depth corrected with %s" % lenses.calibration_file_text()
    return ('depth not corrected: no "%s" in the working directory (`zelvo-calibration save '
            '%s` saves the one in the sensor\'s memory)' % ((lenses.CALIBRATION_FILE,) * 2))
