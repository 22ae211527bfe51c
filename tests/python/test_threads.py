"""Frames forgotten without a release: collected, they give their buffers back."""
import gc

from conftest import FRAME_TIMEOUT_MS, request


def test_collected_frames_give_their_buffers_back(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    held = [request(camera) for _ in range(3)]
    assert camera.requestFrame(0) is None
    del held
    gc.collect()
    # A loop that never releases keeps getting frames: each one it drops comes back.
    for _ in range(10):
        assert camera.requestFrame(FRAME_TIMEOUT_MS) is not None
