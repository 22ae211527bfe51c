"""The viewer's binary WebSocket messages (little-endian), read by static/protocol.js.

Frame, one per depth frame:
    offset  0  4 bytes  b"ZVF1"
            4  uint16   width W
            6  uint16   height H
            8  uint32   sequence number of the frame since the viewer started (gaps are
                        frames this page did not get)
           12  uint32   age in microseconds: from the frame's capture to its encoding;
                        0xFFFFFFFF when the camera's stamp is not on this machine's clock
           16  float32  frame rate of the camera, measured by the server
           20  float32  range of the camera in mm (the top of the depth colour scale)
           24  float32  amplitude of the brightest level of the amplitude plane
           28  W*H uint16  radial depth in mm, rounded; 0 where invalid
         then  W*H uint8   amplitude, scaled so that 255 is the level above
Rays, before the first frame and whenever the frame size changes:
    offset  0  4 bytes  b"ZVR1"
            4  uint16   width W
            6  uint16   height H
            8  W*H*3 float32  unit ray of each pixel, row by row (x right, y down, z forward)

The page answers each frame it has drawn with the text message {"type": "drawn"}; the server
keeps at most two frames unanswered per page and sends only the newest when it may.

Quantising on the server keeps a VGA frame under 1 MB and lets the page colour it with
table look-ups; a point of the cloud is its depth times its pixel's ray.
"""
import struct

import numpy as np

FRAME_MAGIC = b"ZVF1"
RAYS_MAGIC = b"ZVR1"
FRAME_HEADER = struct.Struct("<4sHHIIfff")
RAYS_HEADER = struct.Struct("<4sHH")
NO_AGE = 0xFFFFFFFF
# A stamp further in the past than this is taken for a stamp of another clock.
AGE_LIMIT_MS = 10000.0
# The amplitude level shown as white: a high percentile of a sparse sample of the plane, so
# that a few bright pixels do not darken the image and the cost stays small.
AMPLITUDE_PERCENTILE = 99.0
AMPLITUDE_SAMPLE_STEP = 4


def encode_frame(depth, amplitude, sequence, age_ms, frame_rate, range_mm):
    """One frame message from float32 H x W planes of radial depth (mm) and amplitude."""
    height, width = depth.shape
    depth16 = np.nan_to_num(depth, nan=0.0, posinf=0.0, neginf=0.0)
    np.clip(depth16, 0.0, 65535.0, out=depth16)
    depth16 = np.rint(depth16, out=depth16).astype("<u2")
    level = _amplitude_level(amplitude)
    amplitude8 = np.nan_to_num(amplitude, nan=0.0, posinf=0.0, neginf=0.0)
    amplitude8 *= 255.0 / level
    np.clip(amplitude8, 0.0, 255.0, out=amplitude8)
    age = NO_AGE if age_ms is None else int(age_ms * 1000.0)
    header = FRAME_HEADER.pack(FRAME_MAGIC, width, height, sequence & 0xFFFFFFFF, age,
                               frame_rate, range_mm, level)
    return b"".join((header, depth16.tobytes(), amplitude8.astype(np.uint8).tobytes()))


def encode_rays(rays):
    """The rays message from H x W x 3 unit rays."""
    height, width = rays.shape[:2]
    return RAYS_HEADER.pack(RAYS_MAGIC, width, height) + rays.astype("<f4").tobytes()


def _amplitude_level(amplitude):
    sample = amplitude[::AMPLITUDE_SAMPLE_STEP, ::AMPLITUDE_SAMPLE_STEP]
    sample = sample[np.isfinite(sample)]
    if sample.size == 0:
        return 1.0
    level = float(np.percentile(sample, AMPLITUDE_PERCENTILE))
    return level if level > 0 else 1.0
