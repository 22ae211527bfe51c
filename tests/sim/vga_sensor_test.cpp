// The simulated VGA sensor as a driver meets it: the raw frame of the mode its frame size
// selects on each board that carries it, and the calibration memory whose offsets its
// frames carry.
#include <gtest/gtest.h>

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
        uint32_t frequencyHz[2];
    } modes[] = {
        {"rpi5", 640, 2405, 480, 5, {kVgaSingleFrequencyHz, 0}},
        {"rock5b", 640, 4810, 480, 10, {kVgaDoubleFrequencyHz[0], kVgaDoubleFrequencyHz[1]}},
        {"rpi4", 320, 1205, 240, 5, {kVgaSingleFrequencyHz, 0}},
        {"jetson-nano", 320, 2410, 240, 10, {kVgaDoubleFrequencyHz[0], kVgaDoubleFrequencyHz[1]}},
        {"rpi5", 320, 2410, 240, 10, {kVgaDoubleFrequencyHz[0], kVgaDoubleFrequencyHz[1]}},
        {"rpi4", 640, 2405, 480, 5, {kVgaSingleFrequencyHz, 0}},
    };
    for (const auto& mode : modes) {
        const std::string board = mode.board;
        SCOPED_TRACE(std::string(board) + " " + std::to_string(mode.width) + " x " +
                     std::to_string(mode.rows));
        Client client(makeBoard(std::string("sensor=vga,noise=0,fps=0,board=") + board));
        client.width = mode.width;
        client.height = mode.rows;
        ASSERT_EQ(client.start(2), 0);
        std::vector<uint16_t> raw(static_cast<size_t>(mode.width) * mode.rows);
        uint32_t counters[2] = {};
        for (uint32_t& counter : counters) {
            ASSERT_GE(client.subFrame(raw.data()), 0);
            ZelvoDepth::RawFrameInfo info;
            ASSERT_TRUE(ZelvoDepth::checkRawFrame(raw.data(), static_cast<int>(mode.width),
                                                  static_cast<int>(mode.height),
                                                  mode.subFrames, info));
            EXPECT_EQ(info.frequencyHz[0], mode.frequencyHz[0]);
            EXPECT_EQ(info.frequencyHz[1], mode.frequencyHz[1]);
            EXPECT_FLOAT_EQ(info.temperatureCelsius[0], 40.0f);
            counter = info.frameCounter;
        }
        EXPECT_EQ(counters[1], counters[0] + 1) << "one raw frame per buffer";
    }
    // A size the sensor does not stream becomes the nearest it does.
    Client client(makeBoard("sensor=vga,board=jetson-nano"));
    client.width = 600;
    client.height = 4000;
    ASSERT_EQ(client.setFormat(), 0);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_G_FMT, &format), 0);
    EXPECT_EQ(format.fmt.pix.width, 640u);
    EXPECT_EQ(format.fmt.pix.height, 4810u);
}

// The round-trip phase of a pixel at the frequency whose phase sub-frames begin at
// `first` in a 640 x 480 frame, [0, 2 pi).
double measuredPhase(const uint16_t* raw, int x, int y, int first = 0) {
    const auto sample = [&](int k) {
        return static_cast<double>(ZelvoDepth::rawPixelRow(raw, 640, 480, first + k, y)[x]);
    };
    const double phase = std::atan2(sample(1) - sample(3), sample(0) - sample(2));
    return phase < 0.0 ? phase + kTwoPi : phase;
}

// What a calibration says the sensor adds at pixel (x, y) of a 640 x 480 output.
double calibratedOffset(const ZelvoDepth::Calibration& calibration, int x, int y) {
    const ZelvoDepth::FrequencyCalibration& record = calibration.frequencies[0];
    const double u = x * (calibration.gridColumns - 1) / 639.0;
    const double v = y * (calibration.gridRows - 1) / 479.0;
    const int i = std::min(static_cast<int>(u), calibration.gridColumns - 2);
    const int j = std::min(static_cast<int>(v), calibration.gridRows - 2);
    auto node = [&](int column, int row) {
        return record.grid[static_cast<size_t>(row) * calibration.gridColumns + column] *
               static_cast<double>(ZelvoDepth::kGridOffsetUnit);
    };
    const double top = node(i, j) + (u - i) * (node(i + 1, j) - node(i, j));
    const double bottom = node(i, j + 1) + (u - i) * (node(i + 1, j + 1) - node(i, j + 1));
    return record.globalOffset + top + (v - j) * (bottom - top);
}

TEST(VgaSensor, CalibrationMemoryHoldsTheOffsetsItsFramesCarry) {
    const double wallMm = 1000.0;
    const double focal = 320.0 / std::tan(70.0 * 3.14159265358979323846 / 360.0);
    for (const bool pattern : {true, false}) {
        SCOPED_TRACE(pattern ? "fpn=1" : "fpn=0");
        auto board = makeBoard(std::string("sensor=vga,noise=0,fps=0,scene=wall:1000,fpn=") +
                               (pattern ? "1" : "0"));
        ZelvoTOFCSISensor sensor("/dev/video0", 6, *board);
        CameraInfo info{};
        ASSERT_EQ(sensor.open(info), 0);
        EXPECT_EQ(info.width, 640u);
        EXPECT_EQ(info.height, 2405u);
        const SensorCalibration held = readSensorCalibration(sensor);
        ASSERT_TRUE(held.read());
        EXPECT_GT(held.length, 512u) << "more than one block";
        ZelvoDepth::Calibration calibration;
        ASSERT_TRUE(ZelvoDepth::parseCalibration(sensor.calibrationData(), held.length,
                                                 calibration));
        sensor.close();
        ASSERT_EQ(calibration.frequencies.size(), 3u);
        EXPECT_EQ(calibration.frequencies[0].frequencyHz, kVgaSingleFrequencyHz);

        Client client(board);
        client.width = 640;
        client.height = 2405;
        ASSERT_EQ(client.start(2), 0);
        std::vector<uint16_t> raw(640 * 2405);
        ASSERT_GE(client.subFrame(raw.data()), 0);
        double largest = 0.0;
        for (const auto& [x, y] : {std::pair{320, 240}, {8, 8}, {630, 470}, {100, 400}}) {
            const double rx = (x - 319.5) / focal, ry = (y - 239.5) / focal;
            const double radial = wallMm * std::sqrt(1.0 + rx * rx + ry * ry);
            const double truePhase = std::fmod(kTwoPi * radial / 1250.0, kTwoPi);
            const double offset = calibratedOffset(calibration, x, y);
            double error = measuredPhase(raw.data(), x, y) - truePhase - offset;
            error = std::remainder(error, kTwoPi);
            EXPECT_NEAR(error, 0.0, 2e-3) << x << ", " << y;
            largest = std::max(largest, std::fabs(offset));
        }
        // Worth a few centimetres of depth at 1250 mm a turn, or nothing at all.
        if (pattern) {
            EXPECT_GT(largest * 1250.0 / kTwoPi, 30.0);
            EXPECT_LT(largest * 1250.0 / kTwoPi, 70.0);
        } else {
            EXPECT_EQ(largest, 0.0);
        }
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
