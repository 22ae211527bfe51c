"""A camera for tools: opened as a context manager, always stopped and closed, with an
iterator of frames that raises instead of returning None.

    with Camera(connect="CSI", index=0) as camera:
        for frame in camera.frames(count=10):
            print(frame.timestamp, frame.depth.shape)

Failures of the module (its error codes, a stream that stays silent) become ToolError with
a text a user can act on. `camera.module` is the ZelvoDepthCamera camera underneath.
"""
import os
import time

from zelvo import intrinsics as lenses
from zelvo.errors import FrameTimeout, ToolError

# requestFrame takes a signed 16-bit time-out in milliseconds: longer waits are made of
# several requests.
_LONGEST_REQUEST_MS = 32767
MODES = ("single", "double")
# Controls the command reads with getControl. CONFIG_DIR_EXT holds a text that the module
# cannot read, so it is left out.
_TEXT_CONTROLS = ("CONFIG_DIR_EXT",)


def _module():
    try:
        import ZelvoDepthCamera
    except ImportError as error:
        raise ToolError("cannot load the camera module ZelvoDepthCamera (%s); build it and "
                        "put its folder on PYTHONPATH" % error) from None
    return ZelvoDepthCamera


class Frame:
    """One frame, copied out of the camera: `timestamp` (int, the sensor's stamp) and
    `depth` (radial, mm), `amplitude`, `confidence` (float32, H x W) for a depth stream, or
    `raw` (int16, rows x width, as delivered) for a raw stream."""
    __slots__ = ("timestamp", "depth", "amplitude", "confidence", "raw")

    def __init__(self, timestamp, depth=None, amplitude=None, confidence=None, raw=None):
        self.timestamp = timestamp
        self.depth = depth
        self.amplitude = amplitude
        self.confidence = confidence
        self.raw = raw


