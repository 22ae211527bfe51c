// The HQVGA device: geometry, sample decoding, raw unpacking, depth, controls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/component_factory.h"
#include "core/host.h"
#include "device/hqvga_device.h"

namespace Zelvo {
namespace {

constexpr size_t kPixels = 240 * 180;
constexpr size_t kFrameWords = 4 * kPixels;

// A sensor that records the controls set on it and answers getControl from a script.
class RecordingSensor final : public ZelvoTOFSensor {
public:
    struct Call {
        CameraCtrl ctrl;
        int value;
    };
    std::vector<Call> setCalls;
    std::vector<CameraCtrl> getCalls;
    int setResult = 0;
    int getResult = 0;
    int getValue = 0;

    int open(CameraInfo&) override { return 0; }
    int close() override { return 0; }
    int start() override { return 0; }
    int stop() override { return 0; }
    CameraInfo getCameraInfo() override { return CameraInfo{}; }
    int getFrame(void*, int64_t*) override { return 0; }
    int setControl(CameraCtrl ctrl, int value) override {
        setCalls.push_back({ctrl, value});
        return setResult;
    }
    int getControl(CameraCtrl ctrl, int* value) override {
        getCalls.push_back(ctrl);
        if (value != nullptr) *value = getValue;
        return getResult;
    }
};

// A raw frame of little-endian words, all zero unless set.
struct RawFrame {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(2 * kFrameWords, 0);

