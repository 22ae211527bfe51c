// The camera on the simulated board used the way a careless or hostile caller would: size
// pairs and frame rates beyond the sensor, cameras dropped or re-opened without close, a
// refused kit start, and the automatic frame rate racing the caller's reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/camera.h"
#include "sim/board.h"
#include "tests/device/fake_library/fake_depth_library.h"
#include "tests/support/eventually.h"
#include "tests/support/scratch_directory.h"

namespace Zelvo {
namespace {

constexpr short kFrameWaitMs = 5000;

// Mappings of this process whose line in /proc/self/maps names `path`.
int mappingsOf(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) count += line.find(path) != std::string::npos;
    return count;
}

// A camera on a fresh simulated board, in a scratch working directory, with the depth
// library double in place of the real one.
struct SimCamera {
    explicit SimCamera(const std::string& settings) {
        ::setenv("ZELVO_DEPTH_LIBRARY", ZELVO_FAKE_DEPTH_LIBRARY, 1);
        library = {};
        std::string error;
        board = sim::Board::create(settings.c_str(), error);
        EXPECT_TRUE(board) << error;
        camera = std::make_unique<ZelvoTOFCamera>(board);
    }
    ~SimCamera() {
        camera.reset();
        ::unsetenv("ZELVO_DEPTH_LIBRARY");
    }
    int destroyCalls() const {
        return static_cast<int>(std::count(library.calls.begin(), library.calls.end(),
                                           std::string("SiSDKDestroy")));
    }

