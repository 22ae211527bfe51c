"""Depth read through numpy, and the controls that change what a stream delivers."""
import statistics

import numpy as np
import pytest

from conftest import request

WALL = "board=rpi5,scene=wall:{mm},noise=0"


def centre(array, half=3):
    rows, cols = array.shape
    return array[rows // 2 - half:rows // 2 + half, cols // 2 - half:cols // 2 + half]


def fresh_depth(camera, frames=3):
    """Depth of a frame taken after the previous settings surely applied."""
    for _ in range(frames):
        camera.releaseFrame(request(camera))
    frame = request(camera)
    depth = frame.getDepthData()
    camera.releaseFrame(frame)
    return depth


def test_wall_depth_at_the_centre(zelvo, sim, cameras):
    sim(WALL.format(mm=1500))
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    depth = fresh_depth(camera)
    assert np.all(np.abs(centre(depth) - 1500.0) <= 2.0), centre(depth)


@pytest.mark.parametrize("wall_mm, readings", [
    (3000, {4000: 3000.0, 2000: 1000.0}),   # the 2000 mm range wraps around
    (1500, {4000: 1500.0, 2000: 1500.0}),
])
def test_range_switches_the_wrap_around(zelvo, sim, cameras, wall_mm, readings):
    sim(WALL.format(mm=wall_mm))
    camera = cameras.opened()
    rng = zelvo.TOFControl.RANGE
    for value, expected in readings.items():
        assert camera.setControl(rng, value) == zelvo.TOFErrorCode.ZelvoSuccess
        got = camera.getControl(rng)
        assert type(got) is int and got == value
        assert camera.start(zelvo.TOFOutput.DEPTH) == zelvo.TOFErrorCode.ZelvoSuccess
        depth = fresh_depth(camera)
        assert np.all(np.abs(centre(depth) - expected) <= 2.0), (value, centre(depth))
        assert camera.stop() == zelvo.TOFErrorCode.ZelvoSuccess


def test_range_switches_while_streaming(zelvo, sim, cameras):
    sim(WALL.format(mm=3000))
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    assert camera.setControl(zelvo.TOFControl.RANGE, 2000) == zelvo.TOFErrorCode.ZelvoSuccess
    depth = fresh_depth(camera, frames=5)
    assert np.all(np.abs(centre(depth) - 1000.0) <= 2.0), centre(depth)


def test_frame_rate_bounds(zelvo, cameras):
    camera = cameras.opened()
    rate = zelvo.TOFControl.FRAME_RATE
    before = camera.getControl(rate)
    assert type(before) is int and 1 <= before <= 30
    # Outside 1 to the HQVGA maximum of 30 the camera refuses before the device.
    for value in (0, -1, 31, 1000):
        assert camera.setControl(rate, value) == zelvo.TOFErrorCode.ZelvoInvalidParameter
    assert camera.getControl(rate) == before
    # Inside, the device answers (the HQVGA device takes only RANGE itself).
    for value in (1, 30):
        assert camera.setControl(rate, value) in zelvo.TOFErrorCode.__members__.values()


def test_get_control_is_a_plain_int_even_when_refused(zelvo, cameras):
    camera = cameras.new()  # never opened: the core has no device to ask
    for control in zelvo.TOFControl.__members__.values():
        got = camera.getControl(control)
        assert type(got) is int
    assert camera.getControl(zelvo.TOFControl.RANGE) == 0


def delivered_periods(camera, frames):
    stamps = []
    for _ in range(frames):
        frame = request(camera)
        stamps.append(frame.getFrameFormat().timestamp)
        camera.releaseFrame(frame)
    return [b - a for a, b in zip(stamps, stamps[1:])]


def test_skip_frame_halves_the_delivered_rate(zelvo, sim, cameras):
    # A slow sensor, so that even an instrumented build computes every frame in
    # time; rates are judged by the sensor's timestamps, not by the wall clock.
    sim("board=rpi5,scene=wall:1500,fps=5")
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    delivered_periods(camera, 2)
    full = statistics.median(delivered_periods(camera, 8))
    assert 150 <= full <= 250, full
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    assert camera.setControl(zelvo.TOFControl.SKIP_FRAME_LOOP, 2) == ok
    assert camera.setControl(zelvo.TOFControl.SKIP_FRAME, 1) == ok
    delivered_periods(camera, 4)  # frames produced before the change
    halved = statistics.median(delivered_periods(camera, 8))
    assert 1.7 <= halved / full <= 2.3, (full, halved)
    assert camera.setControl(zelvo.TOFControl.SKIP_FRAME, 0) == ok
    delivered_periods(camera, 4)
    restored = statistics.median(delivered_periods(camera, 8))
    assert 0.8 <= restored / full <= 1.25, (full, restored)
