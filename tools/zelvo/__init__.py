"""The `zelvo` command and the small library it is built from.

A pure-Python package over the extension module ZelvoDepthCamera:

- `zelvo.camera.Camera`: a camera as a context manager (always stopped and closed),
  with an iterator of frames that raises `FrameTimeout` instead of returning None;
- `zelvo.intrinsics`: the lens of the camera in use and where it comes from;
- `zelvo.geometry`: radial depth to Z and to points;
- `zelvo.cli.main`: the command line (`python3 -m zelvo`, or the `zelvo` program).
"""
from zelvo.errors import FrameTimeout, ToolError

__all__ = ["FrameTimeout", "ToolError"]