    void set(size_t phase, size_t pixel, uint16_t word) {
        const size_t index = phase * kPixels + pixel;
        bytes[2 * index] = static_cast<uint8_t>(word & 0xFF);
        bytes[2 * index + 1] = static_cast<uint8_t>(word >> 8);
    }
    void setPixel(size_t pixel, uint16_t p0, uint16_t p1, uint16_t p2, uint16_t p3) {
        set(0, pixel, p0);
        set(1, pixel, p1);
        set(2, pixel, p2);
        set(3, pixel, p3);
    }
};

struct Planes {
    std::vector<float> depth = std::vector<float>(kPixels, -1.0f);
    std::vector<float> amplitude = std::vector<float>(kPixels, -1.0f);
    std::vector<float> confidence = std::vector<float>(kPixels, -1.0f);
};

Planes phaseImage(ZelvoDeviceHQVGA& device, const RawFrame& frame) {
    Planes planes;
    EXPECT_TRUE(device.getPhaseImage(frame.bytes.data(), planes.depth.data(),
                                     planes.amplitude.data(), planes.confidence.data()));
    return planes;
}

std::vector<int16_t> rawImages(ZelvoDeviceHQVGA& device, const RawFrame& frame) {
    std::vector<int16_t> out(kFrameWords, 0x5A5A);
    EXPECT_TRUE(device.getRawImages(frame.bytes.data(), out.data()));
    return out;
}

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// ---------------------------------------------------------------- construction and geometry

TEST(HqvgaDevice, StartsAtTheLongRangeWithTheShiftOfItsBoard) {
    const struct { int32_t platform; uint8_t shift; } cases[] = {
        {PlatformOther, 0},        {PlatformJetsonNano, 0}, {PlatformJetson, 4},
        {PlatformRaspberryPi, 0},  {PlatformRaspberryPi5, 0}, {PlatformRadxaRock, 0},
    };
    for (const auto& c : cases) {
        ZelvoDeviceHQVGA device(c.platform);
        EXPECT_EQ(device.platform, c.platform);
        EXPECT_EQ(device.sampleShift, c.shift) << c.platform;
        EXPECT_EQ(device.range(), 4000);
        EXPECT_EQ(device.modulationFrequency(), 37500000.0f);
        EXPECT_EQ(device.sensor, nullptr);
        EXPECT_EQ(device.getDeviceType(), HQVGA);
    }
}

TEST(HqvgaDevice, ReportsFourPhaseRowsOfRawAndOneOutputPlane) {
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    FrameLayout raw{-5, 1, 1};
    FrameLayout output{-5, 1, 1};
    device.getFrameLayouts(raw, output);
    EXPECT_EQ(raw.code, 2);
    EXPECT_EQ(raw.width, 240u);
    EXPECT_EQ(raw.height, 720u);
    EXPECT_EQ(output.code, 2);
    EXPECT_EQ(output.width, 240u);
    EXPECT_EQ(output.height, 180u);
}

TEST(HqvgaDevice, LifecycleOperationsSucceedAndInitKeepsTheSensor) {
    RecordingSensor sensor;
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    EXPECT_EQ(device.init(&sensor, HQVGA), 0);
    EXPECT_EQ(device.sensor, &sensor);
    EXPECT_EQ(device.configureSensor(), 0);
    EXPECT_EQ(device.start(), 0);
    EXPECT_EQ(device.stop(), 0);
    EXPECT_EQ(device.close(), 0);
    EXPECT_EQ(device.init(nullptr, HQVGA), 0);
    EXPECT_EQ(device.sensor, nullptr);
    EXPECT_TRUE(sensor.setCalls.empty());
}

TEST(HqvgaDevice, MaximumFrameRateIsTheSensorsThirty) {
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    int rate = 0;
    EXPECT_EQ(device.getMaxFrameRate(&rate), 0);
    EXPECT_EQ(rate, 30);
    EXPECT_EQ(device.getMaxFrameRate(nullptr), 1);
}

TEST(HqvgaDevice, DefaultFactoryBuildsItForTheGivenBoardAndTransport) {
    std::shared_ptr<Host> host = systemHost();
    // The shift undoes the Jetson CSI capture path only: a USB kit on a Jetson delivers
    // plain 12-bit samples (with the shift, a 1500 mm wall read 3500 mm over USB).
    const struct {
        Platform platform;
        Connection transport;
        uint8_t shift;
    } cases[] = {
        {PlatformJetson, CSI, 4}, {PlatformJetson, USB, 0}, {PlatformRaspberryPi5, CSI, 0}};
    for (const auto& c : cases) {
        std::unique_ptr<ZelvoDevice> device =
            defaultComponentFactory()->createHQVGADevice(c.platform, c.transport, *host);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->getDeviceType(), HQVGA);
        EXPECT_EQ(device->platform, c.platform);
        auto* hqvga = dynamic_cast<ZelvoDeviceHQVGA*>(device.get());
        ASSERT_NE(hqvga, nullptr);
        EXPECT_EQ(hqvga->sampleShift, c.shift);
    }
}

// ---------------------------------------------------------------- decoding and raw images

TEST(HqvgaDevice, DecodesElevenBitSamplesAfterTheShift) {
    const struct { int32_t platform; uint16_t word; int16_t decoded; } cases[] = {
        {PlatformRaspberryPi, 0x0400, -16384},  // bit 10 is the sign
        {PlatformJetson, 0x4000, -16384},       // the same after a shift of 4
        {PlatformRaspberryPi, 0x4000, 0},       // bit 14 is above the sample
        {PlatformRaspberryPi, 0x03FF, 16368},
        {PlatformRaspberryPi, 0x07FF, -16},
        {PlatformRaspberryPi, 0x0064, 1600},
        {PlatformRaspberryPi, 0xF864, 1600},    // bits 11..15 ignored
        {PlatformJetson, 0x0640, 1600},
        {PlatformJetson, 0x800F, 0},            // bits below the shift drop out
        {PlatformJetson, 0xFFF0, -16},          // bits above bit 10 after the shift ignored
        {PlatformJetson, 0x7FF0, -16},
    };
    for (const auto& c : cases) {
        ZelvoDeviceHQVGA device(c.platform);
        RawFrame frame;
        frame.set(0, 0, c.word);
        EXPECT_EQ(rawImages(device, frame)[0], c.decoded) << std::hex << c.word;
    }
}

// Each sample gets a value from its phase, row and column, so misplaced samples show.
uint16_t patternWord(size_t phase, size_t row, size_t column) {
    return static_cast<uint16_t>((phase * 509 + row * 37 + column * 11) & 0x7FF);
}

int16_t decodedPattern(size_t phase, size_t row, size_t column) {
    int value = patternWord(phase, row, column);
    if (value >= 1024) value -= 2048;
    return static_cast<int16_t>(16 * value);
}

TEST(HqvgaDevice, RawImagesInterleaveThePhasesRowByRow) {
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    RawFrame frame;
    for (size_t phase = 0; phase < 4; ++phase) {
        for (size_t row = 0; row < 180; ++row) {
            for (size_t column = 0; column < 240; ++column) {
                frame.set(phase, row * 240 + column, patternWord(phase, row, column));
            }
        }
    }
    const std::vector<int16_t> out = rawImages(device, frame);
    // Output row 0 is phase 0 of sensor row 0; row 719 is phase 3 of sensor row 179.
    for (size_t column = 0; column < 240; ++column) {
        EXPECT_EQ(out[column], decodedPattern(0, 0, column));
        EXPECT_EQ(out[719 * 240 + column], decodedPattern(3, 179, column));
    }
    size_t misplaced = 0;
    for (size_t row = 0; row < 180; ++row) {
        for (size_t phase = 0; phase < 4; ++phase) {
            for (size_t column = 0; column < 240; ++column) {
                if (out[(4 * row + phase) * 240 + column] != decodedPattern(phase, row, column)) {
                    ++misplaced;
                }
            }
        }
    }
    EXPECT_EQ(misplaced, 0u);
}

// ---------------------------------------------------------------- depth

struct DepthCase {
    const char* name;
    int range;
    uint16_t p0, p1, p2, p3;
    float depth;
    float amplitude;
};

TEST(HqvgaDevice, WorkedDepthValues) {
    const DepthCase cases[] = {
        {"quarter turn", 4000, 0, 0, 100, 0, 1000.0f, 800.0f},
        {"same words at 2000", 2000, 0, 0, 100, 0, 0.0f, 800.0f},
        {"phase 1 at 2000", 2000, 0, 100, 0, 0, 500.0f, 800.0f},
        {"three quarters", 4000, 100, 0, 0, 0, 3000.0f, 800.0f},
        {"eighth turn", 4000, 0, 0, 100, 100, 500.0f, 1131.3708f},
        {"half turn at 4000", 4000, 0, 100, 0, 0, 2000.0f, 800.0f},
        {"half turn at 2000", 2000, 100, 0, 0, 0, 1000.0f, 800.0f},
        {"all phases equal", 4000, 100, 100, 100, 100, 0.0f, 0.0f},
        {"all zero", 2000, 0, 0, 0, 0, 0.0f, 0.0f},
    };
    for (const DepthCase& c : cases) {
        RecordingSensor sensor;
        ZelvoDeviceHQVGA device(PlatformRaspberryPi);
        device.init(&sensor, HQVGA);
        ASSERT_EQ(device.setControl(RANGE, c.range), 0);
        RawFrame frame;
        const size_t pixel = 12345;
        frame.setPixel(pixel, c.p0, c.p1, c.p2, c.p3);
        const Planes planes = phaseImage(device, frame);
        EXPECT_NEAR(planes.depth[pixel], c.depth, 1e-3) << c.name;
        EXPECT_FLOAT_EQ(planes.amplitude[pixel], c.amplitude) << c.name;
        EXPECT_EQ(bitsOf(planes.confidence[pixel]), bitsOf(planes.amplitude[pixel])) << c.name;
        // Every other pixel has all phases zero: depth 0, amplitude 0.
        EXPECT_EQ(planes.depth[pixel - 1], 0.0f) << c.name;
        EXPECT_EQ(planes.amplitude[pixel + 1], 0.0f) << c.name;
    }
}

TEST(HqvgaDevice, AngleJustBelowAFullTurnGivesDepthJustBelowTheRange) {
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    RawFrame frame;
    frame.setPixel(0, 1, 0, 0, 1023);  // y = -16, x = 16368
    const Planes planes = phaseImage(device, frame);
    EXPECT_LT(planes.depth[0], 4000.0f);
    EXPECT_GT(planes.depth[0], 3990.0f);
}

// The documented steps for one pixel, written plainly: the reference for whole frames.
void referencePixel(const uint8_t* raw, size_t i, unsigned shift, int range, float frequency,
                    float& depth, float& amplitude) {
    int p[4];
    for (size_t k = 0; k < 4; ++k) {
        const size_t index = k * kPixels + i;
        const unsigned word = raw[2 * index] | (raw[2 * index + 1] << 8);
        int v = static_cast<int>((word >> shift) & 0x7FF);
        if (v & 0x400) v -= 0x800;
        p[k] = 16 * v;
    }
    const int y = range == 2000 ? p[1] - p[3] : p[2] - p[0];
    const int x = range == 2000 ? p[2] - p[0] : p[3] - p[1];
    float theta = static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
    if (theta < 0) theta += 6.2831855f;
    depth = ((300000000.0f / (frequency * 12.566371f)) * theta) * 1000.0f;
    amplitude = static_cast<float>(0.5 * std::sqrt(static_cast<double>(x) * x +
                                                   static_cast<double>(y) * y));
}

TEST(HqvgaDevice, WholeFramesMatchTheDocumentedStepsExactly) {
    RawFrame frame;
    uint32_t state = 2024;
    for (size_t i = 0; i < kFrameWords; ++i) {
        state = state * 1664525u + 1013904223u;
        frame.set(i / kPixels, i % kPixels, static_cast<uint16_t>(state >> 16));
    }
    const struct { int32_t platform; int range; } cases[] = {
        {PlatformRaspberryPi, 4000}, {PlatformRaspberryPi, 2000}, {PlatformRaspberryPi, 3000},
        {PlatformJetson, 4000},      {PlatformJetson, 2000},
    };
    for (const auto& c : cases) {
        RecordingSensor sensor;
        ZelvoDeviceHQVGA device(c.platform);
        device.init(&sensor, HQVGA);
        device.setControl(RANGE, c.range);
        const Planes planes = phaseImage(device, frame);
        size_t mismatches = 0;
        for (size_t i = 0; i < kPixels; ++i) {
            float depth;
            float amplitude;
            referencePixel(frame.bytes.data(), i, device.sampleShift, c.range,
                           device.modulationFrequency(), depth, amplitude);
            if (bitsOf(planes.depth[i]) != bitsOf(depth) ||
                bitsOf(planes.amplitude[i]) != bitsOf(amplitude) ||
                bitsOf(planes.confidence[i]) != bitsOf(amplitude)) {
                ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0u) << c.platform << " " << c.range;
    }
}

TEST(HqvgaDevice, DataOperationsRefuseMissingBuffers) {
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    RawFrame frame;
    Planes planes;
    std::vector<int16_t> raw(kFrameWords);
    EXPECT_FALSE(device.getRawImages(nullptr, raw.data()));
    EXPECT_FALSE(device.getRawImages(frame.bytes.data(), nullptr));
    EXPECT_FALSE(device.getPhaseImage(nullptr, planes.depth.data(), planes.amplitude.data(),
                                      planes.confidence.data()));
    EXPECT_FALSE(device.getPhaseImage(frame.bytes.data(), planes.depth.data(),
                                      planes.amplitude.data(), nullptr));
}

// ---------------------------------------------------------------- controls

TEST(HqvgaDevice, RangesTheSensorKnowsAreSetOnItToo) {
    for (int range : {2000, 4000}) {
        RecordingSensor sensor;
        ZelvoDeviceHQVGA device(PlatformRaspberryPi);
        device.init(&sensor, HQVGA);
        EXPECT_EQ(device.setControl(RANGE, range), 0);
        ASSERT_EQ(sensor.setCalls.size(), 1u);
        EXPECT_EQ(sensor.setCalls[0].ctrl, RANGE);
        EXPECT_EQ(sensor.setCalls[0].value, range);
        int value = 0;
        EXPECT_EQ(device.getControl(RANGE, &value), 0);
        EXPECT_EQ(value, range);
        EXPECT_EQ(device.modulationFrequency(), range == 2000 ? 75000000.0f : 37500000.0f);
        EXPECT_TRUE(sensor.getCalls.empty());  // RANGE is answered by the device
    }
}

TEST(HqvgaDevice, OtherRangesKeepTheFrequencyAndTheLongRangePhaseOrder) {
    RecordingSensor sensor;
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    device.init(&sensor, HQVGA);
    ASSERT_EQ(device.setControl(RANGE, 2000), 0);
    EXPECT_EQ(device.setControl(RANGE, 3000), 0);
    int value = 0;
    EXPECT_EQ(device.getControl(RANGE, &value), 0);
    EXPECT_EQ(value, 3000);
    EXPECT_EQ(device.modulationFrequency(), 75000000.0f);
    ASSERT_EQ(sensor.setCalls.size(), 1u);  // only the 2000
    // Phase 2 alone: a quarter turn in the long-range order, at 75 MHz a turn is 2000 mm.
    RawFrame frame;
    frame.setPixel(7, 0, 0, 100, 0);
    EXPECT_NEAR(phaseImage(device, frame).depth[7], 500.0f, 1e-3);

    EXPECT_EQ(device.setControl(RANGE, -1), 0);
    EXPECT_EQ(device.range(), -1);
    EXPECT_EQ(device.modulationFrequency(), 75000000.0f);
}

TEST(HqvgaDevice, SensorFailingToSwitchIsReportedButTheRangeIsKept) {
    for (int failure : {-1, -2, 1}) {
        RecordingSensor sensor;
        sensor.setResult = failure;
        ZelvoDeviceHQVGA device(PlatformRaspberryPi);
        device.init(&sensor, HQVGA);
        EXPECT_EQ(device.setControl(RANGE, 2000), failure);
        EXPECT_EQ(device.range(), 2000);
        EXPECT_EQ(device.modulationFrequency(), 75000000.0f);
        EXPECT_EQ(device.setControl(RANGE, 3000), 0);  // the sensor is not asked
        EXPECT_EQ(sensor.setCalls.size(), 1u);
    }
}

TEST(HqvgaDevice, OtherControlsAreRefusedOrForwardedToTheSensor) {
    RecordingSensor sensor;
    sensor.getResult = 4;
    sensor.getValue = 77;
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    device.init(&sensor, HQVGA);

    for (CameraCtrl ctrl : {EXPOSURE, FRAME_RATE, FMT_WIDTH, MODE, static_cast<CameraCtrl>(-3)}) {
        EXPECT_EQ(device.setControl(ctrl, 100), 1) << ctrl;
        int value = 0;
        EXPECT_EQ(device.getControl(ctrl, &value), 4) << ctrl;
        EXPECT_EQ(value, 77) << ctrl;
        ASSERT_FALSE(sensor.getCalls.empty());
        EXPECT_EQ(sensor.getCalls.back(), ctrl);
    }
    EXPECT_TRUE(sensor.setCalls.empty());
    EXPECT_EQ(device.range(), 4000);

    const char* text = "untouched";
    EXPECT_EQ(device.setControlExt(CONFIG_DIR_EXT, "/tmp"), 1);
    EXPECT_EQ(device.getControlExt(CONFIG_DIR_EXT, &text), 1);
    EXPECT_STREQ(text, "untouched");
}

TEST(HqvgaDevice, WithoutASensorForwardedControlsFail) {
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    ASSERT_EQ(device.init(nullptr, HQVGA), 0);
    int value = 55;
    EXPECT_EQ(device.getControl(EXPOSURE, &value), -1);
    EXPECT_EQ(value, 55);
    EXPECT_EQ(device.setControl(RANGE, 3000), 0);  // the device's own
    // The range cannot reach a missing sensor: reported, though the device keeps it.
    EXPECT_EQ(device.setControl(RANGE, 2000), -1);
    EXPECT_EQ(device.getControl(RANGE, &value), 0);
    EXPECT_EQ(value, 2000);
    EXPECT_EQ(device.getControl(RANGE, nullptr), 1);
}

// Controls arrive on the caller's thread while the capture thread computes; each frame is
// computed whole with one range and its frequency.
TEST(HqvgaDevice, RangeChangesDuringComputationNeverMixWithinAFrame) {
    RecordingSensor sensor;
    ZelvoDeviceHQVGA device(PlatformRaspberryPi);
    device.init(&sensor, HQVGA);
    RawFrame frame;
    for (size_t i = 0; i < kPixels; ++i) frame.setPixel(i, 0, 0, 100, 0);
    // Long range: a quarter turn of 4000 mm. Short range: x = 1600, y = 0, depth 0.

    std::atomic<bool> done{false};
    std::thread controls([&] {
        for (unsigned i = 0; !done.load(); ++i) device.setControl(RANGE, i % 2 ? 2000 : 4000);
    });
    size_t mixedFrames = 0;
    Planes planes;
    for (int f = 0; f < 40; ++f) {
        device.getPhaseImage(frame.bytes.data(), planes.depth.data(), planes.amplitude.data(),
                             planes.confidence.data());
        const float first = planes.depth[0];
        bool mixed = std::fabs(first - 1000.0f) > 1e-3f && first != 0.0f;
        for (size_t i = 1; i < kPixels && !mixed; ++i) mixed = planes.depth[i] != first;
        if (mixed) ++mixedFrames;
    }
    done = true;
    controls.join();
    EXPECT_EQ(mixedFrames, 0u);
}

}  // namespace
}  // namespace Zelvo
