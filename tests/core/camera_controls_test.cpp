#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/camera_rig.h"

namespace Zelvo {
namespace {

using testing::call;
using testing::CameraRig;
using Calls = std::vector<std::string>;

struct OpenedCamera : ::testing::Test {
    void SetUp() override { ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess); }
    CameraRig rig;
};

TEST_F(OpenedCamera, FrameRateIsBoundedByTheDeviceMaximum) {
    rig.device().script.maxFrameRate = 30;
    const struct {
        int value;
        int expected;
        bool reachesDevice;
    } cases[] = {
        {0, ZelvoInvalidParameter, false}, {-5, ZelvoInvalidParameter, false},
        {31, ZelvoInvalidParameter, false}, {1, ZelvoSuccess, true},
        {30, ZelvoSuccess, true},          {10, ZelvoSuccess, true},
        // Raising again after lowering: the bound is the maximum, not the rate set.
        {25, ZelvoSuccess, true},
    };
    for (const auto& c : cases) {
        const size_t mark = rig.log().mark();
        EXPECT_EQ(rig.camera->setControl(FRAME_RATE, c.value), c.expected) << c.value;
        const Calls calls = rig.log().since(mark);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front(), "device.getMaxFrameRate");
        EXPECT_EQ(calls.back() == call("device.setControl", FRAME_RATE, c.value), c.reachesDevice)
            << c.value;
    }
    EXPECT_EQ(rig.device().control(FRAME_RATE), 25);
}

TEST_F(OpenedCamera, FrameRateCodesComeFromTheDevice) {
    rig.device().script.maxFrameRateResult = ZelvoNotImplemented;
    EXPECT_EQ(rig.camera->setControl(FRAME_RATE, 10), ZelvoNotImplemented);
    EXPECT_FALSE(rig.log().contains(call("device.setControl", FRAME_RATE, 10)));

    rig.device().script.maxFrameRateResult = 0;
    rig.device().script.setControlResult = -1;
    EXPECT_EQ(rig.camera->setControl(FRAME_RATE, 10), -1);
}

TEST_F(OpenedCamera, SkipSettingsAreRangeCheckedAndKeptByTheCamera) {
    const struct {
        CameraCtrl ctrl;
        int value;
        int expected;
    } steps[] = {
        {SKIP_FRAME_LOOP, 0, ZelvoInvalidParameter},
        {SKIP_FRAME_LOOP, -1, ZelvoInvalidParameter},
        {SKIP_FRAME_LOOP, 256, ZelvoInvalidParameter},
        {SKIP_FRAME_LOOP, 255, ZelvoSuccess},
        {SKIP_FRAME_LOOP, 3, ZelvoSuccess},
        {SKIP_FRAME, -1, ZelvoInvalidParameter},
        {SKIP_FRAME, 4, ZelvoInvalidParameter},
        {SKIP_FRAME, 3, ZelvoSuccess},
        {SKIP_FRAME, 0, ZelvoSuccess},
        {SKIP_FRAME, 2, ZelvoSuccess},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(rig.camera->setControl(s.ctrl, s.value), s.expected)
            << s.ctrl << "=" << s.value;
    }
    EXPECT_EQ(rig.camera->skipFrameLoop.load(), 3);
    EXPECT_EQ(rig.camera->skipFrame.load(), 2);
    for (const auto& e : rig.log().entries()) EXPECT_EQ(e.find("setControl"), std::string::npos);

    // Reading them goes to the device, which answers for those identifiers itself.
    rig.device().presetControl(SKIP_FRAME, 77);
    int value = 0;
    EXPECT_EQ(rig.camera->getControl(SKIP_FRAME, &value), ZelvoSuccess);
    EXPECT_EQ(value, 77);
}

