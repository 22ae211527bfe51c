"""A camera used from several threads. Scenarios that a wait holding the interpreter lock
would hang run in a child process with a time-out."""
import gc
import textwrap
import threading
import time

import pytest

from conftest import DEFAULT_SIM, FRAME_TIMEOUT_MS, interrupt_python, request, run_python

CHILD = textwrap.dedent("""
    import threading, time
    import ZelvoDepthCamera as z
    OK = z.TOFErrorCode.ZelvoSuccess
    camera = z.ZelvoCamera()
    assert camera.open(z.TOFConnect.CSI) == OK and camera.start(z.TOFOutput.DEPTH) == OK
    held = [camera.requestFrame(%d) for _ in range(3)]  # the whole pool: no frame can come
    assert None not in held
    def in_thread(call):
        result = []
        thread = threading.Thread(target=lambda: result.append((call(), time.monotonic())))
        thread.start()
        return thread, result
""" % FRAME_TIMEOUT_MS)


def child(body, **kwargs):
    result = run_python(CHILD + textwrap.dedent(body), **kwargs)
    assert result.returncode == 0, result.stderr
    return result


@pytest.mark.parametrize("call, after, printed", [
    ("stop()", "camera.requestFrame(-1), camera.requestFrame(32767)", "None None"),
    # Closed: nothing reaches a closed descriptor, so nothing is printed either.
    ("close()", "camera.requestFrame(-1), int(camera.start(z.TOFOutput.DEPTH)), "
     "int(camera.setControl(z.TOFControl.RANGE, 4000)), int(camera.close())", "None -1 -1 -1"),
    ("start(z.TOFOutput.DEPTH)", "", ""),
    ("open(z.TOFConnect.CSI)", "", "")])
def test_lifecycle_call_wakes_a_waiting_request(call, after, printed):
    result = child("""
        thread, result = in_thread(lambda: camera.requestFrame(-1))
        time.sleep(0.3)
        assert thread.is_alive()
        called = time.monotonic()
        camera.%s
        thread.join(10)
        print(result[0][0], result[0][1] - called < 1.0)
        print(%s)
    """ % (call, after))
    assert (result.stdout, result.stderr) == ("None True\n%s\n" % printed, "")


def test_release_from_another_thread_ends_a_wait_for_the_last_frame():
    result = child("""
        thread, _ = in_thread(lambda: (time.sleep(0.3), camera.releaseFrame(held[1])))
        frame = camera.requestFrame(-1)
        thread.join()
        print(type(frame).__name__, frame is held[1])
    """)
    assert result.stdout == "DepthData True\n"


@pytest.mark.parametrize("timeout", [-1, 32767])
def test_ctrl_c_interrupts_a_wait_while_another_thread_waits(timeout):
    script = CHILD + textwrap.dedent("""
        waiter, result = in_thread(lambda: camera.requestFrame(-1))
        print("waiting", flush=True)
        try:
            camera.requestFrame(%d)
        except KeyboardInterrupt:
            camera.stop()
            waiter.join()
            print("interrupted", result[0][0], flush=True)
    """ % timeout)
    status, out, err = interrupt_python(script)
    assert status == 0, err
    assert out == "interrupted None\n"


def test_other_thread_runs_steadily_while_a_request_waits(zelvo, sim, cameras):
    sim(DEFAULT_SIM + ",fps=1")
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    camera.releaseFrame(request(camera))
    state = {"waiting": False, "spins": 0, "longest": 0.0, "done": False}

    def spin():
        last = time.monotonic()
        while not state["done"]:
            now = time.monotonic()
            if state["waiting"]:
                state["spins"] += 1
                state["longest"] = max(state["longest"], now - last)
            last = now

    spinner = threading.Thread(target=spin)
    spinner.start()
    waits = []
    for _ in range(2):  # each waits about one frame period for the next frame
        state["waiting"], began = True, time.monotonic()
        frame = camera.requestFrame(FRAME_TIMEOUT_MS)
        waits.append(time.monotonic() - began)
        state["waiting"] = False
        assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess
    state["done"] = True
    spinner.join()
    assert state["spins"] > 100  # it ran while the request waited
    # Held up by the wait, the spinning thread would stand still for a whole wait.
    assert state["longest"] < min(waits) / 2


def test_collected_frames_give_their_buffers_back(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    held = [request(camera) for _ in range(3)]
    assert camera.requestFrame(0) is None
    del held
    gc.collect()
    # A loop that never releases keeps getting frames: each one it drops comes back.
    for _ in range(10):
        assert camera.requestFrame(FRAME_TIMEOUT_MS) is not None


def test_threads_mixing_every_call_leave_a_working_camera():
    result = child("""
        import random
        def work(seed):
            rng = random.Random(seed)
            frames = []
            calls = [lambda: camera.start(rng.choice([z.TOFOutput.RAW, z.TOFOutput.DEPTH])),
                     camera.stop, lambda: camera.setControl(z.TOFControl.FRAME_RATE, 20),
                     camera.getCameraInfo, lambda: frames.append(camera.requestFrame(100)),
                     lambda: frames and camera.releaseFrame(frames.pop()),
                     lambda: frames and frames[-1] and frames[-1].getFrameFormat()]
            for _ in range(60):
                try:
                    rng.choice(calls)()
                except RuntimeError:
                    pass  # stop without a stream, or a frame of an earlier stream
        workers = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        if camera.start(z.TOFOutput.RAW) != OK:
            camera.stop()
            assert camera.start(z.TOFOutput.RAW) == OK
        print(type(camera.requestFrame(%d)).__name__)
    """ % FRAME_TIMEOUT_MS)
    assert result.stdout == "RawData\n"
