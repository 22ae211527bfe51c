// What the camera owns and when it lets go: destruction while streaming, a new open
// while streaming, and a new sensor replacing the old one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/camera_rig.h"

namespace Zelvo {
namespace {

using testing::CameraRig;
using Calls = std::vector<std::string>;

size_t positionOf(const Calls& calls, const std::string& entry) {
    return static_cast<size_t>(std::find(calls.begin(), calls.end(), entry) - calls.begin());
}

// Whatever the components claimed (a kit, a library, a mapping) is given back by their close.
TEST(CameraOwnership, DestroyingAStreamingCameraStopsTheStreamAndClosesFirst) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    ASSERT_EQ(rig.camera->start(DEPTH), ZelvoSuccess);
    ZelvoFrameBuffer* frame = rig.camera->requestFrame(10000);
    ASSERT_NE(frame, nullptr);  // still borrowed: destroyed with the store
    const size_t mark = rig.log().mark();
    rig.camera.reset();
    EXPECT_EQ(rig.log().since(mark),
              (Calls{"device.stop", "sensor.stop", "device.close", "sensor.close",
                     "device.destroyed", "sensor.destroyed"}));
}

TEST(CameraOwnership, DestroyingAnOpenedCameraClosesItFirstAndAClosedOneOnlyFreesIt) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    ASSERT_EQ(rig.camera->start(RAW), ZelvoSuccess);
    ASSERT_EQ(rig.camera->stop(), ZelvoSuccess);
    size_t mark = rig.log().mark();
    rig.camera.reset();
    EXPECT_EQ(rig.log().since(mark),
              (Calls{"device.close", "sensor.close", "device.destroyed", "sensor.destroyed"}));

    CameraRig closed;
    ASSERT_EQ(closed.camera->open(CSI, 0), ZelvoSuccess);
    ASSERT_EQ(closed.camera->close(), ZelvoSuccess);
    mark = closed.log().mark();
    closed.camera.reset();
    EXPECT_TRUE(closed.log().since(mark).empty());
}

TEST(CameraOwnership, OpenWhileStreamingIsRefusedAndChangesNothing) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 1), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    ASSERT_EQ(rig.camera->start(DEPTH), ZelvoSuccess);
    ZelvoTOFSensor* sensor = rig.camera->sensor.get();
    ZelvoDevice* device = rig.camera->device.get();
    const size_t mark = rig.log().mark();

    EXPECT_EQ(rig.camera->open(CSI, 4), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->open(USB, 4), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->openWithFile("kit.json", 4), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->openPostHandle(), ZelvoUnkownError);

    EXPECT_TRUE(rig.log().since(mark).empty());
    EXPECT_EQ(rig.camera->sensor.get(), sensor);
    EXPECT_EQ(rig.camera->device.get(), device);
    EXPECT_EQ(rig.camera->getCameraInfo().index, 1u);
    EXPECT_EQ(rig.camera->getCameraInfo().connect, CSI);
    EXPECT_TRUE(rig.camera->isStreaming());
    ZelvoFrameBuffer* frame = rig.camera->requestFrame(10000);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
    EXPECT_EQ(rig.camera->stop(), ZelvoSuccess);
}

TEST(CameraOwnership, NewSensorTakesTheOldDeviceWithIt) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    const size_t mark = rig.log().mark();
    ASSERT_EQ(rig.camera->open(CSI, 1), ZelvoSuccess);
    const Calls calls = rig.log().since(mark);
    // Both are closed first; the device that points at the old sensor is gone before
    // that sensor is.
    EXPECT_LT(positionOf(calls, "device.close"), positionOf(calls, "sensor.close"));
    EXPECT_LT(positionOf(calls, "sensor.close"), positionOf(calls, "device.destroyed"));
    EXPECT_LT(positionOf(calls, "device.destroyed"), positionOf(calls, "sensor.destroyed"));
    EXPECT_LT(positionOf(calls, "sensor.destroyed"), calls.size());
    EXPECT_EQ(rig.camera->device->sensor, rig.camera->sensor.get());
}

TEST(CameraOwnership, ANewDeviceClosesTheOneItReplaces) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    const size_t mark = rig.log().mark();
    ASSERT_EQ(rig.camera->openPostHandle(), ZelvoSuccess);
    const Calls calls = rig.log().since(mark);
    EXPECT_LT(positionOf(calls, "device.close"), positionOf(calls, "device.destroyed"));
    EXPECT_LT(positionOf(calls, "device.destroyed"), calls.size());
    EXPECT_EQ(positionOf(calls, "sensor.close"), calls.size());  // the sensor stays open
}

TEST(CameraOwnership, FailedReopenLeavesNoDeviceOnTheDestroyedSensor) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.factory->sensorScript.openResult = -2;
    const size_t mark = rig.log().mark();
    EXPECT_EQ(rig.camera->open(USB, 0), -2);
    const Calls calls = rig.log().since(mark);
    EXPECT_LT(positionOf(calls, "device.destroyed"), positionOf(calls, "sensor.destroyed"));
    EXPECT_EQ(rig.camera->device, nullptr);
    // Nothing can reach the old device any more.
    int value = 0;
    EXPECT_EQ(rig.camera->getControl(RANGE, &value), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->start(DEPTH), ZelvoUnkownError);
}

TEST(CameraOwnership, SkipSettingsSurviveCloseAndReopen) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME_LOOP, 4), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setControl(SKIP_FRAME, 3), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setControl(AUTO_FRAME_RATE, 0), ZelvoSuccess);
    ASSERT_EQ(rig.camera->close(), ZelvoSuccess);
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    EXPECT_EQ(rig.camera->skipFrameLoop.load(), 4);
    EXPECT_EQ(rig.camera->skipFrame.load(), 3);
    int value = 1;
    EXPECT_EQ(rig.camera->getControl(AUTO_FRAME_RATE, &value), ZelvoSuccess);
    EXPECT_EQ(value, 0);
}

}  // namespace
}  // namespace Zelvo