TEST_F(OpenedCamera, AutoFrameRateIsAFlag) {
    int value = -1;
    EXPECT_EQ(rig.camera->getControl(AUTO_FRAME_RATE, &value), ZelvoSuccess);
    EXPECT_EQ(value, 1);
    for (int set : {5, 0, -3}) {
        EXPECT_EQ(rig.camera->setControl(AUTO_FRAME_RATE, set), ZelvoSuccess);
        EXPECT_EQ(rig.camera->getControl(AUTO_FRAME_RATE, &value), ZelvoSuccess);
        EXPECT_EQ(value, set != 0 ? 1 : 0) << set;
    }
    EXPECT_FALSE(rig.log().contains(call("device.setControl", AUTO_FRAME_RATE, 5)));
}

TEST_F(OpenedCamera, OtherControlsGoToTheDeviceWithItsCodes) {
    for (int ctrl : {0, 1, 2, 3, 4, 5, 12, 256}) {  // RANGE .. EXPOSURE, unknown ones
        rig.device().script.setControlResult = ctrl == EXPOSURE ? ZelvoNotImplemented : 0;
        const int expected = ctrl == EXPOSURE ? ZelvoNotImplemented : ZelvoSuccess;
        EXPECT_EQ(rig.camera->setControl(static_cast<CameraCtrl>(ctrl), 42 + ctrl), expected);
        EXPECT_TRUE(rig.log().contains(call("device.setControl", ctrl, 42 + ctrl))) << ctrl;
    }
    rig.device().presetControl(RANGE, 2000);
    int value = 0;
    EXPECT_EQ(rig.camera->getControl(RANGE, &value), ZelvoSuccess);
    EXPECT_EQ(value, 2000);
    rig.device().script.getControlResult = ZelvoNotImplemented;
    EXPECT_EQ(rig.camera->getControl(MODE, &value), ZelvoNotImplemented);
    EXPECT_EQ(rig.camera->getControl(RANGE, nullptr), ZelvoInvalidParameter);
}

TEST_F(OpenedCamera, TextControls) {
    rig.device().script.setControlExtResult = ZelvoNotImplemented;
    EXPECT_EQ(rig.camera->setControlExt(CONFIG_DIR_EXT, "/tmp/conf"), ZelvoNotImplemented);
    EXPECT_TRUE(rig.log().contains("device.setControlExt(256,/tmp/conf)"));
    rig.device().script.setControlExtResult = 0;
    EXPECT_EQ(rig.camera->setControlExt(CONFIG_DIR_EXT, "/tmp/conf"), ZelvoSuccess);

    const char* untouched = "mine";
    const char* text = untouched;
    EXPECT_EQ(rig.camera->getControlExt(CONFIG_DIR_EXT, &text), ZelvoSuccess);
    EXPECT_EQ(text, untouched);
}

TEST_F(OpenedCamera, ProcessingEntryPointsForwardToTheDevice) {
    std::vector<int16_t> raw(240 * 720, 9);
    std::vector<float> depth(240 * 180), amplitude(240 * 180), confidence(240 * 180);
    EXPECT_TRUE(rig.camera->getPhaseImage(reinterpret_cast<uint8_t*>(raw.data()), depth.data(),
                                          amplitude.data(), confidence.data()));
    EXPECT_EQ(depth.back(), 9.0f);
    EXPECT_EQ(amplitude.front(), 18.0f);
    EXPECT_EQ(confidence.front(), -9.0f);
    rig.device().setPhaseResult(false);
    EXPECT_FALSE(rig.camera->getPhaseImage(reinterpret_cast<uint8_t*>(raw.data()), depth.data(),
                                           amplitude.data(), confidence.data()));
    std::vector<int16_t> out(240 * 720, 0);
    EXPECT_TRUE(rig.camera->getRawImages(reinterpret_cast<uint8_t*>(raw.data()), out.data()));
    EXPECT_EQ(out.back(), 9);
}

