"""Failures a user of the command must see: one line, exit status 1."""


class ToolError(Exception):
    """A failure of the camera, the stream or the output; the text is the whole message."""


class FrameTimeout(ToolError):
    """The stream delivered no frame within the time-out."""
