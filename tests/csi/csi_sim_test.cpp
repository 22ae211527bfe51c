// The CSI sensor against the simulated boards.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <linux/videodev2.h>
#include <memory>
#include <string>
#include <vector>

#include "sensor/csi/csi_sensor.h"
#include "sim/board.h"
#include "tests/csi/counting_host.h"
#include "sim/board_profile.h"
#include "sim/capture_node.h"

namespace Zelvo {
namespace {

constexpr size_t kSubFrameBytes = 240 * 180 * 2;

using testing::CountingHost;

struct SimBench {
    explicit SimBench(const std::string& board, int fps = 0) {
        std::string error;
        const std::string settings = "board=" + board + ",noise=0,scene=wall:1500,fps=" +
                                     std::to_string(fps);
        this->board = sim::Board::create(settings.c_str(), error);
        EXPECT_TRUE(this->board) << error;
        counting = std::make_unique<CountingHost>(this->board);
        sensor = std::make_unique<ZelvoTOFCSISensor>("/dev/video0", this->board->profile().platform,
                                                     *counting);
        raw.assign(kSubFrameBytes * 4, 0);
    }
    int open() { return sensor->open(info); }
    int openAndStart() {
        const int opened = open();
        if (opened != 0) return opened;
        sensor->framesPerRequest = 4;
        return sensor->start();
    }
    int read(int64_t* timestamp) { return sensor->getFrame(raw.data(), timestamp); }