// Nothing of a camera that was never opened is dereferenced; every operation reports
// failure (stop keeps its join error, tested with the lifecycle). A closed camera
// answers the same, touches no component and prints nothing.
void expectEveryOperationFails(CameraRig& rig) {
    ZelvoTOFCamera& camera = *rig.camera;
    const size_t mark = rig.log().mark();
    ::testing::internal::CaptureStderr();
    int value = 123;
    const char* text = nullptr;
    float plane[4] = {};
    int16_t samples[4] = {};
    uint8_t bytes[8] = {};
    RawData stranger(2, 2);

    EXPECT_EQ(camera.start(DEPTH), ZelvoUnkownError);
    EXPECT_EQ(camera.start(RAW), ZelvoUnkownError);
    EXPECT_EQ(camera.setOutputType(DEPTH), ZelvoUnkownError);
    EXPECT_EQ(camera.openPostHandle(), ZelvoUnkownError);
    EXPECT_EQ(camera.close(), ZelvoUnkownError);
    EXPECT_EQ(camera.requestFrame(0), nullptr);
    EXPECT_EQ(camera.requestFrame(-1), nullptr);  // returns instead of waiting forever
    EXPECT_EQ(camera.releaseFrame(&stranger), ZelvoUnkownError);
    EXPECT_EQ(camera.releaseFrame(nullptr), ZelvoUnkownError);
    EXPECT_FALSE(camera.isBorrowed(&stranger));
    for (int ctrl : {RANGE, FRAME_RATE, SKIP_FRAME, SKIP_FRAME_LOOP, AUTO_FRAME_RATE, EXPOSURE}) {
        EXPECT_EQ(camera.setControl(static_cast<CameraCtrl>(ctrl), 1), ZelvoUnkownError) << ctrl;
        EXPECT_EQ(camera.getControl(static_cast<CameraCtrl>(ctrl), &value), ZelvoUnkownError)
            << ctrl;
    }
    EXPECT_EQ(value, 123);
    EXPECT_EQ(camera.setControlExt(CONFIG_DIR_EXT, "dir"), ZelvoUnkownError);
    EXPECT_EQ(camera.getControlExt(CONFIG_DIR_EXT, &text), ZelvoUnkownError);
    EXPECT_FALSE(camera.getPhaseImage(bytes, plane, plane, plane));
    EXPECT_FALSE(camera.getRawImages(bytes, samples));
    camera.adjustFrameRate();
    EXPECT_FALSE(camera.isStreaming());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(rig.log().since(mark).empty());
}

TEST(NeverOpenedCamera, EveryOperationFailsAlsoAfterClose) {
    CameraRig never;
    expectEveryOperationFails(never);
    for (bool streamed : {false, true}) {
        SCOPED_TRACE(streamed ? "closed while streaming" : "closed");
        CameraRig closed;
        ASSERT_EQ(closed.camera->open(USB, 0), ZelvoSuccess);
        ASSERT_EQ(streamed ? closed.camera->start(RAW) : 0, ZelvoSuccess);
        ASSERT_EQ(closed.camera->close(), ZelvoSuccess);
        while (closed.camera->requestFrame(0)) {
        }  // frames still ready come out; then none is left
        expectEveryOperationFails(closed);
    }
}

// A camera whose open failed in the sensor has a sensor but no device.
TEST(NeverOpenedCamera, FailedOpenLeavesNothingUsable) {
    CameraRig rig;
    rig.factory->sensorScript.openResult = -1;
    ASSERT_EQ(rig.camera->open(CSI, 0), -1);
    int value = 0;
    EXPECT_EQ(rig.camera->start(DEPTH), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->setControl(RANGE, 4000), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->getControl(RANGE, &value), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->requestFrame(0), nullptr);
    // Closing releases what the sensor may hold.
    const size_t mark = rig.log().mark();
    EXPECT_EQ(rig.camera->close(), ZelvoSuccess);
    EXPECT_EQ(rig.log().since(mark), (Calls{"sensor.close", "sensor.destroyed"}));
}

}  // namespace
}  // namespace Zelvo
