"""zelvo play: a raw recording shown in the viewer, served by the simulated board as the
camera it was recorded from (ZELVO_SIM=replay=FILE.bag), looping at its recorded rate."""
import argparse
import os

from zelvo import cli
from zelvo.errors import ToolError

HELP = "show a raw recording in the viewer, replayed as a camera"


def register(subparsers, common):
    parser = subparsers.add_parser("play", parents=[common], help=HELP, description=__doc__)
    parser.add_argument("file", metavar="FILE.bag", help="a raw recording of `zelvo record`")
    parser.add_argument("--host", default=None, help="address the viewer listens on")
    parser.add_argument("--port", type=int, default=None, help="port the viewer listens on")
    parser.set_defaults(func=run)


def replay_settings(path, current):
    """ZELVO_SIM for replaying path: the current settings with the recording in place of
    any other one (the keys that pick a scene do not apply to a replay and are left)."""
    kept = [item for item in (current or "").split(",")
            if "=" in item and not item.startswith("replay=")]
    return ",".join(kept + ["replay=" + os.path.abspath(path)])


def _viewer():
    try:
        from zelvo.commands import view
    except ImportError as error:
        raise ToolError("the viewer (zelvo view) is not part of this installation: %s"
                        % error) from None
    return view


def _viewer_defaults(view):
    """The viewer's own options with their defaults."""
    parser = argparse.ArgumentParser(add_help=False)
    view.register(parser.add_subparsers(dest="command"), cli.common_options())
    return vars(parser.parse_args(["view"]))


def run(args):
    from zelvo import recording

    if not os.path.isfile(args.file):
        raise ToolError("no recording '%s'" % args.file)
    meta = recording.read_meta(args.file)
    if meta.get("recording") != "raw":
        raise ToolError("'%s' is a depth recording: only raw recordings replay" % args.file)
    view = _viewer()
    for name, value in _viewer_defaults(view).items():
        if getattr(args, name, None) is None:
            setattr(args, name, value)
    # A recording holds one frequency mode: the camera is opened in it.
    if meta.get("mode") in ("single", "double"):
        args.mode = meta["mode"]
    os.environ["ZELVO_SIM"] = replay_settings(args.file, os.environ.get("ZELVO_SIM"))
    return view.run(args)
