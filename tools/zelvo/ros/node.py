"""zelvo_camera_node: the depth camera as a ROS 1 node.

    python3 -m zelvo.ros [_name:=value ...]     (or the zelvo_camera_node program)

Private parameters (~name on the parameter server or _name:=value on the command line):
connect (CSI|USB), index, config_file, mode (single|double, VGA), range (mm, 0: the
camera's), frame_rate (fps, 0: the camera's), output (depth|raw), depth_encoding (32FC1 in
metres | 16UC1 in millimetres), frame_id. Once the camera runs, the node writes the range,
frame rate and mode in force back to the server, and it polls range, frame_rate and mode
there four times a second: a new value takes effect at once (a mode change restarts the
stream).

Topics below the node's name (default zelvo_camera): depth/image_raw (Z), amplitude/
image_raw, confidence/image_raw, depth/camera_info, depth/points for a depth stream;
raw/image_raw and depth/camera_info for a raw one.

Time stamps: the camera stamps a frame with the time of its sensor read, in milliseconds of
the monotonic clock. At start the node measures the offset between ROS time and the
monotonic clock once and stamps each frame with its stamp plus that offset, so the stamps
keep the sensor's spacing and never jump with the wall clock. A camera whose stamps do not
come from this machine's monotonic clock (more than ten seconds away from it at the first
frame) is anchored instead at the arrival of its first frame.

SIGINT or SIGTERM stops the stream, closes the camera and ends the node with status 0.
"""
import signal
import sys
import threading
import time

from zelvo.camera import MODES, Camera
from zelvo.errors import FrameTimeout, ToolError
from zelvo.ros import messages

NODE_NAME = "zelvo_camera"
DEFAULTS = {
    "connect": "CSI",
    "index": 0,
    "config_file": "",
    "mode": "double",
    "range": 0,
    "frame_rate": 0,
    "output": "depth",
    "depth_encoding": messages.FLOAT_ENCODING,
    "frame_id": messages.DEFAULT_FRAME_ID,
}
# Parameters that take effect while the node runs.
LIVE = ("range", "frame_rate", "mode")
POLL_PERIOD_S = 0.25
# The longest wait for a frame before the node warns (and polls again).
STALL_S = 2.0
# Farther than this from the monotonic clock, a camera's stamps are taken as its own clock.
FOREIGN_CLOCK_S = 10.0


class StampMap:
    """Maps the camera's millisecond stamps to ROS time in nanoseconds (see the module's
    text). `ros_now_ns` and `monotonic_now_s` are read once, together, at start."""

    def __init__(self, ros_now_ns, monotonic_now_s):
        self.offset_ns = ros_now_ns - int(monotonic_now_s * 1e9)
        self.anchored = False

    def __call__(self, stamp_ms, arrival_ros_ns=None, arrival_monotonic_s=None):
        stamp_ns = int(stamp_ms) * 1000000
        if not self.anchored:
            self.anchored = True
            if arrival_monotonic_s is not None and \
                    abs(stamp_ns / 1e9 - arrival_monotonic_s) > FOREIGN_CLOCK_S:
                self.offset_ns = arrival_ros_ns - stamp_ns
        return stamp_ns + self.offset_ns


class Settings:
    """The node's parameters, checked; ToolError names a wrong one."""

    def __init__(self, values):
        self.values = dict(DEFAULTS)
        self.values.update({k: v for k, v in values.items() if k in DEFAULTS})
        v = self.values
        _choice(v, "connect", ("CSI", "USB"))
        _choice(v, "mode", MODES)
        _choice(v, "output", ("depth", "raw"))
        _choice(v, "depth_encoding", messages.DEPTH_ENCODINGS)
        for name in ("index", "range", "frame_rate"):
            v[name] = _whole(name, v[name])
        v["config_file"] = str(v["config_file"] or "") or None
        v["frame_id"] = str(v["frame_id"])

    def __getitem__(self, name):
        return self.values[name]


def _choice(values, name, choices):
    values[name] = str(values[name])
    if values[name] not in choices:
        raise ToolError("parameter %s is '%s', not one of %s"
                        % (name, values[name], ", ".join(choices)))


def _whole(name, value):
    try:
        number = int(value)
    except (TypeError, ValueError):
        raise ToolError("parameter %s is '%s', not a whole number" % (name, value)) from None
    if number < 0 or (number != value and not isinstance(value, str)):
        raise ToolError("parameter %s is '%s', not a whole number of at least 0"
                        % (name, value))
    return number


