"""Recordings: ROS 1 bags (format 2.0) written and read with Debian's rosbag library.

A raw recording holds the RAW stream as the camera delivers it (/zelvo/raw, 16SC1), the
camera information with the intrinsics (/zelvo/camera_info) and, on /zelvo/meta, the JSON
text `zelvo capture` stores as `meta` with two more keys: "recording" ("raw" or "depth")
and "replay", what the simulated board needs to serve it again (ZELVO_SIM=replay=FILE.bag).
A depth recording holds Z in metres (/zelvo/depth), amplitude and confidence instead, for
viewing in ROS tools; it cannot be replayed. docs/recordings.md describes both.

The ROS modules are imported here only, when a recording is written or read, so that the
rest of the package works without them. The conversion of frames to messages does not
depend on how the messages travel on.
"""
import json
import os

import numpy as np

from zelvo import geometry
from zelvo.errors import ToolError

TOPIC_RAW = "/zelvo/raw"
TOPIC_DEPTH = "/zelvo/depth"
TOPIC_AMPLITUDE = "/zelvo/amplitude"
TOPIC_CONFIDENCE = "/zelvo/confidence"
TOPIC_CAMERA_INFO = "/zelvo/camera_info"
TOPIC_META = "/zelvo/meta"
FRAME_ID = "zelvo_optical_frame"
RAW_ENCODING = "16SC1"
FLOAT_ENCODING = "32FC1"

# The simulated board's names for the boards, by words of their devicetree model.
_BOARD_MODELS = (("raspberry pi 5", "rpi5"), ("raspberry pi 4", "rpi4"), ("rock 5b", "rock5b"),
                 ("jetson nano", "jetson-nano"), ("orin", "jetson-orin"),
                 ("xavier", "jetson-xavier"))
_DEFAULT_SIMULATED_BOARD = "rpi5"


def _ros():
    """The ROS modules recordings need, or a ToolError that says which packages give them."""
    try:
        import rosbag
        import rospy
        from sensor_msgs.msg import CameraInfo, Image
        from std_msgs.msg import String
    except ImportError as error:
        raise ToolError("recordings need the ROS libraries of Debian (python3-rosbag, "
                        "python3-rospy, python3-sensor-msgs): %s" % error) from None
    return rosbag, rospy, Image, CameraInfo, String


