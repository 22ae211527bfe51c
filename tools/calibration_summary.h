// What a calibration holds, as the calibration tool prints it.
#pragma once

#include <cstddef>
#include <cstdio>

#include "depth/calibration.h"

namespace ZelvoTools {

// Several lines: the length, the module size, the lens, the reference temperature and
// one line per modulation frequency with the range of its grid offsets.
void printCalibration(std::FILE* out, const ZelvoDepth::Calibration& calibration,
                      size_t length);

}  // namespace ZelvoTools