class Node:
    """The camera, its converter and the publishers; `run` streams until `stop`."""

    def __init__(self, rospy, ros1, settings):
        self.rospy = rospy
        self.ros1 = ros1
        self.settings = settings
        self.camera = None
        self.converter = None
        self.publishers = {}
        self.stamps = None
        self.in_force = {}
        self.published = 0
        self._stopping = threading.Event()
        self._next_poll = 0.0

    # -- the node's life
    def open(self):
        s = self.settings
        self.camera = Camera(s["connect"], s["index"], s["config_file"], s["mode"])
        self.camera.open()
        for name, control in (("range", "RANGE"), ("frame_rate", "FRAME_RATE")):
            if s[name] and s[name] != self.camera.get_control(control):
                self._set(control, s[name])
        self.converter = messages.Converter(self.camera.intrinsics, s["depth_encoding"],
                                            s["frame_id"])
        topics = ([messages.RAW] if s["output"] == "raw" else
                  [messages.DEPTH, messages.AMPLITUDE, messages.CONFIDENCE, messages.POINTS])
        for topic in topics + [messages.CAMERA_INFO]:
            self.publishers[topic] = self.rospy.Publisher(
                "~" + topic, self.ros1.TYPES[topic], queue_size=2)
        self.camera.start(s["output"])
        self._write_back()
        self.stamps = StampMap(self.rospy.Time.now().to_nsec(), time.monotonic())
        self.rospy.loginfo("%s: %s camera over %s, %d x %d, %s, range %d mm, %d fps; "
                           "lens: %s", self.rospy.get_name(), self.camera.device_type,
                           self.camera.connect, self.camera.width, self.camera.height,
                           s["output"], self.camera.range_mm, self.camera.frame_rate,
                           self.camera.intrinsics.source)

    def run(self):
        while not self._stopping.is_set():
            try:
                for frame in self.camera.frames(timeout_s=STALL_S):
                    self.publish(frame)
                    if self._stopping.is_set():
                        break
                    if time.monotonic() >= self._next_poll:
                        self.poll()
            except FrameTimeout:
                if not self._stopping.is_set():
                    self.rospy.logwarn("%s: no frame from the camera within %g s",
                                       self.rospy.get_name(), STALL_S)
                    self.poll()

    def stop(self, *_):
        self._stopping.set()

    def close(self):
        """Stops the stream and closes the camera (closed even when the stop fails)."""
        camera, self.camera = self.camera, None
        if camera is not None:
            try:
                camera.close()
            except ToolError as error:
                self.rospy.logerr("%s: %s", self.rospy.get_name(), error)

    # -- frames
    def publish(self, frame):
        stamp = self.stamps(frame.timestamp, self.rospy.Time.now().to_nsec(), time.monotonic())
        if frame.raw is not None:
            records = self.converter.raw_frame(frame, stamp)
        else:
            records = self.converter.depth_frame(frame, stamp)
        for topic, record in records.items():
            publisher = self.publishers.get(topic)
            # Nothing is built for a topic nobody listens to.
            if publisher is not None and publisher.get_num_connections():
                publisher.publish(self.ros1.message(record))
        self.published += 1

    # -- parameters while running
    def poll(self):
        """Applies a new range, frame rate or mode from the parameter server."""
        self._next_poll = time.monotonic() + POLL_PERIOD_S
        try:
            asked = {name: self.rospy.get_param("~" + name, self.in_force[name])
                     for name in LIVE}
        except (OSError, KeyError) as error:
            self.rospy.logwarn("%s: cannot read the parameters: %s", self.rospy.get_name(),
                               error)
            return
        changed = {name: value for name, value in asked.items()
                   if str(value) != str(self.in_force[name])}
        if not changed:
            return
        for name, value in changed.items():
            try:
                self._apply(name, value)
            except ToolError as error:
                self.rospy.logwarn("%s: %s is kept: %s", self.rospy.get_name(), name, error)
        self._write_back()
        self.rospy.loginfo("%s: range %d mm, %d fps, mode %s", self.rospy.get_name(),
                           self.in_force["range"], self.in_force["frame_rate"],
                           self.in_force["mode"])

    def _apply(self, name, value):
        if name == "mode":
            if self.camera.device_type != "VGA":
                raise ToolError("the %s camera has one mode" % self.camera.device_type)
            if value not in MODES:
                raise ToolError("'%s' is not one of %s" % (value, ", ".join(MODES)))
            output = self.camera.output
            self.camera.stop()
            self._set("MODE", self.camera._work_mode(value))
            self.camera.start(output)
            return
        self._set("RANGE" if name == "range" else "FRAME_RATE", _whole(name, value))

    def _set(self, control, value):
        code = self.camera.set_control(control, value)
        if int(code) != 0:
            raise ToolError("the camera refused %s %s: %s (%d)"
                            % (control, value, code.str(), int(code)))

    def _write_back(self):
        self.in_force = {"range": self.camera.range_mm, "frame_rate": self.camera.frame_rate,
                         "mode": self.camera.mode or self.settings["mode"]}
        for name, value in self.in_force.items():
            self.rospy.set_param("~" + name, value)


def main(argv=None):
    try:
        return _main(list(sys.argv if argv is None else argv))
    except KeyboardInterrupt:  # Ctrl-C before the node's own handler is in place
        return 130


def _main(argv):
    try:
        import rospy
        from zelvo.ros import ros1
    except ImportError as error:
        print("zelvo_camera_node: the node needs Debian's ROS 1 Python libraries "
              "(python3-rospy, python3-sensor-msgs): %s" % error, file=sys.stderr)
        return 1
    # The node ends on SIGINT or SIGTERM by itself: the stream must stop and the camera
    # close before rospy shuts down.
    rospy.init_node(NODE_NAME, argv=argv, disable_signals=True)
    node = None
    try:
        settings = Settings({name: rospy.get_param("~" + name, default)
                             for name, default in DEFAULTS.items()})
        node = Node(rospy, ros1, settings)
        for sig in (signal.SIGINT, signal.SIGTERM):
            signal.signal(sig, node.stop)
        node.open()
        node.run()
    except ToolError as error:
        rospy.logfatal("%s: %s", rospy.get_name(), error)
        return 1
    except OSError as error:  # the master cannot be reached
        rospy.logfatal("%s: %s", rospy.get_name(), error)
        return 1
    finally:
        if node is not None:
            node.close()
            rospy.loginfo("%s: stream stopped, camera closed after %d frames",
                          rospy.get_name(), node.published)
        rospy.signal_shutdown("stopped")
    return 0
