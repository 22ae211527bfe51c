// The seven enumerations of the module, mirroring the camera's public ones.
#pragma once

#include <pybind11/pybind11.h>

namespace ZelvoPython {

// Registers TOFDeviceType, TOFOutput, TOFConnect, TOFControl, TofWorkMode,
// TofFrameWorkMode and TOFErrorCode, in that order.
void registerEnumerations(pybind11::module_& module);

}  // namespace ZelvoPython
