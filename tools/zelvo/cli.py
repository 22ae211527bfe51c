"""The command line: `zelvo <subcommand> [options]`.

Exit status: 0 on success, 1 on a failure the user must see (no camera, a stream that
delivers nothing, an output that cannot be written: one line on standard error), 2 on a
usage error (argparse), 130 on Ctrl-C.
"""
import argparse
import importlib
import sys

from zelvo.errors import ToolError

SUBCOMMANDS = ("info", "capture", "record", "play", "cloud", "view")

EXIT_FAILURE = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130


def common_options():
    """The options every subcommand takes: which camera, how to open it, VGA's mode."""
    common = argparse.ArgumentParser(add_help=False)
    group = common.add_argument_group("camera")
    group.add_argument("--connect", choices=("CSI", "USB"), default="CSI",
                       help="transport of the camera (default: CSI)")
    group.add_argument("--index", type=non_negative_int, default=0, metavar="N",
                       help="video node or USB device index (default: 0)")
    group.add_argument("--config-file", metavar="PATH",
                       help="open the USB camera with this SDK configuration file")
    group.add_argument("--mode", choices=("single", "double"), default="double",
                       help="VGA frequency mode: double reaches 4500 mm, single 1250 mm "
                            "(default: double; HQVGA has one mode)")
    return common


def non_negative_int(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("'%s' is not a whole number" % text) from None
    if value < 0:
        raise argparse.ArgumentTypeError("'%s' is negative" % text)
    return value


def positive_int(text):
    value = non_negative_int(text)
    if value == 0:
        raise argparse.ArgumentTypeError("'%s' is not at least 1" % text)
    return value


def positive_float(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("'%s' is not a number" % text) from None
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError("'%s' is not a positive number" % text)
    return value


def description(doc):
    """A subcommand's description for --help from its module text: without the leading
    "zelvo <name>: ", in one paragraph."""
    text = " ".join(doc.split())
    head, _, rest = text.partition(": ")
    text = rest if head.startswith("zelvo ") else text
    return text[:1].upper() + text[1:]


def add_length_options(parser, default_frames):
    """--frames N | --seconds S, for commands that take a stretch of the stream, and
    --timeout S, the longest wait for one frame."""
    length = parser.add_mutually_exclusive_group()
    length.add_argument("--frames", type=positive_int, metavar="N",
                        help="number of frames (default: %d)" % default_frames)
    length.add_argument("--seconds", type=positive_float, metavar="S",
                        help="take frames for S seconds instead")
    parser.add_argument("--timeout", type=positive_float, default=5.0, metavar="S",
                        help="fail when no frame arrives within S seconds (default: 5)")
    parser.set_defaults(default_frames=default_frames)


def stream_length(args):
    """(count, seconds) for Camera.frames from the options of add_length_options."""
    if args.seconds is not None:
        return None, args.seconds
    return (args.frames or args.default_frames), None


def _subcommand_modules():
    """The subcommand modules that are there, in the order of SUBCOMMANDS."""
    for name in SUBCOMMANDS:
        qualified = "zelvo.commands." + name
        try:
            yield importlib.import_module(qualified)
        except ModuleNotFoundError as error:
            if error.name != qualified:
                raise  # the module is there but needs something missing: show it
            continue


def build_parser():
    parser = argparse.ArgumentParser(
        prog="zelvo",
        description="See, save and measure what the depth camera sees. "
                    "With ZELVO_SIM set, everything runs on the simulated board.")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    common = common_options()
    for module in _subcommand_modules():
        module.register(subparsers, common)
    return parser


def main(argv=None):
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as exit_:  # --help (0) or a usage error (2)
        return exit_.code if isinstance(exit_.code, int) else EXIT_USAGE
    try:
        return int(args.func(args) or 0)
    except ToolError as error:
        return fail(args.command, str(error))
    except OSError as error:  # an output or input the user named
        where = ": '%s'" % error.filename if error.filename else ""
        return fail(args.command, "%s%s" % (error.strerror or error, where))
    except KeyboardInterrupt:
        print(file=sys.stderr)
        return EXIT_INTERRUPTED


def fail(command, message):
    print("zelvo %s: %s" % (command, message), file=sys.stderr)
    return EXIT_FAILURE
