#include "sim/vga_sensor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "depth/raw_frame.h"
#include "depth/raw_header.h"

namespace Zelvo::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kLightMillimetresPerSecond = 299792458.0e3;

// Signal levels in 12-bit sample units: the amplitude of a target of reflectance 1 at 1 m
// with the default exposure, the most return the pixel holds (its brightest sample, twice
// that over the ambient level, stays below 4095), the black level, and the ambient light a
// surface of reflectance 1 returns.
constexpr double kAmplitudeAtOneMetre = 1125.0;
constexpr double kMaxAmplitude = 1500.0;
constexpr double kBlackLevel = 64.0;
constexpr double kAmbientLevel = 120.0;
constexpr int kDefaultExposure = 1000;
constexpr double kMaxSample = 4095.0;
// Noise as on the HQVGA sensor: read noise and a shot-noise share of the amplitude.
constexpr double kReadNoise = 2.0;
constexpr double kShotNoiseFactor = 0.25;

// Frequencies by slot: 0 the single frequency, 1 and 2 the double-frequency pair.
constexpr int kFrequencySlots = 3;
constexpr uint32_t kSlotFrequencyHz[kFrequencySlots] = {
    kVgaSingleFrequencyHz, kVgaDoubleFrequencyHz[0], kVgaDoubleFrequencyHz[1]};

// The fixed pattern, as a depth error in millimetres: a global part and a smooth bowl off
// the optical centre, about 12 mm at the centre and up to about 58 mm in the corners. Its
// phase at each frequency is the phase of that distance, so every mode sees the same error.
constexpr double kGlobalPatternMm = 8.0;
constexpr double kBowlBaseMm = 4.0;
constexpr double kBowlMm = 70.0;
constexpr double kBowlCentreU = 0.55;
constexpr double kBowlCentreV = 0.45;
constexpr double kTemperatureCoefficient = 0.0015;  // radians per degree Celsius
constexpr int kGridColumns = 13;
constexpr int kGridRows = 10;

constexpr char kModuleText[] = "ZELVO VGA TOF MODULE";

double focalLength(uint32_t width) {
    return (width / 2.0) / std::tan(kHorizontalFieldOfViewDeg * kPi / 360.0);
}

double radiansPerMillimetre(uint32_t frequencyHz) {
    return kTwoPi / (kLightMillimetresPerSecond / (2.0 * frequencyHz));
}

double bowlMillimetres(double u, double v) {
    const double du = u - kBowlCentreU, dv = v - kBowlCentreV;
    return kBowlBaseMm + kBowlMm * (du * du + dv * dv);
}

// Where pixel `index` of `pixels` lies between grid nodes, as the depth library places it.
void gridPosition(int index, int pixels, int nodes, int& node, double& weight) {
    const double at = pixels > 1 ? static_cast<double>(index) * (nodes - 1) / (pixels - 1) : 0.0;
    node = std::min(static_cast<int>(at), nodes - 2);
    weight = at - node;
}

}  // namespace

// Noiseless signals of one output size at the default exposure, fixed pattern included:
// per frequency slot the pixel's complex return (the sum over its rays), the mean of its
// rays' amplitudes (what the gray exposure sees) and its ambient level.
struct VgaSensor::PixelSignals {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> real[kFrequencySlots];
    std::vector<float> imaginary[kFrequencySlots];
    std::vector<float> meanAmplitude;
    std::vector<float> ambient;
};

const std::vector<VgaMode>& vgaModes() {
    static const std::vector<VgaMode> modes = {
        {kVgaWidth, kVgaHeight, ZelvoDepth::kSingleFrequencySubFrames},
        {kVgaWidth, kVgaHeight, ZelvoDepth::kDoubleFrequencySubFrames},
        {kVgaWidth / 2, kVgaHeight / 2, ZelvoDepth::kSingleFrequencySubFrames},
        {kVgaWidth / 2, kVgaHeight / 2, ZelvoDepth::kDoubleFrequencySubFrames},
    };
    return modes;
}

const VgaMode* findVgaMode(uint32_t width, uint32_t rows) {
    for (const VgaMode& mode : vgaModes())
        if (mode.width == width && mode.rows() == rows) return &mode;
    return nullptr;
}

const VgaMode& nearestVgaMode(uint32_t width, uint32_t rows) {
    const VgaMode* nearest = &vgaModes().front();
    long best = -1;
    for (const VgaMode& mode : vgaModes()) {
        const long distance = std::labs(static_cast<long>(mode.width) - static_cast<long>(width)) +
                              std::labs(static_cast<long>(mode.rows()) - static_cast<long>(rows));
        if (best < 0 || distance < best) {
            best = distance;
            nearest = &mode;
        }
    }
    return *nearest;
}

