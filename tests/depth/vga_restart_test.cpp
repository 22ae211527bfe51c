// The VGA camera over the simulated board, restarted round after round as a program does
// (start, one frame, stop) with the depth library's frames split over four threads: every
// round starts and delivers the wall, whatever the previous rounds left behind.
#include <gtest/gtest.h>

#include <cmath>

#include <zelvo/camera.h>
#include "tests/depth/scoped_variable.h"
#include "tests/support/repeat_count.h"
#include "tests/support/scratch_directory.h"

namespace Zelvo {
namespace {

using ZelvoDepth::testing::ScopedVariable;

TEST(VgaRestarts, EveryRoundStreamsWithFourDepthThreads) {
    constexpr int kWidth = 320, kHeight = 240, kRounds = 200;
    constexpr float kWallMm = 900.0f;  // within the single frequency's 1250 mm
    const ScopedVariable simulation("ZELVO_SIM",
                                    "board=rpi5,sensor=vga,fps=0,noise=0,fpn=0,scene=wall:900");
    const ScopedVariable threads("ZELVO_DEPTH_THREADS", "4");
    const ScopedVariable folder("ZELVO_DEPTH_CONFIG_DIR", nullptr);
    const testing::ScratchDirectory working;  // a VGA start writes its texts here
    ZelvoTOFCamera camera;
    ASSERT_EQ(camera.open(CSI, 0), ZelvoSuccess);
    ASSERT_EQ(camera.getCameraInfo().device_type, VGA);
    ASSERT_EQ(camera.setControl(FMT_WIDTH, kWidth), ZelvoSuccess);
    ASSERT_EQ(camera.setControl(FMT_HEIGHT, kHeight), ZelvoSuccess);
    for (int round = 0; round < testing::repeatCount(kRounds); ++round) {
        ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess) << "round " << round;
        // Generous: a round takes about a second under an emulator on a loaded machine.
        ZelvoFrameBuffer* frame = camera.requestFrame(60000);
        ASSERT_NE(frame, nullptr) << "round " << round;
        const float* depth = static_cast<const float*>(frame->getData(DEPTH));
        ASSERT_NE(depth, nullptr);
        // The wall at the centre; the first and last rows, which the first and last bands
        // own, farther along their rays and alike.
        const float centre = depth[kHeight / 2 * kWidth + kWidth / 2];
        const float top = depth[kWidth / 2], bottom = depth[(kHeight - 1) * kWidth + kWidth / 2];
        EXPECT_NEAR(centre, kWallMm, 10.0f) << "round " << round;
        EXPECT_GT(top, centre + 50.0f) << "round " << round;
        EXPECT_NEAR(top, bottom, 10.0f) << "round " << round;
        EXPECT_EQ(camera.releaseFrame(frame), ZelvoSuccess);
        ASSERT_EQ(camera.stop(), ZelvoSuccess) << "round " << round;
    }
    EXPECT_EQ(camera.close(), ZelvoSuccess);
}

}  // namespace
}  // namespace Zelvo
