// The whole camera over the CSI transport on simulated boards: depth and raw frames
// arrive as the scene dictates, and an unplugged or stalled camera is survived.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <zelvo/camera.h>
#include <zelvo/types.h>
#include "sim/board.h"
#include "sim/settings.h"
#include "sim/tof_sensor.h"
#include "tests/csi/counting_host.h"

namespace Zelvo {
namespace {

constexpr short kFrameWaitMs = 3000;  // generous: a frame comes every 33 ms
constexpr int kWidth = 240;
constexpr int kHeight = 180;

struct CameraBench {
    // extra: further ZELVO_SIM settings, each after a comma.
    explicit CameraBench(const std::string& boardKey, const std::string& extra = "") {
        std::string error;
        const std::string settings = "board=" + boardKey + ",scene=wall:1500,noise=0" + extra;
        board = sim::Board::create(settings.c_str(), error);
        EXPECT_TRUE(board) << error;
        host = std::make_shared<testing::CountingHost>(board);
        camera = std::make_unique<ZelvoTOFCamera>(host);
    }

    std::shared_ptr<sim::Board> board;
    std::shared_ptr<testing::CountingHost> host;
    std::unique_ptr<ZelvoTOFCamera> camera;
};

const char* const kBoards[] = {"rpi5", "jetson-orin", "jetson-nano", "rpi4", "rock5b"};

TEST(CameraOverCsi, DepthOfAWallAtOneAndAHalfMetres) {
    for (const char* key : kBoards) {
        SCOPED_TRACE(key);
        CameraBench bench(key);
        ZelvoTOFCamera& camera = *bench.camera;
        ASSERT_EQ(camera.open(CSI, 0), 0);
        const CameraInfo info = camera.getCameraInfo();
        EXPECT_EQ(info.device_type, HQVGA);
        EXPECT_EQ(info.width, 240u);
        EXPECT_EQ(info.height, 180u);
        ASSERT_EQ(camera.start(DEPTH), 0);
        for (int frame = 0; frame < 3; ++frame) {
            ZelvoFrameBuffer* buffer = camera.requestFrame(kFrameWaitMs);
            ASSERT_NE(buffer, nullptr) << "frame " << frame;
            FrameDataFormat format{};
            ASSERT_EQ(buffer->getFormat(DEPTH, format), 0);
            EXPECT_EQ(format.width, 240u);
            EXPECT_EQ(format.height, 180u);
            const float* depth = static_cast<const float*>(buffer->getData(DEPTH));
            ASSERT_NE(depth, nullptr);
            for (int row = kHeight / 2 - 1; row <= kHeight / 2; ++row) {
                for (int column = kWidth / 2 - 1; column <= kWidth / 2; ++column) {
                    EXPECT_NEAR(depth[row * kWidth + column], 1500.0f, 2.0f)
                        << "row " << row << " column " << column;
                }
            }
            EXPECT_EQ(camera.releaseFrame(buffer), 0);
        }
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_EQ(camera.close(), 0);
        EXPECT_EQ(bench.board->openDescriptors(), 0u);
        EXPECT_EQ(bench.board->mappings(), 0u);
    }
}

// The range a caller selects reaches the sensor, so the modulation and the depth agree.
TEST(CameraOverCsi, SelectedRangeReachesTheSensor) {
    for (const char* key : {"rpi5", "jetson-orin", "rock5b"}) {
        SCOPED_TRACE(key);
        CameraBench bench(key);
        ZelvoTOFCamera& camera = *bench.camera;
        ASSERT_EQ(camera.open(CSI, 0), 0);
        for (int range : {2000, 4000, 2000}) {
            ASSERT_EQ(camera.setControl(RANGE, range), 0) << range;
            EXPECT_EQ(bench.board->sensorState().rangeControl, range == 2000 ? 1 : 0);
            ASSERT_EQ(camera.start(DEPTH), 0);
            ZelvoFrameBuffer* buffer = camera.requestFrame(kFrameWaitMs);
            ASSERT_NE(buffer, nullptr);
            const float* depth = static_cast<const float*>(buffer->getData(DEPTH));
            EXPECT_NEAR(depth[kHeight / 2 * kWidth + kWidth / 2], 1500.0f, 2.0f) << range;
            EXPECT_EQ(camera.releaseFrame(buffer), 0);
            EXPECT_EQ(camera.stop(), 0);
        }
        EXPECT_EQ(camera.close(), 0);
    }
}

// A raw frame holds the four phase images interleaved by row: row 4r + k is row r of
// phase k, 240 x 720 samples, exactly as the sensor digitised them on every board.
TEST(CameraOverCsi, RawFramesInterleaveThePhaseRows) {
    for (const char* key : kBoards) {
        SCOPED_TRACE(key);
        CameraBench bench(key);
        ZelvoTOFCamera& camera = *bench.camera;
        ASSERT_EQ(camera.open(CSI, 0), 0);
        ASSERT_EQ(camera.start(RAW), 0);
        ZelvoFrameBuffer* buffer = camera.requestFrame(kFrameWaitMs);
        ASSERT_NE(buffer, nullptr);
        FrameDataFormat format{};
        ASSERT_EQ(buffer->getFormat(RAW, format), 0);
        EXPECT_EQ(format.width, 240u);
        EXPECT_EQ(format.height, 720u);
        const int16_t* raw = static_cast<const int16_t*>(buffer->getData(RAW));
        ASSERT_NE(raw, nullptr);

        // The same noiseless scene, rendered by a sensor set up as the board's is.
        sim::Settings settings;
        std::string error;
        ASSERT_TRUE(sim::parseSettings("scene=wall:1500,noise=0", settings, error)) << error;
        sim::TofSensor expectedSensor(settings);
        const sim::SensorState state = bench.board->sensorState();
        expectedSensor.setRangeControl(state.rangeControl);
        if (state.exposure > 0) expectedSensor.setExposure(state.exposure);
        const int16_t* phases = expectedSensor.nextFrame();
        int mismatches = 0;
        for (int row = 0; row < kHeight; ++row) {
            for (int phase = 0; phase < 4; ++phase) {
                for (int column = 0; column < kWidth; ++column) {
                    const int16_t got = raw[(row * 4 + phase) * kWidth + column];
                    // Decoded samples carry the 11-bit value times 16.
                    const int16_t want = static_cast<int16_t>(
                        phases[phase * kWidth * kHeight + row * kWidth + column] * 16);
                    if (got != want && ++mismatches <= 3) {
                        ADD_FAILURE() << "row " << row << " phase " << phase << " column "
                                      << column << ": " << got << " != " << want;
                    }
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(camera.releaseFrame(buffer), 0);
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_EQ(camera.close(), 0);
    }
}

TEST(CameraOverCsi, UnpluggedCameraTimesOutWithoutSpinning) {
    for (const char* key : {"rpi5", "jetson-orin"}) {
        SCOPED_TRACE(key);
        CameraBench bench(key);
        ZelvoTOFCamera& camera = *bench.camera;
        ASSERT_EQ(camera.open(CSI, 0), 0);
        ASSERT_EQ(camera.start(DEPTH), 0);
        ZelvoFrameBuffer* buffer = camera.requestFrame(kFrameWaitMs);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(camera.releaseFrame(buffer), 0);

        bench.board->unplug();
        // Frames finished before the unplug may still be handed out; then none come.
        int delivered = 0;
        while (ZelvoFrameBuffer* late = camera.requestFrame(200)) {
            camera.releaseFrame(late);
            ASSERT_LT(++delivered, 10);
        }
        const int before = bench.host->dequeues + bench.host->polls;
        for (int wait = 0; wait < 3; ++wait) EXPECT_EQ(camera.requestFrame(300), nullptr);
        // A capture thread that kept retrying at once would ask thousands of times in
        // this second; one that pauses between failed reads asks a few dozen times.
        EXPECT_LT(bench.host->dequeues + bench.host->polls - before, 1000);

        EXPECT_EQ(camera.stop(), ZelvoSystemError);  // the sensor cannot switch streaming off
        EXPECT_EQ(camera.close(), 0);
        EXPECT_EQ(bench.board->openDescriptors(), 0u);
        EXPECT_EQ(bench.board->mappings(), 0u);
    }
}

// A sensor that stops sending (a pulled cable, a crashed sensor) on every board: the
// capture thread's reads give up, so stop returns, and close and a new open work (with
// the old driver stop hung in the blocking dequeue for ever).
TEST(CameraOverCsi, StalledStreamStillStopsClosesAndOpensAgain) {
    for (const sim::BoardProfile& profile : sim::boardProfiles()) {
        SCOPED_TRACE(profile.key);
        CameraBench bench(profile.key, ",stall=8");  // two depth frames, then nothing
        ZelvoTOFCamera& camera = *bench.camera;
        ::testing::internal::CaptureStderr();
        const int opened = camera.open(CSI, 0);
        ::testing::internal::GetCapturedStderr();
        if (!isSubdevPlatform(profile.platform) && !isJetsonPlatform(profile.platform)) {
            // An unknown board never learns the sensor's bus: nothing streams to stall.
            EXPECT_EQ(opened, ZelvoSystemError);
            EXPECT_EQ(camera.close(), 0);
            continue;
        }
        ASSERT_EQ(opened, 0);
        ASSERT_EQ(camera.start(DEPTH), 0);
        int delivered = 0;
        while (ZelvoFrameBuffer* frame = camera.requestFrame(kFrameWaitMs / 2)) {
            camera.releaseFrame(frame);
            ASSERT_LE(++delivered, 2);
        }
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
        EXPECT_EQ(camera.close(), 0);
        EXPECT_EQ(bench.board->openDescriptors(), 0u);
        EXPECT_EQ(bench.board->mappings(), 0u);
        EXPECT_EQ(camera.open(CSI, 0), 0);
        EXPECT_EQ(camera.close(), 0);
    }
}

// A sub-frame the receiver completes with an error costs that depth frame: no frame is
// built from it (the old driver delivered it, its lower half lost).
TEST(CameraOverCsi, ErrorFlaggedBufferCostsAFrameNotItsDepth) {
    for (const char* key : {"rpi5", "jetson-orin", "rock5b"}) {
        SCOPED_TRACE(key);
        CameraBench bench(key);
        ZelvoTOFCamera& camera = *bench.camera;
        ASSERT_EQ(camera.open(CSI, 0), 0);
        ASSERT_EQ(camera.start(DEPTH), 0);
        // The column through the centre, in both halves of the image.
        auto column = [](ZelvoFrameBuffer* buffer) {
            const float* depth = static_cast<const float*>(buffer->getData(DEPTH));
            std::vector<float> values;
            for (int row = 0; row < kHeight; row += 15)
                values.push_back(depth[row * kWidth + kWidth / 2]);
            return values;
        };
        ZelvoFrameBuffer* first = camera.requestFrame(kFrameWaitMs);
        ASSERT_NE(first, nullptr);
        const std::vector<float> clean = column(first);
        EXPECT_EQ(camera.releaseFrame(first), 0);
        bench.board->faults().flagBufferError(5);  // mid-burst, a frame or two from now
        for (int frame = 0; frame < 4; ++frame) {
            ZelvoFrameBuffer* buffer = camera.requestFrame(kFrameWaitMs);
            ASSERT_NE(buffer, nullptr) << frame;
            EXPECT_EQ(column(buffer), clean) << frame;  // noiseless: every frame is the same
            EXPECT_EQ(camera.releaseFrame(buffer), 0);
        }
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_EQ(camera.close(), 0);
    }
}

}  // namespace
}  // namespace Zelvo
