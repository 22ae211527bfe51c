"""The seven enumerations: members, order, values and conversions."""
import pytest

ENUMERATIONS = {
    "TOFDeviceType": [("VGA", 0), ("HQVGA", 1)],
    "TOFOutput": [("RAW", 0), ("DEPTH", 2), ("CONFIDENCE", 1), ("CACHE", 4)],
    "TOFConnect": [("CSI", 0), ("USB", 1)],
    "TOFControl": [("RANGE", 0), ("FMT_WIDTH", 1), ("FMT_HEIGHT", 2), ("MODE", 3),
                   ("FRAME_MODE", 4), ("EXPOSURE", 5), ("FRAME_RATE", 6), ("SKIP_FRAME", 7),
                   ("SKIP_FRAME_LOOP", 8), ("CONFIG_DIR_EXT", 256)],
    "TofWorkMode": [("SINGLE_FREQ", 0), ("DOUBLE_FREQ", 1), ("TRIPLE_FREQ", 2),
                    ("QUAD_FREQ", 3), ("DISTANCE", 4), ("HDR", 5), ("AE", 6),
                    ("BG_OUTDOOR", 7), ("GRAY_ONLY", 8), ("CUSTOM1", 9), ("CUSTOM2", 10),
                    ("CUSTOM3", 11)],
    "TofFrameWorkMode": [(name, value) for value, name in enumerate([
        "SINGLE_FREQ_2PHASE", "SINGLE_FREQ_4PHASE", "SINGLE_FREQ_4PHASE_GRAY",
        "SINGLE_FREQ_4PHASE_BG", "SINGLE_FREQ_4PHASE_4BG", "SINGLE_FREQ_4PHASE_GRAY_5BG",
        "SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG", "SINGLE_FREQ_GRAY_BG_4PHASE_BG",
        "SINGLE_FREQ_BG_GRAY_BG_4PHASE", "SINGLE_FREQ_BG_4PHASE_BG_GRAY", "DOUBLE_FREQ_4PHASE",
        "DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG", "DOUBLE_FREQ_4PHASE_4BG",
        "DOUBLE_FREQ_4PHASE_GRAY_5BG", "TRIPLE_FREQ_4PHASE",
        "TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG", "QUAD_FREQ_4PHASE",
        "QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG", "BG_OUTDOOR", "GRAY_ONLY",
        "CUSTOM"])],
    "TOFErrorCode": [("ZelvoSuccess", 0), ("ZelvoInvalidParameter", 1), ("ZelvoNoCache", 2),
                     ("ZelvoUnkownDevice", 3), ("ZelvoNotImplemented", 4),
                     ("ZelvoSkipFrame", 240), ("ZelvoSystemError", -2),
                     ("ZelvoUnkownError", -1)],
}

ERROR_TEXTS = {
    "ZelvoSuccess": "Success", "ZelvoInvalidParameter": "Invalid parameter",
    "ZelvoNoCache": "No cache", "ZelvoUnkownDevice": "Unkown device",
    "ZelvoNotImplemented": "Not implemented", "ZelvoSkipFrame": "Skip frame",
    "ZelvoSystemError": "System error", "ZelvoUnkownError": "Unknown error",
}


@pytest.mark.parametrize("enum_name", ENUMERATIONS)
def test_members_in_registration_order_with_values(zelvo, enum_name):
    enum = getattr(zelvo, enum_name)
    expected = ENUMERATIONS[enum_name]
    assert [(name, int(member)) for name, member in enum.__members__.items()] == expected


@pytest.mark.parametrize("enum_name", ENUMERATIONS)
def test_members_behave_like_their_values(zelvo, enum_name):
    enum = getattr(zelvo, enum_name)
    for name, value in ENUMERATIONS[enum_name]:
        member = getattr(enum, name)
        assert member == value
        assert value == member
        assert not member != value
        assert member != value + 1
        assert member != None  # noqa: E711
        assert hash(member) == hash(value)
        assert enum(value) == member
        assert enum(value).name == name
        assert member.__index__() == value


@pytest.mark.parametrize("enum_name", ENUMERATIONS)
def test_members_are_not_exported_and_not_arithmetic(zelvo, enum_name):
    enum = getattr(zelvo, enum_name)
    first, second = list(enum.__members__.values())[:2]
    for name in enum.__members__:
        assert not hasattr(zelvo, name) or name in ENUMERATIONS
    with pytest.raises(TypeError):
        first < second  # noqa: B015
    with pytest.raises(TypeError):
        first | second  # noqa: B015


def test_documented_conversions(zelvo):
    assert not hasattr(zelvo, "CSI")
    assert zelvo.TOFConnect.CSI == 0
    cases = [(zelvo.TOFErrorCode.ZelvoSystemError, -2), (zelvo.TOFErrorCode.ZelvoSkipFrame, 240),
             (zelvo.TOFControl.CONFIG_DIR_EXT, 256), (zelvo.TOFOutput.DEPTH, 2),
             (zelvo.TOFOutput.CONFIDENCE, 1)]
    for member, value in cases:
        assert int(member) == value
        assert type(int(member)) is int


@pytest.mark.parametrize("enum_name", ["TofWorkMode", "TofFrameWorkMode"])
def test_work_modes_have_their_own_int(zelvo, enum_name):
    enum = getattr(zelvo, enum_name)
    # The added conversion runs first and has the same effect.
    assert "__int__" in vars(enum)
    signature = enum.__int__.__doc__
    assert signature.count("__int__(self") == 2
    for name, value in ENUMERATIONS[enum_name]:
        assert int(getattr(enum, name)) == value


def test_error_code_str_gives_the_error_text(zelvo):
    for name, text in ERROR_TEXTS.items():
        assert getattr(zelvo.TOFErrorCode, name).str() == text


def test_error_code_from_unregistered_value(zelvo):
    code = zelvo.TOFErrorCode(5)
    assert isinstance(code, zelvo.TOFErrorCode)
    assert int(code) == 5
    assert code.str() == zelvo.TOFErrorCode.ZelvoUnkownError.str()
    assert code not in zelvo.TOFErrorCode.__members__.values()


def test_member_counts(zelvo):
    assert len(zelvo.TOFControl.__members__) == 10
    assert len(zelvo.TofWorkMode.__members__) == 12
    assert len(zelvo.TofFrameWorkMode.__members__) == 21
    assert len(zelvo.TOFErrorCode.__members__) == 8
