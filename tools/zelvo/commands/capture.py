"""zelvo capture: a stretch of the depth stream saved as numpy arrays, and as pictures.

DIR/frames.npz holds `depth`, `amplitude`, `confidence` (N x H x W float32, as delivered:
depth radial in mm), `timestamps` (N, uint64), `meta` (JSON text: the camera, its settings,
its intrinsics) and with --raw `raw` (N frames of a RAW stream taken after the depth
frames, int16). --png writes DIR/frame_NNNN.png, colourised depth beside amplitude;
--png16 writes DIR/z_NNNN.png, 16-bit Z in millimetres (0 where invalid).
"""
import json
import os

import numpy as np

from zelvo import cli, geometry, images
from zelvo.camera import Camera
from zelvo.intrinsics import Intrinsics
from zelvo.outputs import prepare_folder
from zelvo.progress import progress, track

HELP = "save frames of the depth stream as numpy arrays and pictures"
DEFAULT_FRAMES = 10
ARCHIVE = "frames.npz"


def register(subparsers, common):
    parser = subparsers.add_parser("capture", parents=[common], help=HELP,
                                   description=cli.description(__doc__))
    cli.add_length_options(parser, DEFAULT_FRAMES)
    parser.add_argument("--output", default="capture", metavar="DIR",
                        help="folder to write into (default: capture)")
    parser.add_argument("--png", action="store_true",
                        help="also write colourised depth beside amplitude, per frame")
    parser.add_argument("--png16", action="store_true",
                        help="also write 16-bit PNGs of Z in millimetres, per frame")
    parser.add_argument("--raw", action="store_true",
                        help="also take as many frames of the RAW stream")
    parser.set_defaults(func=run)


def run(args):
    folder = prepare_folder(args.output)
    count, seconds = cli.stream_length(args)
    with Camera(args.connect, args.index, args.config_file, args.mode) as camera:
        meta = camera.meta()
        print(camera_line(meta))
        frames = list(track(camera.frames(count, seconds, args.timeout), count, seconds,
                            desc="depth"))
        raw = None
        if args.raw:
            raw = [frame.raw for frame in track(
                camera.frames(len(frames), timeout_s=args.timeout, output="raw"),
                len(frames), desc="raw")]
    arrays = stack(frames, meta)
    if raw is not None:
        arrays["raw"] = np.stack(raw)
    archive = os.path.join(folder, ARCHIVE)
    with progress(desc="writing %s" % archive, unit="array", total=1):
        np.savez(archive, **arrays)
    print(summary(arrays))
    print("written:    %s" % archive)
    intrinsics = Intrinsics.from_dict(meta["intrinsics"])
    if args.png:
        print("            %s" % write_pictures(folder, arrays))
    if args.png16:
        print("            %s" % write_z_pngs(folder, arrays, intrinsics))
    return 0


def camera_line(meta):
    mode = ", %s frequency" % meta["mode"] if meta["mode"] else ""
    rate = ", %d frames/s" % meta["frame_rate"] if meta["frame_rate"] > 0 else ""
    return "camera:     %s over %s, %d x %d%s, range %d mm%s" % (
        meta["device_type"], meta["connection"], meta["width"], meta["height"], mode,
        meta["range_mm"], rate)


def stack(frames, meta):
    return {
        "depth": np.stack([frame.depth for frame in frames]).astype(np.float32, copy=False),
        "amplitude": np.stack([frame.amplitude for frame in frames]).astype(np.float32,
                                                                            copy=False),
        "confidence": np.stack([frame.confidence for frame in frames]).astype(np.float32,
                                                                              copy=False),
        "timestamps": np.array([frame.timestamp for frame in frames], dtype=np.uint64),
        "meta": np.array(json.dumps(meta)),
    }


def summary(arrays):
    stamps = arrays["timestamps"].astype(np.int64)
    count = len(stamps)
    line = "captured:   %d frames" % count
    if count > 1 and stamps[-1] > stamps[0]:
        line += ", %.1f frames/s by their timestamps" % ((count - 1) * 1000.0
                                                         / (stamps[-1] - stamps[0]))
    last = arrays["depth"][-1]
    valid = last[images.valid_depth(last)]
    if valid.size:
        line += "\ndepth:      median %.0f mm, %.1f %% of the pixels valid (last frame)" % (
            np.median(valid), 100.0 * valid.size / last.size)
    return line


def write_pictures(folder, arrays):
    depth, amplitude = arrays["depth"], arrays["amplitude"]
    span, top = images.depth_scale(depth), images.amplitude_scale(amplitude)
    names = []
    for number in progress(desc="pictures", iterable=range(len(depth))):
        name = os.path.join(folder, "frame_%04d.png" % number)
        images.side_by_side(depth[number], amplitude[number], span, top).save(name)
        names.append(name)
    return "%s ... (%d pictures: depth %.0f to %.0f mm beside amplitude)" % (
        names[0], len(names), span[0], span[1])


def write_z_pngs(folder, arrays, intrinsics):
    names = []
    for number, depth in enumerate(progress(desc="16-bit Z", iterable=arrays["depth"])):
        name = os.path.join(folder, "z_%04d.png" % number)
        images.png16(geometry.z_to_png16(geometry.radial_to_z(depth, intrinsics))).save(name)
        names.append(name)
    return "%s ... (%d 16-bit PNGs of Z in mm)" % (names[0], len(names))
