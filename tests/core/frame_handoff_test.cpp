// The capture thread and the hand-off of frames to the caller, on a running stream.
// Waits use generous time-outs; nothing depends on the speed of the machine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/frame_store.h"
#include "tests/support/camera_rig.h"
#include "tests/support/eventually.h"

namespace Zelvo {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::CameraRig;
using testing::eventually;

constexpr short kLongWait = 10000;  // ms

struct Streaming : ::testing::Test {
    void SetUp() override { ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess); }
    void TearDown() override {
        if (rig.camera && rig.camera->isStreaming()) rig.camera->stop();
    }
    void start(FrameType type = DEPTH, std::chrono::microseconds readDelay = 1ms) {
        rig.sensor().setReadDelay(readDelay);
        ASSERT_EQ(rig.camera->start(type), ZelvoSuccess);
    }
    // Read number of a delivered frame, checked against its contents.
    int readOf(ZelvoFrameBuffer* frame) {
        FrameDataFormat format{};
        EXPECT_EQ(frame->getFormat(DEPTH, format), 0);
        const int read = rig.sensor().readNumberOf(format.timestamp);
        const auto* depth = static_cast<const float*>(frame->getData(DEPTH));
        EXPECT_EQ(depth[0], static_cast<float>(read));
        EXPECT_EQ(depth[240 * 180 - 1], static_cast<float>(read));
        return read;
    }
    CameraRig rig;
};

TEST_F(Streaming, RequestWithoutFramesTimesOutWithNull) {
    rig.sensor().setDefaultReadResult(-1);
    start();
    EXPECT_EQ(rig.camera->requestFrame(0), nullptr);
    EXPECT_EQ(rig.camera->requestFrame(30), nullptr);
    EXPECT_GT(rig.sensor().reads(), 0);
}

TEST_F(Streaming, NegativeTimeOutWaitsForTheNextFrame) {
    for (short timeout : {short{-1}, short{-300}}) {
        rig.sensor().setDefaultReadResult(-1);
        start();
        std::atomic<int> failedReads{0};
        auto waiter = std::async(std::launch::async, [&] { return rig.camera->requestFrame(timeout); });
        EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout) << timeout;
        failedReads = rig.sensor().reads();
        rig.sensor().setDefaultReadResult(0);
        ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << timeout;
        ZelvoFrameBuffer* frame = waiter.get();
        ASSERT_NE(frame, nullptr);
        EXPECT_GT(readOf(frame), failedReads.load());
        EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
        rig.camera->stop();
    }
}

TEST_F(Streaming, DeliveredTimestampsAreThoseOfTheSensorReads) {
    start();
    int previous = 0;
    for (int i = 0; i < 10; ++i) {
        ZelvoFrameBuffer* frame = rig.camera->requestFrame(kLongWait);
        ASSERT_NE(frame, nullptr);
        const int read = readOf(frame);  // timestamp and contents name the same read
        EXPECT_GT(read, previous);
        previous = read;
        EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
    }
}

TEST_F(Streaming, ThreeBorrowedFramesStallCaptureUntilOneIsReleased) {
    start();
    ZelvoFrameBuffer* held[3];
    for (auto& frame : held) {
        frame = rig.camera->requestFrame(kLongWait);
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(rig.camera->isBorrowed(frame));
    }
    EXPECT_NE(held[0], held[1]);
    EXPECT_NE(held[1], held[2]);
    EXPECT_NE(held[0], held[2]);
    // With every buffer borrowed the sensor is not read at all.
    const int reads = rig.sensor().reads();
    EXPECT_EQ(rig.camera->requestFrame(100), nullptr);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rig.sensor().reads(), reads);
    for (auto* frame : held) EXPECT_GT(readOf(frame), 0);  // contents untouched

    ASSERT_EQ(rig.camera->releaseFrame(held[1]), 0);
    EXPECT_FALSE(rig.camera->isBorrowed(held[1]));
    ZelvoFrameBuffer* next = rig.camera->requestFrame(kLongWait);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next, held[1]);  // the only buffer that could be refilled
    EXPECT_GT(readOf(next), reads);
    EXPECT_EQ(rig.camera->releaseFrame(held[0]), 0);
    EXPECT_EQ(rig.camera->releaseFrame(held[2]), 0);
    EXPECT_EQ(rig.camera->releaseFrame(next), 0);
}

