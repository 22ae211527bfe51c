// The depth library through its C calls, on synthetic raw frames of known distances: what
// comes back, what the calibration removes, which pixels are invalid, the parameters file,
// and frames, calibrations and calls that must be refused without harm.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "depth/calibration.h"
#include "depth/phase_turns.h"
#include "depth/si_sdk.h"
#include "tests/support/raw_frame_builder.h"

namespace ZelvoDepth {
namespace {

using testing::kDoubleFrequencyHz;
using testing::RawFrameBuilder;
using testing::SyntheticPixel;

constexpr int kWidth = 64;
constexpr int kHeight = 40;
constexpr int kPixels = kWidth * kHeight;
constexpr double kPi = 3.14159265358979323846;

// A folder of its own below the system's temporary folder, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = std::filesystem::temp_directory_path() / "zelvo-depth-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
        path_ = pattern;
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }

    void writeParameters(const std::string& text) const {
        std::FILE* file = std::fopen((path_ + "/ConfigAlgorithm.json").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

private:
    std::string path_;
};

// Works in another directory for its lifetime.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

const std::string kFiltersOff =
    "[DenoisingParams]\nTDenoiseLevel_Depth=0\nSDenoiseLevel_Depth=0\nTDenoiseLevel_Gray=0\n"
    "SDenoiseLevel_Gray=0\n\n[RepairParams]\nERDOLvl=0\n\n";

// Distances along the image, pixel by pixel, from `near` to `far`.
double rampDistance(double near, double far, int i) {
    return near + (far - near) * i / (kPixels - 1.0);
}

RawFrameBuilder::Scene ramp(double near, double far) {
    return [=](int x, int y) {
        SyntheticPixel pixel;
        pixel.distanceMm = rampDistance(near, far, y * kWidth + x);
        return pixel;
    };
}

class DepthLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SiSDKCreate(&handle_));
        ASSERT_TRUE(SiSDKInit(handle_, kWidth, kHeight));
        // A configuration folder of the plain pipeline, whatever the working directory holds:
        // every filter off, so that results are the exact arithmetic of each pixel alone.
        config_.writeParameters(kFiltersOff);
        SiSDKSetConfig(handle_, config_.path().c_str());
    }
    void TearDown() override { SiSDKDestroy(&handle_); }

    void start(bool single) {
        SiSDKSetSingleFreq(handle_, single);
        ASSERT_TRUE(SiSDKStart(handle_));
    }
    bool compute(const std::vector<uint16_t>& raw) {
        return SiSDKGetPhaseImage(handle_, raw.data(), depth_.data(), amplitude_.data(),
                                  confidence_.data());
    }
    void expectPlanesZero() {
        for (int i = 0; i < kPixels; ++i) {
            ASSERT_EQ(depth_[i], 0.0f) << i;
            ASSERT_EQ(amplitude_[i], 0.0f) << i;
            ASSERT_EQ(confidence_[i], 0.0f) << i;
        }
    }

    TemporaryFolder config_;
    SiSDKHandle handle_ = nullptr;
    std::vector<float> depth_ = std::vector<float>(kPixels, 7.0f);
    std::vector<float> amplitude_ = std::vector<float>(kPixels, 7.0f);
    std::vector<float> confidence_ = std::vector<float>(kPixels, 7.0f);
};

TEST(PhaseTurns, StaysWithinItsDocumentedErrorAroundTheCircle) {
    double largest = 0.0;
    for (int q = -4095; q <= 4095; q += 7) {
        for (int i = -4095; i <= 4095; i += 5) {
            double exact = std::atan2(static_cast<double>(q), static_cast<double>(i)) / (2 * kPi);
            exact += exact < 0.0 ? 1.0 : 0.0;
            const float turns = phaseTurns(static_cast<float>(q), static_cast<float>(i));
            ASSERT_GE(turns, 0.0f);
            ASSERT_LT(turns, 1.0f);
            const double error = std::fabs(turns - exact);
            largest = std::max(largest, std::min(error, 1.0 - error));
        }
    }
    EXPECT_LT(largest, 3.2e-7);
    EXPECT_EQ(phaseTurns(0.0f, 0.0f), 0.0f);
}

