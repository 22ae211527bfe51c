#include "python/enumerations.h"

#include <zelvo/types.h>

namespace py = pybind11;

namespace ZelvoPython {

using namespace Zelvo;

namespace {

void registerDeviceType(py::module_& module) {
    py::enum_<DeviceType>(module, "TOFDeviceType")
        .value("VGA", VGA)
        .value("HQVGA", HQVGA);
}

// AMPLITUDE stays internal: it only selects a plane inside a depth frame.
void registerOutput(py::module_& module) {
    py::enum_<FrameType>(module, "TOFOutput")
        .value("RAW", RAW)
        .value("DEPTH", DEPTH)
        .value("CONFIDENCE", CONFIDENCE)
        .value("CACHE", CACHE);
}

void registerConnect(py::module_& module) {
    py::enum_<Connection>(module, "TOFConnect")
        .value("CSI", CSI)
        .value("USB", USB);
}

// AUTO_FRAME_RATE is not offered to Python.
void registerControl(py::module_& module) {
    py::enum_<CameraCtrl>(module, "TOFControl")
        .value("RANGE", RANGE)
        .value("FMT_WIDTH", FMT_WIDTH)
        .value("FMT_HEIGHT", FMT_HEIGHT)
        .value("MODE", MODE)
        .value("FRAME_MODE", FRAME_MODE)
        .value("EXPOSURE", EXPOSURE)
        .value("FRAME_RATE", FRAME_RATE)
        .value("SKIP_FRAME", SKIP_FRAME)
        .value("SKIP_FRAME_LOOP", SKIP_FRAME_LOOP)
        .value("CONFIG_DIR_EXT", CONFIG_DIR_EXT);
}

// Members of the two work-mode enumerations are passed as the integer value of
// setControl, hence their own __int__. It must come before the standard one to
// be the overload that runs.
void registerWorkMode(py::module_& module) {
    py::enum_<TofWorkMode>(module, "TofWorkMode")
        .value("SINGLE_FREQ", SINGLE_FREQ)
        .value("DOUBLE_FREQ", DOUBLE_FREQ)
        .value("TRIPLE_FREQ", TRIPLE_FREQ)
        .value("QUAD_FREQ", QUAD_FREQ)
        .value("DISTANCE", DISTANCE)
        .value("HDR", HDR)
        .value("AE", AE)
        .value("BG_OUTDOOR", TofWorkMode::BG_OUTDOOR)
        .value("GRAY_ONLY", TofWorkMode::GRAY_ONLY)
        .value("CUSTOM1", CUSTOM1)
        .value("CUSTOM2", CUSTOM2)
        .value("CUSTOM3", CUSTOM3)
        .def("__int__", [](TofWorkMode mode) { return static_cast<int32_t>(mode); },
             py::prepend());
}

void registerFrameWorkMode(py::module_& module) {
    using Mode = TofFrameWorkMode;
    py::enum_<Mode>(module, "TofFrameWorkMode")
        .value("SINGLE_FREQ_2PHASE", Mode::SINGLE_FREQ_2PHASE)
        .value("SINGLE_FREQ_4PHASE", Mode::SINGLE_FREQ_4PHASE)
        .value("SINGLE_FREQ_4PHASE_GRAY", Mode::SINGLE_FREQ_4PHASE_GRAY)
        .value("SINGLE_FREQ_4PHASE_BG", Mode::SINGLE_FREQ_4PHASE_BG)
        .value("SINGLE_FREQ_4PHASE_4BG", Mode::SINGLE_FREQ_4PHASE_4BG)
        .value("SINGLE_FREQ_4PHASE_GRAY_5BG", Mode::SINGLE_FREQ_4PHASE_GRAY_5BG)
        .value("SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG", Mode::SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG)
        .value("SINGLE_FREQ_GRAY_BG_4PHASE_BG", Mode::SINGLE_FREQ_GRAY_BG_4PHASE_BG)
        .value("SINGLE_FREQ_BG_GRAY_BG_4PHASE", Mode::SINGLE_FREQ_BG_GRAY_BG_4PHASE)
        .value("SINGLE_FREQ_BG_4PHASE_BG_GRAY", Mode::SINGLE_FREQ_BG_4PHASE_BG_GRAY)
        .value("DOUBLE_FREQ_4PHASE", Mode::DOUBLE_FREQ_4PHASE)
        .value("DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG", Mode::DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG)
        .value("DOUBLE_FREQ_4PHASE_4BG", Mode::DOUBLE_FREQ_4PHASE_4BG)
        .value("DOUBLE_FREQ_4PHASE_GRAY_5BG", Mode::DOUBLE_FREQ_4PHASE_GRAY_5BG)
        .value("TRIPLE_FREQ_4PHASE", Mode::TRIPLE_FREQ_4PHASE)
        .value("TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG",
               Mode::TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG)
        .value("QUAD_FREQ_4PHASE", Mode::QUAD_FREQ_4PHASE)
        .value("QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG",
               Mode::QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG)
        .value("BG_OUTDOOR", Mode::BG_OUTDOOR)
        .value("GRAY_ONLY", Mode::GRAY_ONLY)
        .value("CUSTOM", Mode::CUSTOM)
        .def("__int__", [](Mode mode) { return static_cast<int32_t>(mode); }, py::prepend())
        // The core type is scoped, for which pybind11 compares members only with
        // members; like every other enumeration here they equal their values.
        .def("__eq__",
             [](Mode mode, const py::object& other) {
                 return !other.is_none() && py::int_(static_cast<int32_t>(mode)).equal(other);
             },
             py::prepend())
        .def("__ne__",
             [](Mode mode, const py::object& other) {
                 return other.is_none() || !py::int_(static_cast<int32_t>(mode)).equal(other);
             },
             py::prepend());
}

void registerErrorCode(py::module_& module) {
    py::enum_<TofErrorCode>(module, "TOFErrorCode")
        .value("ZelvoSuccess", ZelvoSuccess)
        .value("ZelvoInvalidParameter", ZelvoInvalidParameter)
        .value("ZelvoNoCache", ZelvoNoCache)
        .value("ZelvoUnkownDevice", ZelvoUnkownDevice)
        .value("ZelvoNotImplemented", ZelvoNotImplemented)
        .value("ZelvoSkipFrame", ZelvoSkipFrame)
        .value("ZelvoSystemError", ZelvoSystemError)
        .value("ZelvoUnkownError", ZelvoUnkownError)
        .def("str", [](TofErrorCode code) { return py::str(to_str(code)); });
}

}  // namespace

void registerEnumerations(py::module_& module) {
    registerDeviceType(module);
    registerOutput(module);
    registerConnect(module);
    registerControl(module);
    registerWorkMode(module);
    registerFrameWorkMode(module);
    registerErrorCode(module);
}

}  // namespace ZelvoPython
