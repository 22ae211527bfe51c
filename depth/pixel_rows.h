// The rows the pixel loops read and write, the settings they follow, and the table of the
// three loops of one form (portable, SSE2, AVX2, NEON). A frame flows through them row by
// row (docs/depth-library.md, "Pipeline"):
//   prepare (steps 1-3): samples and temporal state -> a prepared row,
//   finish  (steps 4-9): a window of prepared rows -> a depth row,
//   repair  (step 10):   a window of depth rows -> the output row.
#pragma once

#include <cstdint>

#include "depth/frequency_pair.h"

namespace ZelvoDepth {

// A sample at or above this value saturated (12-bit samples; larger ones are not valid).
constexpr float kSaturatedSample = 4095.0f;
// Noise model: a sample's variance is kReadNoise^2 + kShotNoiseGain * L (squared sample
// units), with L the brightest intensity level of the pixel.
constexpr float kReadNoise = 2.0f;
constexpr float kShotNoiseGain = 0.5f;
// Confidence (an amplitude signal-to-noise ratio) below which a pixel has too little signal.
constexpr float kMinConfidence = 3.0f;
// Unwrapping residual (turns) beyond which the two frequencies disagree: invalid.
constexpr float kMaxResidual = 0.25f;

// Repeated columns at each side of a ring row (the widest window's radius) and the room
// after its last pixel for a vector loop's last, partial vector.
constexpr int kRowPad = 2;
constexpr int kRowTail = 8;

// What makes a pixel valid besides saturation and signal: its distance range, millimetres.
struct ValidRange {
    float minimum = 0.0f;
    float maximum = 7000.0f;
};

// The filters as the parameters set them (0 or a radius of 0: off).
struct FilterSettings {
    float depthAlpha = 0.0f;  // temporal, signal; 0: off
    float grayAlpha = 0.0f;   // temporal, amplitude; 0: off
    int depthRadius = 0;      // spatial, signal
    float depthStrength = 0;  // k^2
    int grayRadius = 0;       // spatial, amplitude
    float grayStrength = 0;
    int flyingReach = 0;  // flying pixels: offsets 1..K; 0: off
    float flyingMargin = 0.0f;
    float flyingJump = 0.0f;
};

// Levels 0..5 of the parameters file to filter settings.
FilterSettings filterSettings(int temporalDepth, int spatialDepth, int temporalGray,
                              int spatialGray, int flying);

// One frame's constants for the loops.
struct FrameSetup {
    bool twoFrequencies = false;
    FilterSettings filters;
    // Temporal reset thresholds in units of the noise variance; negative: reset every pixel.
    float depthReset = 0.0f;
    float grayReset = 0.0f;
    // Spatial weight scales, per unit of 1 / noise variance.
    float depthSpatialScale = 0.0f;
    float graySpatialScale = 0.0f;
    float frameOffset[2] = {0.0f, 0.0f};  // calibration, turns
    float wrap = 0.0f;                    // single frequency, mm per turn
    FrequencyPair pair;                   // double frequency
    ValidRange range;
};

// The sample rows of one pixel row (frequency 1 and background: double frequency only).
struct SampleRows {
    const uint16_t* phase[2][4];
    const uint16_t* gray;
    const uint16_t* background;
};

// Temporal state of one row: the previous frame's (read) and the next one's (written; null
// for rows another band owns). Components: I0, Q0, I1, Q1, amplitude.
constexpr int kStateComponents = 5;
struct StateRows {
    const float* previous[kStateComponents];
    float* next[kStateComponents];
};

// A prepared row; every pointer is at pixel 0 of a ring row.
struct PreparedRow {
    float* i[2];
    float* q[2];
    float* amplitude;
    float* inverseNoise;  // 1 / v
    float* confidence;    // signal-to-noise, 0 when saturated
};
constexpr int kPreparedArrays = 7;

struct DepthRow {
    float* depth;
    float* amplitude;
    float* confidence;
};

struct PixelLoops {
    const char* name;
    void (*prepare)(const SampleRows& samples, const StateRows& state, const PreparedRow& out,
                    const FrameSetup& setup, int width);
    // `window` holds 2 R + 1 rows, the centre at R = max(depthRadius, grayRadius); the grid
    // rows hold at least width + kRowTail offsets.
    void (*finish)(const PreparedRow* window, const float* grid0, const float* grid1,
                   const DepthRow& out, const FrameSetup& setup, int width);
    // `window` holds 2 K + 1 depth rows, the centre at K = flyingReach.
    void (*repair)(const DepthRow* window, const DepthRow& out, const FrameSetup& setup,
                   int width);
};

enum class LoopForm { Portable, Sse2, Avx2, Neon };

// The loops of a form, or null when it is not built for, or not supported by, this processor.
const PixelLoops* pixelLoops(LoopForm form);
// The fastest form this processor runs.
LoopForm bestLoopForm();
// By name ("portable", "sse2", "avx2", "neon", in any case); false for another name.
bool loopFormNamed(const char* name, LoopForm& form);

}  // namespace ZelvoDepth