    std::shared_ptr<sim::Board> board;
    std::unique_ptr<CountingHost> counting;
    std::unique_ptr<ZelvoTOFCSISensor> sensor;
    CameraInfo info{};
    std::vector<uint8_t> raw;
};

TEST(CsiOnSimulatedBoards, EveryBoardOpensStreamsAndStops) {
    for (const sim::BoardProfile& profile : sim::boardProfiles()) {
        SCOPED_TRACE(profile.key);
        SimBench bench(profile.key);
        ::testing::internal::CaptureStderr();
        const int opened = bench.open();
        const std::string printed = ::testing::internal::GetCapturedStderr();
        if (!isSubdevPlatform(profile.platform) && !isJetsonPlatform(profile.platform)) {
            // No way to learn the sensor's bus on an unknown board.
            EXPECT_EQ(opened, -2);
            EXPECT_EQ(printed, "Error: I2C bus name doesn't match any bus present!\n");
            EXPECT_EQ(bench.sensor->close(), 0);
            EXPECT_EQ(bench.board->openDescriptors(), 0u);
            continue;
        }
        ASSERT_EQ(opened, 0) << printed;
        EXPECT_EQ(printed, "");
        EXPECT_EQ(bench.info.width, 240u);
        EXPECT_EQ(bench.info.height, 180u);
        EXPECT_EQ(std::string(bench.sensor->pipeline.busName),
                  std::to_string(profile.sensorBus));
        bench.sensor->framesPerRequest = 4;
        ASSERT_EQ(bench.sensor->start(), 0);
        EXPECT_TRUE(bench.board->sensorState().streaming);
        int64_t previous = -1;
        for (int frame = 0; frame < 3; ++frame) {
            int64_t timestamp = -1;
            ASSERT_EQ(bench.read(&timestamp), 0) << frame;
            EXPECT_GE(timestamp, previous);
            previous = timestamp;
        }
        // Four sub-frames of samples, the four phases differing.
        for (int sub = 0; sub < 4; ++sub) {
            const uint8_t* begin = bench.raw.data() + sub * kSubFrameBytes;
            EXPECT_NE(std::count(begin, begin + kSubFrameBytes, 0), static_cast<long>(kSubFrameBytes))
                << "sub-frame " << sub << " is empty";
        }
        EXPECT_NE(std::vector<uint8_t>(bench.raw.begin(), bench.raw.begin() + kSubFrameBytes),
                  std::vector<uint8_t>(bench.raw.begin() + kSubFrameBytes,
                                       bench.raw.begin() + 2 * kSubFrameBytes));
        EXPECT_EQ(bench.sensor->stop(), 0);
        EXPECT_FALSE(bench.board->sensorState().streaming);
        EXPECT_EQ(bench.board->mappings(), 0u);
        // A second stream on the same opened sensor.
        ASSERT_EQ(bench.sensor->start(), 0);
        int64_t timestamp = 0;
        EXPECT_EQ(bench.read(&timestamp), 0);
        EXPECT_EQ(bench.sensor->stop(), 0);
        EXPECT_EQ(bench.sensor->close(), 0);
        EXPECT_EQ(bench.board->openDescriptors(), 0u);
        EXPECT_EQ(bench.board->mappings(), 0u);
    }
}

TEST(CsiOnSimulatedBoards, LateSubFrameRestartsTheGroupOnlyPast5000Microseconds) {
    for (const char* board : {"rpi5", "jetson-orin", "rock5b"}) {
        // Sub-frames are stamped kSubFrameGap apart; the delay comes on top.
        for (int64_t gap : {5000, 5001, 20000}) {
            const int64_t delay = gap - sim::kSubFrameGap.count();
            SimBench bench(board, 30);  // a running sensor stamps bursts by its clock
            ASSERT_EQ(bench.openAndStart(), 0);
            int64_t timestamp = 0;
            ASSERT_EQ(bench.read(&timestamp), 0);
            const int before = bench.counting->dequeues;
            bench.board->faults().delaySubFrame(2, delay);
            ASSERT_EQ(bench.read(&timestamp), 0);
            const int used = bench.counting->dequeues - before;
            if (gap > 5000) {
                EXPECT_GT(used, 4) << board << " " << gap;
            } else {
                EXPECT_EQ(used, 4) << board << " " << gap;
            }
            bench.sensor->stop();
            bench.sensor->close();
        }
    }
}

TEST(CsiOnSimulatedBoards, UnpluggedCameraFailsReadsAndStillCloses) {
    for (const char* board : {"rpi5", "jetson-nano", "rock5b"}) {
        SimBench bench(board, 30);  // bursts stamped by the sensor's clock, whatever the load
        ASSERT_EQ(bench.openAndStart(), 0);
        bench.board->faults().unplugAfterFrames(2);
        int64_t timestamp = 0;
        EXPECT_EQ(bench.read(&timestamp), 0);
        // The camera goes while the second frame is read; from then on every read fails.
        int reads = 1;
        while (bench.read(&timestamp) == 0 && reads < 10) ++reads;
        EXPECT_LE(reads, 2) << board;
        EXPECT_EQ(bench.read(&timestamp), -2) << board;
        EXPECT_EQ(bench.sensor->stop(), -2);
        EXPECT_EQ(bench.sensor->close(), 0);
        EXPECT_EQ(bench.board->openDescriptors(), 0u) << board;
        EXPECT_EQ(bench.board->mappings(), 0u) << board;
    }
}

TEST(CsiOnSimulatedBoards, EachBoardFaultGivesItsResult) {
    {
        SimBench bench("rpi4");
        ASSERT_EQ(bench.openAndStart(), 0);
        bench.board->faults().handOutBufferIndex(8);
        int64_t timestamp = 0;
        EXPECT_EQ(bench.read(&timestamp), 2);
    }
    for (int granted : {1, 3}) {
        SimBench bench("rpi5");
        bench.board->faults().grantAtMost(granted);
        ASSERT_EQ(bench.openAndStart(), 0) << granted;
        EXPECT_EQ(bench.sensor->bufferCount, static_cast<uint32_t>(granted));
        int64_t timestamp = 0;
        if (granted > 1) {
            EXPECT_EQ(bench.read(&timestamp), 0);
        }
        EXPECT_EQ(bench.sensor->stop(), 0);
        EXPECT_EQ(bench.board->mappings(), 0u);
    }
    {
        SimBench bench("jetson-orin");
        bench.board->faults().grantAtMost(0);
        EXPECT_EQ(bench.openAndStart(), -1);
        EXPECT_FALSE(bench.board->sensorState().streaming);
    }
    {
        SimBench bench("rock5b");
        bench.board->faults().withoutPlainI2c(true);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.open(), -2);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "Error: Adapter does not have I2C transfers capability\n");
        bench.sensor->close();
        EXPECT_EQ(bench.board->openDescriptors(), 0u);
    }
    {
        SimBench bench("rpi5");
        bench.board->faults().failRequest(VIDIOC_QUERYCAP, EIO);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.open(), -2);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "VIDIOC_QUERYCAP: error - " + std::to_string(EIO) + "\n");
        bench.sensor->close();
        EXPECT_EQ(bench.board->openDescriptors(), 0u);
    }
    // A sub-frame completed with an error fails its read; the next read is a whole clean
    // frame (the boards with page-rounded buffers: the copy also takes the payload only).
    for (const char* key : {"rpi5", "jetson-orin", "rock5b"}) {
        SimBench bench(key, 30);
        ASSERT_EQ(bench.openAndStart(), 0) << key;
        int64_t timestamp = 0;
        ASSERT_EQ(bench.read(&timestamp), 0) << key;
        const std::vector<uint8_t> clean = bench.raw;
        bench.board->faults().flagBufferError(2);
        EXPECT_EQ(bench.read(&timestamp), -2) << key;
        std::fill(bench.raw.begin(), bench.raw.end(), 0);
        ASSERT_EQ(bench.read(&timestamp), 0) << key;
        EXPECT_TRUE(bench.raw == clean) << key;  // noiseless: every burst is the same
    }
    {
        SimBench bench("jetson-xavier");
        bench.board->faults().failRequest(VIDIOC_DQBUF, EAGAIN, 4);
        ASSERT_EQ(bench.openAndStart(), 0);
        int64_t timestamp = 0;
        EXPECT_EQ(bench.read(&timestamp), 0);
        bench.board->faults().failRequest(VIDIOC_DQBUF, EIO, 1);
        EXPECT_EQ(bench.read(&timestamp), -2);
    }
}