VgaSensor::VgaSensor(const Settings& settings)
    : scene_(settings.scene),
      noise_(settings.noise),
      fixedPattern_(settings.fixedPattern),
      noiseSource_(settings.seed) {
    calibration_.width = static_cast<uint16_t>(kVgaWidth);
    calibration_.height = static_cast<uint16_t>(kVgaHeight);
    calibration_.gridColumns = kGridColumns;
    calibration_.gridRows = kGridRows;
    const float focal = static_cast<float>(focalLength(kVgaWidth));
    calibration_.lens = {focal, focal, (kVgaWidth - 1) / 2.0f, (kVgaHeight - 1) / 2.0f,
                         0.0f,  0.0f,  0.0f,                   0.0f};
    calibration_.referenceTemperature = static_cast<float>(kTemperatureCelsius);
    for (uint32_t frequencyHz : kSlotFrequencyHz) {
        const double perMm = radiansPerMillimetre(frequencyHz);
        ZelvoDepth::FrequencyCalibration record;
        record.frequencyHz = frequencyHz;
        record.grid.assign(static_cast<size_t>(kGridColumns) * kGridRows, 0);
        if (fixedPattern_) {
            record.globalOffset = static_cast<float>(kGlobalPatternMm * perMm);
            record.temperatureCoefficient = static_cast<float>(kTemperatureCoefficient);
            for (int j = 0; j < kGridRows; ++j) {
                for (int i = 0; i < kGridColumns; ++i) {
                    const double u = static_cast<double>(i) / (kGridColumns - 1);
                    const double v = static_cast<double>(j) / (kGridRows - 1);
                    const double radians = bowlMillimetres(u, v) * perMm;
                    record.grid[static_cast<size_t>(j) * kGridColumns + i] = static_cast<int16_t>(
                        std::lround(radians / ZelvoDepth::kGridOffsetUnit));
                }
            }
        }
        calibration_.frequencies.push_back(std::move(record));
    }
    calibrationBytes_ = ZelvoDepth::encodeCalibration(calibration_);
}

VgaSensor::~VgaSensor() = default;

std::vector<uint8_t> VgaSensor::calibrationMemory(size_t bytes) const {
    std::vector<uint8_t> memory(bytes, 0xFF);  // erased
    std::fill(memory.begin(), memory.begin() + kVgaCalibrationOffset, 0);
    std::copy(kModuleText, kModuleText + sizeof kModuleText - 1, memory.begin());
    std::copy(calibrationBytes_.begin(), calibrationBytes_.end(),
              memory.begin() + kVgaCalibrationOffset);
    return memory;
}

double VgaSensor::phaseOffset(int frequencySlot, int x, int y, int width, int height) const {
    const ZelvoDepth::FrequencyCalibration& record = calibration_.frequencies[frequencySlot];
    int column = 0, row = 0;
    double right = 0.0, down = 0.0;
    gridPosition(x, width, kGridColumns, column, right);
    gridPosition(y, height, kGridRows, row, down);
    const int16_t* top = &record.grid[static_cast<size_t>(row) * kGridColumns];
    const int16_t* bottom = top + kGridColumns;
    const double upper = top[column] + right * (top[column + 1] - top[column]);
    const double lower = bottom[column] + right * (bottom[column + 1] - bottom[column]);
    const double drift = record.temperatureCoefficient *
                         (kTemperatureCelsius - calibration_.referenceTemperature);
    const double grid = ZelvoDepth::kGridOffsetUnit * (upper + down * (lower - upper));
    return record.globalOffset + drift + grid;
}

