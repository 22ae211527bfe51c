"""NumPy is loaded by the first array, not by the import."""
import textwrap

from conftest import FRAME_TIMEOUT_MS, run_python

OPEN_AND_REQUEST = textwrap.dedent("""
    camera = z.ZelvoCamera()
    assert camera.open(z.TOFConnect.CSI) == z.TOFErrorCode.ZelvoSuccess
    assert camera.start(z.TOFOutput.DEPTH) == z.TOFErrorCode.ZelvoSuccess
    frame = camera.requestFrame(%d)
    assert frame is not None
""" % FRAME_TIMEOUT_MS)


def test_import_does_not_load_numpy():
    result = run_python(textwrap.dedent("""
        import sys
        import ZelvoDepthCamera as z
        print("numpy" in sys.modules)
    """) + OPEN_AND_REQUEST + textwrap.dedent("""
        print("numpy" in sys.modules)
        depth = frame.getDepthData()
        print("numpy" in sys.modules, type(depth).__module__)
        assert camera.releaseFrame(frame) == z.TOFErrorCode.ZelvoSuccess
    """))
    assert result.returncode == 0, result.stderr
    assert result.stdout.split("\n") == ["False", "False", "True numpy", ""]


def test_without_numpy_import_works_and_arrays_raise():
    result = run_python(textwrap.dedent("""
        import sys

        class NoNumpy:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy" or name.startswith("numpy."):
                    raise ModuleNotFoundError("No module named 'numpy'", name=name)
                return None

        sys.meta_path.insert(0, NoNumpy())
        import ZelvoDepthCamera as z
        print(z.__version__)
    """) + OPEN_AND_REQUEST + textwrap.dedent("""
        for getter in (frame.getDepthData, frame.getAmplitudeData, frame.getDepthData):
            try:
                getter()
            except ImportError as error:
                print(type(error).__name__)
        form = frame.getFrameFormat()
        print(form.width, form.height)
        print(camera.releaseFrame(frame).str())
    """))
    assert result.returncode == 0, result.stderr
    assert result.stdout.split("\n") == ["dev"] + ["ModuleNotFoundError"] * 3 + [
        "240 180", "Success", ""]
