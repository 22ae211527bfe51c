"""Recordings: `zelvo record` writes ROS 1 bags that the rosbag tools read, and the
simulated board replays a raw recording (ZELVO_SIM=replay=FILE.bag) as the camera it came
from: the same RAW frames byte for byte and in order, and the same depth."""
import os
import re
import subprocess
import sys
import types

import numpy as np
import pytest

from conftest import SUBPROCESS_TIMEOUT_S, ZELVO_PACKAGE_DIR, run_python, run_zelvo

sys.path.insert(0, ZELVO_PACKAGE_DIR)
rosbag = pytest.importorskip("rosbag")
from zelvo import cli, recording  # noqa: E402
from zelvo.camera import Camera  # noqa: E402

FRAMES = 4
# The first frame of a simulated VGA sensor takes long to render on a loaded machine.
FRAME_TIMEOUT_S = 60
ROOM = "scene=room,seed=%d"

# A recorder that falls behind the camera loses frames (the camera recycles the oldest one
# nobody took), so the checks allow gaps. The VGA depth library filters depth over time, so
# its recording is noiseless: every frame then holds the same pixels (their headers count
# on) and the depth of the n-th frame is the same whichever frames were lost.
#
# Recorded on (ZELVO_SIM, transport), what the recording says (sensor, board, RAW rows x
# width), and the settings added for the replay (another board: the Jetson capture path's
# shifted, reordered samples).
RECORDINGS = [
    pytest.param(("board=rpi5," + ROOM % 2, "CSI", "hqvga", "rpi5", (720, 240), ""),
                 id="hqvga-csi"),
    pytest.param(("board=rpi4," + ROOM % 3, "USB", "hqvga", "rpi4", (720, 240), ""),
                 id="hqvga-usb"),
    pytest.param(("board=rpi5," + ROOM % 4, "CSI", "hqvga", "rpi5", (720, 240),
                  ",board=jetson-orin"), id="hqvga-on-orin"),
    pytest.param(("sensor=vga,board=rock5b,scene=room,noise=0", "CSI", "vga", "rock5b",
                  (4810, 640), ""), id="vga-csi"),
]


class Recorded:
    def __init__(self, folder, settings, connect, sensor, board, shape, replay_extra):
        self.folder = folder
        self.bag = str(folder / "room.bag")
        self.settings = settings
        self.connect = connect
        self.sensor = sensor
        self.board = board
        self.shape = shape
        self.replay = "replay=" + self.bag + replay_extra


@pytest.fixture(scope="module", params=RECORDINGS)
def recorded(request, tmp_path_factory):
    """A raw recording of the simulated room, made with `zelvo record`."""
    made = Recorded(tmp_path_factory.mktemp("recording"), *request.param)
    done = run_zelvo(["record", made.bag, "--frames", str(FRAMES), "--connect", made.connect,
                      "--timeout", str(FRAME_TIMEOUT_S)],
                     {"ZELVO_SIM": made.settings}, cwd=made.folder)
    assert done.returncode == 0, done.stderr
    assert "recorded:   %d RAW frames" % FRAMES in done.stdout
    return made


def messages(bag_path, topic):
    with rosbag.Bag(bag_path) as bag:
        return [(message, stamp) for _, message, stamp in bag.read_messages(topics=[topic])]


def frames_of(settings, connect, output, count, folder, monkeypatch):
    """`count` frames of a fresh camera on the simulated board, opened in `folder`."""
    monkeypatch.setenv("ZELVO_SIM", settings)
    monkeypatch.chdir(folder)
    with Camera(connect=connect) as camera:
        return [frame.raw if output == "raw" else frame.depth
                for frame in camera.frames(count, output=output, timeout_s=FRAME_TIMEOUT_S)]


