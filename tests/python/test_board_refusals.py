"""The simulated board refuses what a real system refuses, and a camera whose sensor stops
sending never holds up `stop`, on either transport."""
import os
import time

import pytest

# Stop waits for the capture thread's current read: a bound on a hang, not a timing.
STOP_BOUND_S = 3.0


@pytest.fixture(autouse=True)
def folder(tmp_path, monkeypatch):
    # A VGA start writes its configuration files into the working directory.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "kit.bin").write_bytes(b"\0" * 16)
    (tmp_path / "kits").mkdir()
    os.mkfifo(tmp_path / "kit.fifo")
    os.symlink(tmp_path / "kit.bin", tmp_path / "link.bin")
    return tmp_path


def camera_open(zelvo, camera, how):
    connect, where = how
    if connect == "file":
        return camera.openWithFile(*where)
    return camera.open(getattr(zelvo.TOFConnect, connect), where)


# (how the camera opens, the code). An index with no device behind it is refused as a
# missing node is; a configuration file the kit cannot read fails the kit's open.
OPENS = [
    (("CSI", 0), "ZelvoSuccess"),
    (("CSI", 1), "ZelvoSystemError"),
    (("CSI", -1), "ZelvoSystemError"),
    (("USB", 0), "ZelvoSuccess"),
    (("USB", 1), "ZelvoUnkownError"),
    (("USB", -1), "ZelvoUnkownError"),
    (("file", ("kit.bin", 0)), "ZelvoSuccess"),
    (("file", ("link.bin", 0)), "ZelvoSuccess"),
    (("file", ("kit.bin", 1)), "ZelvoUnkownError"),
    (("file", ("/nonexistent/typo.bin", 0)), "ZelvoUnkownError"),
    (("file", ("kits", 0)), "ZelvoUnkownError"),
    (("file", ("kit.fifo", 0)), "ZelvoUnkownError"),
    (("file", ("/dev/null", 0)), "ZelvoUnkownError"),
]


@pytest.mark.parametrize("how, code", OPENS, ids=[str(how) for how, _ in OPENS])
def test_an_open_without_a_device_or_readable_file_is_refused(zelvo, sim, cameras, how, code):
    sim("board=rpi5,fps=0")
    camera = cameras.new()
    assert camera_open(zelvo, camera, how).name == code
    if code == "ZelvoSuccess":
        assert camera.start(zelvo.TOFOutput.RAW) == zelvo.TOFErrorCode.ZelvoSuccess
        assert camera.stop() == zelvo.TOFErrorCode.ZelvoSuccess


def test_a_second_stream_on_a_streaming_node_is_busy(zelvo, sim, cameras):
    sim("board=rpi5,fps=0")
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    first, second = cameras.new(), cameras.new()
    assert first.open(zelvo.TOFConnect.CSI, 0) == ok
    assert second.open(zelvo.TOFConnect.CSI, 0) == ok  # opening a node is no claim
    assert first.start(zelvo.TOFOutput.RAW) == ok
    assert second.start(zelvo.TOFOutput.RAW) != ok
    assert first.stop() == ok
    assert second.start(zelvo.TOFOutput.RAW) == ok
    assert second.stop() == ok


# A stream that stalls after its first frames: the capture thread is in a read that can
# never complete its frame when stop comes.
STALLS = [
    ("USB", "sensor=hqvga,stall=10"),
    ("USB", "sensor=vga,stall=12"),
    ("CSI", "sensor=hqvga,stall=10"),
    ("CSI", "sensor=vga,stall=12"),
]


@pytest.mark.parametrize("connect, settings", STALLS)
def test_stop_after_a_stall_returns_soon(zelvo, sim, cameras, connect, settings):
    sim("board=rpi5,noise=0,scene=wall:1000," + settings)
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    camera = cameras.new()
    assert camera.open(getattr(zelvo.TOFConnect, connect), 0) == ok
    assert camera.start(zelvo.TOFOutput.RAW) == ok
    frames = 0
    while True:
        # The VGA sensor renders its rays once, at its first frame: slow under a sanitizer.
        frame = camera.requestFrame(3000 if frames else 30000)
        if frame is None:
            break
        frames += 1
        assert camera.releaseFrame(frame) == ok
    # stall counts sub-frames on both sensors: two whole frames, and no third.
    assert frames == 2
    began = time.monotonic()
    assert camera.stop() == ok
    assert time.monotonic() - began < STOP_BOUND_S
