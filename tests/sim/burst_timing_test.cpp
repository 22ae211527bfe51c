// The sensor's schedule as the timestamps show it: four sub-frames close together, bursts
// one frame period apart, from the monotonic clock. Only timestamps are compared, never
// how long the test took.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

int64_t monotonicMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void expectBurstsAtPeriod(Client& client, double periodUs, int bursts) {
    std::vector<uint16_t> raw;
    int64_t previousStart = -1;
    for (int b = 0; b < bursts; ++b) {
        int64_t stamps[4];
        ASSERT_TRUE(client.burst(raw, stamps));
        for (int k = 1; k < 4; ++k) {
            EXPECT_GT(stamps[k], stamps[k - 1]);
            EXPECT_LT(stamps[k] - stamps[k - 1], 5000) << "sub-frame " << k;
        }
        if (previousStart >= 0) {
            // Bursts start on the sensor's grid: a whole number of periods apart (more than
            // one when the reader fell behind and the sensor moved on). A period need not be
            // a whole number of microseconds.
            const double delta = double(stamps[0] - previousStart);
            const double periods = std::round(delta / periodUs);
            EXPECT_GE(periods, 1.0);
            EXPECT_NEAR(delta, periods * periodUs, 2.0);
        }
        previousStart = stamps[0];
    }
}

TEST(BurstTiming, FourSubFramesCloseTogetherOnePeriodApart) {
    Client client(makeBoard("board=rpi5,fps=30,scene=wall:1000"));
    const int64_t before = monotonicMicros();
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    const int64_t after = monotonicMicros();
    EXPECT_GE(stamps[0], before);
    EXPECT_LE(stamps[3], after) << "timestamps come from the monotonic clock";
    expectBurstsAtPeriod(client, 1000000.0 / 30, 4);
}

TEST(BurstTiming, FrameRateRegisterChangesThePeriod) {
    Client client(makeBoard("board=jetson-xavier,fps=30,noise=0,scene=wall:1000"));
    ASSERT_EQ(client.start(), 0);
    int bus = client.board->open("/dev/i2c-30", O_RDWR);
    uint8_t bytes[6] = {0x06, 0x33, 0x00, 0x00, 0x00, 50};
    i2c_msg message[1] = {{0x0c, 0, 6, bytes}};
    i2c_rdwr_ioctl_data data{message, 1};
    ASSERT_EQ(client.board->ioctl(bus, I2C_RDWR, &data), 1);
    EXPECT_EQ(client.board->sensorState().frameRate, 50);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));  // the burst in progress
    expectBurstsAtPeriod(client, 1000000.0 / 50, 4);
}

TEST(BurstTiming, FreeRunningBoardKeepsSubFramesTogether) {
    Client client(makeBoard("board=rock5b,fps=0"));
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    int64_t previous = 0;
    for (int b = 0; b < 20; ++b) {
        ASSERT_TRUE(client.burst(raw, stamps));
        // The whole burst is ready once rendered (the first one included, however long its
        // rendering took), so no reader can see it split.
        for (int k = 1; k < 4; ++k) EXPECT_EQ(stamps[k], stamps[0]);
        EXPECT_GE(stamps[0], previous);
        previous = stamps[0];
    }
    // A frame-rate write is recorded but the board keeps running free.
    int bus = client.board->open("/dev/i2c-3", O_RDWR);
    uint8_t bytes[6] = {0x06, 0x33, 0x00, 0x00, 0x00, 5};
    i2c_msg message[1] = {{0x0c, 0, 6, bytes}};
    i2c_rdwr_ioctl_data data{message, 1};
    ASSERT_EQ(client.board->ioctl(bus, I2C_RDWR, &data), 1);
    auto state = client.board->sensorState();
    EXPECT_EQ(state.frameRateRegister, 5u);
    EXPECT_EQ(state.frameRate, 0);
}

TEST(BurstTiming, ASlowReaderGetsTheNewestBurstNotAStaleOne) {
    Client client(makeBoard("board=rpi4,fps=30,noise=0,scene=wall:1000"));
    ASSERT_EQ(client.start(), 0);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    const int64_t firstStart = stamps[0];
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int64_t awake = monotonicMicros();
    ASSERT_TRUE(client.burst(raw, stamps));
    const double period = 1000000.0 / 30;
    EXPECT_GE(double(stamps[0]), double(awake) - period) << "bursts nobody took are dropped whole";
    // Bursts start whole periods apart (the period is not a whole number of microseconds).
    const double delta = double(stamps[0] - firstStart);
    EXPECT_NEAR(delta, std::round(delta / period) * period, 2.0);
    for (int k = 1; k < 4; ++k) EXPECT_LT(stamps[k] - stamps[k - 1], 5000);
}

}  // namespace
}  // namespace Zelvo::sim::test