def test_raw_recording_opens_with_rosbag_info(recorded):
    done = subprocess.run(["rosbag", "info", recorded.bag], capture_output=True, text=True,
                          timeout=SUBPROCESS_TIMEOUT_S)
    assert done.returncode == 0, done.stderr
    assert re.search(r"^version:\s+2\.0$", done.stdout, re.M), done.stdout
    for topic, count, kind in (("/zelvo/raw", FRAMES, "sensor_msgs/Image"),
                               ("/zelvo/camera_info", 1, "sensor_msgs/CameraInfo"),
                               ("/zelvo/meta", 1, "std_msgs/String")):
        assert re.search(r"%s\s+%d msgs?\s+: %s" % (topic, count, kind), done.stdout), done.stdout

    meta = recording.read_meta(recorded.bag)
    assert meta["recording"] == "raw" and meta["frames"] == FRAMES
    assert meta["device_type"] == recorded.sensor.upper()
    assert meta["connection"] == recorded.connect
    assert meta["replay"]["board"] == recorded.board
    assert meta["replay"]["sensor"] == recorded.sensor
    assert (meta["replay"]["raw_rows"], meta["replay"]["raw_width"]) == recorded.shape
    assert 0 < meta["replay"]["frame_rate"] <= 60
    assert meta["controls"]["RANGE"] == meta["range_mm"]

    raw = messages(recorded.bag, recording.TOPIC_RAW)
    stamps = [stamp.to_nsec() for _, stamp in raw]
    assert stamps == sorted(stamps) and len(set(stamps)) == FRAMES
    for message, stamp in raw:
        assert message.encoding == "16SC1" and message.header.stamp == stamp
        assert (message.height, message.width) == recorded.shape
    (info, _), = messages(recorded.bag, recording.TOPIC_CAMERA_INFO)
    intr = meta["intrinsics"]
    assert (info.width, info.height) == (meta["width"], meta["height"])
    assert list(info.K) == pytest.approx([intr["fx"], 0, intr["cx"], 0, intr["fy"], intr["cy"],
                                          0, 0, 1])


def positions(frames, served):
    """Where each served frame is among the recorded frames (None: nowhere)."""
    index = {frame.tobytes(): number for number, frame in enumerate(frames)}
    return [index.get(frame.tobytes()) for frame in served]


def in_cyclic_order(found, count):
    """True when the positions start at 0 and each follows the one before it, looping."""
    steps = [(b - a) % count for a, b in zip(found, found[1:])]
    return found[0] == 0 and all(0 < step < count for step in steps)


def test_replay_serves_the_recorded_raw_frames_in_order(recorded, monkeypatch):
    frames = [array for _, array in recording.read_images(recorded.bag, recording.TOPIC_RAW)]
    assert len({frame.tobytes() for frame in frames}) == FRAMES  # all differ
    served = frames_of(recorded.replay, recorded.connect, "raw", 3 * FRAMES, recorded.folder,
                       monkeypatch)
    assert all(frame.shape == recorded.shape and frame.dtype == np.int16 for frame in served)
    found = positions(frames, served)
    assert None not in found, found  # byte for byte
    assert in_cyclic_order(found, FRAMES) and set(found) == set(range(FRAMES)), found


def test_replay_depth_equals_the_recorded_sessions(recorded, monkeypatch):
    # The simulated sensor's noise follows its seed, so a fresh session on the recording's
    # settings computes its depth from the very frames the recording holds.
    live = frames_of(recorded.settings, recorded.connect, "depth", FRAMES + 2, recorded.folder,
                     monkeypatch)
    replayed = frames_of(recorded.replay, recorded.connect, "depth", FRAMES, recorded.folder,
                         monkeypatch)
    assert np.isfinite(live[0]).mean() > 0.5
    if recorded.sensor == "vga":
        for number, (expected, depth) in enumerate(zip(live, replayed)):
            assert depth.tobytes() == expected.tobytes(), "frame %d" % number
    else:
        found = positions(live, replayed)
        assert None not in found and found == sorted(found), found  # bit for bit, in order


