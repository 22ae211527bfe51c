// The simulated VGA sensor as a driver meets it: the raw frame of the mode its frame size
// selects on boards of each packing, its calibration memory, and the rays a pixel mixes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "depth/calibration.h"
#include "depth/raw_frame.h"
#include "device/sensor_calibration.h"
#include "sensor/csi/csi_sensor.h"
#include "sim/vga_sensor.h"
#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

constexpr double kTwoPi = 6.283185307179586;

TEST(VgaSensor, FramesHaveTheLayoutOfTheModeTheirHeightSelects) {
    // Each mode on a board of another packing: padded rows (rpi4 at 320), Y12P (rpi5),
    // multi-planar (rock5b), plain words without sub-devices (jetson-nano).
    const struct {
        const char* board;
        uint32_t width, rows, height;
        int subFrames;
    } modes[] = {
        {"rpi5", 640, 2405, 480, 5},   {"rock5b", 640, 4810, 480, 10},
        {"rpi4", 320, 1205, 240, 5},   {"jetson-nano", 320, 2410, 240, 10},
        {"rpi5", 320, 2410, 240, 10},
    };
    for (const auto& mode : modes) {
        SCOPED_TRACE(std::string(mode.board) + " " + std::to_string(mode.rows));
        Client client(makeBoard(std::string("sensor=vga,noise=0,fps=0,board=") + mode.board));
        client.width = mode.width;
        client.height = mode.rows;
        ASSERT_EQ(client.start(2), 0);
        std::vector<uint16_t> raw(static_cast<size_t>(mode.width) * mode.rows);
        const bool single = mode.subFrames == 5;
        uint32_t counters[2] = {};
        for (uint32_t& counter : counters) {
            ASSERT_GE(client.subFrame(raw.data()), 0);
            ZelvoDepth::RawFrameInfo info;
            ASSERT_TRUE(ZelvoDepth::checkRawFrame(raw.data(), static_cast<int>(mode.width),
                                                  static_cast<int>(mode.height),
                                                  mode.subFrames, info));
            const uint32_t pair[2] = {kVgaDoubleFrequencyHz[0], kVgaDoubleFrequencyHz[1]};
            EXPECT_EQ(info.frequencyHz[0], single ? kVgaSingleFrequencyHz : pair[0]);
            EXPECT_EQ(info.frequencyHz[1], single ? 0u : pair[1]);
            counter = info.frameCounter;
        }
        EXPECT_EQ(counters[1], counters[0] + 1) << "one raw frame per buffer";
    }
}

// The round-trip phase of a pixel of a 640 x 480 frame at the frequency whose phase
// sub-frames begin at `first`, [0, 2 pi).
double measuredPhase(const uint16_t* raw, int x, int y, int first) {
    const auto sample = [&](int k) {
        return static_cast<double>(ZelvoDepth::rawPixelRow(raw, 640, 480, first + k, y)[x]);
    };
    const double phase = std::atan2(sample(1) - sample(3), sample(0) - sample(2));
    return phase < 0.0 ? phase + kTwoPi : phase;
}

