// The depth library through its C calls, on synthetic raw frames of known distances: what
// comes back, what the calibration removes, which pixels are invalid, the parameters file,
// and frames, calibrations and calls that must be refused without harm.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

#include "depth/calibration.h"
#include "depth/phase_turns.h"
#include "depth/si_sdk.h"
#include "tests/depth/scoped_variable.h"
#include "tests/support/raw_frame_builder.h"
#include "tests/support/repeat_count.h"

namespace ZelvoDepth {
namespace {

using testing::kDoubleFrequencyHz;
using testing::RawFrameBuilder;
using testing::ScopedVariable;
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

// Runs `body` on a thread of its own and aborts the program when it has not returned within
// `seconds`: a deadlock fails the suite instead of hanging it.
void withinOrAbort(int seconds, const std::function<void()>& body) {
    auto done = std::async(std::launch::async, body);
    if (done.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready) return;
    // On standard output: standard error may be captured by the test.
    std::printf("no return within %d s: blocked or deadlocked\n", seconds);
    std::fflush(stdout);
    std::abort();
}

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
Calibration calibration(float global, float coefficient, bool grid, uint16_t width = 640,
                        uint16_t height = 400) {
    Calibration calibration;
    calibration.width = width;  // the module's size, ten times the output's by default
    calibration.height = height;
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
        int environment = 0;  // ZELVO_DEPTH_CONFIG_DIR: 0 unset, 1 the folder, 2 the working one
    } steps[] = {
        {"folder with the filters off: default range", nullptr, true, 0, 7000},
        {"file in the folder", "[ConfidenceParams]\nValidDistMin=400\nValidDistMax=900\n", true,
         400, 900},
        {"changed file, next start",
         "[ConfidenceParams]\r\nValidDistMin = 500\r\nValidDistMax=800.5\r\n", true, 500, 800.5},
        {"unreadable values keep the defaults",
         "[ConfidenceParams]\nValidDistMin=near\nValidDistMax=inf\n", true, 0, 7000},
        {"no folder: the working directory's file", nullptr, false, 600, 1000},
        {"no folder: the environment's folder first", nullptr, false, 0, 7000, 1},
        {"the folder given before the environment's", nullptr, true, 0, 7000, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const char* environment[] = {nullptr, config_.path().c_str(), working.path().c_str()};
        const ScopedVariable variable("ZELVO_DEPTH_CONFIG_DIR", environment[step.environment]);
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

// Calibrations the handle cannot use are refused with one line naming the reason, and the
// handle goes on without one; none at all is refused silently. Nothing beyond the format's
// 16384 bytes is read, whatever length is given.
TEST_F(DepthLibrary, CalibrationsAreRefusedWithTheirReasonAndTheHandleGoesOnWithout) {
    // The single-frequency record's global offset is 1 radian, the frames' phase error.
    auto bytesOf = [](uint16_t width, uint16_t height) {
        return encodeCalibration(calibration(1.0f - 2 * kRecordStep, 0.0f, false, width, height));
    };
    const std::vector<uint8_t> good = bytesOf(640, 400);
    const std::string size = std::to_string(good.size());
    std::vector<uint8_t> damaged = good, notOurs = good, oversized = good;
    damaged[60] ^= 1;  // the check word no longer matches
    notOurs[2] = 'X';
    oversized[0] = 0x01, oversized[1] = 0x40;  // a length field of 16385
    const std::vector<uint8_t> otherModule = bytesOf(320, 240), twice = bytesOf(128, 80);
    const struct {
        const char* name;
        const void* data;
        uint32_t length;
        std::string line;  // "": accepted, or refused without a word
        bool accepted;
    } cases[] = {
        {"no bytes", nullptr, 512, "", false},
        {"empty", good.data(), 0, "", false},
        {"truncated", good.data(), static_cast<uint32_t>(good.size() - 1),
         "calibration: wrong size, " + std::to_string(good.size() - 1) +
             " bytes for a length field of " + size + " (512..16384), not used\n",
         false},
        {"length field beyond the format", oversized.data(), static_cast<uint32_t>(good.size()),
         "calibration: wrong size, " + size + " bytes for a length field of 16385 (512..16384), "
         "not used\n",
         false},
        {"damaged", damaged.data(), static_cast<uint32_t>(damaged.size()),
         "calibration: failed check (CRC-32), not used\n", false},
        {"not a calibration", notOurs.data(), static_cast<uint32_t>(notOurs.size()),
         "calibration: failed check (magic), not used\n", false},
        {"another module", otherModule.data(), static_cast<uint32_t>(otherModule.size()),
         "calibration: other resolution, 320 x 240 for a 64 x 40 output, not used\n", false},
        {"a module of twice the output", twice.data(), static_cast<uint32_t>(twice.size()), "",
         true},
        // Read past its own bytes, this would leave the vector: the sanitizer would stop it.
        {"any length beyond the bytes", good.data(), 0xFFFFFFFFu, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SiSDKSetCaliData(handle_, good.data(), good.size()));
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(SiSDKSetCaliData(handle_, c.data, c.length), c.accepted);  // drops the good
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
        start(true);
        RawFrameBuilder builder(kWidth, kHeight, true);
        builder.phaseError([](int, int, int) { return 1.0; });
        ASSERT_TRUE(compute(builder.build()));
        EXPECT_NEAR(depth_[0], 1000.0 + (c.accepted ? 0.0 : 1250.0 / (2 * kPi)), 1.0);
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

// A started handle of its own: a size, a mode and a parameters text (empty: the defaults).
class Handle {
public:
    Handle(int width, int height, bool single, const std::string& parameters)
        : pixels_(width * height) {
        folder_.writeParameters(parameters);
        SiSDKCreate(&handle_);
        SiSDKInit(handle_, width, height);
        SiSDKSetConfig(handle_, folder_.path().c_str());
        SiSDKSetSingleFreq(handle_, single);
        started_ = SiSDKStart(handle_);
    }
    ~Handle() { SiSDKDestroy(&handle_); }
    // What a camera's restart calls: a new size, the folder again, a new start.
    bool restart(int width, int height) {
        pixels_ = width * height;
        started_ = SiSDKInit(handle_, width, height) &&
                   SiSDKSetConfig(handle_, folder_.path().c_str()) && SiSDKStart(handle_);
        return started_;
    }
    bool compute(const std::vector<uint16_t>& raw) {
        depth.assign(pixels_, 7.0f), amplitude.assign(pixels_, 7.0f);
        confidence.assign(pixels_, 7.0f);
        return started_ && SiSDKGetPhaseImage(handle_, raw.data(), depth.data(),
                                              amplitude.data(), confidence.data());
    }
    bool samePlanes(const Handle& other) const {
        return depth == other.depth && amplitude == other.amplitude &&
               confidence == other.confidence;
    }
    std::vector<float> depth, amplitude, confidence;

private:
    TemporaryFolder folder_;
    int pixels_;
    SiSDKHandle handle_ = nullptr;
    bool started_ = false;
};

// "ConfigAlgorithm.json" is read only when it is a regular file at the name, and only its
// first 64 KiB: anything else at the name, or a configuration folder that is not there, leaves
// the defaults instead of the file's range, and never blocks the start. A folder that is not there is named in one line; the rest is silent.
TEST_F(DepthLibrary, OnlyARegularParametersFileIsRead) {
    const std::string text =
        kFiltersOff + "[ConfidenceParams]\nValidDistMin=600\nValidDistMax=1000\n";
    TemporaryFolder elsewhere;
    elsewhere.writeParameters(text);
    std::string corrupt(3000, '\0');  // every byte value, NUL and line feeds among them
    for (size_t i = 0; i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(i * 167);
    const std::string file = config_.path() + "/ConfigAlgorithm.json";
    const std::string missing = config_.path() + "/missing";
    const bool root = geteuid() == 0;
    auto write = [&](const std::string& content) {
        return [&, content] {
            config_.writeParameters(content);
            return true;
        };
    };
    const struct {
        const char* name;
        std::function<bool()> make;  // what to put at the file's name
        bool read;
        const char* line = "";  // with `missing` after it: the folder named is not there
        bool fromEnvironment = false;
    } kinds[] = {
        {"regular file", write(text), true},
        {"FIFO", [&] { return mkfifo(file.c_str(), 0600) == 0; }, false},
        {"directory", [&] { return mkdir(file.c_str(), 0700) == 0; }, false},
        {"symbolic link to a good file",
         [&] {
             const std::string target = elsewhere.path() + "/ConfigAlgorithm.json";
             return symlink(target.c_str(), file.c_str()) == 0;
         },
         false},
        {"device", [&] { return root && mknod(file.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0; },
         false},
        // One comment line across the 64 KiB: the range after it is never read.
        {"oversized", write(text + std::string(70000, '#') + "\nValidDistMax=700\n"), true},
        {"truncated within a line", write(text + "ValidDistMi"), true},
        {"corrupt around the good lines", write(corrupt + "\n" + text + corrupt), true},
        {"unreadable", [&] { return write(text)() && chmod(file.c_str(), 0) == 0; },
         root},  // the superuser reads it all the same
        {"folder not there", write(text), false, "configuration directory "},
        {"folder not there, from the environment", write(text), false, "ZELVO_DEPTH_CONFIG_DIR=",
         true},
    };
    const std::vector<uint16_t> raw =
        RawFrameBuilder(kWidth, kHeight, true).scene(ramp(100, 1200)).build();
    Handle withFile(kWidth, kHeight, true, text), withDefaults(kWidth, kHeight, true, "");
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        std::filesystem::remove_all(file);
        if (!kind.make()) {
            std::printf("[  SKIPPED ] %s: cannot be made here\n", kind.name);
            continue;
        }
        const std::string folder = *kind.line ? missing : config_.path();
        const ScopedVariable variable("ZELVO_DEPTH_CONFIG_DIR",
                                      kind.fromEnvironment ? folder.c_str() : nullptr);
        ASSERT_TRUE(SiSDKInit(handle_, kWidth, kHeight));
        if (!kind.fromEnvironment) SiSDKSetConfig(handle_, folder.c_str());
        ::testing::internal::CaptureStderr();
        withinOrAbort(60, [&] { start(true); });
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  *kind.line ? kind.line + missing +
                                   ": No such file or directory, using the default parameters\n"
                             : "");
        Handle& expected = kind.read ? withFile : withDefaults;
        ASSERT_TRUE(compute(raw) && expected.compute(raw));
        EXPECT_TRUE(depth_ == expected.depth && amplitude_ == expected.amplitude &&
                    confidence_ == expected.confidence);
    }
}

// Parameters texts: each filter alone at level n, the others off.
enum Filter { kTemporalDepth, kSpatialDepth, kTemporalGray, kSpatialGray, kFlying, kFilters };
const char* const kFilterKeys[kFilters] = {"TDenoiseLevel_Depth", "SDenoiseLevel_Depth",
                                           "TDenoiseLevel_Gray", "SDenoiseLevel_Gray", "ERDOLvl"};
std::string filterLevels(const int (&levels)[kFilters]) {
    std::string text = "[DenoisingParams]\n";
    for (int f = 0; f < kFlying; ++f)
        text += std::string(kFilterKeys[f]) + "=" + std::to_string(levels[f]) + "\n";
    return text + "\n[RepairParams]\nERDOLvl=" + std::to_string(levels[kFlying]) + "\n";
}
std::string onlyFilter(int filter, int level) {
    int levels[kFilters] = {};
    if (filter < kFilters) levels[filter] = level;
    return filterLevels(levels);
}

// A still wall as the sensor sees it, with read and shot noise: frame `n` of a sequence.
std::vector<uint16_t> noisyWall(int width, int height, bool single, double distance, int n) {
    RawFrameBuilder builder(width, height, single);
    builder.scene([=](int, int) {
        SyntheticPixel pixel;
        pixel.distanceMm = distance;
        return pixel;
    });
    return builder.sensorNoise(2.0, 0.5, 1000u + n).frameCounter(n + 1).build();
}

// Standard deviations of a plane: over the frames per pixel (mean over pixels), and over the
// pixels of the last frame.
struct Spread {
    std::vector<double> sum, squares;
    int frames = 0;
    double spatial = 0.0;
    void add(const std::vector<float>& plane) {
        sum.resize(plane.size()), squares.resize(plane.size());
        double mean = 0.0, square = 0.0;
        for (size_t i = 0; i < plane.size(); ++i) {
            sum[i] += plane[i], squares[i] += double(plane[i]) * plane[i];
            mean += plane[i], square += double(plane[i]) * plane[i];
        }
        mean /= plane.size();
        spatial = std::sqrt(std::max(0.0, square / plane.size() - mean * mean));
        ++frames;
    }
    double temporal() const {
        double total = 0.0;
        for (size_t i = 0; i < sum.size(); ++i) {
            const double mean = sum[i] / frames;
            total += std::sqrt(std::max(0.0, squares[i] / frames - mean * mean));
        }
        return total / sum.size();
    }
};

// Each filter alone, on 30 frames of a still noisy wall: the planes it does not own stay
// exactly those of the plain pipeline, and the noise it aims at falls to half or less.
TEST(DepthFilters, EachFilterChangesOnlyItsPlaneAndHalvesItsNoise) {
    const struct {
        int filter;
        bool depthSame, amplitudeSame;
        bool temporal;                  // the noise measured: over frames, else over pixels
    } cases[] = {
        {kTemporalDepth, false, true, true}, {kSpatialDepth, false, true, false},
        {kTemporalGray, true, false, true},  {kSpatialGray, true, false, false},
        {kFlying, true, true, false},
    };
    for (bool single : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(kFilterKeys[c.filter]) + (single ? " single" : " double"));
            Handle filtered(kWidth, kHeight, single, onlyFilter(c.filter, 3));
            Handle plain(kWidth, kHeight, single, kFiltersOff);
            Spread filteredSpread, plainSpread;
            for (int n = 0; n < 30; ++n) {
                const std::vector<uint16_t> raw = noisyWall(kWidth, kHeight, single, 1100, n);
                ASSERT_TRUE(filtered.compute(raw) && plain.compute(raw));
                const bool first = c.temporal && n == 0;  // a start resets the state
                // The signal-to-noise ratio comes from the unfiltered signal; in double
                // frequency the residual of the filtered phases scales it.
                if (single || c.depthSame || first) {
                    ASSERT_EQ(filtered.confidence, plain.confidence) << n;
                }
                ASSERT_EQ(filtered.depth == plain.depth, c.depthSame || first) << n;
                ASSERT_EQ(filtered.amplitude == plain.amplitude, c.amplitudeSame || first) << n;
                const bool depth = !c.depthSame;
                filteredSpread.add(depth ? filtered.depth : filtered.amplitude);
                plainSpread.add(depth ? plain.depth : plain.amplitude);
            }
            if (c.filter == kFlying) continue;  // no edge on a wall; its test is below
            const double before = c.temporal ? plainSpread.temporal() : plainSpread.spatial;
            const double after = c.temporal ? filteredSpread.temporal() : filteredSpread.spatial;
            EXPECT_LT(after, 0.5 * before) << before << " -> " << after;
            EXPECT_GT(before, 0.5) << "the wall is noisy to begin with";
        }
    }
}

// A box at 1300 mm before a wall at 4000 mm; the pixels of the two columns between them
// see both, in shares that change from row to row.
SyntheticPixel boxEdge(int x, int y) {
    SyntheticPixel pixel;
    const bool box = x < kWidth / 2;
    pixel.distanceMm = box ? 1300.0 : 2000.0;
    pixel.amplitude = box ? 600.0 : 400.0;
    pixel.secondDistanceMm = box ? 2000.0 : 1300.0;
    pixel.secondAmplitude = box ? 400.0 : 600.0;
    const double share = (y + 1.0) / (kHeight + 1.0);
    if (x == kWidth / 2 - 1) pixel.secondShare = share;
    if (x == kWidth / 2) pixel.secondShare = 1.0 - share;
    return pixel;
}

// Every combination of the five filters at their default levels, on five noisy frames of the
// box edge: planes no filter owns stay those of the plain pipeline; valid depths lie on a
// surface, within 50 mm; with the flying-pixel removal on, every pixel between them too.
TEST(DepthFilters, EveryCombinationKeepsTheSurfacesAndTheRemovalClearsTheEdge) {
    const int defaults[kFilters] = {3, 3, 1, 1, 3};
    for (int combination = 0; combination < (1 << kFilters); ++combination) {
        int levels[kFilters];
        for (int f = 0; f < kFilters; ++f) levels[f] = combination >> f & 1 ? defaults[f] : 0;
        SCOPED_TRACE(filterLevels(levels));
        Handle filtered(kWidth, kHeight, false, filterLevels(levels));
        Handle plain(kWidth, kHeight, false, kFiltersOff);
        int between = 0;
        for (int n = 0; n < 5; ++n) {
            RawFrameBuilder builder(kWidth, kHeight, false);
            builder.scene(boxEdge).sensorNoise(2.0, 0.5, 77u + n).frameCounter(n + 1);
            const std::vector<uint16_t> raw = builder.build();
            ASSERT_TRUE(filtered.compute(raw) && plain.compute(raw));
            if (!(combination & (1 << kTemporalGray | 1 << kSpatialGray))) {
                ASSERT_EQ(filtered.amplitude, plain.amplitude);
            }
            if (!(combination & ~(1 << kTemporalGray | 1 << kSpatialGray))) {
                ASSERT_EQ(filtered.depth, plain.depth);
            }
            int valid = 0;
            for (int i = 0; i < kPixels; ++i) {
                if (filtered.depth[i] == 0.0f) continue;
                ++valid;
                const double off = std::min(std::fabs(filtered.depth[i] - 1300.0),
                                            std::fabs(filtered.depth[i] - 2000.0));
                const int x = i % kWidth;
                if (x == kWidth / 2 - 1 || x == kWidth / 2) {
                    between += off > 50.0;
                } else {
                    ASSERT_LT(off, 50.0) << i;
                }
            }
            ASSERT_GT(valid, kPixels * 9 / 10);
        }
        if (combination & 1 << kFlying) {
            EXPECT_EQ(between, 0);
        } else if (combination == 0) {
            EXPECT_GT(between, 0) << "the edge has flying pixels to remove";
        }
    }
}

// Walls from 300 to 4400 mm in double frequency, as bright as a sensor sees them at that
// distance, with the default filters: the median error stays within 5 mm, and the pixels
// the confidence keeps are unwrapped right, nearly all.
TEST(DepthFilters, DoubleFrequencyWallsUnwrapRightWithTheDefaults) {
    Handle handle(kWidth, kHeight, false, "");
    for (double distance = 300.0; distance <= 4400.0; distance += 410.0) {
        SCOPED_TRACE(distance);
        std::vector<float> errors;  // float: no iterator of doubles crosses a call on 32-bit ARM
        int wrong = 0;
        for (int n = 0; n < 4; ++n) {
            RawFrameBuilder builder(kWidth, kHeight, false);
            builder.scene([=](int, int) {
                SyntheticPixel pixel;
                pixel.distanceMm = distance;
                pixel.amplitude = std::min(1200.0, 1.6e9 / (distance * distance));
                pixel.background = 150.0;
                pixel.offset = pixel.background + 0.8 * pixel.amplitude;
                pixel.gray = pixel.background + 1.6 * pixel.amplitude;
                return pixel;
            });
            ASSERT_TRUE(handle.compute(builder.sensorNoise(2.0, 0.5, 500u + n).build()));
            if (n < 3) continue;  // the temporal filter settles
            for (float depth : handle.depth) {
                if (depth == 0.0f) continue;
                errors.push_back(static_cast<float>(std::fabs(depth - distance)));
                wrong += errors.back() > 100.0;
            }
        }
        ASSERT_GT(errors.size(), kPixels * 0.95);
        std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
        EXPECT_LE(errors[errors.size() / 2], 5.0);
        EXPECT_LE(wrong, errors.size() / 1000) << wrong << " of " << errors.size();
    }
}

// Values outside their range leave the default, with one line on standard error; so do the
// environment's thread count and loop form.
TEST(DepthParameters, ValuesOutOfRangeFallBackToTheDefaultWithOneLine) {
    const struct {
        const char* parameters;
        const char* threads;
        const char* form;
        const char* line;
        const char* equivalent;  // the parameters that give the same planes
    } cases[] = {
        {"[DenoisingParams]\nTDenoiseLevel_Depth=9\n", nullptr, nullptr,
         "ConfigAlgorithm.json: TDenoiseLevel_Depth=9 is outside 0..5, using 3\n", ""},
        {"[DenoisingParams]\nSDenoiseLevel_Gray=-1\nSDenoiseMethod_Depth=2\n", nullptr, nullptr,
         "ConfigAlgorithm.json: SDenoiseLevel_Gray=-1 is outside 0..5, using 1\n"
         "ConfigAlgorithm.json: SDenoiseMethod_Depth=2 is outside 1, using 1\n",
         ""},
        {"[RepairParams]\nERDOLvl=6\n[ConfidenceParams]\nValidDistMax=1e6\n", nullptr, nullptr,
         "ConfigAlgorithm.json: ERDOLvl=6 is outside 0..5, using 3\n"
         "ConfigAlgorithm.json: ValidDistMax=1e6 is outside 0..100000, using 7000\n",
         ""},
        {"[DenoisingParams]\nTDenoiseLevel_Depth=5\nSDenoiseLevel_Depth=0\n", nullptr, nullptr,
         "", "[DenoisingParams]\nTDenoiseLevel_Depth=5\nSDenoiseLevel_Depth=0\n"},
        {"", "abc", nullptr, "ZELVO_DEPTH_THREADS=abc is not a thread count 1..16, using 1\n", ""},
        {"", "17", nullptr, "ZELVO_DEPTH_THREADS=17 is not a thread count 1..16, using 1\n", ""},
        {"", nullptr, "avx9", nullptr, ""},
        // Empty means unset; names are read without regard to case.
        {"", "", "", "", ""},
        {"[ConfidenceParams]\nValidDistMin=5000\nValidDistMax=1000.5\n", nullptr, nullptr,
         "ConfigAlgorithm.json: ValidDistMin=5000 is above ValidDistMax=1000.5, no pixel is "
         "valid\n",
         "[ConfidenceParams]\nValidDistMin=5000\nValidDistMax=1000.5\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parameters);
        const ScopedVariable threads("ZELVO_DEPTH_THREADS", c.threads);
        const ScopedVariable form("ZELVO_DEPTH_SIMD", c.form);
        ::testing::internal::CaptureStderr();
        Handle handle(kWidth, kHeight, false, c.parameters);
        const std::string printed = ::testing::internal::GetCapturedStderr();
        if (c.line != nullptr) {
            EXPECT_EQ(printed, c.line);
        } else {
            EXPECT_EQ(printed.rfind("ZELVO_DEPTH_SIMD=avx9 is not available, using ", 0), 0u)
                << printed;
            EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
        }
        const ScopedVariable noThreads("ZELVO_DEPTH_THREADS", nullptr);
        const ScopedVariable noForm("ZELVO_DEPTH_SIMD", nullptr);
        Handle equivalent(kWidth, kHeight, false, c.equivalent);
        for (int n = 0; n < 3; ++n) {
            RawFrameBuilder builder(kWidth, kHeight, false);
            builder.scene(boxEdge).sensorNoise(2.0, 0.5, 9u + n).frameCounter(n + 1);
            ASSERT_TRUE(handle.compute(builder.build()) && equivalent.compute(builder.build()));
            EXPECT_TRUE(handle.samePlanes(equivalent));
        }
    }
}

// The forms of the pixel loops this processor runs, against the portable form: within the
// documented tolerance, on a width that leaves a partial vector at every row's end.
TEST(DepthForms, EveryFormAgreesWithThePortableOne) {
    std::vector<const char*> forms;
#if defined(__x86_64__) || defined(__i386__)
    forms.push_back("sse2");
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) forms.push_back("avx2");
#elif defined(__aarch64__)
    forms.push_back("neon");  // every 64-bit ARM processor has it
#elif defined(__arm__)
    if (getauxval(AT_HWCAP) & HWCAP_NEON) forms.push_back("neon");
#endif
    constexpr int kOddWidth = 61, kRows = 23;
    for (bool single : {true, false}) {
        std::vector<std::unique_ptr<Handle>> handles;
        std::vector<const char*> names{"portable"};
        names.insert(names.end(), forms.begin(), forms.end());
        for (const char* name : names) {
            const ScopedVariable form("ZELVO_DEPTH_SIMD", name);
            handles.push_back(std::make_unique<Handle>(kOddWidth, kRows, single, ""));
        }
        for (int n = 0; n < 3; ++n) {
            RawFrameBuilder builder(kOddWidth, kRows, single);
            builder.scene([single](int x, int y) {
                SyntheticPixel pixel = boxEdge(x + 2, y);
                pixel.distanceMm = single ? 300.0 + 4.0 * x : pixel.distanceMm;
                return pixel;
            });
            const std::vector<uint16_t> raw =
                builder.sensorNoise(2.0, 0.5, 31u + n).frameCounter(n + 1).build();
            for (auto& handle : handles) ASSERT_TRUE(handle->compute(raw));
            for (size_t form = 1; form < handles.size(); ++form) {
                SCOPED_TRACE(forms[form - 1]);
                const Handle& reference = *handles[0];
                const Handle& other = *handles[form];
                int apart = 0;
                for (int i = 0; i < kOddWidth * kRows; ++i) {
                    const bool close =
                        std::fabs(other.depth[i] - reference.depth[i]) <= 0.05f &&
                        std::fabs(other.amplitude[i] - reference.amplitude[i]) <=
                            1e-4f * reference.amplitude[i] + 1e-4f &&
                        std::fabs(other.confidence[i] - reference.confidence[i]) <=
                            1e-4f * reference.confidence[i] + 1e-4f;
                    apart += !close;
                }
                EXPECT_LE(apart, kOddWidth * kRows / 1000) << "frame " << n;
            }
        }
    }
}

// Loop forms are named without regard to case: the planes of the lower-case name, no line.
TEST(DepthForms, NamesAreReadWithoutRegardToCase) {
    const std::vector<uint16_t> raw = noisyWall(kWidth, kHeight, false, 2600.0, 0);
    const ScopedVariable lower("ZELVO_DEPTH_SIMD", "portable");
    Handle reference(kWidth, kHeight, false, "");
    for (const char* name : {"PORTABLE", "Portable"}) {
        const ScopedVariable form("ZELVO_DEPTH_SIMD", name);
        ::testing::internal::CaptureStderr();
        Handle named(kWidth, kHeight, false, "");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << name;
        ASSERT_TRUE(named.compute(raw) && reference.compute(raw));
        EXPECT_TRUE(named.samePlanes(reference)) << name;
    }
}

// Bands of rows on several threads give the planes of one thread, bit for bit, frame after
// frame (the temporal state included).
TEST(DepthThreads, AnyThreadCountGivesTheSamePlanes) {
    Handle one(kWidth, kHeight, false, "[DenoisingParams]\nSDenoiseLevel_Depth=5\n");
    std::vector<std::unique_ptr<Handle>> several;
    for (const char* threads : {"2", "3", "16"}) {
        const ScopedVariable variable("ZELVO_DEPTH_THREADS", threads);
        several.push_back(std::make_unique<Handle>(kWidth, kHeight, false,
                                                   "[DenoisingParams]\nSDenoiseLevel_Depth=5\n"));
    }
    for (int n = 0; n < 4; ++n) {
        RawFrameBuilder builder(kWidth, kHeight, false);
        builder.scene(boxEdge).sensorNoise(2.0, 0.5, 60u + n).frameCounter(n + 1);
        const std::vector<uint16_t> raw = builder.build();
        ASSERT_TRUE(one.compute(raw));
        for (auto& handle : several) {
            ASSERT_TRUE(handle->compute(raw));
            EXPECT_TRUE(handle->samePlanes(one)) << n;
        }
    }
}

// A handle restarted as a camera restarts it, a frame after each start, with several threads
// and with the thread count changing between starts: every start's workers compute that
// start's bands only, and every frame comes back whole.
TEST(DepthThreads, RestartsNeverRunATaskOfTheStartBefore) {
    const struct {
        const char* threads[2];  // alternate starts
        int restarts;
    } cases[] = {{{"2", "2"}, 1000}, {{"4", "4"}, 300}, {{"3", "16"}, 100}};
    const int widths[2] = {kWidth, kWidth / 2};
    std::vector<uint16_t> raws[2];
    for (int size = 0; size < 2; ++size)
        raws[size] = RawFrameBuilder(widths[size], kHeight, true).scene(ramp(300, 1100)).build();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.threads[1]);
        Handle handle(kWidth, kHeight, true, kFiltersOff);
        withinOrAbort(240, [&] {
            for (int restart = 0; restart < Zelvo::testing::repeatCount(c.restarts); ++restart) {
                const int size = restart % 2;
                const ScopedVariable threads("ZELVO_DEPTH_THREADS", c.threads[size]);
                ASSERT_TRUE(handle.restart(widths[size], kHeight)) << restart;
                ASSERT_TRUE(handle.compute(raws[size])) << restart;
                for (int y = 0; y < kHeight; ++y) {
                    const int i = y * widths[size];
                    ASSERT_NEAR(handle.depth[i], rampDistance(300, 1100, y * kWidth), 1.0)
                        << "restart " << restart << " row " << y;
                    ASSERT_GT(handle.confidence[i + widths[size] - 1], 0.0f) << restart;
                }
            }
        });
    }
}

}  // namespace
}  // namespace ZelvoDepth
