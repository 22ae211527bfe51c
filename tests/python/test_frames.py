"""Streams on the simulated board: lifecycle, frame classes, arrays and their copies."""
import numpy as np
import pytest

from conftest import request

HQVGA_WIDTH, HQVGA_HEIGHT = 240, 180


@pytest.fixture(params=["RAW", "DEPTH"])
def output(request, zelvo):
    return getattr(zelvo.TOFOutput, request.param)


def frame_arrays(zelvo, frame):
    if isinstance(frame, zelvo.RawData):
        return [frame.getRawData()]
    return [frame.getDepthData(), frame.getConfidenceData(), frame.getAmplitudeData()]


def test_lifecycle(zelvo, cameras, output):
    ok = zelvo.TOFErrorCode.ZelvoSuccess
    camera = cameras.new()
    assert camera.open(zelvo.TOFConnect.CSI) == ok
    info = camera.getCameraInfo()
    assert isinstance(info, zelvo.ZelvoInfo)
    assert (info.index, info.connect, info.device_type) == (0, zelvo.TOFConnect.CSI,
                                                           zelvo.TOFDeviceType.HQVGA)
    assert (info.width, info.height) == (HQVGA_WIDTH, HQVGA_HEIGHT)

    assert camera.start(type=output) == ok
    info = camera.getCameraInfo()
    assert info.type == output
    assert isinstance(info.type, zelvo.TOFOutput)
    timestamps = []
    for _ in range(5):
        frame = request(camera)
        timestamps.append(frame.getFrameFormat().timestamp)
        assert camera.releaseFrame(frame=frame) == ok
    assert timestamps == sorted(timestamps) and len(set(timestamps)) == 5
    assert camera.stop() == ok
    with pytest.raises(RuntimeError):
        camera.stop()  # no capture thread to end
    assert camera.close() == ok


def test_frame_class_follows_output_type(zelvo, cameras, output):
    camera = cameras.streaming(output)
    frame = request(camera)
    expected = zelvo.RawData if output == zelvo.TOFOutput.RAW else zelvo.DepthData
    assert type(frame) is expected
    assert isinstance(frame, zelvo.ZelvoFrame)
    assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess


def test_array_shapes_and_types(zelvo, cameras, output):
    camera = cameras.streaming(output)
    frame = request(camera)
    form = frame.getFrameFormat()
    assert isinstance(form, zelvo.ZelvoFormat)
    if output == zelvo.TOFOutput.RAW:
        # Four phase images of one depth frame, stacked.
        assert (form.width, form.height, form.type) == (HQVGA_WIDTH, 4 * HQVGA_HEIGHT,
                                                       zelvo.TOFOutput.RAW)
        dtype = np.int16
    else:
        assert (form.width, form.height, form.type) == (HQVGA_WIDTH, HQVGA_HEIGHT,
                                                       zelvo.TOFOutput.DEPTH)
        dtype = np.float32
    for array in frame_arrays(zelvo, frame):
        assert type(array) is np.ndarray
        assert array.shape == (form.height, form.width)
        assert array.dtype == dtype
        assert array.flags["C_CONTIGUOUS"] and array.flags["OWNDATA"]
        assert array.flags["WRITEABLE"]
    camera.releaseFrame(frame)


def test_arrays_are_copies_that_outlive_the_release(zelvo, cameras, output):
    camera = cameras.streaming(output)
    frame = request(camera)
    first = frame_arrays(zelvo, frame)
    second = frame_arrays(zelvo, frame)
    kept = [array.copy() for array in first]
    for a, b in zip(first, second):
        assert a is not b and not np.shares_memory(a, b)
        np.testing.assert_array_equal(a, b)
        a.fill(7)  # writing into one copy touches neither the frame nor another copy
    for again, b in zip(frame_arrays(zelvo, frame), second):
        np.testing.assert_array_equal(again, b)
    assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess

    # Keep the pool busy: every buffer is refilled at least once.
    for _ in range(6):
        camera.releaseFrame(request(camera))
    for b, k in zip(second, kept):
        np.testing.assert_array_equal(b, k)


def test_format_is_a_copy(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    frame = request(camera)
    form = frame.getFrameFormat()
    form.width = 1
    form.timestamp = 2 ** 64 - 1
    form.type = zelvo.TOFOutput.CACHE
    again = frame.getFrameFormat()
    assert (again.width, again.type) == (HQVGA_WIDTH, zelvo.TOFOutput.DEPTH)
    assert frame.getDepthData().shape == (HQVGA_HEIGHT, HQVGA_WIDTH)
    for field, value in (("width", -1), ("height", 2 ** 32), ("timestamp", -1), ("type", 2)):
        with pytest.raises(TypeError):
            setattr(form, field, value)


def test_no_frame_within_the_timeout_gives_none(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    # Borrowing the whole pool starves the capture thread.
    held = [request(camera) for _ in range(3)]
    assert camera.requestFrame(0) is None
    assert camera.requestFrame(timeout=200) is None
    assert camera.releaseFrame(held.pop()) == zelvo.TOFErrorCode.ZelvoSuccess
    assert request(camera) is not None


def test_release_none_and_foreign_frames(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    other = cameras.new()  # on the kit: the CSI node is busy with the first stream
    assert other.open(zelvo.TOFConnect.USB, 0) == zelvo.TOFErrorCode.ZelvoSuccess
    assert other.start(zelvo.TOFOutput.DEPTH) == zelvo.TOFErrorCode.ZelvoSuccess
    assert camera.releaseFrame(None) == zelvo.TOFErrorCode.ZelvoUnkownError
    foreign = request(other)
    assert camera.releaseFrame(foreign) == zelvo.TOFErrorCode.ZelvoUnkownError
    foreign.getDepthData()  # still lent by its own camera
    assert other.releaseFrame(foreign) == zelvo.TOFErrorCode.ZelvoSuccess


def test_same_buffer_returns_the_same_object(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.DEPTH)
    seen = []
    for _ in range(12):
        frame = request(camera)
        assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess
        seen.append(frame)
    # Three buffers in the pool: kept objects come back instead of new ones.
    assert len({id(frame) for frame in seen}) <= 3


def test_frames_may_be_released_in_any_order(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.RAW)
    held = [request(camera) for _ in range(3)]
    assert len({id(frame) for frame in held}) == 3
    for frame in (held[1], held[2], held[0]):
        assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess


def test_last_free_buffer_still_reaches_a_waiting_request(zelvo, cameras):
    camera = cameras.streaming(zelvo.TOFOutput.RAW)
    held = [request(camera) for _ in range(2)]
    # Only one buffer circulates; each request waits for it and must get it.
    for _ in range(8):
        frame = request(camera)
        assert all(frame is not other for other in held)
        assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess
    for frame in held:
        assert camera.releaseFrame(frame) == zelvo.TOFErrorCode.ZelvoSuccess