TEST_F(Streaming, FramesMayBeReleasedInAnyOrder) {
    start();
    const std::vector<std::vector<int>> orders = {{1, 2, 0}, {2, 1, 0}, {0, 2, 1}, {2, 0, 1}};
    for (const auto& order : orders) {
        ZelvoFrameBuffer* held[3];
        for (auto& frame : held) {
            frame = rig.camera->requestFrame(kLongWait);
            ASSERT_NE(frame, nullptr);
        }
        for (int i : order) EXPECT_EQ(rig.camera->releaseFrame(held[i]), 0);
        for (auto* frame : held) EXPECT_EQ(rig.camera->releaseFrame(frame), -1) << "twice";
    }
    // The pool is whole: three frames can still be borrowed at once.
    ZelvoFrameBuffer* again[3];
    for (auto& frame : again) {
        frame = rig.camera->requestFrame(kLongWait);
        ASSERT_NE(frame, nullptr);
    }
    for (auto* frame : again) EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
}

TEST_F(Streaming, SlowConsumerGetsOneOfTheThreeNewestFrames) {
    start(DEPTH, 500us);
    for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(30ms);
        // Reads started before the request; at most one of them is still in progress,
        // and the queue holds the newest completed frames.
        const int started = rig.sensor().reads();
        ZelvoFrameBuffer* frame = rig.camera->requestFrame(kLongWait);
        ASSERT_NE(frame, nullptr);
        const int read = readOf(frame);
        EXPECT_GE(read, started - 3) << "stale frame";
        EXPECT_LE(read, rig.sensor().reads());
        EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
    }
}

TEST_F(Streaming, ReleasingAFrameNotBorrowedIsRefusedAndLeavesThePoolWhole) {
    start();
    ZelvoFrameBuffer* frame = rig.camera->requestFrame(kLongWait);
    ASSERT_NE(frame, nullptr);
    RawData stranger(240, 720);
    EXPECT_EQ(rig.camera->releaseFrame(&stranger), -1);
    EXPECT_EQ(rig.camera->releaseFrame(nullptr), -1);
    // Pool buffers the caller does not hold: free, queued or being filled.
    for (const auto& node : rig.camera->frameStore->framePool().nodes()) {
        if (node->buffer.get() != frame) {
            EXPECT_FALSE(rig.camera->isBorrowed(node->buffer.get()));
            EXPECT_EQ(rig.camera->releaseFrame(node->buffer.get()), -1);
        }
    }
    EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
    EXPECT_EQ(rig.camera->releaseFrame(frame), -1);
    rig.camera->stop();
    const FramePool& pool = rig.camera->frameStore->framePool();
    // After the stop every node is free or queued, each exactly once.
    EXPECT_EQ(pool.freeListLength() + pool.readyQueueLength(), 3u);
}

TEST_F(Streaming, FramesOfAnEarlierStreamAreRefused) {
    start();
    ZelvoFrameBuffer* frame = rig.camera->requestFrame(kLongWait);
    ASSERT_NE(frame, nullptr);
    const uint64_t generation = rig.camera->bufferGeneration();
    rig.camera->stop();
    EXPECT_TRUE(rig.camera->isBorrowed(frame));  // readable until the next start
    start(RAW);
    EXPECT_NE(rig.camera->bufferGeneration(), generation);
    EXPECT_EQ(rig.camera->releaseFrame(frame), -1);
}

TEST_F(Streaming, SkippingHalvesTheDeliveredReads) {
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME_LOOP, 2), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME, 1), ZelvoSuccess);
    start();
    for (int i = 0; i < 6; ++i) {
        ZelvoFrameBuffer* frame = rig.camera->requestFrame(kLongWait);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(readOf(frame) % 2, 1) << "every other read is dropped";
        EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
    }
    // Changed while streaming: from the next reads on, every read is delivered.
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME, 0), ZelvoSuccess);
    ZelvoFrameBuffer* frame = nullptr;
    bool sawEven = false;
    ASSERT_TRUE(eventually([&] {
        frame = rig.camera->requestFrame(kLongWait);
        if (!frame) return false;
        sawEven = readOf(frame) % 2 == 0;
        rig.camera->releaseFrame(frame);
        return sawEven;
    }));
}

TEST_F(Streaming, FailedComputationsDeliverNothingUntilTheyRecover) {
    rig.device().setPhaseResult(false);
    start();
    EXPECT_EQ(rig.camera->requestFrame(50), nullptr);
    rig.device().setPhaseResult(true);
    ZelvoFrameBuffer* frame = rig.camera->requestFrame(kLongWait);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
}