// Single-frequency depth wraps at 1250 mm; two frequencies unwrap to their common range.
TEST_F(DepthLibrary, DistancesComeBackInEachMode) {
    const struct {
        const char* name;
        bool single;
        uint32_t f0, f1;
        double near, far, wrap;
        double noise, tolerance;  // sample noise; depth tolerance in mm
    } cases[] = {
        {"single, two wraps", true, testing::kSingleFrequencyHz, 0, 20, 2480, 1250, 0, 1},
        {"reference pair", false, kDoubleFrequencyHz[0], kDoubleFrequencyHz[1], 300, 4400, 4500, 0,
         1},
        {"reference pair across its wrap, noisy", false, kDoubleFrequencyHz[0],
         kDoubleFrequencyHz[1], 4420, 4580, 4500, 1.0, 3},
        {"pair of 5 to 4", false, 100000000, 80000000, 300, 6900, 7494.8, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.single);
        RawFrameBuilder builder(kWidth, kHeight, c.single);
        builder.frequencies(c.f0, c.f1).scene(ramp(c.near, c.far)).noise(c.noise);
        ASSERT_TRUE(compute(builder.build()));
        for (int i = 0; i < kPixels; ++i) {
            const double expected = std::fmod(rampDistance(c.near, c.far, i), c.wrap);
            const double error = std::fabs(depth_[i] - expected);
            ASSERT_LT(std::min(error, c.wrap - error), c.tolerance) << i;
            ASSERT_NEAR(amplitude_[i], 400.0, 1.0 + 3 * c.noise) << i;
            ASSERT_GT(confidence_[i], 10.0f) << i;
        }
    }
}

// A calibration with a record for each reference frequency, the double pair first; the
// global offset grows by kRecordStep from record to record. Its grid, when it has one,
// g(i, j) = 100 (3 i - 2 j + i j) in units of 1/8192 radian, is bilinear itself, so the
// interpolated offset is known exactly.
constexpr double kRecordStep = 0.25;
Calibration calibration(float global, float coefficient, bool grid) {
    Calibration calibration;
    calibration.width = 640;  // another size than the output: the grid covers the image
    calibration.height = 480;
    calibration.gridColumns = 9;
    calibration.gridRows = 7;
    calibration.referenceTemperature = 30.0f;
    for (uint32_t hz :
         {kDoubleFrequencyHz[0], kDoubleFrequencyHz[1], testing::kSingleFrequencyHz}) {
        const float step = static_cast<float>(kRecordStep * calibration.frequencies.size());
        FrequencyCalibration record{hz, global + step, coefficient, {}};
        for (int j = 0; j < 7; ++j)
            for (int i = 0; i < 9; ++i)
                record.grid.push_back(grid ? static_cast<int16_t>(100 * (3 * i - 2 * j + i * j))
                                           : 0);
        calibration.frequencies.push_back(record);
    }
    return calibration;
}

double gridOffset(int x, int y) {
    const double i = x * 8.0 / (kWidth - 1);
    const double j = y * 6.0 / (kHeight - 1);
    return 100 * (3 * i - 2 * j + i * j) / 8192.0;
}

