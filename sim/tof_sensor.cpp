#include "sim/tof_sensor.h"

#include <algorithm>
#include <cmath>

#include "sim/sensor_registers.h"

namespace Zelvo::sim {
namespace {

// The value the depth arithmetic of the driver uses, so decoded depth equals the distance.
constexpr double kSpeedOfLight = 300000000.0;
constexpr double kTwoPi = 6.283185307179586;
// Amplitude of a target of reflectance 1 at 1 m with the default exposure, in sample units.
constexpr double kAmplitudeAtOneMetre = 1125.0;
constexpr double kMaxAmplitude = 1000.0;  // keeps samples inside the 11-bit range
constexpr double kReadNoise = 2.0;
constexpr double kShotNoiseFactor = 0.25;
constexpr size_t kCachedNoisyFrames = 4;

}  // namespace

TofSensor::TofSensor(const Settings& settings)
    : noise_(settings.noise),
      freeRunning_(settings.fps == 0),
      frameRate_(settings.fps),
      frameRateRegister_(static_cast<uint32_t>(settings.fps)),
      noiseSource_(settings.seed),
      replay_(settings.replaySource) {
    Scene(settings.scene).render(kSensorWidth, kSensorHeight, scene_);
    size_t frameCount = (!noise_) ? 1 : (freeRunning_ ? kCachedNoisyFrames : 1);
    frames_.assign(frameCount, std::vector<int16_t>(kPhasesPerFrame * kSamplesPerPhase));
    if (settings.sensor == "vga") {
        vga_ = std::make_unique<VgaSensor>(settings);
        calibrationMemory_ = vga_->calibrationMemory(kCalibrationMemoryBytes);
    }
}

TofSensor::~TofSensor() = default;

uint32_t TofSensor::defaultFrameWidth() const {
    return vga_ ? vgaModes().front().width : kSensorWidth;
}

uint32_t TofSensor::defaultFrameHeight() const {
    return vga_ ? vgaModes().front().rows() : kSensorHeight;
}

void TofSensor::fitFrameSize(uint32_t& width, uint32_t& height) const {
    if (!vga_) {
        width = kSensorWidth;
        height = kSensorHeight;
        return;
    }
    const VgaMode& mode = nearestVgaMode(width, height);
    width = mode.width;
    height = mode.rows();
}

uint8_t TofSensor::calibrationByte(uint32_t address) const {
    if (!vga_) return SensorRegisters::calibrationByte(address);
    return calibrationMemory_[address % calibrationMemory_.size()];
}

const uint16_t* TofSensor::nextVgaFrame(uint32_t width, uint32_t rows, const VgaMode*& mode) {
    if (!vga_) return nullptr;
    mode = &nearestVgaMode(width, rows);
    if (replay_) return replay_->nextVgaFrame(mode->width, mode->rows());
    return vga_->nextFrame(*mode, exposure_);
}

double TofSensor::modulationFrequencyHz() const {
    return rangeControl_ != 0 ? 75000000.0 : 37500000.0;
}

void TofSensor::writeFrameRateRegister(uint32_t value) {
    frameRateRegister_ = value;
    if (value == 0 || freeRunning_) return;
    frameRate_ = static_cast<int>(std::min<uint32_t>(value, kFrameRateMax));
}

void TofSensor::prepareSignal() {
    if (signalRange_ == rangeControl_ && signalExposure_ == exposure_) return;
    signalRange_ = rangeControl_;
    signalExposure_ = exposure_;
    cacheValid_ = false;
    sine_.resize(kSamplesPerPhase);
    cosine_.resize(kSamplesPerPhase);
    sigma_.resize(kSamplesPerPhase);
    const double frequency = modulationFrequencyHz();
    const double exposureScale = static_cast<double>(exposure_) / kExposureDefault;
    for (int i = 0; i < kSamplesPerPhase; ++i) {
        double distanceMm = scene_.distanceMm[i];
        double amplitude = 0.0;
        double phase = 0.0;
        if (distanceMm > 0.0) {
            double metres = distanceMm / 1000.0;
            amplitude = kAmplitudeAtOneMetre * exposureScale * scene_.reflectance[i] /
                        (metres * metres);
            amplitude = std::min(amplitude, kMaxAmplitude);
            // Round trip: the light travels twice the radial distance.
            phase = std::fmod(kTwoPi * frequency * 2.0 * metres / kSpeedOfLight, kTwoPi);
        }
        sine_[i] = static_cast<float>(amplitude * std::sin(phase));
        cosine_[i] = static_cast<float>(amplitude * std::cos(phase));
        sigma_[i] = static_cast<float>(std::sqrt(kReadNoise * kReadNoise +
                                                 kShotNoiseFactor * amplitude));
    }
}

void TofSensor::renderInto(int16_t* phases) {
    // Phase order as the depth arithmetic reads it back:
    //   37.5 MHz: P2 - P0 = 2A sin, P3 - P1 = 2A cos
    //   75 MHz:   P1 - P3 = 2A sin, P2 - P0 = 2A cos
    // Each phase carries one component, sine or cosine, with a sign.
    struct PhaseSignal {
        const float* component;
        float sign;
    };
    const float* sine = sine_.data();
    const float* cosine = cosine_.data();
    const PhaseSignal lowFrequency[4] = {
        {sine, -1.0f}, {cosine, -1.0f}, {sine, 1.0f}, {cosine, 1.0f}};
    const PhaseSignal highFrequency[4] = {
        {cosine, -1.0f}, {sine, 1.0f}, {cosine, 1.0f}, {sine, -1.0f}};
    const PhaseSignal* signals = rangeControl_ != 0 ? highFrequency : lowFrequency;
    for (int k = 0; k < kPhasesPerFrame; ++k) {
        int16_t* out = phases + static_cast<size_t>(k) * kSamplesPerPhase;
        const float* component = signals[k].component;
        const float sign = signals[k].sign;
        for (int i = 0; i < kSamplesPerPhase; ++i) {
            float value = sign * component[i];
            if (noise_) value += sigma_[i] * noiseSource_.gaussian();
            long rounded = std::lround(value);
            out[i] = static_cast<int16_t>(std::clamp(rounded, -1024L, 1023L));
        }
    }
}

const int16_t* TofSensor::nextFrame() {
    if (replay_) return replay_->nextPhaseImages();
    prepareSignal();
    const bool cached = !noise_ || freeRunning_;
    if (!cached) {
        renderInto(frames_[0].data());
        return frames_[0].data();
    }
    if (!cacheValid_) {
        for (auto& frame : frames_) renderInto(frame.data());
        cacheValid_ = true;
        nextCached_ = 0;
    }
    const int16_t* frame = frames_[nextCached_].data();
    nextCached_ = (nextCached_ + 1) % frames_.size();
    return frame;
}

}  // namespace Zelvo::sim
