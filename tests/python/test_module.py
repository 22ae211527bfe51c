"""Module contents, registration order, docstrings, signatures and argument conversion."""
import pytest

REGISTERED = ["TOFDeviceType", "TOFOutput", "TOFConnect", "TOFControl", "TofWorkMode",
              "TofFrameWorkMode", "TOFErrorCode", "ZelvoFormat", "ZelvoInfo", "ZelvoFrame",
              "RawData", "DepthData", "ZelvoCamera", "__version__"]

OPEN_FIRST_LINE = ("Initialize the camera configuration and turn on the camera, set the "
                   "initialization frame according to the mode.")

CAMERA_METHODS = [
    # name, signature after "self: ZelvoDepthCamera.ZelvoCamera", docstring
    ("open", ", mode: ZelvoDepthCamera.TOFConnect, index: int = 0) -> ZelvoDepthCamera.TOFErrorCode",
     OPEN_FIRST_LINE + "\n\n- mode Specify the connection method.\n"
     "- index Device node, the default value is video0."),
    ("openWithFile", ", path: str, index: int = 0) -> ZelvoDepthCamera.TOFErrorCode",
     OPEN_FIRST_LINE + "\n\n- path Specify the config file path.\n"
     "- index Device node, the default value is video0."),
    ("close", ") -> ZelvoDepthCamera.TOFErrorCode", "Close the camera"),
    ("start", ", type: ZelvoDepthCamera.TOFOutput) -> ZelvoDepthCamera.TOFErrorCode",
     "Start the camera stream and start processing."),
    ("stop", ") -> ZelvoDepthCamera.TOFErrorCode", "Stop camera stream and processing."),
    ("setControl", ", ctrl: ZelvoDepthCamera.TOFControl, value: int) -> ZelvoDepthCamera.TOFErrorCode",
     "Set camera parameters."),
    ("getControl", ", ctrl: ZelvoDepthCamera.TOFControl) -> int", "Get camera parameters."),
    ("getCameraInfo", ") -> ZelvoDepthCamera.ZelvoInfo", "Get camera information."),
    ("requestFrame", ", timeout: int) -> ZelvoDepthCamera.ZelvoFrame",
     "Request a frame of data from the frame processing thread."),
    ("releaseFrame", ", frame: ZelvoDepthCamera.ZelvoFrame) -> ZelvoDepthCamera.TOFErrorCode",
     "Free the memory space of the frame."),
]

FRAME_METHODS = [
    ("RawData", "getRawData", "numpy.ndarray[int16]", "Get raw data from the frame"),
    ("RawData", "getFrameFormat", "ZelvoDepthCamera.ZelvoFormat", "Get the information of this frame"),
    ("DepthData", "getDepthData", "numpy.ndarray[float32]", "Get depth data from the frame"),
    ("DepthData", "getConfidenceData", "numpy.ndarray[float32]",
     "Get confidence data from the frame"),
    ("DepthData", "getAmplitudeData", "numpy.ndarray[float32]",
     "Get amplitude data from the frame"),
    ("DepthData", "getFrameFormat", "ZelvoDepthCamera.ZelvoFormat",
     "Get the information of this frame"),
]


def test_contents_in_registration_order(zelvo):
    names = [name for name in vars(zelvo) if not name.startswith("__") or name == "__version__"]
    assert names == REGISTERED
    assert zelvo.__version__ == "dev"
    assert zelvo.__doc__ is None
    assert not [name for name in vars(zelvo) if callable(getattr(zelvo, name))
                and not isinstance(getattr(zelvo, name), type)]


def test_class_bases(zelvo):
    assert issubclass(zelvo.RawData, zelvo.ZelvoFrame)
    assert issubclass(zelvo.DepthData, zelvo.ZelvoFrame)
    assert not issubclass(zelvo.RawData, zelvo.DepthData)
    assert not hasattr(zelvo.RawData, "getDepthData")
    assert not hasattr(zelvo.DepthData, "getRawData")
    assert [m for m in vars(zelvo.ZelvoFrame) if not m.startswith("_")] == []


@pytest.mark.parametrize("name", ["ZelvoFormat", "ZelvoInfo", "ZelvoFrame", "RawData",
                                  "DepthData"])
def test_only_the_camera_can_be_constructed(zelvo, name):
    with pytest.raises(TypeError):
        getattr(zelvo, name)()


@pytest.mark.parametrize("name, signature, doc", CAMERA_METHODS)
def test_camera_method_signature_and_docstring(zelvo, name, signature, doc):
    text = getattr(zelvo.ZelvoCamera, name).__doc__
    assert text == "%s(self: ZelvoDepthCamera.ZelvoCamera%s\n\n%s\n" % (name, signature, doc)


def test_camera_methods_in_registration_order(zelvo):
    names = [name for name in vars(zelvo.ZelvoCamera) if not name.startswith("_")]
    assert names == [name for name, _, _ in CAMERA_METHODS]