TEST_F(DepthLibrary, CalibrationRemovesTheSensorsPhaseErrors) {
    const struct {
        const char* name;
        bool single;
        bool calibrated;
        float global, coefficient;
        bool grid;
        double residual;  // radians left at frequency 0
    } cases[] = {
        {"no calibration, no errors", true, false, 0.0f, 0.0f, false, 0.0},
        {"global offset", true, true, 0.8f, 0.0f, false, 0.0},
        {"global offset without its calibration", true, false, 0.8f, 0.0f, false, 0.8},
        {"grid and temperature", true, true, -2.5f, 0.02f, true, 0.0},
        {"grid and temperature, two frequencies", false, true, 5.0f, -0.03f, true, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SiSDKInit(handle_, kWidth, kHeight));
        SiSDKSetConfig(handle_, config_.path().c_str());
        if (c.calibrated) {
            const std::vector<uint8_t> bytes =
                encodeCalibration(calibration(c.global, c.coefficient, c.grid));
            ASSERT_TRUE(SiSDKSetCaliData(handle_, bytes.data(), bytes.size()));
        }
        start(c.single);
        const double temperature = 45.0;  // 15 degrees above the reference
        RawFrameBuilder builder(kWidth, kHeight, c.single);
        builder.temperature(temperature).scene(ramp(300, c.single ? 1000 : 4400));
        builder.phaseError([&](int frequency, int x, int y) {
            const int record = c.single ? 2 : frequency;
            return c.global + (c.calibrated ? kRecordStep * record : 0.0) +
                   c.coefficient * (temperature - 30.0) + (c.grid ? gridOffset(x, y) : 0.0);
        });
        ASSERT_TRUE(compute(builder.build()));
        const double wrap = c.single ? 1250.0 : 1500.0;
        for (int i = 0; i < kPixels; ++i) {
            const double expected =
                rampDistance(300, c.single ? 1000 : 4400, i) + c.residual / (2 * kPi) * wrap;
            ASSERT_NEAR(depth_[i], expected, 1.0) << i;
        }
    }
}

TEST_F(DepthLibrary, SaturatedAndWeakPixelsAreInvalid) {
    // Pixels 0 to 3 of row 0: a weak signal, a clipped phase sample, a saturated gray and a
    // saturated background sample; the rest of the image is sound.
    auto scene = [](int x, int y) {
        SyntheticPixel pixel;
        if (y == 0 && x == 0) pixel.amplitude = 3.0;
        if (y == 0 && x == 1) pixel.offset = 3900.0;
        if (y == 0 && x == 2) pixel.gray = 4095.0;
        if (y == 0 && x == 3) pixel.background = 4095.0;
        return pixel;
    };
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single" : "double");
        start(single);
        ASSERT_TRUE(compute(RawFrameBuilder(kWidth, kHeight, single).scene(scene).build()));
        const int invalid = single ? 3 : 4;  // the background sub-frame is double-frequency's
        for (int i = 0; i < kPixels; ++i) {
            if (i < invalid) {
                EXPECT_EQ(depth_[i], 0.0f) << i;
                EXPECT_EQ(confidence_[i], 0.0f) << i;
            } else {
                ASSERT_NEAR(depth_[i], 1000.0f, 1.0f) << i;
                ASSERT_GT(confidence_[i], 10.0f) << i;
            }
        }
        EXPECT_NEAR(amplitude_[0], 3.0f, 1.0f) << "amplitude stays for an invalid pixel";
    }
}

TEST_F(DepthLibrary, ValidDistanceRangeComesFromTheParametersFileAtEachStart) {
    TemporaryFolder working;
    const WorkingDirectory inWorking(working.path());
    working.writeParameters(kFiltersOff +
                            "[ConfidenceParams]\nValidDistMin=600\nValidDistMax=1000\n");
    const std::string& denoising = kFiltersOff;
    const struct {
        const char* name;
        const char* configText;  // written to the configuration folder, or none
        bool useConfigFolder;
        double minimum, maximum;
    } steps[] = {
        {"folder with the filters off: default range", nullptr, true, 0, 7000},
        {"file in the folder", "[ConfidenceParams]\nValidDistMin=400\nValidDistMax=900\n", true,
         400, 900},
        {"changed file, next start",
         "[ConfidenceParams]\r\nValidDistMin = 500\r\nValidDistMax=800.5\r\n", true, 500, 800.5},
        {"unreadable values keep the defaults",
         "[ConfidenceParams]\nValidDistMin=near\nValidDistMax=inf\n", true, 0, 7000},
        {"no folder: the working directory's file", nullptr, false, 600, 1000},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.configText) config_.writeParameters(denoising + step.configText);
        ASSERT_TRUE(SiSDKInit(handle_, kWidth, kHeight));  // forgets the folder
        if (step.useConfigFolder) SiSDKSetConfig(handle_, config_.path().c_str());
        start(true);
        ASSERT_TRUE(compute(RawFrameBuilder(kWidth, kHeight, true).scene(ramp(100, 1200)).build()));
        for (int i = 0; i < kPixels; ++i) {
            const double distance = rampDistance(100, 1200, i);
            if (std::fabs(distance - step.minimum) < 1 || std::fabs(distance - step.maximum) < 1)
                continue;
            const bool inside = distance > step.minimum && distance < step.maximum;
            ASSERT_EQ(depth_[i] != 0.0f, inside) << i << " at " << distance << " mm";
            ASSERT_EQ(confidence_[i] != 0.0f, inside) << i;
        }
    }
}