TEST(VgaSensor, CalibrationMemoryHoldsTheModuleCalibrationInBlocks) {
    for (const char* pattern : {"1", "0"}) {
        SCOPED_TRACE(pattern);
        Settings settings;
        std::string error;
        ASSERT_TRUE(parseSettings((std::string("sensor=vga,fpn=") + pattern).c_str(), settings,
                                  error));
        auto board = std::make_shared<Board>(settings);
        ZelvoTOFCSISensor sensor("/dev/video0", 6, *board);
        CameraInfo info{};
        ASSERT_EQ(sensor.open(info), 0);
        EXPECT_EQ(info.width * 10000 + info.height, 640u * 10000 + 2405u);
        const SensorCalibration held = readSensorCalibration(sensor);
        ASSERT_GT(held.length, 512u) << "more than one block";
        const std::vector<uint8_t> bytes(sensor.calibrationData(),
                                         sensor.calibrationData() + held.length);
        sensor.close();
        EXPECT_EQ(bytes, VgaSensor(settings).calibrationBytes());
        ZelvoDepth::Calibration calibration;
        ASSERT_TRUE(ZelvoDepth::parseCalibration(bytes.data(), bytes.size(), calibration));
        ASSERT_EQ(calibration.frequencies.size(), 3u);  // the single frequency and the pair
        // Offsets worth a few centimetres of depth at 1250 mm a turn, or none at all.
        const auto& grid = calibration.frequencies[0].grid;
        const double largestMm = *std::max_element(grid.begin(), grid.end()) *
                                 ZelvoDepth::kGridOffsetUnit * 1250.0 / kTwoPi;
        EXPECT_EQ(largestMm > 30.0 && largestMm < 70.0, pattern[0] == '1') << largestMm;
        EXPECT_EQ(largestMm == 0.0, pattern[0] == '0');
    }
}

// The rate the device sets through the sensor's FRAME_RATE (its frame-rate register)
// paces the VGA frames as it paces HQVGA bursts: frames are stamped whole periods apart.
TEST(VgaSensor, StreamsAtTheFrameRateSet) {
    for (const int rate : {10, 4}) {
        SCOPED_TRACE(rate);
        auto board = makeBoard("sensor=vga,board=rpi5,noise=0");
        ZelvoTOFCSISensor sensor("/dev/video0", 6, *board);
        CameraInfo info{};
        ASSERT_EQ(sensor.open(info), 0);
        ASSERT_EQ(sensor.setControl(FRAME_RATE, rate), 0);
        EXPECT_EQ(board->sensorState().frameRate, rate);
        ASSERT_EQ(sensor.start(), 0);
        std::vector<uint16_t> frame(static_cast<size_t>(info.width) * info.height);
        int64_t stamps[3] = {};
        for (int64_t& stamp : stamps) ASSERT_EQ(sensor.getFrame(frame.data(), &stamp), 0);
        const int64_t periodMs = 1000 / rate;  // stamps are in milliseconds
        for (int k = 1; k < 3; ++k) {
            const int64_t between = stamps[k] - stamps[k - 1];
            EXPECT_GE(between, periodMs - 1) << k;
            const int64_t offPeriod = between % periodMs;
            EXPECT_TRUE(offPeriod <= 1 || offPeriod >= periodMs - 1) << between;
        }
        EXPECT_EQ(sensor.stop(), 0);
        EXPECT_EQ(sensor.close(), 0);
    }
}

TEST(VgaSensor, RaysOfAPixelOnAnEdgeMixInItsSignal) {
    // Row 330 of the room: the back wall left of column 118, the box's front face from
    // there on, with the edge inside column 118. At the second frequency of the pair
    // (2250 mm a turn) the two surfaces lie 801 mm apart on the circle, so the mixed
    // return's phase lies between theirs.
    Settings settings;
    std::string error;
    ASSERT_TRUE(parseSettings("sensor=vga,noise=0,fpn=0,scene=room", settings, error));
    VgaSensor sensor(settings);
    const uint16_t* raw = sensor.nextFrame(vgaModes()[1], 1000);
    const double wrapMm = 299792458.0e3 / (2.0 * kVgaDoubleFrequencyHz[1]);
    auto distance = [&](int x) {
        return measuredPhase(raw, x, 330, ZelvoDepth::kSecondFrequencySubFrame) / kTwoPi * wrapMm;
    };
    const double wall = distance(116), box = distance(120), edge = distance(118);
    EXPECT_NEAR(wall, 3336.0 - wrapMm, 15.0);
    EXPECT_NEAR(box, 1887.0, 15.0);
    EXPECT_GT(edge, wall + 50.0);
    EXPECT_LT(edge, box - 50.0);
}

}  // namespace
}  // namespace Zelvo::sim::test
