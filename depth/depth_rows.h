// The per-pixel arithmetic of the depth library, one output row at a time: demodulation,
// calibration offsets, distance (unwrapped over two frequencies in double-frequency mode),
// confidence and the validity rules. Inputs and outputs are plain arrays, structure of
// arrays, so that a SIMD form of a row function can replace the portable one.
#pragma once

#include <cstdint>

#include "depth/frequency_pair.h"

namespace ZelvoDepth {

// A sample at or above this value saturated (12-bit samples; larger ones are not valid).
constexpr float kSaturatedSample = 4095.0f;

// Noise model of the confidence: a sample's variance is kReadNoise^2 + kShotNoiseGain * L
// (in squared sample units), with L the brightest intensity level of the pixel.
constexpr float kReadNoise = 2.0f;
constexpr float kShotNoiseGain = 0.5f;
// Confidence (an amplitude signal-to-noise ratio) below which a pixel has too little signal.
constexpr float kMinConfidence = 3.0f;

// What makes a pixel valid besides saturation and signal: its distance range, millimetres.
struct ValidRange {
    float minimum = 0.0f;
    float maximum = 7000.0f;
};

// The three output rows.
struct OutputRow {
    float* depth;
    float* amplitude;
    float* confidence;
};

// One frequency's four phase rows and its offsets.
struct FrequencyRow {
    const uint16_t* phase[4];
    const float* gridOffset;  // turns per pixel
    float frameOffset;        // turns, for the whole frame
};

// One frequency of one row after demodulation: row-long arrays the engine keeps from its
// start, small enough to stay in the first-level cache between the two steps of a row.
struct DemodulatedRow {
    float* turns;      // phase after the calibration offsets, [0, 1)
    float* amplitude;  // sqrt(I^2 + Q^2) / 2
    float* power;      // (I^2 + Q^2) / 2, twice the squared amplitude
    float* mean;       // mean of the four samples: the light level of the phase exposures
    float* top;        // largest of the four samples
};

// Step 1 of a row, once per frequency: demodulation and the calibration offsets.
void demodulateRow(const FrequencyRow& in, const DemodulatedRow& out, int width);

// Step 2: distance, confidence and validity from one frequency and the gray row...
void finishSingleFrequencyRow(const DemodulatedRow& phase, const uint16_t* gray,
                              float wrapMillimetres, const ValidRange& range, const OutputRow& out,
                              int width);
// ... or from two frequencies, unwrapped, and the gray and background rows.
void finishDoubleFrequencyRow(const DemodulatedRow& first, const DemodulatedRow& second,
                              const uint16_t* gray, const uint16_t* background,
                              const FrequencyPair& pair, const ValidRange& range,
                              const OutputRow& out, int width);

}  // namespace ZelvoDepth
