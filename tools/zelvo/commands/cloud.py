"""zelvo cloud: the scene as a PLY point cloud.

One frame, or the per-pixel median of N frames (quieter), turned into points with the
camera's intrinsics: x right, y down, z forward, in metres (float32), coloured grey by the
amplitude. Pixels without a valid depth are left out. Binary little-endian by default.
"""
import warnings

import numpy as np

from zelvo import cli, geometry, images, ply
from zelvo.camera import Camera
from zelvo.cli import positive_float, positive_int
from zelvo.errors import ToolError
from zelvo.intrinsics import Intrinsics
from zelvo.outputs import discard, open_output
from zelvo.progress import track

HELP = "save a point cloud of the scene as a PLY file"


def register(subparsers, common):
    parser = subparsers.add_parser("cloud", parents=[common], help=HELP,
                                   description=cli.description(__doc__))
    parser.add_argument("--output", required=True, metavar="FILE.ply", help="the PLY file")
    parser.add_argument("--frames", type=positive_int, default=1, metavar="N",
                        help="median of N frames per pixel (default: 1)")
    parser.add_argument("--ascii", action="store_true", help="write a text PLY")
    parser.add_argument("--timeout", type=positive_float, default=5.0, metavar="S",
                        help="fail when no frame arrives within S seconds (default: 5)")
    parser.set_defaults(func=run)


def run(args):
    stream = open_output(args.output)
    try:
        with Camera(args.connect, args.index, args.config_file, args.mode) as camera:
            meta = camera.meta()
            frames = list(track(camera.frames(args.frames, timeout_s=args.timeout),
                                args.frames, desc="frames"))
        depth, amplitude = median_frame(frames)
        intrinsics = Intrinsics.from_dict(meta["intrinsics"])
        points = geometry.radial_to_points(depth, intrinsics)
        grey = images.amplitude_grey(amplitude, images.amplitude_scale(amplitude))
        table = ply.vertices(points, np.repeat(grey[..., None], 3, axis=-1))
        if len(table) == 0:
            raise ToolError("no pixel has a valid depth; nothing written")
        comments = ["zelvo cloud: %s over %s, %d x %d, median of %d frames"
                    % (meta["device_type"], meta["connection"], meta["width"],
                       meta["height"], len(frames)),
                    "intrinsics: %s, from %s" % (intrinsics.describe(), intrinsics.source)]
        ply.write(stream, table, args.ascii, comments)
        stream.close()
    except BaseException:
        discard(stream)
        raise
    print("written:    %s (%d points of %d pixels, median of %d frames)"
          % (args.output, len(table), depth.size, len(frames)))
    return 0


def median_frame(frames):
    """Per pixel, the median of the valid depths and of the amplitudes; NaN depth where no
    frame has a valid one."""
    if len(frames) == 1:
        return frames[0].depth, frames[0].amplitude
    depth = np.stack([frame.depth for frame in frames])
    depth = np.where(images.valid_depth(depth), depth, np.nan)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # pixels invalid in every frame
        median = np.nanmedian(depth, axis=0)
    amplitude = np.median(np.stack([frame.amplitude for frame in frames]), axis=0)
    return median.astype(np.float32), amplitude.astype(np.float32)
