"""The zelvo command on the simulated board: each subcommand on both devices and both
transports, and every way it fails."""
import json
import os
import pathlib
import subprocess

import numpy as np
import pytest
from PIL import Image

from conftest import MODULE_DIR, SUBPROCESS_TIMEOUT_S, run_zelvo, save_calibration

WALL = "scene=wall:%d,noise=0"
# A generous wait for a frame: under the sanitizers a VGA frame takes seconds.
PATIENT = ["--timeout", "60"]
PLY_VERTEX = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"),
                       ("red", "u1"), ("green", "u1"), ("blue", "u1")])

# ZELVO_SIM, options, depth frame size, raw rows, a wall within the range. The evaluation
# kit carries the VGA sensor's single-frequency frames only (1250 mm).
DEVICES = [
    pytest.param("board=rpi5", ["--connect", "CSI"], (240, 180), 720, 1500, id="hqvga-csi"),
    pytest.param("board=rpi4", ["--connect", "USB"], (240, 180), 720, 1500, id="hqvga-usb"),
    pytest.param("sensor=vga", ["--connect", "CSI"], (640, 480), 4810, 1500, id="vga-csi"),
    pytest.param("sensor=vga", ["--connect", "USB", "--mode", "single"], (640, 480), 2405, 800,
                 id="vga-usb"),
]


def zelvo(args, settings, cwd):
    """Runs the command in `cwd`; a VGA camera there finds the sensor's calibration in
    "cali.bin", as a user who saved it has it."""
    if "vga" in settings and not (pathlib.Path(cwd) / "cali.bin").exists():
        os.environ["ZELVO_SIM"] = settings
        try:
            save_calibration(cwd)
        finally:
            del os.environ["ZELVO_SIM"]
    done = run_zelvo(args, {"ZELVO_SIM": settings}, cwd=cwd)
    assert "Traceback" not in done.stderr, done.stderr
    return done


def succeeded(done):
    assert done.returncode == 0, done.stderr
    return done.stdout


PARAMETERS = "settings, options, size, raw_rows, wall"


def range_of(settings, options):
    if "vga" not in settings:
        return 4000
    return 1250 if "single" in options else 4500


@pytest.mark.parametrize(PARAMETERS, DEVICES)
def test_info(tmp_path, settings, options, size, raw_rows, wall):
    out = succeeded(zelvo(["info"] + options, settings, tmp_path))
    device = "VGA" if "vga" in settings else "HQVGA"
    assert "camera:      %s over %s, index 0" % (device, options[1]) in out
    assert "depth frame: %d x %d pixels" % size in out
    assert "range:       %d mm" % range_of(settings, options) in out
    assert "simulated board" in out and "frame rate:" in out
    for control in ("RANGE", "FMT_WIDTH", "FMT_HEIGHT", "MODE", "EXPOSURE", "FRAME_RATE"):
        assert "\n  %-16s " % control in out
    source = 'calibration file "cali.bin"' if device == "VGA" else "default pinhole, 70 degrees"
    assert "\n  from " + source in out