TEST_F(DepthLibrary, MalformedFramesAreRefusedWithZeroedPlanes) {
    using Damage = std::function<void(const RawFrameBuilder&, std::vector<uint16_t>&)>;
    auto field = [](int index, std::function<void(RawHeader&)> change) -> Damage {
        return [=](const RawFrameBuilder& builder, std::vector<uint16_t>& raw) {
            RawHeader header = builder.header(raw, index);
            change(header);
            builder.writeHeader(raw, index, header);
        };
    };
    auto secondFrequency = [&](uint32_t hz) -> Damage {
        return [=](const RawFrameBuilder& builder, std::vector<uint16_t>& raw) {
            for (int index = 5; index < 9; ++index)
                field(index, [=](RawHeader& h) { h.frequencyHz = hz; })(builder, raw);
        };
    };
    const struct {
        const char* name;
        bool single;
        Damage damage;
    } cases[] = {
        {"magic", true, [](auto&, auto& raw) { raw[0] = 'Y' << 4; }},
        {"check byte", false,
         [](auto&, auto& raw) { raw[rawSubFrameSamples(kWidth, kHeight) * 7 + 20] ^= 0x10; }},
        {"sub-frames swapped", true,
         [](auto& builder, auto& raw) {
             const RawHeader second = builder.header(raw, 1);
             builder.writeHeader(raw, 1, builder.header(raw, 2));
             builder.writeHeader(raw, 2, second);
         }},
        {"another width", true, field(3, [](RawHeader& h) { h.width = kWidth + 1; })},
        {"another height", false, field(0, [](RawHeader& h) { h.height = kHeight - 1; })},
        {"frame counters differ", false, field(8, [](RawHeader& h) { h.frameCounter += 1; })},
        {"phase without frequency", true, field(2, [](RawHeader& h) { h.frequencyHz = 0; })},
        {"phases disagree on the frequency", false,
         field(6, [](RawHeader& h) { h.frequencyHz += 1000; })},
        {"equal frequencies", false, secondFrequency(kDoubleFrequencyHz[0])},
        {"frequencies in no small ratio", false, secondFrequency(70710678)},
        {"a double-frequency frame in single mode", true,
         field(0, [](RawHeader& h) { h.subFrameCount = 10; })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.single);
        RawFrameBuilder builder(kWidth, kHeight, c.single);
        std::vector<uint16_t> raw = builder.build();
        ASSERT_TRUE(compute(raw));
        c.damage(builder, raw);
        EXPECT_FALSE(compute(raw));
        expectPlanesZero();
    }

    // A single-frequency frame, only half as long, given in double-frequency mode: its first
    // header tells, and nothing past its end is read.
    start(false);
    const std::vector<uint16_t> single = RawFrameBuilder(kWidth, kHeight, true).build();
    EXPECT_FALSE(compute(single));
    EXPECT_FALSE(
        SiSDKGetPhaseImage(handle_, nullptr, depth_.data(), amplitude_.data(), confidence_.data()));
    expectPlanesZero();
}

