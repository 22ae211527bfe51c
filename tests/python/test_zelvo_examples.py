"""The examples on both simulated devices: the VGA camera in double frequency unless asked,
the range and the depth frame size printed, the room's back wall (3000 mm) at the centre."""
import re
import subprocess
import sys

import pytest

from conftest import REPO, SUBPROCESS_TIMEOUT_S, _child_env


def run_example(name, args, settings, cwd):
    return subprocess.run([sys.executable, str(REPO / "examples" / name), *args], cwd=cwd,
                          env=_child_env({"ZELVO_SIM": settings}), capture_output=True,
                          text=True, timeout=SUBPROCESS_TIMEOUT_S)


def centre_depth(out):
    return float(re.search(r"(\d+) mm at the centre", out).group(1))


@pytest.mark.parametrize("settings, size, range_mm", [
    ("board=rpi5", "240 x 180", 4000),
    ("sensor=vga", "640 x 480", 4500),
])
def test_minimal(tmp_path, settings, size, range_mm):
    done = run_example("minimal.py", [], settings, tmp_path)
    assert done.returncode == 0, done.stderr
    assert "range %d mm" % range_mm in done.stdout
    assert "depth frame of %s pixels" % size in done.stdout
    assert abs(centre_depth(done.stdout) - 3000) < 100, done.stdout


@pytest.mark.parametrize("settings, args, status, expected", [
    ("board=rpi5", ["--range", "2000"], 0, "camera: HQVGA over CSI, 240 x 180, range 2000 mm"),
    ("sensor=vga", ["--range", "4000"], 0, "camera: VGA over CSI, 640 x 480, range 4500 mm"),
    ("sensor=vga", ["--range", "1000"], 0, "camera: VGA over CSI, 640 x 480, range 1250 mm"),
    ("sensor=vga", ["--connect", "USB"], 1, "try --range 1250"),
    ("board=rpi5", ["--range", "3000"], 1, "the HQVGA camera's range is 2000 or 4000 mm"),
])
def test_capture(tmp_path, settings, args, status, expected):
    done = run_example("capture.py", ["--seconds", "0.3", "--output", "c.png"] + args,
                       settings, tmp_path)
    assert done.returncode == status, done.stderr
    assert expected in (done.stdout if status == 0 else done.stderr)
    assert (tmp_path / "c.png").exists() == (status == 0)
