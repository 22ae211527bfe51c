// Unwrapping the phases of two modulation frequencies into one distance beyond the range of
// either. The frequencies must stand in a ratio m0 : m1 of small whole numbers; the phases
// (in turns) t0 and t1 of a distance D below R = m0 * wrap0 = m1 * wrap1 then satisfy
//     m1 * n0 - m0 * n1 = m0 * t1 - m1 * t0
// for the whole turns n0 and n1 the phases lost. Rounding the right side to r picks them
// without a search: n0 = r * k (mod m0), with k the inverse of m1 modulo m0, and
// n1 = (m1 * n0 - r) / m0.
#pragma once

#include <cstdint>

namespace ZelvoDepth {

// Speed of light, millimetres per second.
constexpr double kLightMillimetresPerSecond = 299792458.0e3;

// Distance of one turn of round-trip phase at a modulation frequency: the wrap distance.
inline float wrapMillimetres(uint32_t frequencyHz) {
    return static_cast<float>(kLightMillimetresPerSecond / (2.0 * frequencyHz));
}

// Largest term of the ratio, and how far the frequencies may stand from it (relative).
constexpr int kMaxRatioTerm = 16;
constexpr double kRatioTolerance = 1e-4;

struct FrequencyPair {
    int m0 = 0, m1 = 0;                   // f0 : f1 = m0 : m1, coprime
    int inverse = 0;                      // k, with m1 * k = 1 (mod m0)
    float wrap[2] = {0.0f, 0.0f};         // wrap distance of each frequency, mm
    float unambiguousMillimetres = 0.0f;  // R = m0 * wrap[0]
    // The weights of the two distances in their mean: their inverse noise variances for
    // equal amplitudes (a phase error maps to a distance error proportional to the wrap).
    float weight[2] = {0.0f, 0.0f};
};

// Plans the unwrapping of f0 and f1: false when they are equal, zero, or not within
// kRatioTolerance of a ratio of whole numbers up to kMaxRatioTerm.
bool planFrequencyPair(uint32_t f0, uint32_t f1, FrequencyPair& pair);

}  // namespace ZelvoDepth
