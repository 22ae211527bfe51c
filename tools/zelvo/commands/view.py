"""zelvo view: a live viewer in the browser, for boards without a screen."""
import sys

from zelvo.camera import Camera
from zelvo.errors import ToolError

DEFAULT_HOST = "127.0.0.1"
DEFAULT_PORT = 8080
HELP = "serve a live view of the camera to a browser: depth, amplitude, the point cloud in " \
       "3-D, frame rate, latency and the controls"


def register(subparsers, common):
    parser = subparsers.add_parser(
        "view", parents=[common], help=HELP,
        description=HELP + ". Open the address it prints; on another machine, forward the "
                           "port (ssh -L 8080:127.0.0.1:8080 BOARD) or listen with --host.")
    parser.add_argument("--host", default=DEFAULT_HOST,
                        help="address to listen on (default: 127.0.0.1, this machine only)")
    parser.add_argument("--port", type=port_number, default=DEFAULT_PORT,
                        help="port to listen on, 0 for any free one (default: 8080)")
    parser.set_defaults(func=run)


def port_number(text):
    import argparse
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("'%s' is not a port number" % text) from None
    if not 0 <= value <= 65535:
        raise argparse.ArgumentTypeError("'%s' is not a port number (0 to 65535)" % text)
    return value


def run(args):
    """Serves until Ctrl-C (or SIGTERM), then stops the stream and closes the camera.
    `zelvo play` calls this too, with ZELVO_SIM naming a recording; without --host and
    --port of its own it serves on the defaults."""
    try:
        from zelvo.viewer import server
    except ImportError as error:
        if error.name not in ("aiohttp", "multidict", "yarl"):
            raise
        raise ToolError("the viewer needs aiohttp (Debian: apt-get install python3-aiohttp)") \
            from None
    host, port = getattr(args, "host", DEFAULT_HOST), getattr(args, "port", DEFAULT_PORT)
    with Camera(args.connect, args.index, args.config_file, args.mode) as camera:
        server.serve(camera, host, port)
    print("zelvo view: stopped", file=sys.stderr)
    return 0