def test_depth_recording_holds_z_in_metres_for_ros_tools(tmp_path):
    bag = str(tmp_path / "wall.bag")
    done = run_zelvo(["record", bag, "--frames", "2", "--depth"],
                     {"ZELVO_SIM": "scene=wall:1500,noise=0"}, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    meta = recording.read_meta(bag)
    assert meta["recording"] == "depth" and "replay" not in meta
    assert messages(bag, recording.TOPIC_RAW) == []
    for topic in (recording.TOPIC_DEPTH, recording.TOPIC_AMPLITUDE, recording.TOPIC_CONFIDENCE):
        images = recording.read_images(bag, topic)
        assert len(images) == 2
        assert all(array.shape == (180, 240) and array.dtype == np.float32
                   for _, array in images)
    z = recording.read_images(bag, recording.TOPIC_DEPTH)[-1][1]
    valid = np.isfinite(z)
    assert valid.mean() > 0.95
    assert np.abs(z[valid] - 1.5).max() < 0.005  # a wall along the axis: flat Z in metres
    amplitude = recording.read_images(bag, recording.TOPIC_AMPLITUDE)[-1][1]
    assert amplitude[valid].min() > 0


REPLAY_FAILURES = [
    ("missing", "replay={folder}/none.bag", "Error opening file"),
    ("corrupt", "replay={folder}/corrupt.bag", "cannot replay"),
    ("depth recording", "replay={folder}/depth.bag", "is not a raw recording"),
    ("other sensor", "sensor=vga,replay={folder}/raw.bag", 'sensor "hqvga", not "vga"'),
    ("empty name", "replay=", 'invalid value "" for setting "replay"'),
]


def test_a_recording_that_cannot_replay_fails_open_with_one_line(tmp_path):
    (tmp_path / "corrupt.bag").write_bytes(b"#ROSBAG V2.0\n" + bytes(range(256)) * 8)
    for name, args in (("depth.bag", ["--depth"]), ("raw.bag", [])):
        done = run_zelvo(["record", str(tmp_path / name), "--frames", "1"] + args,
                         {"ZELVO_SIM": "scene=wall:900"}, cwd=tmp_path)
        assert done.returncode == 0, done.stderr
    code = ("import ZelvoDepthCamera as z\n"
            "print(int(z.ZelvoCamera().open(z.TOFConnect.CSI)))\n")
    for case, settings, reason in REPLAY_FAILURES:
        done = run_python(code, {"ZELVO_SIM": settings.format(folder=tmp_path)})
        assert done.stdout.strip() == "-2", (case, done.stdout, done.stderr)
        lines = done.stderr.splitlines()
        assert len(lines) == 1 and lines[0].startswith("ZELVO_SIM: "), (case, done.stderr)
        assert '"replay"' in lines[0] and reason in lines[0], (case, lines[0])


def test_record_and_play_fail_with_their_status_and_one_line(tmp_path):
    (tmp_path / "depth.bag").write_bytes(b"")
    depth = str(tmp_path / "wall.bag")
    assert run_zelvo(["record", depth, "--frames", "1", "--depth"],
                     {"ZELVO_SIM": "scene=wall:900"}, cwd=tmp_path).returncode == 0
    cases = [
        (["record", str(tmp_path / "no" / "such" / "x.bag")], 1, "cannot write"),
        (["record", str(tmp_path / "x.bag"), "--frames", "0"], 2, "--frames"),
        (["play", str(tmp_path / "none.bag")], 1, "no recording"),
        (["play", str(tmp_path / "depth.bag")], 1, "cannot read the recording"),
        (["play", depth], 1, "is a depth recording"),
    ]
    for args, status, text in cases:
        done = run_zelvo(args, {"ZELVO_SIM": "1"}, cwd=tmp_path)
        assert done.returncode == status, (args, done.stderr)
        assert "Traceback" not in done.stderr
        line = done.stderr.strip().splitlines()[-1]
        assert text in line, (args, done.stderr)
    assert not (tmp_path / "x.bag").exists()


def stub_viewer(calls):
    """A viewer command that notes what it was run with."""
    view = types.ModuleType("zelvo.commands.view")

    def register(subparsers, common):
        parser = subparsers.add_parser("view", parents=[common])
        parser.add_argument("--host", default="127.0.0.1")
        parser.add_argument("--port", type=int, default=8080)
        parser.set_defaults(func=view.run)

    def run(args):
        calls.append((os.environ["ZELVO_SIM"], args.host, args.port, args.mode))
        return 0

    view.register, view.run = register, run
    return view


def test_play_runs_the_viewer_on_the_replayed_recording(tmp_path, monkeypatch, capsys):
    bag = str(tmp_path / "r.bag")
    assert run_zelvo(["record", bag, "--frames", "1"], {"ZELVO_SIM": "scene=wall:900"},
                     cwd=tmp_path).returncode == 0
    calls = []
    monkeypatch.setitem(sys.modules, "zelvo.commands.view", stub_viewer(calls))
    monkeypatch.setenv("ZELVO_SIM", "board=rpi4,replay=old.bag,noise=0")
    monkeypatch.chdir(tmp_path)
    assert cli.main(["play", "r.bag", "--port", "9000"]) == 0
    assert calls == [("board=rpi4,noise=0,replay=" + bag, "127.0.0.1", 9000, "double")]

    monkeypatch.setitem(sys.modules, "zelvo.commands.view", None)  # not installed
    assert cli.main(["play", "r.bag"]) == 1
    assert "zelvo play: the viewer (zelvo view) is not part" in capsys.readouterr().err


@pytest.mark.parametrize("command, option", [("record", "--depth"), ("play", "--port")])
def test_record_and_play_explain_themselves(tmp_path, command, option):
    done = run_zelvo([command, "--help"], cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("usage: zelvo %s" % command)
    for text in ("FILE.bag", option, "--connect", "--mode"):
        assert text in done.stdout
