"""The ROS node on the simulated board: a real roscore on loopback, the node's topics read from
this process, a parameter change while it runs, Ctrl-C, the launch file and a rosbag
recording; and the conversion of frames to messages on its own, without ROS."""
import dataclasses
import os
import pathlib
import signal
import socket
import subprocess
import sys
import time

import numpy as np
import pytest
import yaml

from conftest import MODULE_DIR, REPO, SUBPROCESS_TIMEOUT_S, ZELVO_PACKAGE_DIR, save_calibration

sys.path.insert(0, ZELVO_PACKAGE_DIR)
from zelvo import geometry, intrinsics  # noqa: E402
from zelvo.ros import messages  # noqa: E402
from zelvo.ros.node import StampMap  # noqa: E402

WALL = "board=rpi5,scene=wall:1500,noise=0"
DEVICES = {  # name: (ZELVO_SIM, depth width, height)
    "HQVGA": (WALL, 240, 180),
    "VGA": (WALL + ",sensor=vga", 640, 480),
}
TOPICS = ("depth/image_raw", "amplitude/image_raw", "confidence/image_raw",
          "depth/camera_info", "depth/points")
WAIT_S = SUBPROCESS_TIMEOUT_S
# Programs of ROS itself run without the sanitizer the module may be preloaded with.
NOT_FOR_ROS = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")


# -- the conversion alone

@dataclasses.dataclass
class FakeFrame:
    depth: np.ndarray
    amplitude: np.ndarray
    confidence: np.ndarray
    raw: np.ndarray = None


def test_conversion_matches_the_packages_geometry():
    lens = intrinsics.Intrinsics(64, 48, 50.0, 52.0, 30.5, 22.0, (0.1, -0.02, 0.001, 0.002))
    rng = np.random.default_rng(7)
    depth = rng.uniform(200, 4000, (48, 64)).astype(np.float32)
    depth[0, :4] = [0.0, -5.0, np.nan, np.inf]
    frame = FakeFrame(depth, rng.uniform(1, 100, depth.shape).astype(np.float32),
                      np.ones_like(depth))
    for encoding in messages.DEPTH_ENCODINGS:
        out = messages.Converter(lens, encoding, "cam").depth_frame(frame, 1234)
        z_mm = geometry.radial_to_z(depth, lens)
        image = out[messages.DEPTH]
        assert (image.encoding, image.header.stamp_ns, image.header.frame_id) == \
            (encoding, 1234, "cam")
        if encoding == "32FC1":
            assert image.data.dtype == np.float32 and image.step == 64 * 4
            np.testing.assert_allclose(image.data, z_mm / 1000.0, rtol=1e-6)
        else:
            assert image.data.dtype == np.uint16 and image.step == 64 * 2
            np.testing.assert_array_equal(image.data, geometry.z_to_png16(z_mm))
        cloud = out[messages.POINTS]
        assert cloud.data.shape == (48, 64, 4) and cloud.row_step == 64 * 16
        np.testing.assert_allclose(cloud.data[..., :3], geometry.radial_to_points(depth, lens),
                                   rtol=1e-6)
        np.testing.assert_array_equal(cloud.data[..., 3], frame.amplitude)
        assert np.isnan(cloud.data[0, :4, :3]).all() and np.isfinite(cloud.data[1:]).all()
        info = out[messages.CAMERA_INFO]
        assert info.d == [0.1, -0.02, 0.001, 0.002, 0.0] and info.distortion_model == "plumb_bob"
        assert info.k == [50.0, 0, 30.5, 0, 52.0, 22.0, 0, 0, 1]
        assert info.p == [50.0, 0, 30.5, 0, 0, 52.0, 22.0, 0, 0, 0, 1, 0]


