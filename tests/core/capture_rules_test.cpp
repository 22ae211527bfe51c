// The per-read rules of the capture thread, driven directly on the caller's thread:
// the skip rule, the frame-rate estimate and the automatic adjustment.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/frame_store.h"
#include "tests/support/camera_rig.h"

namespace Zelvo {
namespace {

using testing::call;
using testing::CameraRig;

constexpr int64_t kMs = 1000000;

struct StoppedStream : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
        ASSERT_EQ(rig.camera->setOutputType(DEPTH), ZelvoSuccess);
        rig.camera->wallClock = [this] { return now; };
        staging = static_cast<uint8_t*>(rig.camera->frameStore->staging().getData(CACHE));
        node = rig.camera->frameStore->framePool().takeFree();
        ASSERT_NE(node, nullptr);
    }
    // One analysisFrame call; '1' delivered, '0' skipped, 'x' failed.
    char analyse() {
        const int result = rig.camera->analysisFrame(staging, node);
        return result == 0 ? '1' : result == ZelvoSkipFrame ? '0' : 'x';
    }
    std::string pattern(int reads) {
        std::string delivered;
        for (int i = 0; i < reads; ++i) delivered += analyse();
        return delivered;
    }
    FrameDataFormat format(FrameType type) {
        FrameDataFormat f{};
        EXPECT_EQ(node->buffer->getFormat(type, f), 0);
        return f;
    }

    CameraRig rig;
    int64_t now = 0;
    uint8_t* staging = nullptr;
    LinkNode* node = nullptr;
};

TEST_F(StoppedStream, SkipRuleDeliveryPattern) {
    const struct {
        int skip, loop;
        const char* expected;
    } cases[] = {
        {0, 1, "111111111"},    {1, 2, "101010101"},   {2, 3, "010010010"},
        {1, 3, "110110110"},    {3, 3, "000000000"},   {0, 5, "1111111111"},
        {4, 5, "0001000010"},   {2, 4, "1010101010"},  {1, 1, "000000"},
    };
    for (const auto& c : cases) {
        CameraRig fresh;
        ASSERT_EQ(fresh.camera->open(CSI, 0), ZelvoSuccess);
        ASSERT_EQ(fresh.camera->setOutputType(DEPTH), ZelvoSuccess);
        ASSERT_EQ(fresh.camera->setControl(SKIP_FRAME_LOOP, c.loop), ZelvoSuccess);
        ASSERT_EQ(fresh.camera->setControl(SKIP_FRAME, c.skip), ZelvoSuccess);
        rig.camera.swap(fresh.camera);
        rig.factory.swap(fresh.factory);
        SetUp();
        std::string delivered = pattern(static_cast<int>(std::string(c.expected).size()));
        EXPECT_EQ(delivered, c.expected) << c.skip << " of " << c.loop;
        // A dropped read still costs a read.
        EXPECT_EQ(rig.sensor().reads(), static_cast<int>(delivered.size()));
        EXPECT_EQ(rig.device().phaseCalls(),
                  static_cast<int>(std::count(delivered.begin(), delivered.end(), '1')));
    }
}

TEST_F(StoppedStream, LoweringTheLoopBelowTheSkipCountDropsEverything) {
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME_LOOP, 4), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME, 3), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME_LOOP, 2), ZelvoSuccess);
    EXPECT_EQ(pattern(6), "000000");
}

TEST_F(StoppedStream, DeliveredFrameCarriesTheReadAndItsTimestamp) {
    ASSERT_EQ(analyse(), '1');
    ASSERT_EQ(analyse(), '1');
    // Second read: timestamp first + step, every sample 2.
    const uint64_t expected = 1000 + 33;
    EXPECT_EQ(format(DEPTH).timestamp, expected);
    EXPECT_EQ(format(CONFIDENCE).timestamp, expected);
    const auto* depth = static_cast<float*>(node->buffer->getData(DEPTH));
    EXPECT_EQ(depth[0], 2.0f);
    EXPECT_EQ(depth[240 * 180 - 1], 2.0f);
    EXPECT_EQ(static_cast<float*>(node->buffer->getData(AMPLITUDE))[5], 4.0f);
    EXPECT_EQ(static_cast<float*>(node->buffer->getData(CONFIDENCE))[5], -2.0f);
}

TEST_F(StoppedStream, FailedReadsAndComputationsAreNotDelivered) {
    rig.sensor().queueReadResults({-1, 2, -2, 1, 0});
    EXPECT_EQ(pattern(5), "xxxx1");
    EXPECT_EQ(rig.device().phaseCalls(), 1);
    rig.device().setPhaseResult(false);
    EXPECT_EQ(analyse(), 'x');
}

