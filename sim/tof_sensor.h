// The simulated time-of-flight sensor: its controls, its frame rate, its calibration
// memory and its frames. The HQVGA sensor renders four phase images from the scene for
// every depth frame; the VGA sensor (sim/vga_sensor.h) one raw frame of the mode its frame
// size selects.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/noise_source.h"
#include "sim/replay_source.h"
#include "sim/scene.h"
#include "sim/settings.h"
#include "sim/vga_sensor.h"

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
    ~TofSensor();

    bool isVga() const { return vga_ != nullptr; }
    // The frame one capture buffer carries by default: a 240 x 180 phase image, or the
    // VGA sensor's full-size single-frequency raw frame.
    uint32_t defaultFrameWidth() const;
    uint32_t defaultFrameHeight() const;
    // The frame size the sensor streams for a requested one: its single size (HQVGA) or
    // the nearest of its modes (VGA).
    void fitFrameSize(uint32_t& width, uint32_t& height) const;
    // Frames the sensor sends per depth frame, one per capture buffer.
    int subFramesPerFrame() const { return vga_ ? 1 : kPhasesPerFrame; }
    // A byte of the module's calibration memory.
    uint8_t calibrationByte(uint32_t address) const;
    // The VGA sensor's next raw frame for a frame of this size, fitted to a mode (mode
    // says which); null on the HQVGA sensor. Valid until the next call.
    const uint16_t* nextVgaFrame(uint32_t width, uint32_t rows, const VgaMode*& mode);

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

    std::unique_ptr<VgaSensor> vga_;
    std::vector<uint8_t> calibrationMemory_;  // the VGA module's

    // A recording served in place of the scene, or null.
    std::shared_ptr<ReplaySource> replay_;
};

}  // namespace Zelvo::sim
