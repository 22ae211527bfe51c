// The three pixel loops, written once over a vector type of depth/simd.h; each form's file
// instantiates them (PixelLoopsOf<V>). Every step is branch-free per pixel: choices are
// masks and selects, so a vector form computes exactly what the one-float form does.
#pragma once

#include "depth/phase_turns.h"
#include "depth/pixel_rows.h"
#include "depth/simd.h"

// The blocks are large, and inlined into their loops whatever the compiler would weigh: a call
// per vector would reload every constant and row pointer.
#define ZELVO_DEPTH_INLINE inline __attribute__((always_inline))

namespace ZelvoDepth {
inline namespace ZELVO_DEPTH_ISA {
namespace loops {

template <class V>
inline V square(V a) {
    return a * a;
}

// Rounds a value of at least -kRoundingBias to the nearest whole number.
constexpr float kRoundingBias = 64.0f;
template <class V>
inline V nearestWhole(V value) {
    return truncate(value + V(kRoundingBias + 0.5f)) - V(kRoundingBias);
}

// Steps 1 to 3 for the pixels x .. x + lanes - 1.
template <class V, bool kTwo>
ZELVO_DEPTH_INLINE void prepareBlock(const SampleRows& in, const StateRows& state,
                                     const PreparedRow& out, const FrameSetup& setup, int x) {
    constexpr int kFrequencies = kTwo ? 2 : 1;
    V i[2], q[2];
    V gray = V::loadSamples(in.gray + x);
    V undemodulated = gray;
    if (kTwo) undemodulated = max(gray, V::loadSamples(in.background + x));
    V top = undemodulated;
    V level = undemodulated;
    V amplitude = 0.0f;
    V power[2], variance[2];  // (I^2 + Q^2) / 2 = 2 a^2, and the frequency's noise variance
    for (int f = 0; f < kFrequencies; ++f) {
        const V s0 = V::loadSamples(in.phase[f][0] + x);
        const V s1 = V::loadSamples(in.phase[f][1] + x);
        const V s2 = V::loadSamples(in.phase[f][2] + x);
        const V s3 = V::loadSamples(in.phase[f][3] + x);
        i[f] = s0 - s2;
        q[f] = s1 - s3;
        const V squares = mulAdd(q[f], q[f], i[f] * i[f]);
        const V mean = V(0.25f) * ((s0 + s1) + (s2 + s3));
        top = max(top, max(max(s0, s1), max(s2, s3)));
        level = max(level, mean);
        power[f] = V(0.5f) * squares;
        variance[f] = V(kReadNoise * kReadNoise) + V(kShotNoiseGain) * max(mean, undemodulated);
        const V a = V(0.5f) * sqrt(squares);
        amplitude = f == 0 ? a : V(0.5f) * (amplitude + a);
    }
    const V noise = V(kReadNoise * kReadNoise) + V(kShotNoiseGain) * level;
    // One division for the three quotients: the divider is the scarcest unit of the loop.
    V inverseNoise, squaredConfidence;
    if (!kTwo) {
        inverseNoise = V(1.0f) / noise;  // the variance of the one frequency
        squaredConfidence = power[0] * inverseNoise;
    } else {
        const V inverse = V(1.0f) / (variance[0] * variance[1] * noise);
        inverseNoise = variance[0] * variance[1] * inverse;
        squaredConfidence = min(power[0] * (variance[1] * noise * inverse),
                                power[1] * (variance[0] * noise * inverse));
    }
    const V confidence = select(top < V(kSaturatedSample), sqrt(squaredConfidence), V(0.0f));

    if (setup.filters.depthAlpha > 0.0f) {
        V si[2], sq[2];
        V difference = 0.0f;
        for (int f = 0; f < kFrequencies; ++f) {
            si[f] = V::load(state.previous[2 * f] + x);
            sq[f] = V::load(state.previous[2 * f + 1] + x);
            const V di = i[f] - si[f];
            const V dq = q[f] - sq[f];
            difference = mulAdd(dq, dq, mulAdd(di, di, difference));
        }
        const auto moved = difference > noise * V(setup.depthReset);
        const V alpha = setup.filters.depthAlpha;
        for (int f = 0; f < kFrequencies; ++f) {
            i[f] = select(moved, i[f], mulAdd(alpha, i[f] - si[f], si[f]));
            q[f] = select(moved, q[f], mulAdd(alpha, q[f] - sq[f], sq[f]));
            if (state.next[0] != nullptr) {
                i[f].store(state.next[2 * f] + x);
                q[f].store(state.next[2 * f + 1] + x);
            }
        }
    }
    if (setup.filters.grayAlpha > 0.0f) {
        const V previous = V::load(state.previous[4] + x);
        const auto moved = square(amplitude - previous) > noise * V(setup.grayReset);
        amplitude = select(moved, amplitude,
                           mulAdd(V(setup.filters.grayAlpha), amplitude - previous, previous));
        if (state.next[4] != nullptr) amplitude.store(state.next[4] + x);
    }
    for (int f = 0; f < kFrequencies; ++f) {
        i[f].store(out.i[f] + x);
        q[f].store(out.q[f] + x);
    }
    amplitude.store(out.amplitude + x);
    inverseNoise.store(out.inverseNoise + x);
    confidence.store(out.confidence + x);
}

template <class V, bool kTwo>
void prepareLoop(const SampleRows& in, const StateRows& state, const PreparedRow& out,
                 const FrameSetup& setup, int width) {
    int x = 0;
    for (; x + V::kLanes <= width; x += V::kLanes) prepareBlock<V, kTwo>(in, state, out, setup, x);
    for (; x < width; ++x) prepareBlock<Scalar, kTwo>(in, state, out, setup, x);
}

// Steps 4 to 9.
// The window radii are template parameters: the compiler unrolls the windows whole.
template <class V, bool kTwo, int kRadius, int kGrayRadius>
ZELVO_DEPTH_INLINE void finishBlock(const PreparedRow* window, const float* grid0,
                                    const float* grid1, const DepthRow& out,
                                    const FrameSetup& setup, int x) {
    constexpr int kFrequencies = kTwo ? 2 : 1;
    constexpr int centre = kRadius > kGrayRadius ? kRadius : kGrayRadius;
    const PreparedRow& c = window[centre];
    const V inverseNoise = V::load(c.inverseNoise + x);
    V ci[2], cq[2], si[2], sq[2];
    for (int f = 0; f < kFrequencies; ++f) {
        ci[f] = si[f] = V::load(c.i[f] + x);
        cq[f] = sq[f] = V::load(c.q[f] + x);
    }
    if (kRadius > 0) {
        const V scale = inverseNoise * V(setup.depthSpatialScale);
        for (int dy = -kRadius; dy <= kRadius; ++dy) {
            const PreparedRow& row = window[centre + dy];
            for (int dx = -kRadius; dx <= kRadius; ++dx) {
                if (dx == 0 && dy == 0) continue;
                V ni[2], nq[2];
                V difference = 0.0f;
                for (int f = 0; f < kFrequencies; ++f) {
                    ni[f] = V::load(row.i[f] + x + dx);
                    nq[f] = V::load(row.q[f] + x + dx);
                    const V di = ni[f] - ci[f];
                    const V dq = nq[f] - cq[f];
                    difference = mulAdd(dq, dq, mulAdd(di, di, difference));
                }
                const V weight = max(V(0.0f), mulSub(difference, scale, V(1.0f)));
                for (int f = 0; f < kFrequencies; ++f) {
                    si[f] = mulAdd(weight, ni[f], si[f]);
                    sq[f] = mulAdd(weight, nq[f], sq[f]);
                }
            }
        }
    }
    V amplitude = V::load(c.amplitude + x);
    V graySum = amplitude, grayWeights = 1.0f;
    if (kGrayRadius > 0) {
        const V scale = inverseNoise * V(setup.graySpatialScale);
        for (int dy = -kGrayRadius; dy <= kGrayRadius; ++dy) {
            const PreparedRow& row = window[centre + dy];
            for (int dx = -kGrayRadius; dx <= kGrayRadius; ++dx) {
                if (dx == 0 && dy == 0) continue;
                const V neighbour = V::load(row.amplitude + x + dx);
                const V step = neighbour - amplitude;
                const V weight = max(V(0.0f), mulSub(step * step, scale, V(1.0f)));
                graySum = mulAdd(weight, neighbour, graySum);
                grayWeights = grayWeights + weight;
            }
        }
    }

    // The octant ratios of the two phases share one division (the divider is the scarcest
    // unit of the loop); the amplitude's mean takes its own, so that the amplitude filter
    // leaves the depth bit for bit.
    if (kGrayRadius > 0) amplitude = graySum / grayWeights;
    OctantRatio<V> parts[2];
    V ratio[2];
    for (int f = 0; f < kFrequencies; ++f) parts[f] = octantRatio(sq[f], si[f]);
    if (kTwo) {
        const V inverse = V(1.0f) / (parts[0].larger * parts[1].larger);
        ratio[0] = parts[0].smaller * parts[1].larger * inverse;
        ratio[1] = parts[1].smaller * parts[0].larger * inverse;
    } else {
        ratio[0] = parts[0].smaller / parts[0].larger;
    }

    const V t0 = fractionOfTurnOf(phaseTurnsAt(sq[0], si[0], parts[0], ratio[0]) -
                                  (V::load(grid0 + x) + V(setup.frameOffset[0])));
    V distance, confidence = V::load(c.confidence + x);
    auto usable = confidence >= V(kMinConfidence);
    if (!kTwo) {
        distance = t0 * V(setup.wrap);
    } else {
        const FrequencyPair& pair = setup.pair;
        const V m0 = static_cast<float>(pair.m0);
        const V m1 = static_cast<float>(pair.m1);
        const V reciprocalM0 = 1.0f / static_cast<float>(pair.m0);
        const V t1 = fractionOfTurnOf(phaseTurnsAt(sq[1], si[1], parts[1], ratio[1]) -
                                      (V::load(grid1 + x) + V(setup.frameOffset[1])));
        // e = m0 t1 - m1 t0 and r = round(e), in -m1..m0 since both phases lie in [0, 1);
        // n0 = r k mod m0, taken as (s k + m0 - 1) mod m0 of s = r + m1 >= 0 (m1 k = 1), and
        // n1 = (m1 n0 - r) / m0, a whole number in -1..m1. All small whole floats, exact.
        const V e = m0 * t1 - m1 * t0;
        const V r = nearestWhole(e);
        const V residual = abs(e - r);
        const V product = (r + m1) * V(static_cast<float>(pair.inverse)) + (m0 - V(1.0f));
        const V n0 = product - m0 * truncate((product + V(0.5f)) * reciprocalM0);
        const V n1 = nearestWhole((m1 * n0 - r) * reciprocalM0);
        distance = V(pair.weight[0]) * (n0 + t0) * V(pair.wrap[0]) +
                   V(pair.weight[1]) * (n1 + t1) * V(pair.wrap[1]);
        const V unambiguous = pair.unambiguousMillimetres;
        distance = select(distance < V(0.0f), distance + unambiguous, distance);
        distance = select(distance >= unambiguous, distance - unambiguous, distance);
        confidence = confidence * (V(1.0f) - V(2.0f) * residual);
        usable = (confidence >= V(kMinConfidence)) & (residual <= V(kMaxResidual));
    }
    usable = usable & (distance >= V(setup.range.minimum)) & (distance <= V(setup.range.maximum));
    select(usable, distance, V(0.0f)).store(out.depth + x);
    amplitude.store(out.amplitude + x);
    select(usable, confidence, V(0.0f)).store(out.confidence + x);
}

// Runs over whole vectors: the rows have kRowTail columns of room after the last pixel.
template <class V, bool kTwo, int kRadius, int kGrayRadius>
void finishLoop(const PreparedRow* window, const float* grid0, const float* grid1,
                const DepthRow& out, const FrameSetup& setup, int width) {
    for (int x = 0; x < width; x += V::kLanes)
        finishBlock<V, kTwo, kRadius, kGrayRadius>(window, grid0, grid1, out, setup, x);
}

template <class V, bool kTwo, int kRadius>
void finishLoop(const PreparedRow* window, const float* grid0, const float* grid1,
                const DepthRow& out, const FrameSetup& setup, int width) {
    switch (setup.filters.grayRadius) {
        case 0:
            return finishLoop<V, kTwo, kRadius, 0>(window, grid0, grid1, out, setup, width);
        case 1:
            return finishLoop<V, kTwo, kRadius, 1>(window, grid0, grid1, out, setup, width);
        default:
            return finishLoop<V, kTwo, kRadius, 2>(window, grid0, grid1, out, setup, width);
    }
}

template <class V, bool kTwo>
void finishLoop(const PreparedRow* window, const float* grid0, const float* grid1,
                const DepthRow& out, const FrameSetup& setup, int width) {
    switch (setup.filters.depthRadius) {
        case 0:
            return finishLoop<V, kTwo, 0>(window, grid0, grid1, out, setup, width);
        case 1:
            return finishLoop<V, kTwo, 1>(window, grid0, grid1, out, setup, width);
        default:
            return finishLoop<V, kTwo, 2>(window, grid0, grid1, out, setup, width);
    }
}

// Step 10: the depth rows are padded by kRowPad repeated columns.
template <class V, int kReach>
ZELVO_DEPTH_INLINE void repairBlock(const DepthRow* window, const DepthRow& out,
                                    const FrameSetup& setup, int x) {
    const DepthRow& c = window[kReach];
    const V depth = V::load(c.depth + x);
    const V confidence = V::load(c.confidence + x);
    auto flying = depth < V(0.0f);  // none yet
    const V margin = setup.filters.flyingMargin;
    const V jump = setup.filters.flyingJump;
    const V zero = 0.0f;
    static constexpr int kAxes[4][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}};
    for (int k = 1; k <= kReach; ++k) {
        for (const auto& axis : kAxes) {
            const V a = V::load(window[kReach - k * axis[1]].depth + x - k * axis[0]);
            const V b = V::load(window[kReach + k * axis[1]].depth + x + k * axis[0]);
            // Both valid (depths are never negative), far apart, and the pixel near neither.
            flying = flying | ((min(a, b) > zero) & (abs(a - b) > jump * max(a, b)) &
                               (min(abs(depth - a), abs(depth - b)) > margin));
        }
    }
    select(flying, zero, depth).store(out.depth + x);
    V::load(c.amplitude + x).store(out.amplitude + x);
    select(flying, zero, confidence).store(out.confidence + x);
}

template <class V, int kReach>
void repairLoop(const DepthRow* window, const DepthRow& out, const FrameSetup& setup,
                int width) {
    int x = 0;
    for (; x + V::kLanes <= width; x += V::kLanes) repairBlock<V, kReach>(window, out, setup, x);
    for (; x < width; ++x) repairBlock<Scalar, kReach>(window, out, setup, x);
}

template <class V>
void repair(const DepthRow* window, const DepthRow& out, const FrameSetup& setup, int width) {
    switch (setup.filters.flyingReach) {
        case 0:
            return repairLoop<V, 0>(window, out, setup, width);
        case 1:
            return repairLoop<V, 1>(window, out, setup, width);
        default:
            return repairLoop<V, 2>(window, out, setup, width);
    }
}

template <class V>
void prepare(const SampleRows& in, const StateRows& state, const PreparedRow& out,
             const FrameSetup& setup, int width) {
    if (setup.twoFrequencies)
        prepareLoop<V, true>(in, state, out, setup, width);
    else
        prepareLoop<V, false>(in, state, out, setup, width);
}

template <class V>
void finish(const PreparedRow* window, const float* grid0, const float* grid1, const DepthRow& out,
            const FrameSetup& setup, int width) {
    if (setup.twoFrequencies)
        finishLoop<V, true>(window, grid0, grid1, out, setup, width);
    else
        finishLoop<V, false>(window, grid0, grid1, out, setup, width);
}

}  // namespace loops

template <class V>
PixelLoops pixelLoopsOf(const char* name) {
    return {name, &loops::prepare<V>, &loops::finish<V>, &loops::repair<V>};
}

}  // namespace ZELVO_DEPTH_ISA
}  // namespace ZelvoDepth