TEST(RawStream, RawFramesComeFromTheDeviceRawCopy) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setOutputType(RAW), ZelvoSuccess);
    auto* staging = static_cast<uint8_t*>(rig.camera->frameStore->staging().getData(CACHE));
    LinkNode* node = rig.camera->frameStore->framePool().takeFree();
    for (int read = 1; read <= 3; ++read) {
        ASSERT_EQ(rig.camera->analysisFrame(staging, node), 0);
        const auto* samples = static_cast<int16_t*>(node->buffer->getData(RAW));
        EXPECT_EQ(samples[0], read);
        EXPECT_EQ(samples[240 * 720 - 1], read);
    }
    EXPECT_EQ(rig.device().rawCalls(), 3);
    EXPECT_EQ(rig.device().phaseCalls(), 0);
}

// The frame-rate estimate: intervals in whole milliseconds, smoothed with a weight
// that follows the interval (interval / 2000, at least 1/30, below 1).
TEST_F(StoppedStream, FrameRateEstimate) {
    rig.camera->lastFrameTime = 0;
    const struct {
        int64_t at;        // clock of the sample, ns
        float interval;    // expected frameInterval afterwards
        float weight;      // expected fpsWeight afterwards
    } steps[] = {
        {100 * kMs + 900000, 100.0f, 0.1f},            // first sample taken as is, truncated
        {200 * kMs, 0.9f * 100.0f + 0.1f * 99.0f, 99.9f / 2000.0f},
        {210 * kMs, (1.0f - 99.9f / 2000.0f) * 99.9f + 99.9f / 2000.0f * 10.0f,
         ((1.0f - 99.9f / 2000.0f) * 99.9f + 99.9f / 2000.0f * 10.0f) / 2000.0f},
    };
    int samples = 0;
    for (const auto& s : steps) {
        now = s.at;
        rig.camera->updateFps();
        ++samples;
        EXPECT_NEAR(rig.camera->frameInterval, s.interval, 1e-3) << samples;
        EXPECT_NEAR(rig.camera->fpsWeight, s.weight, 1e-6) << samples;
        EXPECT_EQ(rig.camera->fpsSamples, samples);
        EXPECT_FLOAT_EQ(rig.camera->fps, 1000.0f / rig.camera->frameInterval);
        EXPECT_EQ(rig.camera->lastFrameTime, s.at);
    }
}

TEST_F(StoppedStream, WeightIsOneThirtiethOutsideItsBand) {
    for (int64_t interval : {int64_t{33}, int64_t{66}, int64_t{3000}, int64_t{5000}}) {
        rig.camera->fpsSamples = 0;
        rig.camera->lastFrameTime = now;
        for (int i = 0; i < 2; ++i) {
            now += interval * kMs;
            rig.camera->updateFps();
        }
        EXPECT_FLOAT_EQ(rig.camera->frameInterval, static_cast<float>(interval));
        EXPECT_FLOAT_EQ(rig.camera->fpsWeight, 1.0f / 30.0f) << interval;
    }
    // Inside the band the weight is the interval over 2000.
    rig.camera->fpsSamples = 0;
    for (int i = 0; i < 2; ++i) {
        now += 500 * kMs;
        rig.camera->updateFps();
    }
    EXPECT_FLOAT_EQ(rig.camera->fpsWeight, 0.25f);
    EXPECT_FLOAT_EQ(rig.camera->fps, 2.0f);
}

TEST_F(StoppedStream, NonFiniteCandidateLeavesTheEstimate) {
    rig.camera->fpsSamples = 3;
    rig.camera->frameInterval = std::numeric_limits<float>::infinity();
    rig.camera->fpsWeight = 0.2f;
    now = rig.camera->lastFrameTime + 40 * kMs;
    rig.camera->updateFps();
    EXPECT_TRUE(std::isinf(rig.camera->frameInterval));
    EXPECT_FLOAT_EQ(rig.camera->fpsWeight, 0.2f);
    EXPECT_EQ(rig.camera->fpsSamples, 4);
}

TEST_F(StoppedStream, AdjustmentFollowsTheMeasuredRateBeyondTheTolerance) {
    const struct {
        float fps;
        int configured;
        int expectedRate;  // what the device holds afterwards
    } cases[] = {
        {15.0f, 30, 15}, {15.9f, 30, 15}, {28.0f, 30, 30}, {27.0f, 30, 30}, {26.9f, 30, 26},
        {9.0f, 12, 9},   {11.0f, 12, 12}, {0.3f, 3, 1},    {0.0f, 2, 2},    {40.0f, 30, 30},
        {std::numeric_limits<float>::infinity(), 30, 30},
    };
    rig.device().script.maxFrameRate = 30;
    for (const auto& c : cases) {
        rig.device().presetControl(FRAME_RATE, c.configured);
        rig.camera->fps = c.fps;
        rig.camera->adjustFrameRate();
        EXPECT_EQ(rig.device().control(FRAME_RATE), c.expectedRate)
            << c.fps << " against " << c.configured;
    }
}

}  // namespace
}  // namespace Zelvo
