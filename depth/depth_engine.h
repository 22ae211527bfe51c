// One handle of the depth library: the output size and frequency mode, the calibration and
// configuration directory for the next start, and what a start prepares (parameters,
// per-pixel offsets, temporal state, row rings, worker threads) so that a frame needs no
// allocation and one pass over its samples.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "depth/algorithm_parameters.h"
#include "depth/band_workers.h"
#include "depth/calibration.h"
#include "depth/calibration_offsets.h"
#include "depth/pixel_rows.h"
#include "depth/raw_frame.h"

namespace ZelvoDepth {

// Environment variables read at each start (docs/depth-library.md).
constexpr const char* kConfigDirectoryVariable = "ZELVO_DEPTH_CONFIG_DIR";
constexpr const char* kThreadsVariable = "ZELVO_DEPTH_THREADS";
constexpr const char* kLoopFormVariable = "ZELVO_DEPTH_SIMD";
constexpr int kMaxThreads = 16;

class DepthEngine {
public:
    // Output sizes: wide enough for the embedded header, within its 16-bit fields.
    static constexpr int kMinWidth = 29;
    static constexpr int kMaxSize = 65535;

    // Sets the size and forgets the calibration, the configuration directory and the start;
    // false (and no size) for a size out of bounds.
    bool init(int width, int height);
    // Parses and keeps a calibration for the next start; false, keeping none, for no bytes
    // (silently), or with one line on standard error for malformed bytes or a calibration
    // that does not serve the size (calibrationServesOutput).
    bool setCalibration(const uint8_t* data, size_t length);
    // Directory of kAlgorithmParametersFile for the next start; null or empty: the directory
    // in kConfigDirectoryVariable, else the working directory.
    void setConfigDirectory(const char* directory);
    // Reads the parameters and the environment, expands the calibration, allocates the state
    // and rings and starts the workers: false without a size. May throw std::bad_alloc.
    bool start();

    bool singleFrequency() const { return singleFrequency_.load(std::memory_order_relaxed); }
    void setSingleFrequency(bool single) {
        singleFrequency_.store(single, std::memory_order_relaxed);
    }

    // One raw frame of the mode read at the call's beginning into the three planes. false
    // when not started (planes untouched) or for a frame that does not fit (planes zeroed).
    bool computeFrame(const uint16_t* raw, float* depth, float* amplitude, float* confidence);

private:
    // The rings of one band: 2 R + 1 prepared rows and 2 K + 1 depth rows.
    struct BandRings {
        std::vector<float> storage;
        std::vector<PreparedRow> prepared;
        std::vector<DepthRow> depth;
    };
    // What the bands of the frame being computed share.
    struct FrameJob {
        const uint16_t* raw = nullptr;
        FrameSetup setup;
        PhaseOffsets offsets[2];
        DepthRow planes{};
    };

    static void bandTask(void* engine, int band);
    void computeBand(int band);
    void prepareRow(BandRings& rings, int y, bool owned);
    void repairRow(BandRings& rings, int y);
    void readEnvironment();
    void prepareRings();
    void zero(const DepthRow& planes) const;

    int width_ = 0;
    int height_ = 0;
    std::atomic<bool> singleFrequency_{true};
    std::optional<Calibration> calibration_;
    std::string configDirectory_;

    bool started_ = false;
    AlgorithmParameters parameters_;
    FilterSettings filters_;
    ValidRange validRange_;
    CalibrationOffsets offsets_;
    const PixelLoops* loops_ = nullptr;
    int threads_ = 1;
    size_t stride_ = 0;  // floats of a ring row
    int ringRadius_ = 0;  // R: the wider spatial window's radius

    // Temporal state: two sets of kStateComponents planes, the previous frame's and the next.
    std::vector<float> state_;
    int previousState_ = 0;
    bool stateValid_ = false;
    bool lastSingle_ = true;
    uint32_t lastFrequencyHz_[2] = {0, 0};

    std::vector<BandRings> rings_;
    FrameJob job_;
    BandWorkers workers_;
};

}  // namespace ZelvoDepth