    testing::ScratchDirectory scratch;
    testing::FakeDepthLibrary& library = testing::fakeDepthLibrary();
    std::shared_ptr<sim::Board> board;
    std::unique_ptr<ZelvoTOFCamera> camera;
};

constexpr const char* kVga = "board=rpi5,sensor=vga,scene=wall:1000,noise=0";

TEST(CameraMisuse, SizePairsAndFrameRatesStayWithinWhatTheSensorDelivers) {
    const std::string refusedLine = "cannot be delivered by the sensor; it delivers 640 x 480 and "
                                    "320 x 240\n";
    const struct {
        const char* what;
        Connection connect;
        std::vector<std::pair<CameraCtrl, int>> settings;
        int start;
        int rate;  // FRAME_RATE afterwards
        std::string line;
    } cases[] = {
        {"640 x 240", CSI, {{FMT_HEIGHT, 240}}, -1, -7,
         "Error: the VGA size 640 x 240 " + refusedLine},
        {"320 x 480", CSI, {{FMT_WIDTH, 320}}, -1, -7,
         "Error: the VGA size 320 x 480 " + refusedLine},
        // The kit's frames are 640 samples wide, whatever the device asks for.
        {"320 x 240 on the kit", USB, {{FMT_WIDTH, 320}, {FMT_HEIGHT, 240}}, -1, 61, ""},
        {"30 fps into double frequency", CSI, {{FRAME_RATE, 30}, {MODE, DOUBLE_FREQ}}, 0, 23, ""},
        {"20 fps into double frequency", CSI, {{FRAME_RATE, 20}, {MODE, DOUBLE_FREQ}}, 0, 20, ""},
        {"61 fps at 320 x 240 into 640 x 480", CSI,
         {{FMT_WIDTH, 320}, {FMT_HEIGHT, 240}, {FRAME_RATE, 61}, {FMT_WIDTH, 640},
          {FMT_HEIGHT, 480}},
         0, 41, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimCamera sim(kVga);
        ZelvoTOFCamera& camera = *sim.camera;
        ASSERT_EQ(camera.open(c.connect, 0), 0);
        for (const auto& [ctrl, value] : c.settings) {
            ASSERT_EQ(camera.setControl(ctrl, value), 0) << ctrl << " " << value;
        }
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(camera.start(DEPTH), c.start);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
        if (c.start != 0) {
            EXPECT_NE(::access("ConfigAlgorithm.json", F_OK), 0) << "written before the refusal";
        } else {
            EXPECT_EQ(camera.stop(), 0);
        }
        int rate = -7;
        camera.getControl(FRAME_RATE, &rate);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(camera.close(), 0);
    }
}

TEST(CameraMisuse, WhatACameraReplacesOrLeavesBehindIsClosed) {
    // A VGA camera dropped while streaming, with a calibration mapped.
    {
        SimCamera sim(kVga);
        std::ofstream("cali.bin") << "calibration bytes";
        ASSERT_EQ(sim.camera->open(CSI, 0), 0);
        ASSERT_EQ(sim.camera->start(DEPTH), 0);
        EXPECT_EQ(mappingsOf(sim.scratch.file("cali.bin")), 1);
        sim.camera.reset();
        EXPECT_EQ(sim.destroyCalls(), 1);
        EXPECT_EQ(mappingsOf(sim.scratch.file("cali.bin")), 0);
        EXPECT_EQ(sim.board->openDescriptors(), 0u);
    }
    // A second open and a new device closes what the first one claimed.
    {
        SimCamera sim(kVga);
        ASSERT_EQ(sim.camera->open(CSI, 0), 0);
        ASSERT_EQ(sim.camera->openPostHandle(), 0);
        EXPECT_EQ(sim.destroyCalls(), 1);  // the first device's handle
        ASSERT_EQ(sim.camera->open(CSI, 0), 0);
        EXPECT_EQ(sim.destroyCalls(), 2);
        EXPECT_EQ(sim.camera->close(), 0);
        EXPECT_EQ(sim.board->openDescriptors(), 0u);
    }
    // The evaluation kit is given back by a second open and by a camera dropped unclosed.
    {
        SimCamera sim("board=rpi5,scene=wall:1000,noise=0");
        ASSERT_EQ(sim.camera->open(USB, 0), 0);
        ASSERT_EQ(sim.camera->open(USB, 0), 0);
        EXPECT_EQ(sim.board->evaluationKit().state().libraryReferences, 1);
        EXPECT_TRUE(sim.board->evaluationKit().state().cameraOpen);
        sim.camera.reset();
        EXPECT_FALSE(sim.board->evaluationKit().state().cameraOpen);
        EXPECT_EQ(sim.board->evaluationKit().state().libraryReferences, 0);
    }
}

TEST(CameraMisuse, ARefusedKitStartLeavesTheCameraReadyToStartAgain) {
    SimCamera sim("board=rpi5,scene=wall:1000,noise=0");
    ZelvoTOFCamera& camera = *sim.camera;
    ASSERT_EQ(camera.open(USB, 0), 0);
    sim.board->evaluationKit().failCall(sim::EvaluationKit::Call::Start);
    EXPECT_NE(camera.start(DEPTH), 0);
    ASSERT_EQ(camera.start(DEPTH), 0);
    ZelvoFrameBuffer* frame = camera.requestFrame(kFrameWaitMs);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(camera.releaseFrame(frame), 0);
    EXPECT_EQ(camera.close(), 0);
}

// The capture thread sets the frame rate it measures while the caller reads it; run under
// ThreadSanitizer this shows the values they share are guarded. The HQVGA device keeps its
// sensor's rate (it takes RANGE only), so there the adjustment only asks.
TEST(CameraMisuse, AutomaticFrameRateRacesNoReaderOnEitherDevice) {
    for (const bool vga : {false, true}) {
        SCOPED_TRACE(vga ? "VGA" : "HQVGA");
        SimCamera sim(vga ? kVga : "board=rpi5,scene=wall:1000,noise=0");
        ZelvoTOFCamera& camera = *sim.camera;
        ASSERT_EQ(camera.open(CSI, 0), 0);
        ASSERT_EQ(camera.setControl(AUTO_FRAME_RATE, 1), 0);
        int initial = 0;
        ASSERT_EQ(camera.getControl(FRAME_RATE, &initial), 0);
        // A clock ten times as fast: an adjustment every 0.3 s, to a tenth of the rate.
        const auto began = std::chrono::steady_clock::now();
        camera.wallClock = [began] {
            return 10 * std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now() - began)
                            .count();
        };
        ASSERT_EQ(camera.start(RAW), 0);
        std::atomic<bool> reading{true};
        std::thread reader([&] {
            int value = 0;
            while (reading.load()) camera.getControl(FRAME_RATE, &value);
        });
        // On this clock twenty frames span two adjustments; the VGA sensor slows down
        // after the first.
        int frames = 0, rate = initial;
        EXPECT_TRUE(testing::eventually([&] {
            if (ZelvoFrameBuffer* frame = camera.requestFrame(100)) {
                camera.releaseFrame(frame);
                ++frames;
            }
            camera.getControl(FRAME_RATE, &rate);
            return vga ? frames >= 3 && rate != initial : frames >= 20;
        }));
        EXPECT_TRUE(!vga || rate < initial) << rate << " after " << frames << " frames";
        reading.store(false);
        reader.join();
        EXPECT_EQ(camera.close(), 0);
    }
}

}  // namespace
}  // namespace Zelvo