def stamp_of(timestamp_ms):
    """The ROS time of a frame's timestamp (milliseconds); never 0, which bags refuse."""
    _, rospy, _, _, _ = _ros()
    milliseconds = max(int(timestamp_ms), 0)
    if milliseconds == 0:
        return rospy.Time(0, 1)
    return rospy.Time(milliseconds // 1000, (milliseconds % 1000) * 1000000)


def image_message(array, encoding, stamp):
    """A sensor_msgs/Image of a 2-D array: int16 for 16SC1, float32 for 32FC1."""
    data = np.ascontiguousarray(array, dtype=np.int16 if encoding == RAW_ENCODING else np.float32)
    return _ros1().image(_messages().image(data, encoding, _header(stamp)))


def image_array(message):
    """The array of a 16SC1 or 32FC1 sensor_msgs/Image."""
    if message.encoding not in (RAW_ENCODING, FLOAT_ENCODING):
        raise ToolError("an image of encoding %s is none of a recording's" % message.encoding)
    dtype = np.dtype("<i2" if message.encoding == RAW_ENCODING else "<f4")
    if message.is_bigendian:
        dtype = dtype.newbyteorder(">")
    array = np.frombuffer(message.data, dtype=dtype)
    return array.reshape(message.height, message.width).astype(dtype.newbyteorder("="))


def camera_info_message(intr, stamp):
    """sensor_msgs/CameraInfo of the intrinsics, as the ROS node publishes it."""
    return _ros1().camera_info(_messages().camera_info(intr, _header(stamp)))


def _messages():
    from zelvo.ros import messages
    return messages


def _ros1():
    from zelvo.ros import ros1
    return ros1


def _header(stamp):
    return _messages().Header(stamp.to_nsec(), FRAME_ID)


def depth_messages(frame, intr, stamp):
    """(topic, message) of a depth frame: Z in metres (NaN where invalid), amplitude and
    confidence."""
    z_metres = geometry.radial_to_z(frame.depth, intr) / np.float32(1000.0)
    return [(TOPIC_DEPTH, image_message(z_metres, FLOAT_ENCODING, stamp)),
            (TOPIC_AMPLITUDE, image_message(frame.amplitude, FLOAT_ENCODING, stamp)),
            (TOPIC_CONFIDENCE, image_message(frame.confidence, FLOAT_ENCODING, stamp))]


def simulated_settings(text):
    """The key=value settings of a ZELVO_SIM text, as a dict ("1" gives none)."""
    return dict(item.split("=", 1) for item in (text or "").split(",") if "=" in item)


def board_key(model_text):
    """The simulated board's name for the board a camera is attached to: the board of the
    simulated board (or of the recording it replays), else the one the model names."""
    simulated = os.environ.get("ZELVO_SIM")
    if simulated:
        settings = simulated_settings(simulated)
        if "board" in settings:
            return settings["board"]
        if "replay" in settings:
            return read_meta(settings["replay"])["replay"]["board"]
        return _DEFAULT_SIMULATED_BOARD
    model = (model_text or "").lower()
    for words, key in _BOARD_MODELS:
        if words in model:
            return key
    return "other"


def frame_rate_of(stamps_ms, fallback):
    """Frames per second by the stamps of the frames, else the camera's rate in force."""
    if len(stamps_ms) > 1 and stamps_ms[-1] > stamps_ms[0]:
        return max(1, int(round((len(stamps_ms) - 1) * 1000.0 / (stamps_ms[-1] - stamps_ms[0]))))
    return max(int(fallback or 0), 0)


class Writer:
    """A recording being written: frames as they come, the camera information and meta at
    the end (stamped with the first frame's time). The file is opened at once, so that an
    unwritable path fails before the camera opens."""

    def __init__(self, path, depth=False):
        rosbag, _, _, _, _ = _ros()
        self.path = path
        self.depth = depth
        self.stamps = []
        self.raw_shape = None
        try:
            self._bag = rosbag.Bag(path, "w")
        except (OSError, rosbag.ROSBagException) as error:
            raise ToolError("cannot write '%s': %s" % (path, getattr(error, "strerror", None)
                                                       or error)) from None

    def add(self, frame, intr):
        stamp = stamp_of(frame.timestamp)
        if self.depth:
            messages = depth_messages(frame, intr, stamp)
        else:
            if self.raw_shape is None:
                self.raw_shape = tuple(frame.raw.shape)
            messages = [(TOPIC_RAW, image_message(frame.raw, RAW_ENCODING, stamp))]
        for topic, message in messages:
            self._bag.write(topic, message, stamp)
        self.stamps.append(int(frame.timestamp))

    def finish(self, meta, intr):
        """Writes the camera information and meta (with "recording" and, for a raw
        recording, "replay") and closes the file. Returns the meta written."""
        _, _, _, _, String = _ros()
        meta = dict(meta)
        meta["recording"] = "depth" if self.depth else "raw"
        meta["frames"] = len(self.stamps)
        if not self.depth and self.raw_shape is not None:
            meta["replay"] = {
                "board": board_key(meta.get("board")),
                "sensor": str(meta["device_type"]).lower(),
                "frame_rate": frame_rate_of(self.stamps, meta.get("frame_rate")),
                "raw_width": self.raw_shape[1],
                "raw_rows": self.raw_shape[0],
            }
        stamp = stamp_of(self.stamps[0] if self.stamps else 0)
        self._bag.write(TOPIC_CAMERA_INFO, camera_info_message(intr, stamp), stamp)
        self._bag.write(TOPIC_META, String(data=json.dumps(meta)), stamp)
        self._bag.close()
        return meta

    def discard(self):
        """Closes and removes a recording that was not finished."""
        try:
            self._bag.close()
        except Exception:  # noqa: BLE001 - the file goes anyway
            pass
        try:
            os.remove(self.path)
        except OSError:
            pass


def _open(path):
    rosbag, _, _, _, _ = _ros()
    try:
        return rosbag.Bag(path, "r")
    except (OSError, rosbag.ROSBagException) as error:
        raise ToolError("cannot read the recording '%s': %s"
                        % (path, getattr(error, "strerror", None) or error)) from None


def read_meta(path):
    """The meta of a recording, as a dict."""
    with _open(path) as bag:
        for _, message, _ in bag.read_messages(topics=[TOPIC_META]):
            try:
                return json.loads(message.data)
            except ValueError:
                break
    raise ToolError("'%s' is no zelvo recording: it has no meta on %s" % (path, TOPIC_META))


def read_images(path, topic):
    """[(stamp in ms, array)] of an image topic, in the order of their times."""
    with _open(path) as bag:
        return [(message.header.stamp.to_nsec() // 1000000, image_array(message))
                for _, message, _ in bag.read_messages(topics=[topic])]
