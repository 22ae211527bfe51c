// The simulated VGA time-of-flight sensor: raw frames in the depth library's format
// (docs/raw-format.md), rendered from the scene with several rays per pixel, the module's
// fixed-pattern phase offsets, and the compact calibration (docs/calibration-format.md)
// that its calibration memory holds for them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "depth/calibration.h"
#include "sim/noise_source.h"
#include "sim/scene.h"
#include "sim/settings.h"

namespace Zelvo::sim {

constexpr uint32_t kVgaWidth = 640;
constexpr uint32_t kVgaHeight = 480;

// Modulation frequencies: single-frequency mode, and the pair of double-frequency mode.
constexpr uint32_t kVgaSingleFrequencyHz = 119916983;    // wraps at 1250 mm
constexpr uint32_t kVgaDoubleFrequencyHz[2] = {99930819,   // wraps at 1500 mm
                                               66620546};  // wraps at 2250 mm

// Where the calibration starts in the module's memory.
constexpr uint32_t kVgaCalibrationOffset = 80;

// A frame the sensor streams: an output of width x height in sub-frames of height + 1 rows
// (header row first), 5 of them single-frequency, 10 double-frequency.
struct VgaMode {
    uint32_t width;
    uint32_t height;
    int subFrames;
    uint32_t rows() const { return (height + 1) * static_cast<uint32_t>(subFrames); }
    size_t samples() const { return static_cast<size_t>(width) * rows(); }
};

// The sensor's modes, full size single-frequency first (its default).
const std::vector<VgaMode>& vgaModes();
// The mode of exactly this frame size, or null.
const VgaMode* findVgaMode(uint32_t width, uint32_t rows);
// The mode a requested frame size gets: the exact one, else the nearest.
const VgaMode& nearestVgaMode(uint32_t width, uint32_t rows);

class VgaSensor {
public:
    // Sub-rays per pixel along each axis: their returns mix in the pixel's signal.
    static constexpr int kRaysPerAxis = 4;
    // Width of a pixel's footprint in pixel pitches: the lens blurs each pixel over half of
    // its neighbours, so a depth edge mixes into pixels on both of its sides wherever it
    // falls, as on a real camera, not only where it cuts a pixel.
    static constexpr double kFootprintPixels = 2.0;
    // Sensor temperature the headers carry, and the calibration's reference.
    static constexpr double kTemperatureCelsius = 40.0;

    explicit VgaSensor(const Settings& settings);
    ~VgaSensor();

    // What the module's calibration memory holds at kVgaCalibrationOffset: the calibration
    // of its fixed-pattern offsets (all zero without them).
    const ZelvoDepth::Calibration& calibration() const { return calibration_; }
    const std::vector<uint8_t>& calibrationBytes() const { return calibrationBytes_; }
    // The whole memory of this many bytes: a module text, the calibration at
    // kVgaCalibrationOffset, erased bytes (0xFF) after it.
    std::vector<uint8_t> calibrationMemory(size_t bytes) const;
    // The phase in radians the sensor adds at a frequency (0 single, 1 and 2 the pair)
    // for pixel (x, y) of a width x height output.
    double phaseOffset(int frequencySlot, int x, int y, int width, int height) const;

    // The next raw frame of the mode: mode.samples() 12-bit words, valid until the next
    // call. exposure scales the amplitude (1000 is the default) and is the integration time
    // in microseconds the headers carry.
    const uint16_t* nextFrame(const VgaMode& mode, int exposure);

private:
    struct PixelSignals;

    // A mode's noiseless sample parts at one exposure: the light level of the illuminated
    // exposures, the ambient level, and per frequency the demodulated part and its noise.
    struct SampleParts {
        std::vector<float> level;
        std::vector<float> background;
        std::vector<float> real[2];
        std::vector<float> imaginary[2];
        std::vector<float> sigma[2];
    };

    const PixelSignals& signals(uint32_t width, uint32_t height);
    void prepareSamples(const VgaMode& mode, int exposure);
    void renderPixels(const VgaMode& mode, uint16_t* frame);
    void writeHeaders(const VgaMode& mode, int exposure, uint16_t* frame) const;

    const Scene scene_;
    const bool noise_;
    const bool fixedPattern_;
    NoiseSource noiseSource_;
    ZelvoDepth::Calibration calibration_;
    std::vector<uint8_t> calibrationBytes_;
    std::vector<std::unique_ptr<PixelSignals>> signals_;  // per output size, made on first use

    // The frame handed out last; noiseless pixels are rendered once per mode and exposure.
    SampleParts samples_;
    std::vector<uint16_t> frame_;
    const VgaMode* frameMode_ = nullptr;
    int frameExposure_ = -1;
    uint32_t frameCounter_ = 0;
};

}  // namespace Zelvo::sim
