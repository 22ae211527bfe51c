// The phase angle of a time-of-flight pixel in turns (fractions of a full circle), from a
// polynomial instead of the math library's atan2: branch-free, all in float, written once
// over the vector types of depth/simd.h so that every form of the pixel loops computes it
// with the same operations, lane for lane.
#pragma once

#include "depth/simd.h"

namespace ZelvoDepth {
inline namespace ZELVO_DEPTH_ISA {

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
// Floor of the divisor: (0, 0) gives 0, and filtered (fractional) signals stay exact; small
// enough for any real signal, large enough that a product of three such floors stays normal.
constexpr float kAtanSmallest = 1e-10f;

// The octant ratio min(|i|, |q|) / max(|i|, |q|) as a numerator and a divisor, so that the
// pixel loops can share one division among several quotients.
template <class V>
struct OctantRatio {
    V ai, aq, smaller, larger;
};
template <class V>
inline OctantRatio<V> octantRatio(V q, V i) {
    const V ai = abs(i);
    const V aq = abs(q);
    return {ai, aq, min(ai, aq), max(max(ai, aq), V(kAtanSmallest))};
}

// atan2(q, i) / (2 pi), taken in [0, 1), from the parts and the ratio r = smaller / larger.
template <class V>
inline V phaseTurnsAt(V q, V i, const OctantRatio<V>& parts, V r) {
    const V s = r * r;
    V p = kAtanTurns5;  // Horner's scheme in r^2
    p = mulAdd(p, s, V(kAtanTurns4));
    p = mulAdd(p, s, V(kAtanTurns3));
    p = mulAdd(p, s, V(kAtanTurns2));
    p = mulAdd(p, s, V(kAtanTurns1));
    p = mulAdd(p, s, V(kAtanTurns0));
    V turns = r * p;                                                // first octant
    turns = select(parts.aq > parts.ai, V(0.25f) - turns, turns);  // first quadrant
    turns = select(i < V(0.0f), V(0.5f) - turns, turns);           // upper half
    return select(q < V(0.0f), V(1.0f) - turns, turns);            // whole circle
}

template <class V>
inline V phaseTurnsOf(V q, V i) {
    const OctantRatio<V> parts = octantRatio(q, i);
    return phaseTurnsAt(q, i, parts, parts.smaller / parts.larger);
}

inline float phaseTurns(float q, float i) { return phaseTurnsOf(Scalar(q), Scalar(i)).v; }

// The fractional part of `turns`, for -kTurnsBias < turns < 2^23: truncating a positive
// value is taking its floor, which the float units of 32-bit ARM cannot do directly.
constexpr float kTurnsBias = 4.0f;
template <class V>
inline V fractionOfTurnOf(V turns) {
    const V biased = turns + V(kTurnsBias);
    return biased - truncate(biased);
}

}  // namespace ZELVO_DEPTH_ISA
}  // namespace ZelvoDepth
