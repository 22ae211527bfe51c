"""Two cameras in one process with ZELVO_SIM=cameras=2: each streams from its own sensor
with its own range, rate and output type, over CSI and USB, HQVGA and VGA. Rates are judged
by the sensors' timestamps, never by the wall clock."""
import statistics
import threading

import pytest

# A VGA start writes its configuration files into the working directory.
@pytest.fixture(autouse=True)
def folder(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


# (sensor, the two cameras as (connect, index, output, range control or VGA mode, rate)).
# Each camera builds its board from ZELVO_SIM when it is made: the rate is its sensor's, set
# through FRAME_RATE for a VGA camera on CSI.
# HQVGA selects its range with RANGE (mm); VGA with MODE (0: 1250 mm, 1: 4500 mm).
PAIRS = [
    ("hqvga", [("CSI", 0, "DEPTH", 4000, 15), ("CSI", 1, "RAW", 2000, 5)]),
    ("hqvga", [("USB", 1, "RAW", 2000, 5), ("USB", 0, "DEPTH", 4000, 10)]),
    ("hqvga", [("CSI", 1, "DEPTH", 2000, 10), ("USB", 1, "RAW", 4000, 5)]),
    ("vga", [("CSI", 0, "DEPTH", 1, 4), ("CSI", 1, "RAW", 0, 2)]),
    ("vga", [("USB", 0, "RAW", 0, 2), ("CSI", 1, "DEPTH", 1, 4)]),
]
FRAMES = 8
# The VGA sensor renders its rays at its first frame: slow under a sanitizer.
FIRST_FRAME_MS = 30000
FRAME_MS = 5000


def configure(zelvo, camera, sensor, plan):
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    connect, index, output, selection, _ = plan
    assert camera.open(getattr(zelvo.TOFConnect, connect), index) == ok
    control = zelvo.TOFControl.MODE if sensor == "vga" else zelvo.TOFControl.RANGE
    assert camera.setControl(control, selection) == ok
    if sensor == "vga" and connect == "CSI":
        assert camera.setControl(zelvo.TOFControl.FRAME_RATE, plan[4]) == ok
    assert camera.start(getattr(zelvo.TOFOutput, output)) == ok


def collect(camera, stamps, failures):
    for count in range(FRAMES):
        frame = camera.requestFrame(FRAME_MS if count else FIRST_FRAME_MS)
        if frame is None:
            failures.append(count)
            return
        stamps.append(frame.getFrameFormat().timestamp)
        camera.releaseFrame(frame)


@pytest.mark.parametrize("sensor, plans", PAIRS, ids=[
    "%s-%s" % (sensor, "+".join("%s%d" % plan[:2] for plan in plans)) for sensor, plans in PAIRS])
def test_two_cameras_stream_together_with_their_own_controls(zelvo, sim, cameras, sensor,
                                                              plans):
    pair = []
    for plan in plans:
        sim("cameras=2,board=rpi5,noise=0,scene=wall:1000,sensor=%s,fps=%d" % (sensor, plan[4]))
        pair.append(cameras.new())
        configure(zelvo, pair[-1], sensor, plan)
    stamps, failures = [[], []], [[], []]
    threads = [threading.Thread(target=collect, args=(camera, stamps[i], failures[i]))
               for i, camera in enumerate(pair)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for camera, plan, got, failed in zip(pair, plans, stamps, failures):
        assert failed == [], plan
        assert len(got) == FRAMES
        assert got == sorted(got) and len(set(got)) == FRAMES, got  # none delivered twice
        # Each at its own rate: timestamps are the sensor's, in milliseconds. A VGA depth
        # computation under a sanitizer may fall behind and drop frames, never add any: every
        # gap is a whole number of its periods, and a RAW stream keeps the full rate.
        period = 1000.0 / plan[4]
        gaps = [b - a for a, b in zip(got, got[1:])]
        for gap in gaps:
            periods = max(1, round(gap / period))
            assert abs(gap - periods * period) <= 0.2 * period, (plan, got)
        if sensor == "hqvga" or plan[2] == "RAW":
            assert 0.8 * period <= statistics.median(gaps) <= 1.2 * period, (plan, got)
        if sensor == "hqvga":
            assert camera.getControl(zelvo.TOFControl.RANGE) == plan[3]
        else:
            assert camera.getControl(zelvo.TOFControl.RANGE) == (4500 if plan[3] else 1250)


@pytest.mark.parametrize("cameras_setting, index, code", [
    ("", 1, "ZelvoSystemError"),
    ("cameras=1,", 1, "ZelvoSystemError"),
    ("cameras=2,", 1, "ZelvoSuccess"),
    ("cameras=2,", 2, "ZelvoSystemError"),
])
def test_a_csi_index_opens_only_with_a_sensor_behind_it(zelvo, sim, cameras, cameras_setting,
                                                        index, code):
    sim(cameras_setting + "board=rpi5,fps=0")
    assert cameras.new().open(zelvo.TOFConnect.CSI, index).name == code


def test_the_same_node_twice_is_busy_but_the_other_node_streams(zelvo, sim, cameras):
    sim("cameras=2,board=rock5b,fps=0")
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    first, second, other = cameras.new(), cameras.new(), cameras.new()
    for camera, index in ((first, 1), (second, 1), (other, 0)):
        assert camera.open(zelvo.TOFConnect.CSI, index) == ok
    assert first.start(zelvo.TOFOutput.RAW) == ok
    assert second.start(zelvo.TOFOutput.RAW) != ok
    assert other.start(zelvo.TOFOutput.RAW) == ok
    assert first.stop() == ok
    assert second.start(zelvo.TOFOutput.RAW) == ok


def test_an_unknown_cameras_value_is_refused(zelvo, sim, cameras, capfd):
    sim("cameras=3")
    assert cameras.new().open(zelvo.TOFConnect.CSI, 0).name == "ZelvoSystemError"
    assert 'invalid value "3" for setting "cameras"' in capfd.readouterr().err
