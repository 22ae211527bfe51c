// The phase angle of a time-of-flight pixel in turns (fractions of a full circle), from a
// polynomial instead of the math library's atan2: branch-free, all in float, so that a row
// loop can keep it in registers and a SIMD form can copy it lane for lane.
#pragma once

#include <algorithm>

namespace ZelvoDepth {

// atan(r) / (2 pi) = r * P(r^2) on 0 <= r <= 1: a minimax fit within 2.8e-7 turn. With the
// float roundings of the quadrant steps, phaseTurns stays within 3.2e-7 turn (2.0e-6 radian)
// of the exact angle over the whole circle (checked for every pair of 12-bit differences); at
// 2250 mm per turn (the slower frequency of the reference pair) that is under 0.001 mm.
constexpr float kAtanTurns0 = 0.15915131568908691f;
constexpr float kAtanTurns1 = -0.052938565611839294f;
constexpr float kAtanTurns2 = 0.030802907422184944f;
constexpr float kAtanTurns3 = -0.018529849126935005f;
constexpr float kAtanTurns4 = 0.00837908498942852f;
constexpr float kAtanTurns5 = -0.001865157624706626f;

// atan2(q, i) / (2 pi), taken in [0, 1). The inputs are whole numbers (differences of
// samples), so the larger magnitude is either 0 (and then both are) or at least 1.
inline float phaseTurns(float q, float i) {
    const float ai = i < 0.0f ? -i : i;
    const float aq = q < 0.0f ? -q : q;
    const float r = std::min(ai, aq) / std::max(std::max(ai, aq), 1.0f);
    const float s = r * r;
    float p = kAtanTurns5;  // Horner's scheme in r^2
    p = p * s + kAtanTurns4;
    p = p * s + kAtanTurns3;
    p = p * s + kAtanTurns2;
    p = p * s + kAtanTurns1;
    p = p * s + kAtanTurns0;
    float turns = r * p;                      // first octant
    turns = aq > ai ? 0.25f - turns : turns;  // first quadrant
    turns = i < 0.0f ? 0.5f - turns : turns;  // upper half
    return q < 0.0f ? 1.0f - turns : turns;   // whole circle
}

// The fractional part of `turns`, for -kTurnsBias < turns < 2^23: truncating a positive
// value is taking its floor, which the float units of 32-bit ARM cannot do directly.
constexpr float kTurnsBias = 4.0f;
inline float fractionOfTurn(float turns) {
    const float biased = turns + kTurnsBias;
    return biased - static_cast<float>(static_cast<int>(biased));
}

}  // namespace ZelvoDepth
