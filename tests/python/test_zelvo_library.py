"""The zelvo package's library: intrinsics, radial depth to Z and points, the camera."""
import json
import math
import struct
import sys
import zlib

import numpy as np
import pytest

from conftest import ZELVO_PACKAGE_DIR, radial

sys.path.insert(0, ZELVO_PACKAGE_DIR)
from zelvo import cli, geometry, intrinsics  # noqa: E402
from zelvo.commands import info as info_command  # noqa: E402
from zelvo.camera import Camera  # noqa: E402
from zelvo.errors import FrameTimeout, ToolError  # noqa: E402

HQVGA_FOCAL = 120.0 / math.tan(math.radians(35.0))
VGA_FOCAL = 320.0 / math.tan(math.radians(35.0))
PATIENT_S = 60.0  # a generous wait for a frame: under the sanitizers a VGA frame takes seconds


def test_hqvga_default_is_the_documented_pinhole():
    lens = intrinsics.hqvga_default()
    assert (lens.width, lens.height, lens.cx, lens.cy) == (240, 180, 119.5, 89.5)
    assert lens.fx == pytest.approx(HQVGA_FOCAL) and lens.fy == pytest.approx(HQVGA_FOCAL)
    assert lens.distortion == (0, 0, 0, 0) and "70 degrees" in lens.source
    assert intrinsics.Intrinsics.from_dict(json.loads(json.dumps(lens.to_dict()))) == lens


def test_scaling_keeps_pixel_centres():
    half = intrinsics.default_pinhole(640, 480, "test").scaled(320, 240)
    assert (half.fx, half.cx, half.cy) == pytest.approx((VGA_FOCAL / 2, 159.5, 119.5))
    assert half == intrinsics.default_pinhole(320, 240, "test")


def calibration_bytes(length=512, magic=b"ZCAL", lens=(400.0, 401.0, 310.0, 250.0),
                      distortion=(0.1, -0.01, 0.001, 0.002), crc_flip=0):
    head = struct.pack("<H4sHHHBBBB4f4f", length, magic, 1, 640, 480, 1, 2, 2, 0, *lens,
                       *distortion)
    body = head.ljust(length - 4, b"\0")
    return body + struct.pack("<I", zlib.crc32(body) ^ crc_flip)


def test_lens_record_of_a_calibration():
    lens = intrinsics.from_calibration(calibration_bytes(), "here")
    assert (lens.width, lens.height, lens.source) == (640, 480, "here")
    assert (lens.fx, lens.fy, lens.cx, lens.cy) == (400.0, 401.0, 310.0, 250.0)
    assert lens.distortion == pytest.approx((0.1, -0.01, 0.001, 0.002))


@pytest.mark.parametrize("data", [
    calibration_bytes()[:300],
    calibration_bytes(magic=b"XCAL"),
    calibration_bytes(crc_flip=1),
    calibration_bytes(length=600)[:520],
    calibration_bytes(lens=(float("nan"), 1.0, 1.0, 1.0)),
], ids=["short", "magic", "check word", "length beyond the bytes", "not finite"])
def test_malformed_calibrations_are_refused(data):
    with pytest.raises(ValueError):
        intrinsics.from_calibration(data)


@pytest.mark.parametrize("where, connect, source", [
    ("file", "CSI", 'calibration file "cali.bin"'),
    ("broken file", "CSI", "the sensor's calibration memory"),
    ("none", "CSI", "the sensor's calibration memory"),
    ("none", "USB", "default pinhole, 70 degrees horizontal field of view (no calibration"),
])
def test_vga_intrinsics_come_from_the_first_source_that_has_them(sim, tmp_path, monkeypatch,
                                                                   where, connect, source):
    sim("sensor=vga")
    monkeypatch.chdir(tmp_path)
    if where == "file":
        (tmp_path / "cali.bin").write_bytes(calibration_bytes())
    elif where == "broken file":
        (tmp_path / "cali.bin").write_bytes(b"not a calibration")
    lens = intrinsics.for_vga(320, 240, connect)
    assert lens.source.startswith(source)
    if where == "file":
        assert (lens.fx, lens.cx) == pytest.approx((200.0, 154.75))
    else:  # the simulated sensor's optics, at the output size
        assert (lens.fx, lens.cx, lens.cy) == pytest.approx((VGA_FOCAL / 2, 159.5, 119.5))


