"""Frames as the messages every ROS depth camera publishes, free of any ROS version.

The functions here fill plain records whose fields carry the names and meaning of the
sensor_msgs messages (Image, CameraInfo, PointCloud2), with numpy buffers for the pixel
data. A front end for one ROS version (zelvo.ros.ros1 for ROS 1) copies them into its own
message classes; nothing here imports ROS.

- Depth is published as Z, the distance along the optical axis, not the radial distance the
  camera delivers: 32FC1 in metres (NaN where invalid) or 16UC1 in millimetres (0 where
  invalid). The rays come from zelvo.geometry, the helper every tool converts with.
- Points are organised H x W in the optical frame (x right, y down, z forward), float32
  x, y, z in metres and the amplitude as intensity; NaN where the pixel is invalid.
- Time stamps are nanoseconds; the caller maps the camera's clock to its ROS time.

The converter keeps its buffers between frames: the records it returns are valid until the
next frame is converted (the front end copies them into messages at once).
"""
import dataclasses
import sys

import numpy as np

from zelvo import geometry

FLOAT_ENCODING = "32FC1"
MILLIMETRE_ENCODING = "16UC1"
RAW_ENCODING = "16SC1"
DEPTH_ENCODINGS = (FLOAT_ENCODING, MILLIMETRE_ENCODING)
DEFAULT_FRAME_ID = "zelvo_optical_frame"

# Topic names below the node's namespace.
DEPTH = "depth/image_raw"
AMPLITUDE = "amplitude/image_raw"
CONFIDENCE = "confidence/image_raw"
RAW = "raw/image_raw"
CAMERA_INFO = "depth/camera_info"
POINTS = "depth/points"

# PointField datatype of float32 (the same number in ROS 1 and ROS 2).
POINT_FLOAT32 = 7
POINT_FIELDS = ("x", "y", "z", "intensity")
BIG_ENDIAN = sys.byteorder == "big"


@dataclasses.dataclass
class Header:
    stamp_ns: int
    frame_id: str


@dataclasses.dataclass
class Image:
    header: Header
    height: int
    width: int
    encoding: str
    is_bigendian: bool
    step: int
    data: np.ndarray  # C-contiguous, height x width, of the encoding's type


@dataclasses.dataclass
class CameraInfo:
    header: Header
    height: int
    width: int
    distortion_model: str
    d: list
    k: list
    r: list
    p: list


@dataclasses.dataclass
class PointField:
    name: str
    offset: int
    datatype: int
    count: int


@dataclasses.dataclass
class PointCloud:
    header: Header
    height: int
    width: int
    fields: list
    is_bigendian: bool
    point_step: int
    row_step: int
    data: np.ndarray  # height x width x 4 float32, C-contiguous
    is_dense: bool


def image(array, encoding, header):
    """An Image of a C-contiguous 2-D array whose type fits the encoding."""
    return Image(header, array.shape[0], array.shape[1], encoding, BIG_ENDIAN,
                 array.shape[1] * array.itemsize, array)


def camera_info(intr, header):
    """The intrinsics as plumb_bob (k1, k2, p1, p2 of the lens, k3 = 0), no rectification,
    the projection of the unrectified lens."""
    return CameraInfo(
        header, intr.height, intr.width, "plumb_bob",
        [float(k) for k in intr.distortion] + [0.0],
        [intr.fx, 0.0, intr.cx, 0.0, intr.fy, intr.cy, 0.0, 0.0, 1.0],
        [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0],
        [intr.fx, 0.0, intr.cx, 0.0, 0.0, intr.fy, intr.cy, 0.0, 0.0, 0.0, 1.0, 0.0])


class Converter:
    """Converts the frames of one camera; keeps the rays and the output buffers."""

    def __init__(self, intr, depth_encoding=FLOAT_ENCODING, frame_id=DEFAULT_FRAME_ID):
        if depth_encoding not in DEPTH_ENCODINGS:
            raise ValueError("depth encoding %s is none of %s"
                             % (depth_encoding, ", ".join(DEPTH_ENCODINGS)))
        self.intr = intr
        self.depth_encoding = depth_encoding
        self.frame_id = frame_id
        shape = (intr.height, intr.width)
        # Metres per millimetre of radial depth along each axis.
        rays = geometry.unit_rays(intr)
        self._rays = [np.ascontiguousarray(rays[..., axis] / 1000.0, dtype=np.float32)
                      for axis in range(3)]
        self._cloud = np.empty(shape + (4,), dtype=np.float32)
        self._z = np.empty(shape, dtype=np.float32)
        self._z_mm = np.empty(shape, dtype=np.float32)
        self._valid = np.empty(shape, dtype=bool)
        self._finite = np.empty(shape, dtype=bool)
        self._fields = [PointField(name, 4 * i, POINT_FLOAT32, 1)
                        for i, name in enumerate(POINT_FIELDS)]

    def header(self, stamp_ns):
        return Header(int(stamp_ns), self.frame_id)

    def camera_info(self, stamp_ns):
        return camera_info(self.intr, self.header(stamp_ns))

    def depth_frame(self, frame, stamp_ns):
        """{topic: record} of a depth frame: depth (Z), amplitude, confidence, camera info
        and the point cloud."""
        header = self.header(stamp_ns)
        depth = frame.depth
        if depth.shape != self._z.shape:
            raise ValueError("a frame of %s does not match intrinsics of %d x %d"
                             % ("x".join(map(str, depth.shape)), self.intr.height,
                                self.intr.width))
        # Valid: above zero and finite (NaN compares false).
        np.greater(depth, 0.0, out=self._valid)
        np.less(depth, np.inf, out=self._finite)
        self._valid &= self._finite
        np.logical_not(self._valid, out=self._finite)  # now: invalid
        invalid = self._finite
        cloud = self._cloud
        for axis in range(3):
            np.multiply(depth, self._rays[axis], out=cloud[..., axis])
        cloud[..., 3] = frame.amplitude
        cloud[invalid, :3] = np.nan
        np.copyto(self._z, cloud[..., 2])
        if self.depth_encoding == FLOAT_ENCODING:
            depth_image = image(self._z, FLOAT_ENCODING, header)
        else:
            np.multiply(self._z, np.float32(1000.0), out=self._z_mm)
            depth_image = image(geometry.z_to_png16(self._z_mm), MILLIMETRE_ENCODING, header)
        return {
            DEPTH: depth_image,
            AMPLITUDE: image(_float32(frame.amplitude), FLOAT_ENCODING, header),
            CONFIDENCE: image(_float32(frame.confidence), FLOAT_ENCODING, header),
            CAMERA_INFO: camera_info(self.intr, header),
            POINTS: PointCloud(header, self.intr.height, self.intr.width, self._fields,
                               BIG_ENDIAN, 16, 16 * self.intr.width, cloud, False),
        }

    def raw_frame(self, frame, stamp_ns):
        """{topic: record} of a raw frame: the raw samples as delivered and camera info."""
        header = self.header(stamp_ns)
        raw = np.ascontiguousarray(frame.raw, dtype=np.int16)
        return {RAW: image(raw, RAW_ENCODING, header),
                CAMERA_INFO: camera_info(self.intr, header)}


def _float32(array):
    return np.ascontiguousarray(array, dtype=np.float32)