class Camera:
    def __init__(self, connect="CSI", index=0, config_file=None, mode="double"):
        if connect not in ("CSI", "USB"):
            raise ToolError("unknown transport '%s' (CSI or USB)" % connect)
        if mode not in MODES:
            raise ToolError("unknown mode '%s' (single or double)" % mode)
        self.connect = connect
        self.index = index
        self.config_file = config_file
        self.requested_mode = mode
        self.module = None
        self.output = None  # "depth" or "raw" while streaming
        self._zelvo = None
        self._device_type = None
        self._intrinsics = None

    # -- opening and closing
    def __enter__(self):
        self.open()
        return self

    def __exit__(self, *_):
        self.close()
        return False

    def open(self):
        zelvo = self._zelvo = _module()
        self.module = zelvo.ZelvoCamera()
        if self.config_file is not None:
            how = "with the configuration file '%s'" % self.config_file
            if not os.path.isfile(self.config_file):
                self.module = None
                raise ToolError("no camera %s: there is no such file" % how)
            code = self.module.openWithFile(self.config_file, self.index)
        else:
            how = "over %s (index %d)" % (self.connect, self.index)
            code = self.module.open(getattr(zelvo.TOFConnect, self.connect), self.index)
        if code != zelvo.TOFErrorCode.ZelvoSuccess:
            self.module = None
            raise ToolError("no camera %s: open failed with %s (%d)"
                            % (how, code.str(), int(code)))
        try:
            info = self.module.getCameraInfo()
            self._device_type = info.device_type.name
            self.connect = info.connect.name
            if self._device_type == "VGA":
                self._check("setting the %s frequency mode" % self.requested_mode,
                            self.set_control("MODE", self._work_mode(self.requested_mode)))
        except BaseException:
            self.close()  # __exit__ does not run when __enter__ fails
            raise

    def close(self):
        """Stops the stream if it runs and closes the camera; safe to call twice."""
        if self.module is None:
            return
        try:
            self.stop()
        finally:
            self.module.close()
            self.module = None

    # -- streaming
    @property
    def streaming(self):
        return self.output is not None

    def start(self, output="depth"):
        if output not in ("depth", "raw"):
            raise ToolError("unknown output '%s' (depth or raw)" % output)
        self._require_open()
        if self.output == output:
            return
        self.stop()
        kind = self._zelvo.TOFOutput.DEPTH if output == "depth" else self._zelvo.TOFOutput.RAW
        code = self.module.start(kind)
        if code != self._zelvo.TOFErrorCode.ZelvoSuccess and self.mode == "double":
            # The transport's frames may be too short for double frequency's sub-frames
            # (the evaluation kit carries the single-frequency layout).
            raise ToolError("starting the %s stream failed: %s (%d); the %s transport may not "
                            "carry double-frequency frames: try --mode single"
                            % (output, code.str(), int(code), self.connect))
        self._check("starting the %s stream" % output, code)
        self.output = output

    def stop(self):
        if self.output is None:
            return
        self.output = None
        try:
            self.module.stop()  # a failed stream may report an error; it is stopped anyway
        except RuntimeError as error:
            raise ToolError("stopping the stream failed: %s" % error) from None

    def frames(self, count=None, seconds=None, timeout_s=5.0, output=None):
        """Frames of the running stream (a depth stream is started when none runs): `count`
        of them, or for `seconds`, or until the caller stops iterating. FrameTimeout when
        none arrives within `timeout_s`."""
        if output is not None or not self.streaming:
            self.start(output or "depth")
        deadline = None if seconds is None else time.monotonic() + seconds
        delivered = 0
        while count is None or delivered < count:
            if deadline is not None and time.monotonic() >= deadline and delivered > 0:
                return
            yield self._next_frame(timeout_s)
            delivered += 1

    def _next_frame(self, timeout_s):
        waited_until = time.monotonic() + timeout_s
        while True:
            left_ms = int((waited_until - time.monotonic()) * 1000)
            if left_ms <= 0:
                raise FrameTimeout("no frame from the camera within %g s: the stream "
                                   "delivers nothing" % timeout_s)
            frame = self.module.requestFrame(min(left_ms, _LONGEST_REQUEST_MS))
            if frame is not None:
                break
        try:
            stamp = int(frame.getFrameFormat().timestamp)
            if self.output == "raw":
                return Frame(stamp, raw=frame.getRawData())
            return Frame(stamp, depth=frame.getDepthData(), amplitude=frame.getAmplitudeData(),
                         confidence=frame.getConfidenceData())
        finally:
            self.module.releaseFrame(frame)

    # -- what the camera is
    @property
    def device_type(self):
        self._require_open()
        return self._device_type

    @property
    def board(self):
        return board_text()

    @property
    def mode(self):
        """"single" or "double" on VGA; None on HQVGA, which has one mode."""
        if self.device_type != "VGA":
            return None
        single = self.get_control("MODE") == int(self._zelvo.TofWorkMode.SINGLE_FREQ)
        return "single" if single else "double"

    @property
    def width(self):
        """Width of a depth frame."""
        return self.get_control("FMT_WIDTH") or self.module.getCameraInfo().width

    @property
    def height(self):
        """Height of a depth frame (the VGA's raw frames have many more rows)."""
        return self.get_control("FMT_HEIGHT") or self.module.getCameraInfo().height

    @property
    def range_mm(self):
        return self.get_control("RANGE")

    @property
    def frame_rate(self):
        return self.get_control("FRAME_RATE")

    @property
    def intrinsics(self):
        width, height = self.width, self.height
        if self._intrinsics is None or (self._intrinsics.width, self._intrinsics.height) \
                != (width, height):
            if self.device_type == "VGA":
                self._intrinsics = lenses.for_vga(width, height, self.connect, self.index)
            else:
                self._intrinsics = lenses.hqvga_default().scaled(width, height)
        return self._intrinsics

    # -- controls
    def control_names(self):
        return [name for name in self._zelvo.TOFControl.__members__
                if name not in _TEXT_CONTROLS]

    def controls(self):
        """Every control the module reads, name -> current value."""
        self._require_open()
        return {name: self.get_control(name) for name in self.control_names()}

    def get_control(self, name):
        self._require_open()
        return int(self.module.getControl(self._control(name)))

    def set_control(self, name, value):
        """Sets a control; returns the module's result code (TOFErrorCode)."""
        self._require_open()
        return self.module.setControl(self._control(name), int(value))

    def meta(self):
        """What a recording or capture says about the camera, as JSON-ready values."""
        return {
            "device_type": self.device_type,
            "connection": self.connect,
            "index": self.index,
            "board": self.board,
            "width": self.width,
            "height": self.height,
            "mode": self.mode,
            "range_mm": self.range_mm,
            "frame_rate": self.frame_rate,
            "controls": self.controls(),
            "intrinsics": self.intrinsics.to_dict(),
        }

    # -- helpers
    def _control(self, name):
        try:
            return self._zelvo.TOFControl.__members__[name]
        except KeyError:
            raise ToolError("unknown control '%s' (one of %s)"
                            % (name, ", ".join(self.control_names()))) from None

    def _work_mode(self, mode):
        modes = self._zelvo.TofWorkMode
        return int(modes.SINGLE_FREQ if mode == "single" else modes.DOUBLE_FREQ)

    def _check(self, what, code):
        if code != self._zelvo.TOFErrorCode.ZelvoSuccess:
            raise ToolError("%s failed: %s (%d)" % (what, code.str(), int(code)))

    def _require_open(self):
        if self.module is None:
            raise ToolError("the camera is not open")


def board_text():
    """The board the camera is attached to, as the system names it (the simulated board's
    under ZELVO_SIM)."""
    import os
    simulated = os.environ.get("ZELVO_SIM")
    if simulated:
        settings = dict(item.partition("=")[::2] for item in simulated.split(","))
        if "replay" in settings and "board" not in settings:
            board = "of the recording"
        else:
            board = settings.get("board") or "rpi5"
        return "simulated board %s (ZELVO_SIM=%s)" % (board, simulated)
    for path in ("/proc/device-tree/model", "/sys/firmware/devicetree/base/model"):
        try:
            with open(path, "rb") as model:
                return model.read().rstrip(b"\0\n").decode("utf-8", "replace")
        except OSError:
            continue
    return "unknown (no devicetree model)"
