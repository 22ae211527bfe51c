// The phase offsets a calibration removes, ready for the row loops: each frequency record's
// grid expanded once per start into a plane of per-pixel offsets (bilinear, in turns), and
// per frame the global offset and temperature term of the record nearest the frame's
// frequency.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "depth/calibration.h"

namespace ZelvoDepth {

// The offsets of one frequency in one frame.
struct PhaseOffsets {
    const float* grid = nullptr;  // per-pixel offsets in turns, row by row
    size_t rowStride = 0;         // 0: one row of zeros stands for every row
    float frameTurns = 0.0f;      // global offset and temperature term, in [0, 1) turn

    const float* row(int y) const { return grid + rowStride * static_cast<size_t>(y); }
};

class CalibrationOffsets {
public:
    // Expands the grids of `calibration` (none: no offsets) for a width x height output.
    // Allocates; may throw std::bad_alloc.
    void build(const Calibration* calibration, int width, int height);

    // The offsets for a frame at `frequencyHz` whose sensor stood at `temperatureCelsius`.
    PhaseOffsets forFrequency(uint32_t frequencyHz, float temperatureCelsius) const;

private:
    struct Record {
        uint32_t frequencyHz;
        float globalOffset;            // radians
        float temperatureCoefficient;  // radians per degree Celsius
    };

    std::vector<Record> records_;
    float referenceTemperature_ = 0.0f;
    size_t planeSize_ = 0;
    size_t width_ = 0;
    std::vector<float> planes_;   // one plane per record
    std::vector<float> zeroRow_;  // offsets of a module without calibration
};

}  // namespace ZelvoDepth
