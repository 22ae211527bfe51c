"""Faults the binding guards against: stale frames, a collected streaming camera, Ctrl-C."""
import gc
import os
import textwrap

import pytest

from conftest import FRAME_TIMEOUT_MS, interrupt_python, request, run_python

GETTERS = {"RAW": ["getRawData", "getFrameFormat"],
           "DEPTH": ["getDepthData", "getConfidenceData", "getAmplitudeData", "getFrameFormat"]}


@pytest.fixture(params=["RAW", "DEPTH"])
def output(request):
    return request.param


def assert_stale(frame, output, message):
    for getter in GETTERS[output]:
        with pytest.raises(RuntimeError, match=message):
            getattr(frame, getter)()


def test_use_after_release_raises(zelvo, cameras, output):
    camera = cameras.streaming(getattr(zelvo.TOFOutput, output))
    frame = request(camera)
    assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess
    assert_stale(frame, output, "releaseFrame")
    # A second release is refused and leaves the pool whole: three frames still come.
    assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoUnkownError
    held = [request(camera) for _ in range(3)]
    for each in held:
        for getter in GETTERS[output]:
            getattr(each, getter)()
        assert camera.releaseFrame(each) == zelvo.TOFErrorCode.ZelvoSuccess


@pytest.mark.parametrize("next_output", ["RAW", "DEPTH"])
def test_use_after_next_start_raises(zelvo, cameras, output, next_output):
    camera = cameras.streaming(getattr(zelvo.TOFOutput, output))
    frames = [request(camera) for _ in range(2)]
    camera.releaseFrame(frames[1])
    assert camera.stop() == zelvo.TOFErrorCode.ZelvoSuccess
    for getter in GETTERS[output]:
        getattr(frames[0], getter)()  # the buffers survive stop
    assert camera.start(getattr(zelvo.TOFOutput, next_output)) == zelvo.TOFErrorCode.ZelvoSuccess
    # New buffers may sit where the old ones were: the old objects still refuse.
    fresh = [request(camera) for _ in range(3)]
    for frame in frames:
        assert_stale(frame, output, "new stream")
        assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoUnkownError
        assert all(frame is not other for other in fresh)
    for frame in fresh:
        for getter in GETTERS[next_output]:
            getattr(frame, getter)()
        assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess


def test_use_after_camera_is_gone_raises(zelvo, cameras, output):
    camera = cameras.streaming(getattr(zelvo.TOFOutput, output))
    frame = request(camera)
    released = request(camera)
    camera.releaseFrame(released)
    cameras.cameras.remove(camera)
    del camera
    gc.collect()
    assert_stale(frame, output, "camera")
    assert_stale(released, output, "camera")
    other = cameras.streaming(getattr(zelvo.TOFOutput, output))
    assert other.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoUnkownError


def thread_count():
    return len(os.listdir("/proc/self/task"))


def test_collecting_a_streaming_camera_stops_it(zelvo, cameras):
    # One full stream first, so that nothing made once per process is counted.
    warm = cameras.streaming(zelvo.TOFOutput.DEPTH)
    warm.releaseFrame(request(warm))
    cameras.close_all()
    del warm
    gc.collect()
    before = thread_count()
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    frame = request(camera)
    assert thread_count() > before
    cameras.cameras.remove(camera)
    del camera
    gc.collect()
    assert thread_count() == before
    with pytest.raises(RuntimeError):
        frame.getDepthData()


def test_exit_with_a_streaming_camera_is_clean(zelvo):
    result = run_python(textwrap.dedent("""
        import ZelvoDepthCamera as z
        camera = z.ZelvoCamera()
        assert camera.open(z.TOFConnect.CSI) == z.TOFErrorCode.ZelvoSuccess
        assert camera.start(z.TOFOutput.DEPTH) == z.TOFErrorCode.ZelvoSuccess
        frame = camera.requestFrame(%d)
        assert frame is not None
        print("streaming", flush=True)
    """ % FRAME_TIMEOUT_MS))
    assert result.returncode == 0, result.stderr
    assert result.stdout == "streaming\n"


WAITING_CHILD = textwrap.dedent("""
    import sys
    import ZelvoDepthCamera as z
    camera = z.ZelvoCamera()
    assert camera.open(z.TOFConnect.CSI) == z.TOFErrorCode.ZelvoSuccess
    assert camera.start(z.TOFOutput.DEPTH) == z.TOFErrorCode.ZelvoSuccess
    # Holding the whole pool: no frame can come any more.
    held = [camera.requestFrame(%d) for _ in range(3)]
    assert None not in held
    print("waiting", flush=True)
    try:
        camera.requestFrame(TIMEOUT)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
        for frame in held:
            assert camera.releaseFrame(frame) == z.TOFErrorCode.ZelvoSuccess
        assert camera.requestFrame(%d) is not None
        print("streaming again", flush=True)
        sys.exit(0)
    print("not interrupted", flush=True)
    sys.exit(3)
""" % (FRAME_TIMEOUT_MS, FRAME_TIMEOUT_MS))


@pytest.mark.parametrize("timeout", [-1, 32767])
def test_ctrl_c_interrupts_a_waiting_request(timeout):
    status, out, err = interrupt_python(WAITING_CHILD.replace("TIMEOUT", str(timeout)))
    assert status == 0, err
    assert out == "interrupted\nstreaming again\n"


def test_request_before_any_start_returns_none_at_once():
    # Run apart: a regression would wait forever.
    result = run_python(textwrap.dedent("""
        import ZelvoDepthCamera as z
        camera = z.ZelvoCamera()
        print(camera.requestFrame(-1), camera.requestFrame(1000))
        assert camera.open(z.TOFConnect.CSI) == z.TOFErrorCode.ZelvoSuccess
        print(camera.requestFrame(-1), camera.releaseFrame(None).str())
    """))
    assert result.returncode == 0, result.stderr
    assert result.stdout == "None None\nNone Unknown error\n"
