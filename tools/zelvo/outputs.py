"""Where the commands write: checked before the camera opens, so that a wrong path fails
at once and not after a capture."""
import os
import tempfile

from zelvo.errors import ToolError


def prepare_folder(path):
    """Creates the folder if needed and checks that files can be written into it."""
    try:
        os.makedirs(path, exist_ok=True)
        with tempfile.TemporaryFile(dir=path):
            pass
    except OSError as error:
        raise ToolError("cannot write into '%s': %s" % (path, error.strerror or error)) from None
    return path


def open_output(path):
    """Opens a file for writing (binary); ToolError when it cannot be."""
    try:
        return open(path, "wb")
    except OSError as error:
        raise ToolError("cannot write '%s': %s" % (path, error.strerror or error)) from None


def discard(stream):
    """Closes and removes a partly written output."""
    stream.close()
    try:
        os.remove(stream.name)
    except OSError:
        pass