@pytest.mark.parametrize("cls, name, result, doc", FRAME_METHODS)
def test_frame_method_signature_and_docstring(zelvo, cls, name, result, doc):
    text = getattr(getattr(zelvo, cls), name).__doc__
    assert text == "%s(self: ZelvoDepthCamera.%s) -> %s\n\n%s\n" % (name, cls, result, doc)


def test_frame_methods_in_registration_order(zelvo):
    for cls in ("RawData", "DepthData"):
        names = [name for name in vars(getattr(zelvo, cls)) if not name.startswith("_")]
        assert names == [name for owner, name, _, _ in FRAME_METHODS if owner == cls]


def test_value_class_attributes_in_registration_order(zelvo):
    def attributes(cls):
        return [name for name in vars(cls) if not name.startswith("_")]

    assert attributes(zelvo.ZelvoFormat) == ["width", "height", "timestamp", "type"]
    assert attributes(zelvo.ZelvoInfo) == ["index", "connect", "device_type", "type", "width",
                                           "height", "bit_width", "bpp"]


def test_camera_has_no_dynamic_attributes(cameras):
    camera = cameras.new()
    with pytest.raises(AttributeError):
        camera.anything = 1


ARGUMENT_MISMATCHES = [
    ("open", (0,), {}),                          # an int is not a TOFConnect
    ("open", (), {"mode": 1}),
    ("open", ("CSI",), {}),
    ("open", (None,), {}),
    ("requestFrame", (32768,), {}),              # out of the signed 16-bit range
    ("requestFrame", (-32769,), {}),
    ("requestFrame", (1.5,), {}),                # a float is never an int
    ("requestFrame", (), {}),                    # timeout has no default
    ("requestFrame", ("10",), {}),
    ("setControl", (6, 30), {}),                 # ctrl must be a TOFControl
    ("setControl", ("RANGE", 30), {}),
    ("getControl", (0,), {}),
    ("start", (0,), {}),
    ("releaseFrame", (1,), {}),
    ("releaseFrame", ("frame",), {}),
]


@pytest.mark.parametrize("method, args, kwargs", ARGUMENT_MISMATCHES)
def test_argument_mismatch_raises_type_error(cameras, method, args, kwargs):
    camera = cameras.new()
    with pytest.raises(TypeError):
        getattr(camera, method)(*args, **kwargs)


def test_out_of_range_ints_raise_type_error(zelvo, cameras):
    camera = cameras.new()
    control = zelvo.TOFControl.RANGE
    for value in (2 ** 31, -2 ** 31 - 1, 1.0):
        with pytest.raises(TypeError):
            camera.setControl(control, value)
        with pytest.raises(TypeError):
            camera.open(zelvo.TOFConnect.CSI, value)


def test_value_class_fields_refuse_values_that_do_not_fit(zelvo, cameras):
    info = cameras.new().getCameraInfo()
    for field in ("index", "width", "height", "bit_width", "bpp"):
        for value in (-1, 2 ** 32, 1.5):
            with pytest.raises(TypeError):
                setattr(info, field, value)
        setattr(info, field, 2 ** 32 - 1)
        assert getattr(info, field) == 2 ** 32 - 1
    for field, enum in (("connect", zelvo.TOFConnect), ("device_type", zelvo.TOFDeviceType),
                        ("type", zelvo.TOFOutput)):
        with pytest.raises(TypeError):
            setattr(info, field, 1)
        member = list(enum.__members__.values())[-1]
        setattr(info, field, member)
        assert getattr(info, field) == member


def test_work_mode_member_passes_as_int_value(zelvo, cameras):
    camera = cameras.opened()
    rng = zelvo.TOFControl.RANGE
    # The HQVGA device keeps any RANGE value and reports it back, which shows
    # the integer that reached the core.
    for member in (zelvo.TofWorkMode.DOUBLE_FREQ, zelvo.TofWorkMode.CUSTOM3,
                   zelvo.TofFrameWorkMode.CUSTOM, zelvo.TofFrameWorkMode.SINGLE_FREQ_4PHASE):
        assert camera.setControl(ctrl=rng, value=member) == zelvo.TOFErrorCode.ZelvoSuccess
        got = camera.getControl(rng)
        assert type(got) is int and got == int(member)
    code = camera.setControl(zelvo.TOFControl.MODE, zelvo.TofWorkMode.DOUBLE_FREQ)
    assert isinstance(code, zelvo.TOFErrorCode)


def test_open_with_file_takes_str_bytes_or_none(zelvo, cameras):
    camera = cameras.new()
    assert camera.openWithFile(None) == zelvo.TOFErrorCode.ZelvoUnkownError
    assert camera.openWithFile(path=None, index=0) == zelvo.TOFErrorCode.ZelvoUnkownError
    for path in ("/nonexistent/zelvo.cfg", b"/nonexistent/zelvo.cfg"):
        assert isinstance(camera.openWithFile(path), zelvo.TOFErrorCode)
    with pytest.raises(TypeError):
        camera.openWithFile(0)
