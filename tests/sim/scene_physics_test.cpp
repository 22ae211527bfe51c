// The rendered phase samples decode, through each board's delivery path and the HQVGA
// arithmetic, to the scene's radial distance.
#include <gtest/gtest.h>

#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

constexpr int kCentreRow = kHeight / 2;
constexpr int kCentreColumn = kWidth / 2;
constexpr int kCentre = kCentreRow * kWidth + kCentreColumn;

class EveryBoard : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryBoard, WallAt1500ReadsItsDistanceAtRange4000) {
    Client client(makeBoard(std::string("board=") + GetParam() + ",scene=wall:1500,noise=0,fps=0"));
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    const int shift = sampleShift(*client.board);
    for (int pixel : {kCentre, kCentre - 1, kCentre - kWidth, kCentre - kWidth - 1})
        EXPECT_NEAR(hqvgaDepth(raw, pixel, 4000, shift), 1500.0, 2.0) << "pixel " << pixel;
}

TEST_P(EveryBoard, WallAt2500WrapsToAbout500AtRange2000) {
    Client client(makeBoard(std::string("board=") + GetParam() + ",scene=wall:2500,noise=0,fps=0"));
    ASSERT_EQ(client.setControl(kRangeControlId, 1), 0);
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    EXPECT_NEAR(hqvgaDepth(raw, kCentre, 2000, sampleShift(*client.board)), 500.0, 5.0);
}

TEST_P(EveryBoard, EveryRowArrivesInPlace) {
    // Off-axis pixels read the longer radial distance, row by row, so a misplaced row or
    // column shows up as the wrong distance.
    Client client(makeBoard(std::string("board=") + GetParam() + ",scene=wall:1000,noise=0,fps=0"));
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    const int shift = sampleShift(*client.board);
    for (int row = 0; row < kHeight; row += 7) {
        for (int column : {0, 1, 100, 223, 224, 230, 239}) {
            EXPECT_NEAR(hqvgaDepth(raw, row * kWidth + column, 4000, shift),
                        radialDistance(1000.0, row, column), 4.0)
                << "row " << row << " column " << column;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, EveryBoard,
                         ::testing::Values("rpi4", "rpi5", "rock5b", "jetson-nano", "jetson-orin",
                                           "jetson-xavier", "other"));

// Amplitude at the centre pixel of one burst from a board with these settings, at this
// exposure (0: the default).
void centreAmplitude(const std::string& settings, int exposure, float& amplitude) {
    Client client(makeBoard(settings));
    if (exposure != 0) {
        ASSERT_EQ(client.setControl(V4L2_CID_EXPOSURE, exposure), 0);
    }
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    hqvgaDepth(raw, kCentre, 4000, 0, &amplitude);
}

TEST(ScenePhysics, AmplitudeFallsWithTheSquareOfTheDistance) {
    float amplitude[2];
    const int walls[2] = {1000, 2000};
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_FATAL_FAILURE(centreAmplitude(
            "scene=wall:" + std::to_string(walls[i]) + ",noise=0,fps=0", 0, amplitude[i]));
    EXPECT_NEAR(amplitude[0] / amplitude[1], 4.0, 0.1);
}

TEST(ScenePhysics, AmplitudeScalesWithExposure) {
    float amplitude[2];
    const int exposures[2] = {1000, 500};
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_FATAL_FAILURE(
            centreAmplitude("scene=wall:2000,noise=0,fps=0", exposures[i], amplitude[i]));
    EXPECT_NEAR(amplitude[0] / amplitude[1], 2.0, 0.05);
}

TEST(ScenePhysics, RangeChangeWhileStreamingTakesEffectAtTheNextBurst) {
    Client client(makeBoard("scene=wall:1500,noise=0,fps=0"));
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    EXPECT_NEAR(hqvgaDepth(raw, kCentre, 4000, 0), 1500.0, 2.0);
    ASSERT_EQ(client.setControl(kRangeControlId, 1), 0);
    ASSERT_TRUE(client.burst(raw, stamps));
    EXPECT_NEAR(hqvgaDepth(raw, kCentre, 2000, 0), 1500.0, 2.0);
}

TEST(ScenePhysics, NoiseVariesBetweenFramesAndFollowsTheSeed) {
    auto capture = [](const std::string& settings, int frames) {
        Client client(makeBoard(settings));
        EXPECT_EQ(client.start(), 0);
        std::vector<uint16_t> raw;
        int64_t stamps[4];
        for (int i = 0; i < frames; ++i) EXPECT_TRUE(client.burst(raw, stamps));
        return raw;
    };
    auto first = capture("scene=wall:1500,fps=0,seed=7", 1);
    auto second = capture("scene=wall:1500,fps=0,seed=7", 2);
    auto again = capture("scene=wall:1500,fps=0,seed=7", 1);
    auto otherSeed = capture("scene=wall:1500,fps=0,seed=8", 1);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, second);
    EXPECT_NE(first, otherSeed);
    // Noisy, but still the wall.
    float depth = hqvgaDepth(first, kCentre, 4000, 0);
    EXPECT_NEAR(depth, 1500.0, 40.0);
}

TEST(ScenePhysics, RoomShowsFloorBoxSphereAndBackWall) {
    Client client(makeBoard("scene=room,noise=0,fps=0"));
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    float topCentre = hqvgaDepth(raw, 2 * kWidth + kCentreColumn, 4000, 0);
    float bottomCentre = hqvgaDepth(raw, (kHeight - 3) * kWidth + kCentreColumn, 4000, 0);
    // Top rows see the back wall far away; bottom rows see the floor close by.
    EXPECT_GT(topCentre, 3000.0f);
    EXPECT_LT(bottomCentre, 2000.0f);
    // Objects stand in front of the wall on the left and the right of the centre.
    float left = hqvgaDepth(raw, (kCentreRow + 40) * kWidth + 55, 4000, 0);
    float right = hqvgaDepth(raw, (kCentreRow + 40) * kWidth + 175, 4000, 0);
    EXPECT_LT(left, 2600.0f);
    EXPECT_LT(right, 2600.0f);
}

}  // namespace
}  // namespace Zelvo::sim::test
