"""A camera whose sensor stops sending (a pulled cable) or goes away, from Python.

With stall=8 the simulated sensor sends two depth frames and then nothing, as a real
receiver does when the cable is pulled: no buffer completes and nothing fails. Before the
CSI transport waited for buffers in bounded slices, stop, close and the exit of such a
program hung for ever in the driver's blocking dequeue.
"""
import textwrap

import pytest

from conftest import FRAME_TIMEOUT_MS, interrupt_python, run_python

STALLED = "board=rpi5,scene=room,stall=8"

BLOCKED_CHILD = textwrap.dedent("""
    import sys
    import ZelvoDepthCamera as z
    camera = z.ZelvoCamera()
    assert camera.open(z.TOFConnect.CSI) == z.TOFErrorCode.ZelvoSuccess
    assert camera.start(z.TOFOutput.DEPTH) == z.TOFErrorCode.ZelvoSuccess
    for _ in range(2):
        frame = camera.requestFrame(%d)
        assert frame is not None
        assert camera.releaseFrame(frame) == z.TOFErrorCode.ZelvoSuccess
    try:
        print("waiting", flush=True)  # inside: Ctrl-C may come at once
        camera.requestFrame(-1)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
        print(camera.stop() == z.TOFErrorCode.ZelvoSuccess,
              camera.close() == z.TOFErrorCode.ZelvoSuccess, flush=True)
        sys.exit(0)
    print("not interrupted", flush=True)
    sys.exit(3)
""" % FRAME_TIMEOUT_MS)


def test_ctrl_c_reaches_a_request_blocked_on_a_stalled_camera():
    status, out, err = interrupt_python(BLOCKED_CHILD, {"ZELVO_SIM": STALLED})
    assert status == 0, err
    assert out == "interrupted\nTrue True\n"


@pytest.mark.parametrize("settings, stopped", [
    ("board=jetson-orin,stall=8", "ZelvoSuccess"),
    ("board=rock5b,stall=1", "ZelvoSuccess"),
    ("board=rpi5,unplug=8", "ZelvoSystemError"),  # streaming cannot be switched off
])
def test_failed_camera_stops_closes_and_opens_again(settings, stopped):
    # Run apart: a regression hangs instead of failing.
    result = run_python(textwrap.dedent("""
        import ZelvoDepthCamera as z
        camera = z.ZelvoCamera()
        assert camera.open(z.TOFConnect.CSI) == z.TOFErrorCode.ZelvoSuccess
        assert camera.start(z.TOFOutput.DEPTH) == z.TOFErrorCode.ZelvoSuccess
        frames = 0
        while True:
            frame = camera.requestFrame(2000)
            if frame is None:
                break
            frames += 1
            camera.releaseFrame(frame)
        print(frames <= 2, camera.stop().name, camera.close().name, flush=True)
        print(camera.open(z.TOFConnect.CSI).name, camera.close().name, flush=True)
    """), env_extra={"ZELVO_SIM": settings})
    assert result.returncode == 0, result.stderr
    reopened = "ZelvoSystemError" if "unplug" in settings else "ZelvoSuccess"
    assert result.stdout == "True %s ZelvoSuccess\n%s ZelvoSuccess\n" % (stopped, reopened)
