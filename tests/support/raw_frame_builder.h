// Synthetic raw frames of the depth library's format (docs/raw-format.md) with known
// distances, amplitudes, light levels and sensor phase errors, for tests and benchmarks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "depth/raw_frame.h"
#include "depth/raw_header.h"
#include "sim/noise_source.h"

namespace ZelvoDepth::testing {

// Frequencies of the reference sensor: 1250 mm single, 1500 mm and 2250 mm double.
constexpr uint32_t kSingleFrequencyHz = 119916983;
constexpr uint32_t kDoubleFrequencyHz[2] = {99930819, 66620546};

// What one pixel sees, in 12-bit sample units.
struct SyntheticPixel {
    double distanceMm = 1000.0;
    double amplitude = 400.0;  // a of S_k = B + a cos(phi - k pi / 2)
    double offset = 1000.0;    // B
    double gray = 1200.0;
    double background = 200.0;
    // A second surface seen by the same pixel (at a depth edge): its share of the light,
    // 0 to 1, mixes the two complex signals; the first surface keeps the rest.
    double secondShare = 0.0;
    double secondDistanceMm = 0.0;
    double secondAmplitude = 0.0;
};

class RawFrameBuilder {
public:
    using Scene = std::function<SyntheticPixel(int x, int y)>;
    // Phase in radians that the sensor adds at frequency index 0 or 1 and pixel (x, y).
    using PhaseError = std::function<double(int frequency, int x, int y)>;

    RawFrameBuilder(int width, int height, bool singleFrequency)
        : width_(width), height_(height), subFrames_(singleFrequency ? 5 : 10) {
        if (singleFrequency) frequencyHz_[0] = kSingleFrequencyHz;
    }

    RawFrameBuilder& frequencies(uint32_t f0, uint32_t f1 = 0) {
        frequencyHz_[0] = f0;
        frequencyHz_[1] = f1;
        return *this;
    }
    RawFrameBuilder& temperature(double celsius) {
        temperatureSixteenths_ = static_cast<int16_t>(std::lround(celsius * 16.0));
        return *this;
    }
    RawFrameBuilder& frameCounter(uint32_t counter) {
        frameCounter_ = counter;
        return *this;
    }
    RawFrameBuilder& scene(Scene scene) {
        scene_ = std::move(scene);
        return *this;
    }
    RawFrameBuilder& phaseError(PhaseError error) {
        phaseError_ = std::move(error);
        return *this;
    }
    // Gaussian noise of this standard deviation on every pixel sample.
    RawFrameBuilder& noise(double sigma, uint32_t seed = 1) {
        noiseSigma_ = sigma;
        seed_ = seed;
        return *this;
    }
    // Gaussian noise of a sensor instead: read noise and shot noise, the variance of a
    // sample of value s being read^2 + gain * s.
    RawFrameBuilder& sensorNoise(double read, double gain, uint32_t seed = 1) {
        noiseSigma_ = read;
        shotGain_ = gain;
        seed_ = seed;
        return *this;
    }

    int subFrames() const { return subFrames_; }

    std::vector<uint16_t> build() const {
        std::vector<uint16_t> raw(rawSubFrameSamples(width_, height_) * subFrames_);
        for (int index = 0; index < subFrames_; ++index) {
            RawHeader header = expectedSubFrame(index, subFrames_);
            if (header.kind == SubFrameKind::Phase)
                header.frequencyHz = frequencyHz_[header.frequencyIndex];
            header.integrationTimeUs = 1000;
            header.temperatureSixteenths = temperatureSixteenths_;
            header.frameCounter = frameCounter_;
            header.width = static_cast<uint16_t>(width_);
            header.height = static_cast<uint16_t>(height_);
            writeHeader(raw, index, header);
        }
        Zelvo::sim::NoiseSource noise(seed_);
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                const SyntheticPixel pixel = scene_ ? scene_(x, y) : SyntheticPixel{};
                auto put = [&](int index, double value) {
                    const double variance =
                        noiseSigma_ * noiseSigma_ + shotGain_ * std::max(value, 0.0);
                    value += std::sqrt(variance) * noise.gaussian();
                    sample(raw, index, x, y) =
                        static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 4095L));
                };
                for (int index = 0; index < subFrames_; ++index) {
                    const RawHeader place = expectedSubFrame(index, subFrames_);
                    if (place.kind == SubFrameKind::Gray) {
                        put(index, pixel.gray);
                    } else if (place.kind == SubFrameKind::Background) {
                        put(index, pixel.background);
                    } else {
                        const int f = place.frequencyIndex;
                        const double error = phaseError_ ? phaseError_(f, x, y) : 0.0;
                        const double shift = place.phaseIndex * kPi / 2.0;
                        const double phi = truePhase(pixel.distanceMm, frequencyHz_[f]) + error;
                        const double second =
                            truePhase(pixel.secondDistanceMm, frequencyHz_[f]) + error;
                        put(index, pixel.offset +
                                       (1.0 - pixel.secondShare) * pixel.amplitude *
                                           std::cos(phi - shift) +
                                       pixel.secondShare * pixel.secondAmplitude *
                                           std::cos(second - shift));
                    }
                }
            }
        }
        return raw;
    }

    // Header access, for frames made malformed on purpose.
    RawHeader header(const std::vector<uint16_t>& raw, int index) const {
        RawHeader header;
        decodeRawHeader(&raw[rawSubFrameSamples(width_, height_) * index],
                        static_cast<size_t>(width_), header);
        return header;
    }
    void writeHeader(std::vector<uint16_t>& raw, int index, const RawHeader& header) const {
        encodeRawHeader(header, &raw[rawSubFrameSamples(width_, height_) * index],
                        static_cast<size_t>(width_));
    }

private:
    static constexpr double kPi = 3.14159265358979323846;

    static double truePhase(double distanceMm, uint32_t frequencyHz) {
        return 4.0 * kPi * frequencyHz * distanceMm / 299792458.0e3;
    }

    uint16_t& sample(std::vector<uint16_t>& raw, int index, int x, int y) const {
        return raw[rawSubFrameSamples(width_, height_) * index +
                   static_cast<size_t>(width_) * (y + 1) + x];
    }

    int width_;
    int height_;
    int subFrames_;
    uint32_t frequencyHz_[2] = {kDoubleFrequencyHz[0], kDoubleFrequencyHz[1]};
    int16_t temperatureSixteenths_ = 40 * 16;
    uint32_t frameCounter_ = 1;
    Scene scene_;
    PhaseError phaseError_;
    double noiseSigma_ = 0.0;
    double shotGain_ = 0.0;
    uint32_t seed_ = 1;
};

}  // namespace ZelvoDepth::testing
