// A program reaches the simulated board through ZELVO_SIM alone: the default camera picks
// it up, recognises the board from its model, and streams the scene.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <zelvo/camera.h>

namespace Zelvo {
namespace {

class ScopedSimulation {
public:
    explicit ScopedSimulation(const char* settings) {
        if (const char* old = std::getenv("ZELVO_SIM")) previous_ = old, hadPrevious_ = true;
        setenv("ZELVO_SIM", settings, 1);
    }
    ~ScopedSimulation() {
        if (hadPrevious_)
            setenv("ZELVO_SIM", previous_.c_str(), 1);
        else
            unsetenv("ZELVO_SIM");
    }

private:
    std::string previous_;
    bool hadPrevious_ = false;
};

float centreDepth(ZelvoTOFCamera& camera) {
    ZelvoFrameBuffer* frame = camera.requestFrame(3000);
    if (!frame) return -1.0f;
    const float* depth = static_cast<const float*>(frame->getData(DEPTH));
    float value = depth ? depth[90 * 240 + 120] : -1.0f;
    camera.releaseFrame(frame);
    return value;
}

TEST(ZelvoSimEnvironment, DefaultCameraStreamsTheConfiguredWall) {
    for (const char* board : {"rpi5", "jetson-orin", "rock5b"}) {
        SCOPED_TRACE(board);
        ScopedSimulation simulation(
            (std::string("board=") + board + ",scene=wall:2500,noise=0").c_str());
        ZelvoTOFCamera camera;
        ASSERT_EQ(camera.open(CSI, 0), 0);
        EXPECT_EQ(camera.getCameraInfo().device_type, HQVGA);
        ASSERT_EQ(camera.start(DEPTH), 0);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(centreDepth(camera), 2500.0f, 3.0f);
        // At the 2000 mm range the wall wraps round to 500 mm.
        ASSERT_EQ(camera.setControl(RANGE, 2000), 0);
        float depth = 0;
        for (int i = 0; i < 6; ++i) depth = centreDepth(camera);  // frames in flight drain
        EXPECT_NEAR(depth, 500.0f, 3.0f);
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_EQ(camera.close(), 0);
    }
}

TEST(ZelvoSimEnvironment, AllDefaultsStreamTheRoom) {
    ScopedSimulation simulation("1");
    ZelvoTOFCamera camera;
    ASSERT_EQ(camera.open(CSI, 0), 0);
    ASSERT_EQ(camera.start(DEPTH), 0);
    const float depth = centreDepth(camera);
    EXPECT_GT(depth, 500.0f);
    EXPECT_LT(depth, 4000.0f);
    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(camera.close(), 0);
}

}  // namespace
}  // namespace Zelvo