// A camera unplugged mid-stream: reads fail at once, again and again. The thread backs
// off between attempts instead of spinning, stops promptly and recovers.
TEST_F(Streaming, FailingReadsBackOffAndRecover) {
    rig.sensor().setDefaultReadResult(-1);
    start(DEPTH, 0us);
    std::this_thread::sleep_for(300ms);
    // Unthrottled, a failing read returns at once and is retried hundreds of thousands
    // of times in this span; with the back-off it is about a dozen.
    EXPECT_LT(rig.sensor().reads(), 200);
    rig.sensor().setDefaultReadResult(0);
    ZelvoFrameBuffer* frame = rig.camera->requestFrame(kLongWait);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
    rig.sensor().setDefaultReadResult(-1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.camera->stop(), ZelvoSuccess);
    EXPECT_FALSE(rig.camera->isStreaming());
}

// The sensor's rate is judged by its reads: a clock that advances 1/15 s per read
// makes a 15 fps sensor.
struct AutoFrameRate : Streaming {
    void startAt15Fps(int configured) {
        rig.device().presetControl(FRAME_RATE, configured);
        testing::ScriptedSensor* sensor = &rig.sensor();
        rig.camera->wallClock = [sensor] { return sensor->reads() * 66666667LL; };
        start(DEPTH, 200us);
    }
};

TEST_F(AutoFrameRate, SlowSensorIsSetToItsMeasuredRate) {
    startAt15Fps(30);
    ASSERT_TRUE(eventually([&] { return rig.device().control(FRAME_RATE) != 30; }));
    EXPECT_EQ(rig.device().control(FRAME_RATE), 15);
    EXPECT_TRUE(rig.log().contains(call("device.setControl", FRAME_RATE, 15)));
}

TEST_F(AutoFrameRate, SkippedReadsKeepTheRate) {
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME_LOOP, 2), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME, 1), ZelvoSuccess);
    startAt15Fps(15);
    // 150 reads are ten seconds on this clock: three adjustments were due.
    ASSERT_TRUE(eventually([&] { return rig.sensor().reads() > 150; }));
    rig.camera->stop();
    EXPECT_EQ(rig.device().control(FRAME_RATE), 15);
    EXPECT_FALSE(rig.log().contains(call("device.setControl", FRAME_RATE, 7)));
    EXPECT_TRUE(rig.log().contains(call("device.getControl", FRAME_RATE)));
}

TEST_F(AutoFrameRate, SwitchedOffNothingIsAdjusted) {
    ASSERT_EQ(rig.camera->setControl(AUTO_FRAME_RATE, 0), ZelvoSuccess);
    startAt15Fps(30);
    ASSERT_TRUE(eventually([&] { return rig.sensor().reads() > 150; }));
    rig.camera->stop();
    EXPECT_EQ(rig.device().control(FRAME_RATE), 30);
    EXPECT_FALSE(rig.log().contains(call("device.getControl", FRAME_RATE)));
}

// Time in which the caller holds every buffer is no interval between sensor frames.
TEST_F(AutoFrameRate, ConsumerStallDoesNotCountAsASlowSensor) {
    std::atomic<int64_t> offset{0};
    testing::ScriptedSensor* sensor = &rig.sensor();
    rig.camera->wallClock = [sensor, &offset] { return offset.load() + sensor->reads() * 33000000LL; };
    start(DEPTH, 200us);
    ZelvoFrameBuffer* held[3];
    for (auto& frame : held) {
        frame = rig.camera->requestFrame(kLongWait);
        ASSERT_NE(frame, nullptr);
    }
    const int stalledAt = rig.sensor().reads();
    offset += 10000000000LL;  // ten seconds pass with every buffer borrowed
    rig.sensor().setReadBudget(stalledAt + 1);
    std::this_thread::sleep_for(30ms);
    ASSERT_EQ(rig.camera->releaseFrame(held[0]), 0);
    // One more good read, then the first failing one.
    ASSERT_TRUE(eventually([&] { return rig.sensor().reads() >= stalledAt + 2; }));
    rig.camera->stop();
    EXPECT_LT(rig.camera->frameInterval, 100.0f);
    EXPECT_GT(rig.camera->fps, 10.0f);
}

}  // namespace
}  // namespace Zelvo