const VgaSensor::PixelSignals& VgaSensor::signals(uint32_t width, uint32_t height) {
    for (const auto& made : signals_)
        if (made->width == width && made->height == height) return *made;
    auto made = std::make_unique<PixelSignals>();
    made->width = width;
    made->height = height;
    const size_t pixels = static_cast<size_t>(width) * height;
    for (int slot = 0; slot < kFrequencySlots; ++slot) {
        made->real[slot].assign(pixels, 0.0f);
        made->imaginary[slot].assign(pixels, 0.0f);
    }
    made->meanAmplitude.assign(pixels, 0.0f);
    made->ambient.assign(pixels, 0.0f);

    const double focal = focalLength(width);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    constexpr int kRays = kRaysPerAxis * kRaysPerAxis;
    double turnsPerMm[kFrequencySlots];
    for (int slot = 0; slot < kFrequencySlots; ++slot)
        turnsPerMm[slot] = radiansPerMillimetre(kSlotFrequencyHz[slot]) / kTwoPi;
    for (uint32_t row = 0; row < height; ++row) {
        for (uint32_t column = 0; column < width; ++column) {
            double real[kFrequencySlots] = {}, imaginary[kFrequencySlots] = {};
            double amplitudes = 0.0, reflectances = 0.0;
            for (int sy = 0; sy < kRaysPerAxis; ++sy) {
                for (int sx = 0; sx < kRaysPerAxis; ++sx) {
                    // Rays spread evenly over the pixel's footprint.
                    const double px =
                        column + kFootprintPixels * ((sx + 0.5) / kRaysPerAxis - 0.5);
                    const double py = row + kFootprintPixels * ((sy + 0.5) / kRaysPerAxis - 0.5);
                    double ray[3] = {(px - cx) / focal, (py - cy) / focal, 1.0};
                    const double norm = std::sqrt(ray[0] * ray[0] + ray[1] * ray[1] + 1.0);
                    for (double& component : ray) component /= norm;
                    double distance = 0.0, reflectance = 0.0;
                    if (!scene_.trace(ray, distance, reflectance)) continue;
                    const double metres = distance / 1000.0;
                    const double amplitude = kAmplitudeAtOneMetre * reflectance / (metres * metres);
                    for (int slot = 0; slot < kFrequencySlots; ++slot) {
                        // Round trip: the phase of twice the radial distance.
                        // Reduced in double precision, the sine and cosine in single: well
                        // below a micrometre of depth.
                        const double turns = turnsPerMm[slot] * distance;
                        const auto phase = static_cast<float>(kTwoPi * (turns - std::floor(turns)));
                        real[slot] += amplitude * std::cos(phase);
                        imaginary[slot] += amplitude * std::sin(phase);
                    }
                    amplitudes += amplitude;
                    reflectances += reflectance;
                }
            }
            const size_t index = static_cast<size_t>(row) * width + column;
            for (int slot = 0; slot < kFrequencySlots; ++slot) {
                double re = real[slot] / kRays, im = imaginary[slot] / kRays;
                if (fixedPattern_) {
                    const double offset =
                        phaseOffset(slot, static_cast<int>(column), static_cast<int>(row),
                                    static_cast<int>(width), static_cast<int>(height));
                    const double c = std::cos(offset), s = std::sin(offset);
                    const double rotated = re * c - im * s;
                    im = re * s + im * c;
                    re = rotated;
                }
                made->real[slot][index] = static_cast<float>(re);
                made->imaginary[slot][index] = static_cast<float>(im);
            }
            made->meanAmplitude[index] = static_cast<float>(amplitudes / kRays);
            made->ambient[index] =
                static_cast<float>(kBlackLevel + kAmbientLevel * reflectances / kRays);
        }
    }
    signals_.push_back(std::move(made));
    return *signals_.back();
}

void VgaSensor::prepareSamples(const VgaMode& mode, int exposure) {
    const PixelSignals& signal = signals(mode.width, mode.height);
    const bool single = mode.subFrames == ZelvoDepth::kSingleFrequencySubFrames;
    const double scale = static_cast<double>(exposure) / kDefaultExposure;
    const size_t pixels = static_cast<size_t>(mode.width) * mode.height;
    const int groups = single ? 1 : 2;
    const int slots[2] = {single ? 0 : 1, 2};
    samples_.level.resize(pixels);
    samples_.background.resize(pixels);
    for (int group = 0; group < 2; ++group) {
        samples_.real[group].resize(group < groups ? pixels : 0);
        samples_.imaginary[group].resize(group < groups ? pixels : 0);
        samples_.sigma[group].resize(group < groups ? pixels : 0);
    }
    for (size_t i = 0; i < pixels; ++i) {
        const double ambient = signal.ambient[i];
        // Beyond what the pixel holds the return is cut back, phase kept. Mixed rays make
        // the demodulated part no larger than the mean return.
        const double returned = signal.meanAmplitude[i] * scale;
        const double clip = returned > kMaxAmplitude ? kMaxAmplitude / returned : 1.0;
        // What every exposure with the illumination on holds: the ambient level and the
        // mean of the returned light, on which the demodulated part rides.
        samples_.level[i] = static_cast<float>(ambient + returned * clip);
        samples_.background[i] = static_cast<float>(ambient);
        for (int group = 0; group < groups; ++group) {
            const int slot = slots[group];
            const double re = signal.real[slot][i] * scale * clip;
            const double im = signal.imaginary[slot][i] * scale * clip;
            samples_.real[group][i] = static_cast<float>(re);
            samples_.imaginary[group][i] = static_cast<float>(im);
            const double amplitude = std::sqrt(re * re + im * im);
            samples_.sigma[group][i] = static_cast<float>(
                std::sqrt(kReadNoise * kReadNoise + kShotNoiseFactor * amplitude));
        }
    }
}

