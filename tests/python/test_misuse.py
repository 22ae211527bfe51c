"""A VGA camera dropped from Python without stop or close gives back what it held."""
import gc
import pathlib


def test_a_collected_camera_gives_back_its_calibration(zelvo, sim, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "cali.bin").write_bytes(b"calibration bytes")
    sim("board=rpi5,sensor=vga,noise=0,scene=wall:900")
    camera = zelvo.ZelvoCamera()
    assert camera.open(zelvo.TOFConnect.CSI) == zelvo.TOFErrorCode.ZelvoSuccess
    assert camera.start(zelvo.TOFOutput.DEPTH) == zelvo.TOFErrorCode.ZelvoSuccess
    maps = pathlib.Path("/proc/self/maps")
    assert maps.read_text().count(str(tmp_path / "cali.bin")) == 1
    del camera
    gc.collect()
    assert maps.read_text().count(str(tmp_path / "cali.bin")) == 0
