"""What the depth library's filters do to VGA depth on the simulated board: noisy samples,
the sensor's fixed-pattern offsets corrected by the calibration saved from the sensor, and
"ConfigAlgorithm.json" variants read from ZELVO_DEPTH_CONFIG_DIR."""
import itertools
import math

import numpy as np
import pytest

from conftest import VGA_FIELD_OF_VIEW_DEG, radial, request, save_calibration

DEFAULTS = {
    "TDenoiseLevel_Depth": 3, "SDenoiseLevel_Depth": 3,
    "TDenoiseMethod_Depth": 1, "SDenoiseMethod_Depth": 1,
    "TDenoiseLevel_Gray": 1, "SDenoiseLevel_Gray": 1,
    "TDenoiseMethod_Gray": 1, "SDenoiseMethod_Gray": 1,
    "ERDOLvl": 3, "ValidDistMin": 0, "ValidDistMax": 7000,
}
SECTIONS = (("DenoisingParams", list(DEFAULTS)[:8]), ("RepairParams", ["ERDOLvl"]),
            ("ConfidenceParams", ["ValidDistMin", "ValidDistMax"]))
DOUBLE_FREQUENCY = 1  # the MODE control's value
UNAMBIGUOUS_MM = 4500
FOCAL = 320 / math.tan(math.radians(VGA_FIELD_OF_VIEW_DEG / 2))


def algorithm_text(**changes):
    values = dict(DEFAULTS, **changes)
    return "\n".join("[%s]\n%s\n" % (name, "\n".join("%s=%s" % (key, values[key])
                                                          for key in keys))
                     for name, keys in SECTIONS)


@pytest.fixture
def vga(zelvo, sim, cameras, tmp_path, monkeypatch):
    """Opens a double-frequency VGA camera on a scene, its calibration saved from the sensor,
    with the given parameter changes; yields a function returning the started camera."""
    monkeypatch.chdir(tmp_path)
    made = itertools.count()

    def start(scene, frames_per_second=0, **changes):
        sim("board=rpi5,sensor=vga,noise=1,fps=%d,scene=%s" % (frames_per_second, scene))
        save_calibration(tmp_path)
        config = tmp_path / ("config-%d" % next(made))
        config.mkdir()
        (config / "ConfigAlgorithm.json").write_text(algorithm_text(**changes))
        monkeypatch.setenv("ZELVO_DEPTH_CONFIG_DIR", str(config))
        camera = cameras.opened()
        ok = zelvo.TOFErrorCode.ZelvoSuccess
        assert camera.setControl(zelvo.TOFControl.MODE, DOUBLE_FREQUENCY) == ok
        assert camera.start(zelvo.TOFOutput.DEPTH) == ok
        return camera

    return start


def depth_frames(camera, count, settle=8):
    """`count` depth planes after `settle` frames that let the temporal filters converge."""
    planes = []
    for index in range(settle + count):
        frame = request(camera)
        if index >= settle:
            planes.append(frame.getDepthData().astype(np.float64))
        camera.releaseFrame(frame)
        del frame
    return np.stack(planes)


def radial_over(distance, rows, cols):
    """Radial distance of every pixel of a region to a plane facing the camera."""
    y, x = np.mgrid[rows, cols]
    return radial(distance, x, y)


ALL = (slice(0, 480), slice(0, 640))


@pytest.mark.parametrize("wall_mm", [300, 700, 1250, 2000, 3000, 4400])
def test_walls_are_unwrapped_right_and_read_within_five_millimetres(vga, wall_mm):
    camera = vga("wall:%d" % wall_mm)
    depth = depth_frames(camera, 1)[0]
    truth = radial_over(wall_mm, *ALL)
    # Towards the corners a far wall lies beyond the unambiguous range, where it wraps.
    valid = (depth > 0) & (truth < UNAMBIGUOUS_MM - 50)
    assert np.count_nonzero(valid) > 0.9 * np.count_nonzero(truth < UNAMBIGUOUS_MM - 50)
    error = depth[valid] - truth[valid]
    assert abs(np.median(error)) <= 5.0, np.median(error)
    # A pixel unwrapped to the wrong interval is off by a large part of a wrap.
    right = np.abs(error) < 300.0
    assert right.mean() >= 0.999, (right.mean(), error[~right][:10])


CENTRE = (slice(180, 300), slice(240, 400))


def temporal_noise(camera):
    depth = depth_frames(camera, 30)[(slice(None),) + CENTRE]
    still = np.all(depth > 0, axis=0)
    return float(np.median(np.std(depth, axis=0)[still]))


def spatial_noise(camera, wall_mm):
    depth = depth_frames(camera, 1)[0][CENTRE]
    valid = depth > 0
    return float(np.std((depth - radial_over(wall_mm, *CENTRE))[valid]))


@pytest.mark.parametrize("measure, key", [("temporal", "TDenoiseLevel_Depth"),
                                          ("spatial", "SDenoiseLevel_Depth")])
def test_denoising_at_level_three_at_least_halves_the_noise(vga, cameras, measure, key):
    wall_mm = 2500
    other = "SDenoiseLevel_Depth" if key == "TDenoiseLevel_Depth" else "TDenoiseLevel_Depth"
    noise = {}
    for level in (0, 3):
        camera = vga("wall:%d" % wall_mm, **{key: level, other: 0})
        if measure == "temporal":
            noise[level] = temporal_noise(camera)
        else:
            noise[level] = spatial_noise(camera, wall_mm)
        cameras.close_all()
    assert noise[0] > 0.0 and noise[3] <= noise[0] / 2, noise


# The room's box: its front face 1700 mm away, its left edge 750 mm left of the axis, the
# back wall 3000 mm away behind it down to the row where the floor takes over.
BOX_FRONT_MM, BACK_WALL_MM = 1700.0, 3000.0
EDGE_COLUMN = 319.5 - FOCAL * 750 / BOX_FRONT_MM
EDGE_ROWS = (int(239.5 + FOCAL * 250 / BOX_FRONT_MM) + 4,
             int(239.5 + FOCAL * 800 / BACK_WALL_MM) - 4)
EDGE = (slice(*EDGE_ROWS), slice(int(EDGE_COLUMN) - 12, int(EDGE_COLUMN) + 13))


def flying_pixels(camera):
    depth = depth_frames(camera, 1)[0][EDGE]
    box, wall = radial_over(BOX_FRONT_MM, *EDGE), radial_over(BACK_WALL_MM, *EDGE)
    apart = np.minimum(np.abs(depth - box), np.abs(depth - wall))
    return int(np.count_nonzero((depth > 0) & (apart > 50.0)))


def test_flying_pixels_between_the_box_and_the_back_wall_are_removed(vga, cameras):
    camera = vga("room", ERDOLvl=0)
    assert flying_pixels(camera) > 0
    cameras.close_all()
    camera = vga("room", ERDOLvl=3)
    assert flying_pixels(camera) == 0
