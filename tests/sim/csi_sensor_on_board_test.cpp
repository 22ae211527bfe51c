// The CSI transport streaming from each simulated board: open, start, whole depth frames
// that decode to the wall's distance, controls reaching the sensor, stop and close.
#include <gtest/gtest.h>

#include "sensor/csi/csi_sensor.h"
#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

struct BoardCase {
    const char* board;
    int platform;
};

class CsiOnBoard : public ::testing::TestWithParam<BoardCase> {};

TEST_P(CsiOnBoard, StreamsDepthFramesOfTheWall) {
    const BoardCase& c = GetParam();
    auto board = makeBoard(std::string("board=") + c.board + ",scene=wall:1500,noise=0,fps=0");
    ZelvoTOFCSISensor sensor("/dev/video0", c.platform, *board);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    EXPECT_EQ(info.width, 240u);
    EXPECT_EQ(info.height, 180u);
    sensor.framesPerRequest = 4;
    ASSERT_EQ(sensor.setControl(EXPOSURE, 1000), 0);
    ASSERT_EQ(sensor.start(), 0);
    std::vector<uint16_t> raw(4 * kPhaseSamples);
    for (int frame = 0; frame < 3; ++frame) {
        int64_t timestamp = 0;
        ASSERT_EQ(sensor.getFrame(raw.data(), &timestamp), 0);
        EXPECT_GT(timestamp, 0);
        const int shift = c.platform == 3 ? 4 : 0;
        const int centre = 90 * kWidth + 120;
        EXPECT_NEAR(hqvgaDepth(raw, centre, 4000, shift), 1500.0, 2.0);
        // Pixels near the right edge of an even and an odd row.
        for (int row : {90, 91})
            EXPECT_NEAR(hqvgaDepth(raw, row * kWidth + 236, 4000, shift),
                        radialDistance(1500.0, row, 236), 3.0);
    }
    EXPECT_EQ(sensor.setControl(RANGE, 2), 0);
    EXPECT_EQ(board->sensorState().rangeControl, 1);
    EXPECT_EQ(sensor.setControl(FRAME_RATE, 30), 0);
    auto state = board->sensorState();
    ASSERT_FALSE(state.lastI2cTransfer.empty());
    EXPECT_EQ(state.lastI2cTransfer[0].bytes,
              (std::vector<uint8_t>{0x06, 0x33, 0x00, 0x00, 0x00, 0x1E}));
    EXPECT_EQ(sensor.stop(), 0);
    EXPECT_EQ(board->mappings(), 0u);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(board->openDescriptors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Boards, CsiOnBoard,
                         ::testing::Values(BoardCase{"rpi4", 5}, BoardCase{"rpi5", 6},
                                           BoardCase{"rock5b", 7}, BoardCase{"jetson-nano", 2},
                                           BoardCase{"jetson-orin", 3},
                                           BoardCase{"jetson-xavier", 3}),
                         [](const auto& info) {
                             std::string name = info.param.board;
                             for (char& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

TEST(CsiOnBoard, OtherBoardHasNoBusToFind) {
    auto board = makeBoard("board=other");
    ZelvoTOFCSISensor sensor("/dev/video0", 0, *board);
    CameraInfo info{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(sensor.open(info), -2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: I2C bus name doesn't match any bus present!\n");
    sensor.close();
    EXPECT_EQ(board->openDescriptors(), 0u);
}

}  // namespace
}  // namespace Zelvo::sim::test
