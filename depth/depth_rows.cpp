#include "depth/depth_rows.h"

#include <algorithm>
#include <cmath>

#include "depth/phase_turns.h"

namespace ZelvoDepth {
namespace {

// The squared ratio of the amplitude to its noise: with a sample variance v, I and Q have
// variance 2 v and the amplitude v / 2, so the ratio is sqrt(2 a^2 / v).
inline float squaredConfidence(float power, float level) {
    return power / (kReadNoise * kReadNoise + kShotNoiseGain * level);
}

// Rounds a value of at least -kRoundingBias to the nearest whole number.
constexpr float kRoundingBias = 64.0f;
inline float nearestWhole(float value) {
    return static_cast<float>(static_cast<int>(value + (kRoundingBias + 0.5f))) - kRoundingBias;
}

// & rather than &&: no branches.
inline bool isValid(float distance, float confidence, float top, const ValidRange& range) {
    return (top < kSaturatedSample) & (confidence >= kMinConfidence) & (distance >= range.minimum) &
           (distance <= range.maximum);
}

// The loops take restrict parameters: with no aliasing between inputs and outputs to fear
// and no branches, each loop becomes vector code where the compiler can make it so.
void demodulateLoop(const uint16_t* __restrict phase0, const uint16_t* __restrict phase1,
                    const uint16_t* __restrict phase2, const uint16_t* __restrict phase3,
                    const float* __restrict gridOffset, float frameOffset, float* __restrict turns,
                    float* __restrict amplitude, float* __restrict power, float* __restrict mean,
                    float* __restrict top, int width) {
    for (int x = 0; x < width; ++x) {
        const float s0 = phase0[x];
        const float s1 = phase1[x];
        const float s2 = phase2[x];
        const float s3 = phase3[x];
        const float i = s0 - s2;
        const float q = s1 - s3;
        const float squares = i * i + q * q;
        turns[x] = fractionOfTurn(phaseTurns(q, i) - (gridOffset[x] + frameOffset));
        amplitude[x] = 0.5f * std::sqrt(squares);
        power[x] = 0.5f * squares;
        mean[x] = 0.25f * ((s0 + s1) + (s2 + s3));
        top[x] = std::max(std::max(s0, s1), std::max(s2, s3));
    }
}

void finishSingleLoop(const float* __restrict turns, const float* __restrict amplitude,
                      const float* __restrict power, const float* __restrict mean,
                      const float* __restrict top, const uint16_t* __restrict gray,
                      float wrapMillimetres, ValidRange range, float* __restrict depthOut,
                      float* __restrict amplitudeOut, float* __restrict confidenceOut, int width) {
    for (int x = 0; x < width; ++x) {
        const float confidence =
            std::sqrt(squaredConfidence(power[x], std::max<float>(mean[x], gray[x])));
        const float distance = turns[x] * wrapMillimetres;
        const bool usable = isValid(distance, confidence, std::max<float>(top[x], gray[x]), range);
        depthOut[x] = usable ? distance : 0.0f;
        amplitudeOut[x] = amplitude[x];
        confidenceOut[x] = usable ? confidence : 0.0f;
    }
}

void finishDoubleLoop(const float* __restrict turns0, const float* __restrict turns1,
                      const float* __restrict amplitude0, const float* __restrict amplitude1,
                      const float* __restrict power0, const float* __restrict power1,
                      const float* __restrict mean0, const float* __restrict mean1,
                      const float* __restrict top0, const float* __restrict top1,
                      const uint16_t* __restrict gray, const uint16_t* __restrict background,
                      const FrequencyPair& pair, ValidRange range, float* __restrict depthOut,
                      float* __restrict amplitudeOut, float* __restrict confidenceOut, int width) {
    const float m0 = static_cast<float>(pair.m0);
    const float m1 = static_cast<float>(pair.m1);
    const float inverse = static_cast<float>(pair.inverse);
    const float reciprocalM0 = 1.0f / m0;
    const float wrap0 = pair.wrap[0];
    const float wrap1 = pair.wrap[1];
    const float weight0 = pair.weight[0];
    const float weight1 = pair.weight[1];
    const float unambiguous = pair.unambiguousMillimetres;
    for (int x = 0; x < width; ++x) {
        const float undemodulated = std::max<float>(gray[x], background[x]);
        const float confidence =
            std::sqrt(std::min(squaredConfidence(power0[x], std::max(mean0[x], undemodulated)),
                               squaredConfidence(power1[x], std::max(mean1[x], undemodulated))));

        // r = round(m0 t1 - m1 t0), in -m1..m0 since both phases lie in [0, 1); then
        // n0 = r k mod m0, taken as (s k + m0 - 1) mod m0 of s = r + m1 >= 0 (m1 k = 1), and
        // n1 = (m1 n0 - r) / m0, a whole number in -1..m1. All small whole floats, exact.
        const float t0 = turns0[x];
        const float t1 = turns1[x];
        const float r = nearestWhole(m0 * t1 - m1 * t0);
        const float product = (r + m1) * inverse + (m0 - 1.0f);
        const float n0 =
            product - m0 * static_cast<float>(static_cast<int>((product + 0.5f) * reciprocalM0));
        const float n1 = nearestWhole((m1 * n0 - r) * reciprocalM0);
        float distance = weight0 * (n0 + t0) * wrap0 + weight1 * (n1 + t1) * wrap1;
        distance = distance < 0.0f ? distance + unambiguous : distance;
        distance = distance >= unambiguous ? distance - unambiguous : distance;

        const float top = std::max(std::max(top0[x], top1[x]), undemodulated);
        const bool usable = isValid(distance, confidence, top, range);
        depthOut[x] = usable ? distance : 0.0f;
        amplitudeOut[x] = 0.5f * (amplitude0[x] + amplitude1[x]);
        confidenceOut[x] = usable ? confidence : 0.0f;
    }
}

}  // namespace

void demodulateRow(const FrequencyRow& in, const DemodulatedRow& out, int width) {
    demodulateLoop(in.phase[0], in.phase[1], in.phase[2], in.phase[3], in.gridOffset,
                   in.frameOffset, out.turns, out.amplitude, out.power, out.mean, out.top, width);
}

void finishSingleFrequencyRow(const DemodulatedRow& phase, const uint16_t* gray,
                              float wrapMillimetres, const ValidRange& range, const OutputRow& out,
                              int width) {
    finishSingleLoop(phase.turns, phase.amplitude, phase.power, phase.mean, phase.top, gray,
                     wrapMillimetres, range, out.depth, out.amplitude, out.confidence, width);
}

void finishDoubleFrequencyRow(const DemodulatedRow& first, const DemodulatedRow& second,
                              const uint16_t* gray, const uint16_t* background,
                              const FrequencyPair& pair, const ValidRange& range,
                              const OutputRow& out, int width) {
    finishDoubleLoop(first.turns, second.turns, first.amplitude, second.amplitude, first.power,
                     second.power, first.mean, second.mean, first.top, second.top, gray, background,
                     pair, range, out.depth, out.amplitude, out.confidence, width);
}

}  // namespace ZelvoDepth