void VgaSensor::renderPixels(const VgaMode& mode, uint16_t* frame) {
    const size_t subFrame = static_cast<size_t>(mode.width) * (mode.height + 1);
    const size_t pixels = static_cast<size_t>(mode.width) * mode.height;
    const bool noise = noise_;
    // One sub-frame: level + sign * component, with noise of sigma, rounded to the nearest
    // whole sample once inside the sample range.
    auto fill = [&](int index, const float* level, const float* component, float sign,
                    const float* sigma) {
        uint16_t* out = frame + subFrame * index + mode.width;  // below the header row
        for (size_t i = 0; i < pixels; ++i) {
            float value = level[i] + (component ? sign * component[i] : 0.0f);
            if (noise) value += (sigma ? sigma[i] : static_cast<float>(kReadNoise)) *
                                noiseSource_.gaussian();
            value = std::min(std::max(value, 0.0f), static_cast<float>(kMaxSample));
            out[i] = static_cast<uint16_t>(value + 0.5f);
        }
    };
    const int groups = mode.subFrames == ZelvoDepth::kSingleFrequencySubFrames ? 1 : 2;
    const int firstPhase[2] = {0, ZelvoDepth::kSecondFrequencySubFrame};
    for (int group = 0; group < groups; ++group) {
        // S_k = B + a cos(phi - k pi / 2): B + I, B + Q, B - I, B - Q.
        const float* re = samples_.real[group].data();
        const float* im = samples_.imaginary[group].data();
        const float* sigma = samples_.sigma[group].data();
        fill(firstPhase[group], samples_.level.data(), re, 1.0f, sigma);
        fill(firstPhase[group] + 1, samples_.level.data(), im, 1.0f, sigma);
        fill(firstPhase[group] + 2, samples_.level.data(), re, -1.0f, sigma);
        fill(firstPhase[group] + 3, samples_.level.data(), im, -1.0f, sigma);
    }
    fill(ZelvoDepth::kGraySubFrame, samples_.level.data(), nullptr, 0.0f,
         samples_.sigma[0].data());
    if (groups == 2)
        fill(ZelvoDepth::kBackgroundSubFrame, samples_.background.data(), nullptr, 0.0f, nullptr);
}

void VgaSensor::writeHeaders(const VgaMode& mode, int exposure, uint16_t* frame) const {
    const size_t subFrame = static_cast<size_t>(mode.width) * (mode.height + 1);
    const bool single = mode.subFrames == ZelvoDepth::kSingleFrequencySubFrames;
    for (int index = 0; index < mode.subFrames; ++index) {
        ZelvoDepth::RawHeader header = ZelvoDepth::expectedSubFrame(index, mode.subFrames);
        if (header.kind == ZelvoDepth::SubFrameKind::Phase) {
            header.frequencyHz = single ? kVgaSingleFrequencyHz
                                        : kVgaDoubleFrequencyHz[header.frequencyIndex];
        }
        header.integrationTimeUs = static_cast<uint32_t>(std::max(exposure, 0));
        header.temperatureSixteenths =
            static_cast<int16_t>(std::lround(kTemperatureCelsius * 16.0));
        header.frameCounter = frameCounter_;
        header.width = static_cast<uint16_t>(mode.width);
        header.height = static_cast<uint16_t>(mode.height);
        ZelvoDepth::encodeRawHeader(header, frame + subFrame * index, mode.width);
    }
}

const uint16_t* VgaSensor::nextFrame(const VgaMode& mode, int exposure) {
    const bool sameMode = frameMode_ != nullptr && frameMode_->width == mode.width &&
                          frameMode_->rows() == mode.rows();
    if (frame_.size() < mode.samples()) frame_.resize(mode.samples());
    // Noiseless pixels stay as they are; the headers count on.
    const bool prepared = sameMode && frameExposure_ == exposure;
    if (!prepared) {
        prepareSamples(mode, exposure);
        frameMode_ = &mode;
        frameExposure_ = exposure;
    }
    if (noise_ || !prepared) renderPixels(mode, frame_.data());
    ++frameCounter_;
    writeHeaders(mode, exposure, frame_.data());
    return frame_.data();
}

}  // namespace Zelvo::sim
