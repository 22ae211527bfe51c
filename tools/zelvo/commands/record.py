"""zelvo record: a stretch of the camera's stream saved as a ROS 1 bag.

Without --depth a raw recording: the RAW stream as the camera delivers it, which the
simulated board serves again as a camera (ZELVO_SIM=replay=FILE.bag; `zelvo play FILE.bag`
shows it). With --depth a recording for ROS tools: Z in metres, amplitude and confidence;
it cannot be replayed. Both hold the camera information with the intrinsics and the meta
of `zelvo capture`. docs/recordings.md describes the topics.
"""
from zelvo import cli
from zelvo.camera import Camera
from zelvo.progress import track

HELP = "record the RAW stream (or with --depth the depth stream) into a ROS 1 bag"
DEFAULT_FRAMES = 30


def register(subparsers, common):
    parser = subparsers.add_parser("record", parents=[common], help=HELP,
                                   description=__doc__.split("\n\n")[1].replace("\n", " "))
    parser.add_argument("file", metavar="FILE.bag", help="the recording to write")
    cli.add_length_options(parser, DEFAULT_FRAMES)
    parser.add_argument("--depth", action="store_true",
                        help="record the depth stream (Z in metres) for ROS tools; "
                             "not replayable")
    parser.set_defaults(func=run)


def run(args):
    from zelvo import recording  # the ROS libraries load with it

    count, seconds = cli.stream_length(args)
    output = "depth" if args.depth else "raw"
    writer = recording.Writer(args.file, depth=args.depth)
    try:
        with Camera(args.connect, args.index, args.config_file, args.mode) as camera:
            meta = camera.meta()
            intr = camera.intrinsics
            for frame in track(camera.frames(count, seconds, args.timeout, output=output),
                               count, seconds, desc=output):
                writer.add(frame, intr)
        meta = writer.finish(meta, intr)
    except BaseException:
        writer.discard()
        raise
    print("recorded:   %d %s frames of %s over %s into %s" % (
        meta["frames"], output.upper(), meta["device_type"], meta["connection"], args.file))
    return 0