def test_stamps_keep_the_sensors_spacing_on_either_clock():
    # Stamps of this machine's monotonic clock: offset measured at start.
    mapped = StampMap(ros_now_ns=5_000_000_000_000, monotonic_now_s=100.0)
    assert mapped(100_050, 5_000_000_000_000, 100.06) == 5_000_050_000_000
    assert mapped(100_083, 0, 0) == 5_000_083_000_000
    # A camera with a clock of its own: anchored at the first frame's arrival.
    foreign = StampMap(ros_now_ns=5_000_000_000_000, monotonic_now_s=100.0)
    assert foreign(7_000, 5_000_100_000_000, 100.1) == 5_000_100_000_000
    assert foreign(7_033, 0, 0) == 5_000_133_000_000


# -- the node on a real roscore

def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _ros_tools_env(ros):
    env = {k: v for k, v in os.environ.items() if k not in NOT_FOR_ROS}
    env.update(ros)
    return env


@pytest.fixture(scope="module")
def ros(tmp_path_factory):
    """A roscore on a free loopback port, and this process as a ROS node listening to it."""
    import rosgraph
    import rospy
    home = tmp_path_factory.mktemp("ros")
    port = _free_port()
    env = {"ROS_MASTER_URI": "http://127.0.0.1:%d" % port, "ROS_IP": "127.0.0.1",
           "ROS_HOME": str(home), "ROS_LOG_DIR": str(home / "log")}
    with pytest.MonkeyPatch.context() as patch, open(home / "roscore.log", "w") as log:
        for name, value in env.items():
            patch.setenv(name, value)
        core = subprocess.Popen(["roscore", "-p", str(port)], env=_ros_tools_env(env),
                                stdout=log, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + WAIT_S
            while not rosgraph.is_master_online():
                assert core.poll() is None and time.monotonic() < deadline, \
                    (home / "roscore.log").read_text()
                time.sleep(0.2)
            rospy.init_node("zelvo_node_test", anonymous=True, disable_signals=True)
            # The listener stays up until the interpreter ends: a rospy shut down early
            # leaves its server thread spinning on a closed socket, which slows every later
            # suite.
            yield env
        finally:
            core.send_signal(signal.SIGINT)
            try:
                core.wait(WAIT_S)
            except subprocess.TimeoutExpired:
                core.kill()
                core.wait()


class RunningNode:
    """The node in a child process, printing into files in its folder: its topics, what it
    printed, and Ctrl-C."""

    def __init__(self, command, cwd, env):
        self.out, self.err = pathlib.Path(cwd, "node.out"), pathlib.Path(cwd, "node.err")
        with open(self.out, "w") as out, open(self.err, "w") as err:
            self.process = subprocess.Popen(command, cwd=cwd, env=env, stdout=out, stderr=err)

    def output(self):
        return self.out.read_text() + self.err.read_text()

    def message(self, topic, kind, name="zelvo_camera"):
        import rospy
        assert self.process.poll() is None, self.output()
        return rospy.wait_for_message("/%s/%s" % (name, topic), kind, timeout=WAIT_S)

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(WAIT_S)
        return self.process.returncode, self.out.read_text(), self.err.read_text()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def start_node(ros, tmp_path, monkeypatch):
    """Starts the node (or roslaunch) in tmp_path on a simulated board; VGA gets a saved
    calibration there first, for flat depth and its intrinsics."""
    started = []

    def start(settings, *arguments, command=None):
        import rospy
        if rospy.has_param("/zelvo_camera"):  # what an earlier node left on the server
            rospy.delete_param("/zelvo_camera")
        monkeypatch.setenv("ZELVO_SIM", settings)
        if "sensor=vga" in settings:
            save_calibration(tmp_path)
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join([ZELVO_PACKAGE_DIR, MODULE_DIR])
        env["ROS_PACKAGE_PATH"] = str(REPO / "ros")
        env["PYTHONUNBUFFERED"] = "1"
        node = RunningNode((command or [sys.executable, "-m", "zelvo.ros"]) + list(arguments),
                           tmp_path, env)
        started.append(node)
        return node

    yield start
    for node in started:
        node.kill()


def _image(message, dtype):
    return np.frombuffer(message.data, dtype=dtype).reshape(message.height, message.width)


def _centre(array, half=3):
    h, w = array.shape[:2]
    return array[h // 2 - half:h // 2 + half + 1, w // 2 - half:w // 2 + half + 1]


def _check_clean_exit(node):
    code, out, err = node.interrupt()
    assert code == 0, err
    assert "Traceback" not in err and "Traceback" not in out, err
    assert "stream stopped, camera closed" in out, out


def _expected_lens(device, folder):
    if device == "VGA":
        lens = intrinsics.from_calibration((folder / "cali.bin").read_bytes())
        return lens.scaled(*DEVICES[device][1:])
    return intrinsics.hqvga_default()


@pytest.mark.parametrize("device", DEVICES)
def test_node_publishes_a_flat_wall_and_follows_its_parameters(start_node, tmp_path, device):
    import rospy
    from sensor_msgs.msg import CameraInfo, Image, PointCloud2
    settings, width, height = DEVICES[device]
    node = start_node(settings)
    try:
        depth = node.message("depth/image_raw", Image)
        assert (depth.encoding, depth.width, depth.height, depth.step, depth.is_bigendian,
                depth.header.frame_id) == ("32FC1", width, height, 4 * width, 0,
                                           "zelvo_optical_frame")
        z = _image(depth, np.float32)
        assert np.abs(_centre(z) - 1.5).max() <= 0.003, _centre(z)
        assert np.abs(z - 1.5).max() <= 0.010, np.nanmax(np.abs(z - 1.5))
        # Stamped in ROS time (the sensor's monotonic stamps plus the offset).
        assert abs((rospy.Time.now() - depth.header.stamp).to_sec()) < WAIT_S

        for topic in ("amplitude/image_raw", "confidence/image_raw"):
            image = node.message(topic, Image)
            assert (image.encoding, image.width, image.height) == ("32FC1", width, height)
            assert np.isfinite(_image(image, np.float32)).all()
        assert _centre(_image(node.message("amplitude/image_raw", Image), np.float32)).min() > 0

        info = node.message("depth/camera_info", CameraInfo)
        lens = _expected_lens(device, tmp_path)
        assert (info.width, info.height, info.distortion_model) == (width, height, "plumb_bob")
        np.testing.assert_allclose(info.K, [lens.fx, 0, lens.cx, 0, lens.fy, lens.cy, 0, 0, 1])
        np.testing.assert_allclose(info.D, list(lens.distortion) + [0.0])
        if device == "HQVGA":
            assert not any(info.D)  # the default lens has no distortion

        cloud = node.message("depth/points", PointCloud2)
        assert (cloud.height, cloud.width, cloud.point_step, cloud.row_step) == \
            (height, width, 16, 16 * width)
        assert [(f.name, f.offset, f.datatype, f.count) for f in cloud.fields] == \
            [("x", 0, 7, 1), ("y", 4, 7, 1), ("z", 8, 7, 1), ("intensity", 12, 7, 1)]
        points = np.frombuffer(cloud.data, np.float32).reshape(height, width, 4)
        xyz = points[..., :3].reshape(-1, 3).astype(np.float64)
        # A plane z = a x + b y + c through the points: the wall, square to the axis.
        fit, residual, _, _ = np.linalg.lstsq(np.c_[xyz[:, :2], np.ones(len(xyz))], xyz[:, 2],
                                              rcond=None)
        assert np.abs(fit - [0, 0, 1.5]).max() <= 0.005, fit
        assert np.sqrt(residual[0] / len(xyz)) <= 0.002
        # x and y lie on the pixels' rays of the published lens.
        u = (xyz[:, 0] / xyz[:, 2]) * lens.fx + lens.cx
        np.testing.assert_allclose(u.reshape(height, width)[0], np.arange(width), atol=0.05)
        assert (points[..., 3] >= 0).all() and _centre(points[..., 3]).min() > 0

        # A parameter changed on the server takes effect while the node runs.
        if device == "VGA":
            rospy.set_param("/zelvo_camera/mode", "single")   # 1500 mm reads 250 mm
            deadline = time.monotonic() + WAIT_S
            while np.nanmedian(_centre(_image(node.message("depth/image_raw", Image),
                                               np.float32))) > 0.5:
                assert time.monotonic() < deadline, "the mode did not change"
            assert rospy.get_param("/zelvo_camera/range") == 1250
        else:
            # The HQVGA device keeps its own frame rate: the node puts the rate in force
            # back on the server. Its range follows.
            rospy.set_param("/zelvo_camera/frame_rate", 5)
            deadline = time.monotonic() + WAIT_S
            while rospy.get_param("/zelvo_camera/frame_rate") != 30:
                assert time.monotonic() < deadline, "the refused frame rate stayed"
                time.sleep(0.1)
            rospy.set_param("/zelvo_camera/range", 2000)
            deadline = time.monotonic() + WAIT_S
            while "range 2000 mm" not in node.output():
                assert time.monotonic() < deadline, "the range did not change"
        _check_clean_exit(node)
    finally:
        node.kill()


def test_launch_file_runs_the_node_program_with_raw_output(start_node, ros):
    from sensor_msgs.msg import Image
    launch = start_node(DEVICES["HQVGA"][0], str(REPO / "ros/launch/zelvo_camera.launch"),
                        "output:=raw", "frame_id:=robot_tof",
                        command=["roslaunch", "-p", ros["ROS_MASTER_URI"].rsplit(":", 1)[1]])
    raw = launch.message("raw/image_raw", Image)
    assert (raw.encoding, raw.width, raw.header.frame_id) == ("16SC1", 240, "robot_tof")
    assert raw.height >= 180 and raw.step == 2 * 240 and len(raw.data) == raw.step * raw.height
    code, out, err = launch.interrupt()
    assert code == 0 and "Traceback" not in err + out, err + out
    assert "stream stopped, camera closed" in out, out


def test_rosbag_record_holds_the_sensors_rate(start_node, ros, tmp_path):
    import rosbag
    from sensor_msgs.msg import Image
    # Millimetres this time, and a frame of the robot's own.
    node = start_node(DEVICES["HQVGA"][0], "_depth_encoding:=16UC1", "_frame_id:=tof")
    node.message("depth/image_raw", Image)  # running
    seconds, rate = 5, 30
    topics = ["/zelvo_camera/" + topic for topic in TOPICS]
    record = subprocess.run(["rosbag", "record", "-O", "node.bag", "--duration=%d" % seconds]
                            + topics, cwd=tmp_path, env=_ros_tools_env(ros),
                            capture_output=True, text=True, timeout=WAIT_S)
    assert record.returncode == 0, record.stderr
    _check_clean_exit(node)
    info = subprocess.run(["rosbag", "info", "--yaml", "node.bag"], cwd=tmp_path,
                          env=_ros_tools_env(ros), capture_output=True, text=True,
                          timeout=WAIT_S)
    assert info.returncode == 0, info.stderr
    counts = {entry["topic"]: entry["messages"] for entry in yaml.safe_load(info.stdout)["topics"]}
    assert sorted(counts) == sorted(topics)
    # Counts at the sensor's rate, with slack for a slow (sanitized) run; every topic
    # carries the same frames.
    expected = seconds * rate
    assert all(0.3 * expected <= count <= 1.2 * expected + 5 for count in counts.values()), counts
    assert max(counts.values()) - min(counts.values()) <= 0.1 * expected, counts
    with rosbag.Bag(str(tmp_path / "node.bag")) as bag:
        stamps = [m.header.stamp.to_sec() for _, m, _ in
                  bag.read_messages(topics=["/zelvo_camera/depth/camera_info"])]
        _, depth, _ = next(bag.read_messages(topics=["/zelvo_camera/depth/image_raw"]))
    assert (depth.encoding, depth.step, depth.header.frame_id) == ("16UC1", 2 * 240, "tof")
    z_mm = _image(depth, np.uint16).astype(int)
    assert np.abs(_centre(z_mm) - 1500).max() <= 3 and np.abs(z_mm - 1500).max() <= 10
    # The stamps keep the sensor's spacing: whole frame periods apart (more than one where a
    # slow run dropped frames), never a frame twice.
    periods = np.diff(stamps) * rate
    assert (np.abs(periods - np.round(periods)) <= 0.15).all() and periods.min() >= 0.85, periods