def test_radial_depth_of_a_wall_gives_its_plane():
    lens = intrinsics.default_pinhole(640, 480, "test")
    rows, columns = np.mgrid[0:480, 0:640]
    depth = radial(1500.0, columns, rows).astype(np.float32)
    depth[0, 0], depth[1, 1], depth[2, 2] = 0.0, np.nan, -5.0
    z = geometry.radial_to_z(depth, lens)
    points = geometry.radial_to_points(depth, lens)
    assert z.dtype == np.float32 and points.dtype == np.float32
    assert points.shape == (480, 640, 3)
    invalid = np.zeros(depth.shape, bool)
    invalid[[0, 1, 2], [0, 1, 2]] = True
    assert np.isnan(z[invalid]).all() and np.isnan(points[invalid]).all()
    assert np.abs(z[~invalid] - 1500.0).max() < 0.01
    assert np.abs(points[~invalid][:, 2] - 1.5).max() < 1e-5
    # x and y follow the pinhole: (column - cx) / fx * z.
    assert points[240, 600, 0] == pytest.approx((600 - 319.5) / VGA_FOCAL * 1.5, rel=1e-5)
    assert points[20, 320, 1] == pytest.approx((20 - 239.5) / VGA_FOCAL * 1.5, rel=1e-5)
    assert geometry.z_to_png16(z)[invalid].tolist() == [0, 0, 0]
    assert geometry.z_to_png16(np.array([[70000.0, 1499.6]])).tolist() == [[65535, 1500]]
    with pytest.raises(ValueError):
        geometry.radial_to_z(depth[:10], lens)


def test_rays_of_a_distorted_lens_project_back_onto_their_pixels():
    lens = intrinsics.Intrinsics(64, 48, 50.0, 52.0, 31.0, 24.5, (-0.2, 0.05, 0.003, -0.002))
    rays = geometry.unit_rays(lens)
    x, y = rays[..., 0] / rays[..., 2], rays[..., 1] / rays[..., 2]
    k1, k2, p1, p2 = lens.distortion
    r2 = x * x + y * y
    radial_factor = 1 + k1 * r2 + k2 * r2 * r2
    u = lens.fx * (x * radial_factor + 2 * p1 * x * y + p2 * (r2 + 2 * x * x)) + lens.cx
    v = lens.fy * (y * radial_factor + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y) + lens.cy
    rows, columns = np.mgrid[0:48, 0:64]
    assert np.abs(u - columns).max() < 0.01 and np.abs(v - rows).max() < 0.01
    assert np.linalg.norm(rays, axis=-1) == pytest.approx(1.0)


@pytest.mark.parametrize("settings, connect, mode, size, raw_rows, range_mm", [
    ("board=rpi5", "CSI", "double", (240, 180), 720, 4000),
    ("sensor=vga", "CSI", "double", (640, 480), 4810, 4500),
    ("sensor=vga", "USB", "single", (640, 480), 2405, 1250),
])
def test_camera_streams_depth_and_raw(sim, tmp_path, monkeypatch, settings, connect, mode, size,
                                      raw_rows, range_mm):
    sim(settings)
    monkeypatch.chdir(tmp_path)  # the VGA device writes its configuration files here
    with Camera(connect, mode=mode) as camera:
        assert (camera.width, camera.height) == size
        assert camera.range_mm == range_mm
        assert camera.mode == (None if settings == "board=rpi5" else mode)
        (frame,) = list(camera.frames(count=1, timeout_s=PATIENT_S))
        for plane in (frame.depth, frame.amplitude, frame.confidence):
            assert plane.shape == size[::-1] and plane.dtype == np.float32
        (raw,) = list(camera.frames(count=1, timeout_s=PATIENT_S, output="raw"))
        assert raw.raw.shape == (raw_rows, size[0]) and raw.raw.dtype == np.int16
        assert raw.timestamp > frame.timestamp
        meta = json.loads(json.dumps(camera.meta()))
        assert meta["controls"]["RANGE"] == range_mm and "CONFIG_DIR_EXT" not in meta["controls"]
        assert meta["intrinsics"]["width"] == size[0]
    assert camera.module is None and not camera.streaming


def test_camera_stops_and_closes_when_the_stream_stays_silent(sim):
    sim("stall=4")  # one frame of four sub-frames, then nothing
    with pytest.raises(FrameTimeout, match="no frame"):
        with Camera() as camera:
            (frame,) = camera.frames(count=1, timeout_s=PATIENT_S)
            assert frame.depth.shape == (180, 240)
            next(camera.frames(timeout_s=0.5))
    assert camera.module is None and not camera.streaming


def test_camera_reports_what_cannot_be_opened_or_set(sim):
    with pytest.raises(ToolError, match=r"no camera over CSI \(index 7\)"):
        Camera(index=7).open()
    with Camera() as camera:
        with pytest.raises(ToolError, match="unknown control 'ZOOM'"):
            camera.get_control("ZOOM")
    with pytest.raises(ToolError, match="unknown transport"):
        Camera("PCI")


@pytest.mark.parametrize("raised, status, line", [
    (ToolError("the camera fell off"), 1, "zelvo info: the camera fell off"),
    (PermissionError(13, "Permission denied", "out/x"), 1,
     "zelvo info: Permission denied: 'out/x'"),
    (KeyboardInterrupt(), 130, ""),
])
def test_main_turns_failures_into_a_status_and_one_line(monkeypatch, capsys, raised, status,
                                                         line):
    def run(_args):
        raise raised

    monkeypatch.setattr(info_command, "run", run)
    assert cli.main(["info"]) == status
    assert capsys.readouterr().err.strip() == line
    assert cli.main(["info", "--index", "-1"]) == 2