@pytest.mark.parametrize(PARAMETERS, DEVICES)
def test_capture(tmp_path, settings, options, size, raw_rows, wall):
    args = ["capture", "--frames", "2", "--output", "out", "--png", "--png16", "--raw"] + PATIENT
    succeeded(zelvo(args + options, settings + "," + WALL % wall, tmp_path))
    width, height = size
    archive = np.load(tmp_path / "out" / "frames.npz")
    assert sorted(archive.files) == ["amplitude", "confidence", "depth", "meta", "raw",
                                     "timestamps"]
    for name in ("depth", "amplitude", "confidence"):
        assert archive[name].shape == (2, height, width) and archive[name].dtype == np.float32
    assert archive["timestamps"].dtype == np.uint64 and archive["timestamps"].shape == (2,)
    assert archive["timestamps"][1] > archive["timestamps"][0]
    assert archive["raw"].shape == (2, raw_rows, width) and archive["raw"].dtype == np.int16
    meta = json.loads(str(archive["meta"]))
    assert (meta["connection"], meta["width"], meta["height"]) == (options[1], width, height)
    assert meta["device_type"] == ("VGA" if width == 640 else "HQVGA")
    assert meta["controls"]["RANGE"] == meta["range_mm"] and meta["intrinsics"]["fx"] > 0
    assert meta["range_mm"] == range_of(settings, options)
    # The wall along the axis: radial depth grows off the centre, Z does not.
    depth = archive["depth"][0]
    assert depth[0, 0] > depth[height // 2, width // 2] + wall / 15
    for number in range(2):
        picture = Image.open(tmp_path / "out" / ("frame_%04d.png" % number))
        assert (picture.size, picture.mode) == ((2 * width + 8, height), "RGB")
        z = Image.open(tmp_path / "out" / ("z_%04d.png" % number))
        assert z.size == size and z.mode.startswith("I")
        assert np.abs(np.asarray(z).astype(float) - wall).max() <= 5


@pytest.mark.parametrize(PARAMETERS, DEVICES[::2])
def test_capture_for_seconds_in_single_frequency(tmp_path, settings, options, size, raw_rows,
                                                 wall):
    args = ["capture", "--seconds", "0.3", "--mode", "single"] + PATIENT
    out = succeeded(zelvo(args + options, settings, tmp_path))
    archive = np.load(tmp_path / "capture" / "frames.npz")
    assert "raw" not in archive.files and not list((tmp_path / "capture").glob("*.png"))
    assert len(archive["timestamps"]) >= 1 and "captured:   %d frames" % len(
        archive["timestamps"]) in out
    meta = json.loads(str(archive["meta"]))
    expected = ("single", 1250) if "vga" in settings else (None, 4000)
    assert (meta["mode"], meta["range_mm"]) == expected


def read_ply(path):
    with open(path, "rb") as stream:
        header = []
        while not header or header[-1] != "end_header":
            header.append(stream.readline().decode("ascii").rstrip("\n"))
        count = int(next(line for line in header if line.startswith("element vertex")).split()[2])
        if "format ascii 1.0" in header:
            rows = [tuple(line.split()) for line in stream.read().decode().splitlines()]
            return header, np.array(rows, dtype="f8,f8,f8,i4,i4,i4").astype(PLY_VERTEX)
        assert "format binary_little_endian 1.0" in header
        data = stream.read()
        assert len(data) == count * PLY_VERTEX.itemsize
        return header, np.frombuffer(data, dtype=PLY_VERTEX)


@pytest.mark.parametrize(PARAMETERS, DEVICES)
def test_cloud_of_a_wall_is_its_plane(tmp_path, settings, options, size, raw_rows, wall):
    args = ["cloud", "--output", "wall.ply", "--frames", "2"] + PATIENT
    out = succeeded(zelvo(args + options, settings + "," + WALL % wall, tmp_path))
    header, points = read_ply(tmp_path / "wall.ply")
    assert len(points) == size[0] * size[1] and "(%d points" % len(points) in out
    assert np.abs(points["z"] - wall / 1000).max() < 0.005
    # The wall spans the 70 degree field of view: x reaches tan(35 degrees) * z.
    assert points["x"].max() == pytest.approx(wall / 1000 * np.tan(np.radians(35)), rel=0.02)
    assert (points["red"] == points["blue"]).all() and points["red"].max() == 255
    assert any(line.startswith("comment intrinsics:") for line in header)


def test_ascii_cloud_holds_the_same_points(tmp_path):
    for name, extra in (("binary.ply", []), ("text.ply", ["--ascii"])):
        succeeded(zelvo(["cloud", "--output", name] + extra + PATIENT, WALL % 1500, tmp_path))
    _, binary = read_ply(tmp_path / "binary.ply")
    header, text = read_ply(tmp_path / "text.ply")
    assert "format ascii 1.0" in header and len(text) == len(binary)
    for axis in "xyz":
        assert np.abs(text[axis] - binary[axis]).max() < 1e-5


@pytest.mark.parametrize("args, settings, status, message", [
    (["info", "--index", "5"], "board=rpi5", 1, "zelvo info: no camera over CSI (index 5)"),
    (["cloud", "--output", "x.ply", "--config-file", "missing.ini"], "board=rpi5", 1,
     "zelvo cloud: no camera with the configuration file 'missing.ini': there is no such file"),
    (["cloud", "--output", "x.ply", "--connect", "USB"], "sensor=vga", 1,
     "zelvo cloud: starting the depth stream failed: Unknown error (-1); the USB transport "
     "may not carry double-frequency frames: try --mode single"),
    (["capture", "--timeout", "0.5"], "stall=1", 1,
     "zelvo capture: no frame from the camera within 0.5 s"),
    (["cloud", "--output", "x.ply", "--frames", "3", "--timeout", "0.5"], "stall=4", 1,
     "zelvo cloud: no frame from the camera within 0.5 s"),
    (["capture", "--output", "file/sub"], "board=rpi5", 1,
     "zelvo capture: cannot write into 'file/sub'"),
    (["cloud", "--output", "missing/x.ply"], "board=rpi5", 1,
     "zelvo cloud: cannot write 'missing/x.ply'"),
    (["capture", "--frames", "0"], "board=rpi5", 2, "argument --frames: '0' is not at least 1"),
    (["capture", "--frames", "2", "--seconds", "1"], "board=rpi5", 2, "not allowed with"),
    (["cloud"], "board=rpi5", 2, "the following arguments are required: --output"),
    (["info", "--connect", "PCI"], "board=rpi5", 2, "invalid choice: 'PCI'"),
    (["info", "--mode", "triple"], "board=rpi5", 2, "invalid choice: 'triple'"),
    (["measure"], "board=rpi5", 2, "invalid choice: 'measure'"),
], ids=["no camera", "no configuration file", "double frequency over USB",
        "silent stream",
        "stream stops", "output under a file", "output folder missing", "zero frames",
        "frames and seconds", "no output", "unknown transport", "unknown mode",
        "unknown command"])
def test_failures_exit_with_their_status_and_one_line(tmp_path, args, settings, status,
                                                      message):
    (tmp_path / "file").write_text("a file, not a folder")
    done = run_zelvo(args, {"ZELVO_SIM": settings}, cwd=tmp_path)
    assert done.returncode == status, done.stderr
    assert "Traceback" not in done.stderr
    lines = done.stderr.splitlines()
    if status == 1:
        assert len(lines) == 1 and lines[0].startswith(message), done.stderr
    else:  # argparse: the usage, then one line naming the mistake
        assert lines[0].startswith("usage: zelvo") and message in lines[-1], done.stderr
    assert not (tmp_path / "x.ply").exists()


@pytest.mark.parametrize("command", ["info", "capture", "cloud"])
def test_every_subcommand_explains_itself(tmp_path, command):
    out = succeeded(run_zelvo([command, "--help"], cwd=tmp_path))
    assert out.startswith("usage: zelvo %s" % command)
    for option in ("--connect", "--index", "--config-file", "--mode"):
        assert option in out


def test_launcher_and_installed_program_run_the_command(tmp_path):
    build = pathlib.Path(MODULE_DIR).parent
    launcher = build / "bin" / "zelvo"
    if not launcher.exists():
        pytest.skip("the module is not in a CMake build folder")
    env = dict(os.environ, ZELVO_SIM="board=rpi5")
    env.pop("PYTHONPATH", None)
    done = subprocess.run([str(launcher), "info"], env=env, capture_output=True, text=True,
                          timeout=SUBPROCESS_TIMEOUT_S)
    assert done.returncode == 0 and "HQVGA over CSI" in done.stdout, done.stderr
    installed = subprocess.run(["cmake", "--install", str(build), "--prefix", str(tmp_path)],
                               capture_output=True, text=True, timeout=SUBPROCESS_TIMEOUT_S)
    assert installed.returncode == 0, installed.stderr
    done = subprocess.run([str(tmp_path / "bin" / "zelvo"), "info"], env=env, cwd=tmp_path,
                          capture_output=True, text=True, timeout=SUBPROCESS_TIMEOUT_S)
    assert done.returncode == 0 and "HQVGA over CSI" in done.stdout, done.stderr
