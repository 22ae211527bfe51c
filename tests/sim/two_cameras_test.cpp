// Two cameras in one process with ZELVO_SIM=cameras=2: each streams from its own sensor on
// its own pipeline (CSI) or kit (USB), with its own range, rate and output type, while the
// same node asked for twice is still refused. Rates are judged by the sensors' timestamps,
// never by the wall clock; counts are bounds with slack.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <zelvo/camera.h>
#include "sim/board.h"
#include "tests/depth/scoped_variable.h"

namespace Zelvo {
namespace {

using ZelvoDepth::testing::ScopedVariable;

struct CameraPlan {
    Connection connect;
    int index;
    FrameType output;
    int range;  // mm
    int rate;   // frames per second of its sensor (its board's fps setting)
};

struct Stream {
    std::vector<uint64_t> stamps;  // ms, in delivery order
    std::atomic<size_t> delivered{0};
    int failures = 0;
};

// Requests frames until `stop`, keeping the timestamps of the planned output's plane.
void collect(ZelvoTOFCamera& camera, FrameType output, const std::atomic<bool>& stop,
             Stream& stream) {
    while (!stop.load()) {
        ZelvoFrameBuffer* frame = camera.requestFrame(5000);
        if (!frame) {
            ++stream.failures;
            continue;
        }
        FrameDataFormat format{};
        if (frame->getFormat(output, format) == 0) stream.stamps.push_back(format.timestamp);
        camera.releaseFrame(frame);
        ++stream.delivered;
    }
}

// Both cameras stream at once, each from its own sensor with its own controls.
void streamTogether(const char* settings, const CameraPlan (&plans)[2]) {
    // Each camera builds its board from ZELVO_SIM when it is made: its sensor's rate.
    std::unique_ptr<ZelvoTOFCamera> cameras[2];
    for (int i = 0; i < 2; ++i) {
        const CameraPlan& plan = plans[i];
        SCOPED_TRACE(i);
        const std::string own = std::string(settings) + ",fps=" + std::to_string(plan.rate);
        ScopedVariable simulation("ZELVO_SIM", own.c_str());
        cameras[i] = std::make_unique<ZelvoTOFCamera>();
        ASSERT_EQ(cameras[i]->open(plan.connect, plan.index), 0);
        ASSERT_EQ(cameras[i]->setControl(RANGE, plan.range), 0);
        ASSERT_EQ(cameras[i]->start(plan.output), 0);
    }
    Stream streams[2];
    std::atomic<bool> stop{false};
    std::thread first(collect, std::ref(*cameras[0]), plans[0].output, std::cref(stop),
                      std::ref(streams[0]));
    std::thread second(collect, std::ref(*cameras[1]), plans[1].output, std::cref(stop),
                       std::ref(streams[1]));
    // A bound on a hang: a dozen frames of each camera come long before it.
    const auto began = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - began < std::chrono::seconds(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (streams[0].delivered >= 12 && streams[1].delivered >= 12) break;
    }
    stop = true;
    first.join();
    second.join();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const CameraPlan& plan = plans[i];
        const std::vector<uint64_t>& stamps = streams[i].stamps;
        EXPECT_EQ(streams[i].failures, 0);
        ASSERT_GE(stamps.size(), 12u);
        EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
        EXPECT_EQ(std::adjacent_find(stamps.begin(), stamps.end()), stamps.end())
            << "a frame delivered twice";
        // Each camera at its own sensor's rate, not the other's: every gap a whole number of
        // its periods (a slow computation under a sanitizer may drop frames, never add any).
        const double period = 1000.0 / plan.rate;
        for (size_t k = 1; k < stamps.size(); ++k) {
            const double gap = static_cast<double>(stamps[k] - stamps[k - 1]);
            const double periods = std::max(1.0, std::round(gap / period));
            EXPECT_NEAR(gap, periods * period, 0.2 * period) << "frame " << k;
        }
        int value = 0;
        EXPECT_EQ(cameras[i]->getControl(RANGE, &value), 0);
        EXPECT_EQ(value, plan.range);
        EXPECT_EQ(cameras[i]->stop(), 0);
        EXPECT_EQ(cameras[i]->close(), 0);
    }
}

TEST(TwoCameras, StreamTogetherWithTheirOwnControls) {
    // (settings, the two cameras): CSI nodes 0 and 1 on boards with and without a media
    // graph, both kits, and one camera of each transport.
    const struct {
        const char* settings;
        CameraPlan plans[2];
    } cases[] = {
        {"cameras=2,board=rpi5,scene=wall:1500",
         {{CSI, 0, DEPTH, 4000, 15}, {CSI, 1, RAW, 2000, 5}}},
        {"cameras=2,board=jetson-nano,scene=wall:1500",
         {{CSI, 0, RAW, 2000, 5}, {CSI, 1, DEPTH, 4000, 10}}},
        {"cameras=2,board=rock5b,scene=wall:1500",
         {{CSI, 1, DEPTH, 2000, 10}, {CSI, 0, RAW, 4000, 5}}},
        {"cameras=2,board=rpi4,scene=wall:1500",
         {{USB, 0, DEPTH, 4000, 15}, {USB, 1, RAW, 2000, 5}}},
        {"cameras=2,board=rpi5,scene=wall:1500",
         {{CSI, 1, RAW, 4000, 5}, {USB, 1, DEPTH, 2000, 10}}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.settings);
        SCOPED_TRACE(std::to_string(each.plans[0].connect) + ":" +
                     std::to_string(each.plans[0].index));
        streamTogether(each.settings, each.plans);
    }
}

// One board with two pipelines: each camera's controls reach its own sensor only.
TEST(TwoCameras, EachPipelineDrivesItsOwnSensor) {
    for (const char* settings : {"cameras=2,board=rpi5", "cameras=2,board=rpi4",
                                 "cameras=2,board=rock5b", "cameras=2,board=jetson-orin"}) {
        SCOPED_TRACE(settings);
        std::string error;
        std::shared_ptr<sim::Board> board = sim::Board::create(settings, error);
        ASSERT_TRUE(board) << error;
        ZelvoTOFCamera first(board, nullptr), second(board, nullptr);
        ASSERT_EQ(first.open(CSI, 0), 0);
        ASSERT_EQ(second.open(CSI, 1), 0);
        ASSERT_EQ(first.setControl(RANGE, 2000), 0);
        ASSERT_EQ(second.setControl(RANGE, 4000), 0);
        const sim::SensorState one = board->sensorState(0), two = board->sensorState(1);
        EXPECT_EQ(one.rangeControl, 1);  // 75 MHz, the 2000 mm range
        EXPECT_EQ(two.rangeControl, 0);
        ASSERT_EQ(first.start(RAW), 0);
        ASSERT_EQ(second.start(DEPTH), 0);
        EXPECT_TRUE(board->sensorState(0).streaming);
        EXPECT_TRUE(board->sensorState(1).streaming);
        for (ZelvoTOFCamera* camera : {&first, &second}) {
            ZelvoFrameBuffer* frame = camera->requestFrame(5000);
            ASSERT_NE(frame, nullptr);
            camera->releaseFrame(frame);
        }
        EXPECT_EQ(first.stop(), 0);
        EXPECT_FALSE(board->sensorState(0).streaming);
        EXPECT_TRUE(board->sensorState(1).streaming) << "the other pipeline streams on";
        EXPECT_EQ(second.stop(), 0);
    }
}

TEST(TwoCameras, IndexesWithoutADeviceAndABusyNodeAreRefused) {
    {
        ScopedVariable simulation("ZELVO_SIM", "board=rpi5");  // one camera: no index 1
        ZelvoTOFCamera camera;
        EXPECT_NE(camera.open(CSI, 1), 0);
        EXPECT_NE(camera.open(USB, 1), 0);
    }
    ScopedVariable simulation("ZELVO_SIM", "cameras=2,board=rpi5");
    ZelvoTOFCamera cameras[3];
    EXPECT_NE(cameras[0].open(CSI, 2), 0);
    EXPECT_NE(cameras[0].open(USB, 2), 0);
    ASSERT_EQ(cameras[0].open(CSI, 1), 0);
    ASSERT_EQ(cameras[1].open(CSI, 1), 0);  // opening a node is no claim
    ASSERT_EQ(cameras[2].open(CSI, 0), 0);
    ASSERT_EQ(cameras[0].start(RAW), 0);
    EXPECT_NE(cameras[1].start(RAW), 0) << "node 1 is streaming";
    EXPECT_EQ(cameras[2].start(RAW), 0) << "node 0 is another node";
    EXPECT_EQ(cameras[0].stop(), 0);
    EXPECT_EQ(cameras[1].start(RAW), 0);
    EXPECT_EQ(cameras[1].stop(), 0);
    EXPECT_EQ(cameras[2].stop(), 0);
}

}  // namespace
}  // namespace Zelvo
