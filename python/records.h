// The two value classes: ZelvoFormat (a frame plane's format) and ZelvoInfo
// (what the camera knows about its sensor and stream). Both hold a copy.
#pragma once

#include <pybind11/pybind11.h>

namespace ZelvoPython {

void registerFrameFormat(pybind11::module_& module);
void registerCameraInfo(pybind11::module_& module);

}  // namespace ZelvoPython
