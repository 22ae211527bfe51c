// The simulated HQVGA time-of-flight sensor: its controls, its frame rate and the four
// phase images it renders from the scene for every depth frame.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/noise_source.h"
#include "sim/scene.h"
#include "sim/settings.h"

namespace Zelvo::sim {

constexpr int kSensorWidth = 240;
constexpr int kSensorHeight = 180;
constexpr int kPhasesPerFrame = 4;
constexpr int kSamplesPerPhase = kSensorWidth * kSensorHeight;

// Range control: 0 selects 37.5 MHz (4000 mm), 1 selects 75 MHz (2000 mm).
constexpr int kRangeControlMin = 0;
constexpr int kRangeControlMax = 1;
constexpr int kExposureMin = 1;
constexpr int kExposureMax = 4000;
constexpr int kExposureDefault = 1000;
constexpr int kFrameRateMax = 240;

class TofSensor {
public:
    explicit TofSensor(const Settings& settings);

    int rangeControl() const { return rangeControl_; }
    int exposure() const { return exposure_; }
    void setRangeControl(int value) { rangeControl_ = value; }
    void setExposure(int value) { exposure_ = value; }
    double modulationFrequencyHz() const;

    // Depth frames per second of the running sensor; 0 when it runs free (as fast as
    // frames are taken).
    int frameRate() const { return frameRate_; }
    uint32_t frameRateRegister() const { return frameRateRegister_; }
    // The frame-rate register: values from 1 on change the frame period.
    void writeFrameRateRegister(uint32_t value);

    // The four phase images of the next depth frame (phase 0 first), each sample the
    // signed 11-bit value the sensor digitised. Valid until the next call.
    const int16_t* nextFrame();

private:
    void prepareSignal();
    void renderInto(int16_t* phases);

    const bool noise_;
    const bool freeRunning_;
    int frameRate_;
    uint32_t frameRateRegister_;
    int rangeControl_ = 0;
    int exposure_ = kExposureDefault;

    SceneImage scene_;
    NoiseSource noiseSource_;

    // Noiseless in-phase and quadrature parts for the current range and exposure.
    int signalRange_ = -1;
    int signalExposure_ = -1;
    std::vector<float> sine_;
    std::vector<float> cosine_;
    std::vector<float> sigma_;

    // Frames handed out: one fresh frame per burst, or a few rendered ahead and cycled
    // when noiseless or free-running.
    std::vector<std::vector<int16_t>> frames_;
    size_t nextCached_ = 0;
    bool cacheValid_ = false;
};

}  // namespace Zelvo::sim
