// The frame classes ZelvoFrame, RawData and DepthData with their getters.
#pragma once

#include <pybind11/pybind11.h>

namespace ZelvoPython {

void registerFrames(pybind11::module_& module);

}  // namespace ZelvoPython
