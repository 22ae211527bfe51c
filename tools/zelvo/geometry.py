"""Radial depth to Z and to points.

Both devices deliver radial depth: the distance in millimetres along each pixel's ray. A
point is the depth times the unit ray of its pixel; Z, the distance along the optical axis
(what depth images of other tools and 16-bit depth PNGs hold), is the depth divided by the
length of the ray (x, y, 1).

A pixel is invalid when its depth is not finite or not above zero (the devices mark pixels
they could not measure with 0 or NaN); Z and points are NaN there.
"""
import functools

import numpy as np

_UNDISTORT_ITERATIONS = 8


def _undistort(x, y, distortion):
    """Normalised image coordinates without the lens distortion (fixed-point iteration)."""
    k1, k2, p1, p2 = distortion
    x0, y0 = x, y
    for _ in range(_UNDISTORT_ITERATIONS):
        r2 = x * x + y * y
        radial = 1.0 + k1 * r2 + k2 * r2 * r2
        dx = 2.0 * p1 * x * y + p2 * (r2 + 2.0 * x * x)
        dy = p1 * (r2 + 2.0 * y * y) + 2.0 * p2 * x * y
        x, y = (x0 - dx) / radial, (y0 - dy) / radial
    return x, y


@functools.lru_cache(maxsize=8)
def _rays(intr):
    columns = (np.arange(intr.width, dtype=np.float64) - intr.cx) / intr.fx
    rows = (np.arange(intr.height, dtype=np.float64) - intr.cy) / intr.fy
    x, y = np.meshgrid(columns, rows)
    if any(intr.distortion):
        x, y = _undistort(x, y, intr.distortion)
    rays = np.stack([x, y, np.ones_like(x)], axis=-1)
    rays /= np.linalg.norm(rays, axis=-1, keepdims=True)
    rays.setflags(write=False)
    return rays


def unit_rays(intr):
    """H x W x 3 unit vectors (float64) of the pixels' rays, z towards the scene."""
    return _rays(intr)


def _checked(depth_mm, intr):
    depth = np.asarray(depth_mm, dtype=np.float64)
    if depth.shape != (intr.height, intr.width):
        raise ValueError("depth of %s does not match intrinsics of %d x %d"
                         % ("x".join(map(str, depth.shape)), intr.height, intr.width))
    with np.errstate(invalid="ignore"):
        return np.where(np.isfinite(depth) & (depth > 0), depth, np.nan)


def radial_to_z(depth_mm, intr):
    """Z in millimetres (float32, H x W), NaN where the depth is invalid."""
    return (_checked(depth_mm, intr) * unit_rays(intr)[..., 2]).astype(np.float32)


def radial_to_points(depth_mm, intr):
    """Points in metres (float32, H x W x 3: x right, y down, z forward), NaN where invalid."""
    metres = _checked(depth_mm, intr)[..., None] / 1000.0
    return (metres * unit_rays(intr)).astype(np.float32)


def z_to_png16(z_mm):
    """Z as unsigned 16-bit millimetres for a PNG: 0 where invalid, clipped at 65535."""
    z = np.nan_to_num(np.asarray(z_mm, dtype=np.float64), nan=0.0, posinf=0.0, neginf=0.0)
    return np.clip(np.rint(z), 0, 65535).astype(np.uint16)
