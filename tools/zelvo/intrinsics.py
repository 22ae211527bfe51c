"""The lens of a camera: focal lengths, principal point and distortion, in pixels of a
depth frame, and where they come from.

- VGA: the lens record of a calibration (docs/calibration-format.md): "cali.bin" in the
  working directory (the file the VGA device applies), else the sensor's calibration
  memory (read over CSI with the `zelvo-calibration save` tool built beside the module).
  With neither, the default pinhole below stands in and the source says so.
- HQVGA: a default pinhole of 70 degrees horizontal field of view at 240 x 180 with the
  centre at (119.5, 89.5); the simulated board renders with the same optics.
"""
import dataclasses
import math
import os
import shutil
import struct
import subprocess
import tempfile
import zlib

DEFAULT_FIELD_OF_VIEW_DEG = 70.0
HQVGA_SIZE = (240, 180)
CALIBRATION_FILE = "cali.bin"
CALIBRATION_TOOL = "zelvo-calibration"
CALIBRATION_TOOL_TIMEOUT_S = 30

_HEADER = struct.Struct("<H4sHHHBBBB4f4f")
_MAGIC = b"ZCAL"
_MIN_LENGTH, _MAX_LENGTH = 512, 16384


@dataclasses.dataclass(frozen=True)
class Intrinsics:
    """A pinhole with Brown-Conrady distortion (k1, k2, p1, p2) for frames of width x height."""
    width: int
    height: int
    fx: float
    fy: float
    cx: float
    cy: float
    distortion: tuple = (0.0, 0.0, 0.0, 0.0)
    source: str = ""

    def to_dict(self):
        record = dataclasses.asdict(self)
        record["distortion"] = list(self.distortion)
        return record

    @classmethod
    def from_dict(cls, record):
        values = dict(record)
        values["distortion"] = tuple(float(k) for k in values.get("distortion", (0, 0, 0, 0)))
        for name in ("fx", "fy", "cx", "cy"):
            values[name] = float(values[name])
        values["width"], values["height"] = int(values["width"]), int(values["height"])
        return cls(**values)

    def scaled(self, width, height):
        """The same lens for frames of another size (pixel centres scale, not pixel edges)."""
        if (width, height) == (self.width, self.height):
            return self
        sx, sy = width / self.width, height / self.height
        return dataclasses.replace(
            self, width=width, height=height, fx=self.fx * sx, fy=self.fy * sy,
            cx=(self.cx + 0.5) * sx - 0.5, cy=(self.cy + 0.5) * sy - 0.5)

    def describe(self):
        return "fx %.2f fy %.2f cx %.2f cy %.2f at %d x %d" % (
            self.fx, self.fy, self.cx, self.cy, self.width, self.height)


def default_pinhole(width, height, source):
    """A pinhole of the default field of view, centred, square pixels."""
    focal = (width / 2.0) / math.tan(math.radians(DEFAULT_FIELD_OF_VIEW_DEG / 2.0))
    return Intrinsics(width, height, focal, focal, (width - 1) / 2.0, (height - 1) / 2.0,
                      source=source)


def hqvga_default():
    return default_pinhole(*HQVGA_SIZE, source="default pinhole, 70 degrees horizontal "
                                               "field of view")


def from_calibration(data, source="calibration"):
    """The lens record of a calibration; ValueError when the calibration is malformed."""
    data = bytes(data)
    if len(data) < _HEADER.size:
        raise ValueError("a calibration is at least %d bytes, this is %d"
                         % (_MIN_LENGTH, len(data)))
    (length, magic, version, width, height, _count, _gx, _gy, _zero, fx, fy, cx, cy,
     k1, k2, p1, p2) = _HEADER.unpack_from(data)
    if magic != _MAGIC or version != 1:
        raise ValueError("not a calibration (magic or version)")
    if not _MIN_LENGTH <= length <= min(len(data), _MAX_LENGTH):
        raise ValueError("calibration length %d does not fit its %d bytes" % (length, len(data)))
    (check,) = struct.unpack_from("<I", data, length - 4)
    if zlib.crc32(data[:length - 4]) != check:
        raise ValueError("calibration check word is wrong")
    lens = (fx, fy, cx, cy, k1, k2, p1, p2)
    if not all(math.isfinite(value) for value in lens) or fx <= 0 or fy <= 0 or not width \
            or not height:
        raise ValueError("calibration lens record is not usable")
    return Intrinsics(width, height, fx, fy, cx, cy, (k1, k2, p1, p2), source)


def calibration_tool():
    """The calibration saver: ZELVO_CALIBRATION_TOOL, else beside the module's build folder
    (<build>/zelvo-calibration), else on PATH; None when there is none."""
    named = os.environ.get("ZELVO_CALIBRATION_TOOL")
    if named:
        return named
    try:
        import ZelvoDepthCamera
        build = os.path.dirname(os.path.dirname(os.path.abspath(ZelvoDepthCamera.__file__)))
        beside = os.path.join(build, CALIBRATION_TOOL)
        if os.access(beside, os.X_OK):
            return beside
    except ImportError:
        pass
    return shutil.which(CALIBRATION_TOOL)


def read_sensor_calibration(index):
    """The bytes of the CSI camera's calibration memory, or None when they cannot be read."""
    tool = calibration_tool()
    if tool is None:
        return None
    with tempfile.TemporaryDirectory(prefix="zelvo-calibration-") as folder:
        try:
            done = subprocess.run([tool, "save", "--index", str(index), CALIBRATION_FILE],
                                  cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=CALIBRATION_TOOL_TIMEOUT_S)
        except (OSError, subprocess.TimeoutExpired):
            return None
        path = os.path.join(folder, CALIBRATION_FILE)
        if done.returncode != 0 or not os.path.exists(path):
            return None
        with open(path, "rb") as saved:
            return saved.read()


def calibration_file_text(folder="."):
    if os.path.abspath(folder) == os.getcwd():
        return 'calibration file "%s" in the working directory' % CALIBRATION_FILE
    return 'calibration file "%s"' % os.path.join(folder, CALIBRATION_FILE)


def for_vga(width, height, connect="CSI", index=0, folder="."):
    """VGA intrinsics at the output size, from the first source that has them."""
    path = os.path.join(folder, CALIBRATION_FILE)
    problems = []
    if os.path.exists(path):
        try:
            with open(path, "rb") as calibration:
                lens = from_calibration(calibration.read(), calibration_file_text(folder))
            return lens.scaled(width, height)
        except (OSError, ValueError) as error:
            problems.append('"%s" unusable: %s' % (path, error))
    if connect == "CSI":
        data = read_sensor_calibration(index)
        if data is not None:
            try:
                lens = from_calibration(data, "the sensor's calibration memory")
                return lens.scaled(width, height)
            except ValueError as error:
                problems.append("the sensor's calibration memory is unusable: %s" % error)
    why = "; ".join(problems) if problems else "no calibration found"
    return default_pinhole(width, height, "default pinhole, 70 degrees horizontal field of "
                                          "view (%s)" % why)
