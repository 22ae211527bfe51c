"""The USB camera on the simulated evaluation kit, and on a machine without the kit's SDK."""
import numpy as np
import pytest

from conftest import request, run_python

WALL = "board=rpi5,scene=wall:1500,noise=0"


def opened_usb(zelvo, cameras):
    camera = cameras.new()
    code = camera.open(zelvo.TOFConnect.USB, 0)
    assert code == zelvo.TOFErrorCode.ZelvoSuccess, code.str()
    return camera


def fresh(camera, getter, frames=3):
    """One array of a frame taken after the settings surely applied."""
    for _ in range(frames):
        camera.releaseFrame(request(camera))
    frame = request(camera)
    array = getattr(frame, getter)()
    camera.releaseFrame(frame)
    return array


@pytest.mark.parametrize("rng", [4000, 2000])
def test_depth_of_a_wall_at_the_centre(zelvo, sim, cameras, rng):
    sim(WALL)
    camera = opened_usb(zelvo, cameras)
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    assert camera.getCameraInfo().device_type == zelvo.TOFDeviceType.HQVGA
    assert camera.setControl(zelvo.TOFControl.RANGE, rng) == ok
    assert camera.start(zelvo.TOFOutput.DEPTH) == ok
    depth = fresh(camera, "getDepthData")
    rows, cols = depth.shape
    middle = depth[rows // 2 - 3:rows // 2 + 3, cols // 2 - 3:cols // 2 + 3]
    assert np.all(np.abs(middle - 1500.0) <= 3.0), middle


def raw_frame(zelvo, sim, cameras, bits):
    sim(WALL + ",usb_bits=%d" % bits)
    camera = opened_usb(zelvo, cameras)
    info = camera.getCameraInfo()
    assert (info.bit_width, info.bpp) == (bits, 1 if bits == 8 else 2)
    assert camera.start(zelvo.TOFOutput.RAW) == zelvo.TOFErrorCode.ZelvoSuccess
    return fresh(camera, "getRawData").astype(np.int32)


def test_raw_frames_of_every_kit_width_are_twelve_bit(zelvo, sim, cameras):
    reference = raw_frame(zelvo, sim, cameras, 12)
    assert reference.shape == (720, 240) and np.count_nonzero(reference) > reference.size // 2
    for bits in (8, 10, 16):
        raw = raw_frame(zelvo, sim, cameras, bits)
        if bits > 12:
            assert np.array_equal(raw, reference), bits
            continue
        # A narrower kit loses its missing low bits, and only those.
        step = 16 << (12 - bits)
        assert np.all(raw % step == 0), bits
        lost = reference - raw
        assert np.all((lost >= 0) & (lost < step)), bits


def test_open_with_a_configuration_file(zelvo, sim, cameras, tmp_path):
    sim(WALL)
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    camera = cameras.new()
    (tmp_path / "kit.bin").write_bytes(b"")  # the kit reads it, so it must exist
    assert camera.openWithFile(str(tmp_path / "kit.bin"), 0) == ok
    info = camera.getCameraInfo()
    assert (info.index, info.connect) == (0, zelvo.TOFConnect.USB)
    assert (info.width, info.height, info.bit_width) == (240, 180, 12)
    assert camera.start(zelvo.TOFOutput.DEPTH) == ok
    stamps = []
    for _ in range(4):
        frame = request(camera)
        stamps.append(frame.getFrameFormat().timestamp)
        assert camera.releaseFrame(frame) == ok
    assert all(later > earlier for earlier, later in zip(stamps, stamps[1:])), stamps
    assert camera.stop() == ok
    assert camera.close() == ok


def test_without_the_sdk_open_fails_with_one_line(tmp_path):
    missing = str(tmp_path / "libzelvo_evk_sdk.so")
    code = """
import ZelvoDepthCamera as z
camera = z.ZelvoCamera()
print(int(camera.open(z.TOFConnect.USB, 0)))
print(int(camera.openWithFile("kit.bin", 1)))
print(int(camera.open(z.TOFConnect.CSI, 0)))
print(int(z.ZelvoCamera().open(z.TOFConnect.CSI, 0)))
"""
    result = run_python(code, {"ZELVO_SIM": "", "ZELVO_EVK_SDK": missing})
    assert result.returncode == 0, result.stderr
    usb, with_file, csi_after, csi_fresh = (int(line) for line in result.stdout.split())
    assert (usb, with_file) == (-1, -1)
    # The CSI open after the failure goes as it goes on any camera of this machine.
    assert csi_after == csi_fresh
    lines = [line for line in result.stderr.splitlines() if "evaluation-kit SDK" in line]
    assert len(lines) == 2 and all(missing in line for line in lines), result.stderr