TEST_F(DepthLibrary, MalformedCalibrationsAreRefusedAndTheHandleGoesOnWithout) {
    const std::vector<uint8_t> good = encodeCalibration(calibration(1.0f, 0.0f, true));
    std::vector<uint8_t> damaged = good;
    damaged[60] ^= 1;  // the check word no longer matches
    const struct {
        const char* name;
        const void* data;
        uint32_t length;
    } cases[] = {
        {"no bytes", nullptr, 512},
        {"empty", good.data(), 0},
        {"truncated", good.data(), static_cast<uint32_t>(good.size() - 1)},
        {"damaged", damaged.data(), static_cast<uint32_t>(damaged.size())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SiSDKSetCaliData(handle_, good.data(), good.size()));
        EXPECT_FALSE(SiSDKSetCaliData(handle_, c.data, c.length));  // drops the good one too
        start(true);
        RawFrameBuilder builder(kWidth, kHeight, true);
        builder.phaseError([](int, int, int) { return 1.0; });
        ASSERT_TRUE(compute(builder.build()));
        EXPECT_NEAR(depth_[0], 1000.0 + 1250.0 / (2 * kPi), 1.0) << "offset left in";
    }
}

// The mode may change while another thread computes frames: each frame finishes in the mode
// it began with, or is refused as a frame of the other mode.
TEST_F(DepthLibrary, ModeSwitchesBesideFrameComputation) {
    EXPECT_TRUE(SiSDKIsSingleFreq(handle_));
    start(true);
    const std::vector<uint16_t> single = RawFrameBuilder(kWidth, kHeight, true).build();
    const std::vector<uint16_t> dual = RawFrameBuilder(kWidth, kHeight, false).build();
    EXPECT_FALSE(compute(dual));
    ASSERT_TRUE(SiSDKSetSingleFreq(handle_, false));
    EXPECT_FALSE(SiSDKIsSingleFreq(handle_));
    EXPECT_TRUE(compute(dual)) << "no new start needed";

    std::atomic<bool> done{false};
    std::thread switcher([&] {
        for (int n = 0; !done; ++n) SiSDKSetSingleFreq(handle_, n % 2 == 0);
    });
    int accepted = 0;
    for (int frame = 0; frame < 40; ++frame) {
        const bool ok = compute(frame % 2 ? single : dual);
        accepted += ok;
        for (int i = 0; i < kPixels; i += 97)
            ASSERT_NEAR(depth_[i], ok ? 1000.0f : 0.0f, 1.0f) << frame << " " << i;
    }
    done = true;
    switcher.join();
    SiSDKSetSingleFreq(handle_, true);
    EXPECT_TRUE(compute(single)) << accepted << " frames accepted while switching";
}

TEST(DepthLibraryCalls, RefuseWhatTheyCannotUseAndDestroyTwice) {
    EXPECT_FALSE(SiSDKCreate(nullptr));
    SiSDKHandle none = nullptr;
    float plane[kPixels];
    uint16_t raw[1] = {0};
    EXPECT_FALSE(SiSDKInit(none, kWidth, kHeight));
    EXPECT_FALSE(SiSDKSetCaliData(none, raw, 1));
    EXPECT_FALSE(SiSDKSetConfig(none, "."));
    EXPECT_FALSE(SiSDKStart(none));
    EXPECT_FALSE(SiSDKSetSingleFreq(none, true));
    EXPECT_FALSE(SiSDKGetPhaseImage(none, raw, plane, plane, plane));

    SiSDKHandle handle = nullptr;
    ASSERT_TRUE(SiSDKCreate(&handle));
    EXPECT_FALSE(SiSDKStart(handle)) << "no size yet";
    EXPECT_FALSE(SiSDKInit(handle, 28, 10)) << "narrower than the embedded header";
    EXPECT_FALSE(SiSDKInit(handle, kWidth, 0));
    EXPECT_FALSE(SiSDKInit(handle, 65536, 10));
    EXPECT_FALSE(SiSDKStart(handle)) << "a refused size is no size";
    ASSERT_TRUE(SiSDKInit(handle, kWidth, kHeight));
    plane[0] = 7.0f;
    EXPECT_FALSE(SiSDKGetPhaseImage(handle, raw, plane, plane, plane)) << "not started";
    EXPECT_EQ(plane[0], 7.0f);
    SiSDKDestroy(&handle);
    EXPECT_EQ(handle, nullptr);
    SiSDKDestroy(&handle);
    SiSDKDestroy(nullptr);
}

}  // namespace
}  // namespace ZelvoDepth
