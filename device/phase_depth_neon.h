// What the phase depth forms share across translation units. The NEON form is compiled on
// its own with NEON enabled, so this header holds declarations only: no inline code that
// could be merged with a copy compiled for the baseline processor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelvo {

// float(atan2(double(y), double(x))) with the libm atan2: the documented angle, taken by the
// fast forms for the few pixels whose float they cannot decide.
float documentedPhaseAngle(int16_t x, int16_t y);

// `blocks` blocks of four pixels with the arithmetic of computePhaseDepth, in NEON. Only for
// processors with NEON; present in ARM builds only.
void computePhaseDepthBlocksNeon(const int16_t* x, const int16_t* y, size_t blocks,
                                 float metresPerRadian, float* depth, float* amplitude);

}  // namespace Zelvo