TEST(CsiOnSimulatedBoards, ControlsReachTheSensor) {
    for (const char* board : {"rpi5", "rpi4", "rock5b", "jetson-nano", "jetson-orin"}) {
        SCOPED_TRACE(board);
        SimBench bench(board);
        ASSERT_EQ(bench.open(), 0);
        int value = 0;
        EXPECT_EQ(bench.sensor->setControl(RANGE, 2000), 0);
        EXPECT_EQ(bench.board->sensorState().rangeControl, 1);
        EXPECT_EQ(bench.sensor->getControl(RANGE, &value), 0);
        EXPECT_EQ(value, 2);
        EXPECT_EQ(bench.sensor->setControl(RANGE, 4), 0);
        EXPECT_EQ(bench.board->sensorState().rangeControl, 0);
        EXPECT_EQ(bench.sensor->getControl(RANGE, &value), 0);
        EXPECT_EQ(value, 4);
        EXPECT_EQ(bench.sensor->setControl(EXPOSURE, 500), 0);
        EXPECT_EQ(bench.board->sensorState().exposure, 500);
        EXPECT_EQ(bench.sensor->getControl(FRAME_RATE, &value), 0);
        EXPECT_EQ(value, 30);
        EXPECT_EQ(bench.sensor->setControl(FRAME_RATE, 15), 0);
        EXPECT_EQ(bench.board->sensorState().frameRateRegister, 15u);
        EXPECT_EQ(bench.sensor->readCalibrationBlock(80, bench.sensor->calibrationData()), 0);
        EXPECT_EQ(bench.board->sensorState().calibrationRequest, (80u << 16) | 0x200u);
        EXPECT_EQ(bench.sensor->close(), 0);
    }
}

// Controls arrive on the caller's thread while the capture side reads frames.
TEST(CsiOnSimulatedBoards, ControlsWhileStreaming) {
    for (const char* board : {"rpi5", "jetson-orin"}) {
        SimBench bench(board, 30);
        ASSERT_EQ(bench.openAndStart(), 0);
        std::atomic<int> failures{0};
        std::thread reader([&bench, &failures] {
            for (int frame = 0; frame < 6; ++frame) {
                int64_t timestamp = 0;
                if (bench.read(&timestamp) != 0) ++failures;
            }
        });
        for (int round = 0; round < 20; ++round) {
            int value = 0;
            EXPECT_EQ(bench.sensor->setControl(FRAME_RATE, 30 - round % 2), 0);
            EXPECT_EQ(bench.sensor->getControl(FRAME_RATE, &value), 0);
            EXPECT_EQ(bench.sensor->setControl(EXPOSURE, 400 + round), 0);
            EXPECT_EQ(bench.sensor->setControl(RANGE, round % 2 ? 2000 : 4000), 0);
            EXPECT_EQ(bench.sensor->setControl(FMT_WIDTH, 240), 0);
        }
        reader.join();
        EXPECT_EQ(failures, 0) << board;
        EXPECT_EQ(bench.sensor->stop(), 0);
        EXPECT_EQ(bench.sensor->close(), 0);
    }
}

}  // namespace
}  // namespace Zelvo
