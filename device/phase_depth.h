// Depth and amplitude of time-of-flight pixels from the differences of their phase samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelvo {

// One full turn of the phase angle, as a float.
constexpr float kPhaseFullTurn = 6.2831855f;

// Metres of depth per radian of phase at a modulation frequency in Hz:
// the speed of light over the frequency times 4 pi, in float arithmetic.
inline float metresPerRadian(float modulationFrequency) {
    return 300000000.0f / (modulationFrequency * 12.566371f);
}

// For each of `count` pixels whose phase differences are x[i] and y[i], both multiples of 16
// in -32752..32752 (the differences of two decoded samples):
//   theta        = float(atan2(double(y), double(x))), plus kPhaseFullTurn when negative
//   depth[i]     = (metresPerRadian * theta) * 1000.0f                      (millimetres)
//   amplitude[i] = float(0.5 * sqrt(double(x * x + y * y)))
// The results are bit-identical to that arithmetic, computed faster: the angle comes from a
// vectorised polynomial whose error is far below a float step, and only pixels whose angle
// lies too close to a float rounding boundary to be decided from it take the libm atan2.
void computePhaseDepth(const int16_t* x, const int16_t* y, size_t count, float metresPerRadian,
                       float* depth, float* amplitude);

// The forms of that computation. computePhaseDepth uses the fastest this processor runs;
// all give identical results, and each is checked against the plain arithmetic.
enum class PhaseDepthKernel {
    Portable,  // scalar double arithmetic, any processor (32-bit ARM without NEON)
    Sse2,      // x86 with SSE2
    Avx2,      // x86 with AVX2 and FMA
    Neon,      // ARM with NEON (always on 64-bit): single precision in pairs of floats
};

// Computes with one given form; false, writing nothing, when the build or the processor
// lacks it.
bool computePhaseDepthWith(PhaseDepthKernel kernel, const int16_t* x, const int16_t* y,
                           size_t count, float metresPerRadian, float* depth, float* amplitude);

}  // namespace Zelvo
