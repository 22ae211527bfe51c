"""Shared fixtures of the Python suites.

The module under test is found, in this order, in the directory named by
ZELVO_PYTHON_PATH, on PYTHONPATH, or in build/python of the source tree. Every
camera runs on the simulated board: a test picks the board's settings with
`sim(...)`, which sets ZELVO_SIM for that test only, before any camera exists.
"""
import gc
import math
import os
import pathlib
import select
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]

_override = os.environ.get("ZELVO_PYTHON_PATH")
if _override:
    sys.path.insert(0, _override)
try:
    import ZelvoDepthCamera  # noqa: E402
except ImportError:
    sys.path.insert(0, str(REPO / "build" / "python"))
    import ZelvoDepthCamera  # noqa: E402,F811

MODULE_DIR = str(pathlib.Path(ZelvoDepthCamera.__file__).resolve().parent)

# Waits in the suites: bounds only, long enough for a sanitized build on a loaded machine.
FRAME_TIMEOUT_MS = 20000
SUBPROCESS_TIMEOUT_S = 60

DEFAULT_SIM = "board=rpi5,scene=room"

# The calibration saver built beside the module, and the simulated VGA sensor's optics.
CALIBRATION_TOOL = os.environ.get("ZELVO_CALIBRATION_TOOL") or str(
    pathlib.Path(MODULE_DIR).parent / "zelvo-calibration")
VGA_FIELD_OF_VIEW_DEG = 70.0


def radial(distance, x, y, width=640, height=480):
    """The distance along pixel (x, y)'s ray to a wall at `distance` along the axis; x and y
    may be arrays of columns and rows."""
    focal = (width / 2.0) / math.tan(math.radians(VGA_FIELD_OF_VIEW_DEG / 2.0))
    u, v = (x - (width - 1) / 2.0) / focal, (y - (height - 1) / 2.0) / focal
    return distance * np.sqrt(1.0 + u * u + v * v)


def save_calibration(folder):
    """Runs `zelvo-calibration save cali.bin` in `folder` on the current simulated board."""
    done = subprocess.run([CALIBRATION_TOOL, "save", "cali.bin"], cwd=folder,
                          capture_output=True, text=True, timeout=SUBPROCESS_TIMEOUT_S,
                          env=dict(os.environ))
    assert done.returncode == 0, done.stderr
    assert (pathlib.Path(folder) / "cali.bin").stat().st_size > 512


@pytest.fixture(scope="session")
def zelvo():
    return ZelvoDepthCamera


@pytest.fixture
def sim(monkeypatch):
    """Selects the simulated board for cameras made afterwards in this test."""

    def select(settings=DEFAULT_SIM):
        monkeypatch.setenv("ZELVO_SIM", settings)

    select()
    return select


class CameraSet:
    """Cameras made by a test; whatever is left streaming is stopped and closed."""

    def __init__(self, module):
        self.module = module
        self.cameras = []

    def new(self):
        camera = self.module.ZelvoCamera()
        self.cameras.append(camera)
        return camera

    def opened(self):
        camera = self.new()
        code = camera.open(self.module.TOFConnect.CSI)
        assert code == self.module.TOFErrorCode.ZelvoSuccess, code.str()
        return camera

    def streaming(self, output):
        camera = self.opened()
        code = camera.start(output)
        assert code == self.module.TOFErrorCode.ZelvoSuccess, code.str()
        return camera

    def close_all(self):
        for camera in self.cameras:
            try:
                camera.stop()
            except RuntimeError:
                pass  # was not streaming
            camera.close()
        self.cameras.clear()
        gc.collect()


@pytest.fixture
def cameras(zelvo, sim):
    made = CameraSet(zelvo)
    yield made
    made.close_all()


def request(camera, timeout=FRAME_TIMEOUT_MS):
    frame = camera.requestFrame(timeout)
    assert frame is not None, "no frame within %d ms" % timeout
    return frame


def _child_env(env_extra=None):
    env = dict(os.environ)
    env["PYTHONPATH"] = MODULE_DIR + os.pathsep + env.get("PYTHONPATH", "")
    env.setdefault("ZELVO_SIM", DEFAULT_SIM)
    env.update(env_extra or {})
    return env


def run_python(code, env_extra=None, **kwargs):
    """Runs code in a fresh /usr/bin/python3 (or the current interpreter) that finds the module."""
    return subprocess.run([sys.executable, "-c", code], env=_child_env(env_extra),
                          capture_output=True, text=True, timeout=SUBPROCESS_TIMEOUT_S, **kwargs)


def _sigint_by_default():
    # A suite started in the background of a shell inherits SIGINT ignored, and Python then
    # never raises KeyboardInterrupt: the child takes Ctrl-C as a terminal's program does.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def interrupt_python(code, env_extra=None):
    """Runs code like run_python and presses Ctrl-C once it has printed "waiting" and
    has had a moment to start waiting. Returns (exit status, standard output, error)."""
    child = subprocess.Popen([sys.executable, "-c", code], env=_child_env(env_extra), text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             preexec_fn=_sigint_by_default)
    try:
        # A child stuck before it prints must not hold up the suite.
        ready, _, _ = select.select([child.stdout], [], [], SUBPROCESS_TIMEOUT_S)
        assert ready and child.stdout.readline() == "waiting\n"
        time.sleep(0.3)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=SUBPROCESS_TIMEOUT_S)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return child.returncode, out, err


# The zelvo package: its copy beside the module in the build, else the source tree's.
ZELVO_PACKAGE_DIR = (MODULE_DIR if (pathlib.Path(MODULE_DIR) / "zelvo").is_dir()
                     else str(REPO / "tools"))


def run_zelvo(args, env_extra=None, cwd=None):
    """Runs `python3 -m zelvo ARGS` as a user would; returns the completed process."""
    env = _child_env(env_extra)
    env["PYTHONPATH"] = ZELVO_PACKAGE_DIR + os.pathsep + env["PYTHONPATH"]
    return subprocess.run([sys.executable, "-m", "zelvo", *args], env=env, cwd=cwd,
                          capture_output=True, text=True, timeout=SUBPROCESS_TIMEOUT_S)
