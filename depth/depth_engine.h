// One handle of the depth library: the output size and frequency mode, the calibration and
// configuration directory for the next start, and what a start prepares (parameters,
// per-pixel offsets) so that a frame needs no allocation and one pass over its samples.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "depth/algorithm_parameters.h"
#include "depth/calibration.h"
#include "depth/calibration_offsets.h"
#include "depth/depth_rows.h"
#include "depth/raw_frame.h"

namespace ZelvoDepth {

class DepthEngine {
public:
    // Output sizes: wide enough for the embedded header, within its 16-bit fields.
    static constexpr int kMinWidth = 29;
    static constexpr int kMaxSize = 65535;

    // Sets the size and forgets the calibration, the configuration directory and the start;
    // false (and no size) for a size out of bounds.
    bool init(int width, int height);
    // Parses and keeps a calibration for the next start; false, keeping none, when malformed.
    bool setCalibration(const uint8_t* data, size_t length);
    // Directory of kAlgorithmParametersFile for the next start; null or empty: working directory.
    void setConfigDirectory(const char* directory);
    // Reads the parameters and expands the calibration: false without a size. Allocates.
    bool start();

    bool singleFrequency() const { return singleFrequency_.load(std::memory_order_relaxed); }
    void setSingleFrequency(bool single) {
        singleFrequency_.store(single, std::memory_order_relaxed);
    }

    // One raw frame of the mode read at the call's beginning into the three planes. false
    // when not started (planes untouched) or for a frame that does not fit (planes zeroed).
    bool computeFrame(const uint16_t* raw, float* depth, float* amplitude, float* confidence);

private:
    void computeSingleFrequency(const uint16_t* raw, const RawFrameInfo& info,
                                const OutputRow& planes) const;
    void computeDoubleFrequency(const uint16_t* raw, const RawFrameInfo& info,
                                const FrequencyPair& pair, const OutputRow& planes) const;
    FrequencyRow frequencyRow(const uint16_t* raw, int firstSubFrame, const PhaseOffsets& offsets,
                              int y) const;
    OutputRow outputRow(const OutputRow& planes, int y) const;
    // Points demodulated_ into rowScratch_, sized for the width.
    void prepareRowScratch();
    void zero(const OutputRow& planes) const;

    int width_ = 0;
    int height_ = 0;
    std::atomic<bool> singleFrequency_{true};
    std::optional<Calibration> calibration_;
    std::string configDirectory_;

    bool started_ = false;
    AlgorithmParameters parameters_;
    ValidRange validRange_;
    CalibrationOffsets offsets_;
    std::vector<float> rowScratch_;       // the arrays of demodulated_
    DemodulatedRow demodulated_[2] = {};  // one row of each frequency between the two steps
};

}  // namespace ZelvoDepth
