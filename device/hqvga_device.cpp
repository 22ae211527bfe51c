#include "device/hqvga_device.h"

#include <cstring>

#include "device/hqvga_sample.h"
#include "device/phase_depth.h"

namespace Zelvo {
namespace {

// Only the Jetson CSI capture path delivers the samples shifted up by 4 bits; a USB kit on
// the same board delivers them as the sensor made them.
uint8_t sampleShiftFor(int32_t platform, Connection transport) {
    return platform == PlatformJetson && transport == CSI ? 4 : 0;
}

int32_t rangeOf(uint64_t settings) { return static_cast<int32_t>(settings & 0xFFFFFFFFu); }

float frequencyOf(uint64_t settings) {
    const uint32_t bits = static_cast<uint32_t>(settings >> 32);
    float frequency;
    std::memcpy(&frequency, &bits, sizeof frequency);
    return frequency;
}

}  // namespace

ZelvoDeviceHQVGA::ZelvoDeviceHQVGA(int32_t platform, Connection transport)
    : ZelvoDevice(platform),
      sampleShift(sampleShiftFor(platform, transport)),
      settings_(packSettings(kLongRange, kLongRangeFrequency)) {}

uint64_t ZelvoDeviceHQVGA::packSettings(int32_t range, float frequency) {
    uint32_t bits;
    std::memcpy(&bits, &frequency, sizeof bits);
    return (static_cast<uint64_t>(bits) << 32) | static_cast<uint32_t>(range);
}

float ZelvoDeviceHQVGA::modulationFrequency() const {
    return frequencyOf(settings_.load(std::memory_order_relaxed));
}

int32_t ZelvoDeviceHQVGA::range() const {
    return rangeOf(settings_.load(std::memory_order_relaxed));
}

DeviceType ZelvoDeviceHQVGA::getDeviceType() { return HQVGA; }

void ZelvoDeviceHQVGA::getFrameLayouts(FrameLayout& raw, FrameLayout& output) {
    raw = FrameLayout{kLayoutCode, kWidth, kHeight * kPhases};
    output = FrameLayout{kLayoutCode, kWidth, kHeight};
}

int ZelvoDeviceHQVGA::init(ZelvoTOFSensor* newSensor, DeviceType) {
    sensor = newSensor;
    return ZelvoSuccess;
}

int ZelvoDeviceHQVGA::close() { return ZelvoSuccess; }
int ZelvoDeviceHQVGA::configureSensor() { return ZelvoSuccess; }
int ZelvoDeviceHQVGA::start() { return ZelvoSuccess; }
int ZelvoDeviceHQVGA::stop() { return ZelvoSuccess; }

int ZelvoDeviceHQVGA::setControl(CameraCtrl ctrl, int value) {
    if (ctrl != RANGE) return ZelvoInvalidParameter;

    const uint64_t current = settings_.load(std::memory_order_relaxed);
    float frequency = frequencyOf(current);
    const bool sensorRange = value == kShortRange || value == kLongRange;
    if (value == kShortRange) frequency = kShortRangeFrequency;
    if (value == kLongRange) frequency = kLongRangeFrequency;
    settings_.store(packSettings(value, frequency), std::memory_order_relaxed);

    // The sensor must modulate at the frequency the depth is computed with, so the two
    // ranges it knows go on to it. Its failure is reported; the range stays recorded.
    if (!sensorRange) return ZelvoSuccess;
    if (sensor == nullptr) return ZelvoUnkownError;
    return sensor->setControl(RANGE, value);
}

int ZelvoDeviceHQVGA::setControlExt(CameraCtrl, const char*) { return ZelvoInvalidParameter; }

int ZelvoDeviceHQVGA::getControl(CameraCtrl ctrl, int* value) {
    if (ctrl == RANGE) {
        if (value == nullptr) return ZelvoInvalidParameter;
        *value = range();
        return ZelvoSuccess;
    }
    if (sensor == nullptr) return ZelvoUnkownError;
    return sensor->getControl(ctrl, value);
}

int ZelvoDeviceHQVGA::getControlExt(CameraCtrl, const char**) { return ZelvoInvalidParameter; }

bool ZelvoDeviceHQVGA::getRawImages(const uint8_t* src, int16_t* dst) {
    if (src == nullptr || dst == nullptr) return false;
    const unsigned shift = sampleShift;
    // Output rows cycle through the phases: row 4r + k is phase k of sensor row r.
    for (uint32_t row = 0; row < kHeight; ++row) {
        for (uint32_t phase = 0; phase < kPhases; ++phase) {
            const size_t from = phase * kPixels + row * kWidth;
            int16_t* to = dst + (row * kPhases + phase) * kWidth;
            for (uint32_t column = 0; column < kWidth; ++column) {
                to[column] = hqvgaDecodedSample(hqvgaRawWord(src, from + column), shift);
            }
        }
    }
    return true;
}

bool ZelvoDeviceHQVGA::getPhaseImage(const uint8_t* src, float* depth, float* amplitude,
                                     float* confidence) {
    if (src == nullptr || depth == nullptr || amplitude == nullptr || confidence == nullptr) {
        return false;
    }
    // Range, frequency and shift are taken once: a change applies from the next frame on.
    const uint64_t settings = settings_.load(std::memory_order_relaxed);
    const bool shortRange = rangeOf(settings) == kShortRange;
    const float scale = metresPerRadian(frequencyOf(settings));
    const unsigned shift = sampleShift;

    // The phase order that belongs to each modulation frequency: y = yPlus - yMinus and
    // x = xPlus - xMinus.
    const uint8_t* phase[kPhases];
    for (uint32_t k = 0; k < kPhases; ++k) phase[k] = src + 2 * size_t{k} * kPixels;
    const uint8_t* yPlus = shortRange ? phase[1] : phase[2];
    const uint8_t* yMinus = shortRange ? phase[3] : phase[0];
    const uint8_t* xPlus = shortRange ? phase[2] : phase[3];
    const uint8_t* xMinus = shortRange ? phase[0] : phase[1];

    int16_t x[kWidth];
    int16_t y[kWidth];
    for (uint32_t row = 0; row < kHeight; ++row) {
        const size_t first = row * kWidth;
        for (uint32_t column = 0; column < kWidth; ++column) {
            const size_t i = first + column;
            x[column] = static_cast<int16_t>(hqvgaDecodedSample(hqvgaRawWord(xPlus, i), shift) -
                                             hqvgaDecodedSample(hqvgaRawWord(xMinus, i), shift));
            y[column] = static_cast<int16_t>(hqvgaDecodedSample(hqvgaRawWord(yPlus, i), shift) -
                                             hqvgaDecodedSample(hqvgaRawWord(yMinus, i), shift));
        }
        computePhaseDepth(x, y, kWidth, scale, depth + first, amplitude + first);
        std::memcpy(confidence + first, amplitude + first, kWidth * sizeof *amplitude);
    }
    return true;
}

int ZelvoDeviceHQVGA::getMaxFrameRate(int* value) {
    if (value == nullptr) return ZelvoInvalidParameter;
    *value = kMaxFrameRate;
    return ZelvoSuccess;
}

}  // namespace Zelvo
