#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <system_error>
#include <vector>

#include <zelvo/camera.h>
#include "core/frame_store.h"
#include "core/host_selection.h"
#include "tests/support/camera_rig.h"
#include "tests/support/eventually.h"

namespace Zelvo {
namespace {

using testing::call;
using testing::CameraRig;
using testing::eventually;
using Calls = std::vector<std::string>;

constexpr short kLongWaitMs = 10000;

TEST(CameraOpen, CsiBuildsTransportOnTheVideoNodeWithTheBoardAndHost) {
    CameraRig rig("Raspberry Pi 5 Model B Rev 1.0");
    EXPECT_EQ(rig.camera->getPlatform(), PlatformRaspberryPi5);
    ASSERT_EQ(rig.camera->open(CSI, 3), ZelvoSuccess);
    EXPECT_EQ(rig.factory->csiPath, "/dev/video3");
    EXPECT_EQ(rig.factory->sensorPlatform, PlatformRaspberryPi5);
    EXPECT_EQ(rig.factory->devicePlatform, PlatformRaspberryPi5);
    EXPECT_EQ(rig.factory->sensorHost, rig.host.get());
    EXPECT_EQ(rig.factory->deviceHost, rig.host.get());
    EXPECT_EQ(rig.log().entries(), (Calls{"factory.csi(/dev/video3)", "sensor.open",
                                          "factory.hqvga", call("device.init", HQVGA)}));
    const CameraInfo info = rig.camera->getCameraInfo();
    EXPECT_EQ(info.connect, CSI);
    EXPECT_EQ(info.index, 3u);
    EXPECT_EQ(info.width, 240u);
    EXPECT_EQ(info.height, 180u);
}

TEST(CameraOpen, DeviceFollowsTheSensorFrameSize) {
    const struct {
        uint32_t width, height;
        DeviceType device;
        int framesPerRequest;
        const char* built;
    } cases[] = {
        {240, 180, HQVGA, 4, "factory.hqvga"},
        {240, 181, VGA, 1, "factory.vga"},
        {320, 180, VGA, 1, "factory.vga"},
        {180, 240, VGA, 1, "factory.vga"},
        {640, 480, VGA, 1, "factory.vga"},
    };
    for (const auto& c : cases) {
        CameraRig rig;
        rig.factory->sensorScript.width = c.width;
        rig.factory->sensorScript.height = c.height;
        ASSERT_EQ(rig.camera->open(USB, 0), ZelvoSuccess);
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        EXPECT_EQ(rig.camera->getCameraInfo().device_type, c.device) << size;
        EXPECT_EQ(rig.sensor().framesPerRequest, c.framesPerRequest) << size;
        EXPECT_EQ(rig.device().sensor, &rig.sensor()) << size;
        EXPECT_EQ(rig.log().entries(),
                  (Calls{"factory.usb(,0)", "sensor.open", c.built, call("device.init", c.device)}))
            << size;
    }
}

TEST(CameraOpen, OpenWithFileHandsThePathToTheUsbTransport) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->openWithFile("/etc/kit.json", 2), ZelvoSuccess);
    EXPECT_EQ(rig.factory->usbConfigPath, "/etc/kit.json");
    EXPECT_EQ(rig.factory->usbIndex, 2);
    EXPECT_EQ(rig.camera->getCameraInfo().connect, USB);
    EXPECT_EQ(rig.camera->getCameraInfo().index, 2u);
}

TEST(CameraOpen, RefusedArgumentsAndComponents) {
    {
        CameraRig rig;
        const CameraInfo before = rig.camera->getCameraInfo();
        EXPECT_EQ(rig.camera->openWithFile(nullptr, 5), ZelvoUnkownError);
        const CameraInfo after = rig.camera->getCameraInfo();
        EXPECT_EQ(after.index, before.index);
        EXPECT_EQ(after.connect, before.connect);
        EXPECT_TRUE(rig.log().entries().empty());
    }
    {
        CameraRig rig;
        EXPECT_EQ(rig.camera->open(static_cast<Connection>(2), 7), ZelvoUnkownError);
        EXPECT_EQ(rig.camera->getCameraInfo().connect, 2);
        EXPECT_EQ(rig.camera->getCameraInfo().index, 7u);
        EXPECT_TRUE(rig.log().entries().empty());
        EXPECT_EQ(rig.camera->sensor, nullptr);
    }
    {
        CameraRig rig;
        rig.factory->sensorsAvailable = false;
        EXPECT_EQ(rig.camera->open(CSI, 0), ZelvoUnkownError);
        EXPECT_EQ(rig.camera->openWithFile("x", 0), ZelvoUnkownError);
        EXPECT_EQ(rig.camera->sensor, nullptr);
    }
    {
        CameraRig rig;
        rig.factory->devicesAvailable = false;
        EXPECT_EQ(rig.camera->open(CSI, 0), ZelvoUnkownError);
        EXPECT_EQ(rig.camera->device, nullptr);
        EXPECT_EQ(rig.camera->start(DEPTH), ZelvoUnkownError);
    }
}

TEST(CameraOpen, FailuresPassTheComponentCodeThrough) {
    {
        CameraRig rig;
        rig.factory->sensorScript.openResult = -2;
        EXPECT_EQ(rig.camera->open(CSI, 0), -2);
        // The new sensor stays, no device is made.
        EXPECT_NE(rig.camera->sensor, nullptr);
        EXPECT_EQ(rig.camera->device, nullptr);
        EXPECT_EQ(rig.log().entries(), (Calls{"factory.csi(/dev/video0)", "sensor.open"}));
    }
    {
        CameraRig rig;
        rig.factory->deviceScript.initResult = ZelvoUnkownDevice;
        EXPECT_EQ(rig.camera->open(CSI, 0), ZelvoUnkownDevice);
    }
}

TEST(CameraOpen, WithoutAHostOpenFailsWithTheSelectionErrorLine) {
    const char* previous = std::getenv("ZELVO_SIM");
    const std::string saved = previous ? previous : "";
    ASSERT_EQ(setenv("ZELVO_SIM", "no-such-setting=1", 1), 0);
    const std::string expected = selectHost().error;
    ASSERT_FALSE(expected.empty());
    {
        ZelvoTOFCamera camera;
        EXPECT_EQ(camera.getPlatform(), PlatformOther);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(camera.open(CSI, 0), ZelvoSystemError);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(camera.openWithFile("kit.json", 0), ZelvoSystemError);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
        EXPECT_EQ(camera.sensor, nullptr);
    }
    if (previous)
        setenv("ZELVO_SIM", saved.c_str(), 1);
    else
        unsetenv("ZELVO_SIM");
}

TEST(CameraLifecycle, CallOrderOfStartStopAndClose) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.device().presetControl(RANGE, 4000);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));

    size_t mark = rig.log().mark();
    ASSERT_EQ(rig.camera->start(DEPTH), ZelvoSuccess);
    EXPECT_TRUE(rig.camera->isStreaming());
    EXPECT_EQ(rig.log().since(mark),
              (Calls{call("device.getControl", RANGE), call("device.setControl", RANGE, 4000),
                     "device.configureSensor", "sensor.start", "device.start",
                     "device.getFrameLayouts"}));

    mark = rig.log().mark();
    EXPECT_EQ(rig.camera->stop(), ZelvoSuccess);
    EXPECT_FALSE(rig.camera->isStreaming());
    EXPECT_EQ(rig.log().since(mark), (Calls{"device.stop", "sensor.stop"}));

    mark = rig.log().mark();
    rig.sensor().script.closeResult = 9;
    rig.device().script.closeResult = -1;  // not the result of close
    EXPECT_EQ(rig.camera->close(), 9);
    // Closed components are let go of: nothing can reach their descriptors any more.
    EXPECT_EQ(rig.log().since(mark),
              (Calls{"device.close", "sensor.close", "device.destroyed", "sensor.destroyed"}));
    EXPECT_EQ(rig.camera->sensor, nullptr);
    EXPECT_EQ(rig.camera->device, nullptr);
}

TEST(CameraLifecycle, StopReturnsTheSensorResult) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    rig.sensor().script.stopResult = -2;
    rig.device().script.stopResult = 4;  // ignored
    ASSERT_EQ(rig.camera->start(RAW), ZelvoSuccess);
    EXPECT_EQ(rig.camera->stop(), -2);
}

TEST(CameraLifecycle, CloseWhileStreamingStopsFirst) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    ASSERT_EQ(rig.camera->start(DEPTH), ZelvoSuccess);
    const size_t mark = rig.log().mark();
    EXPECT_EQ(rig.camera->close(), ZelvoSuccess);
    EXPECT_FALSE(rig.camera->isStreaming());
    EXPECT_FALSE(rig.camera->thread.joinable());
    EXPECT_EQ(rig.log().since(mark), (Calls{"device.stop", "sensor.stop", "device.close",
                                            "sensor.close", "device.destroyed",
                                            "sensor.destroyed"}));
}

// All three buffers are borrowed, so no frame can come: only the other thread's stop
// or close ends the wait, and later requests return at once.
TEST(CameraLifecycle, StopOrCloseFromAnotherThreadEndsAWaitingRequest) {
    for (auto end : {&ZelvoTOFCamera::stop, &ZelvoTOFCamera::close}) {
        SCOPED_TRACE(end == &ZelvoTOFCamera::stop ? "stop" : "close");
        CameraRig rig;
        ZelvoTOFCamera& camera = *rig.camera;
        ASSERT_EQ(camera.open(CSI, 0), ZelvoSuccess);
        rig.sensor().setReadDelay(std::chrono::milliseconds(1));
        ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess);
        for (int i = 0; i < 3; ++i) ASSERT_NE(camera.requestFrame(kLongWaitMs), nullptr);
        auto waiting = std::async(std::launch::async, [&] { return camera.requestFrame(-1); });
        ASSERT_TRUE(eventually([&] { return camera.frameStore->waitingRequests() == 1; }));
        EXPECT_EQ((camera.*end)(), ZelvoSuccess);
        ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(kLongWaitMs)),
                  std::future_status::ready);
        EXPECT_EQ(waiting.get(), nullptr);
        EXPECT_EQ(camera.requestFrame(-1), nullptr);
    }
}

TEST(CameraLifecycle, StartFailuresReturnTheirCodeAndLeaveTheSensorStopped) {
    const struct {
        const char* what;
        int configure, sensorStart, deviceStart;
        FrameType type;
        int expected;
        Calls tail;  // calls after the range is re-applied
    } cases[] = {
        {"configureSensor", 4, 0, 0, DEPTH, 4, {"device.configureSensor"}},
        // A sensor whose start failed half-way is stopped again, so the next start works.
        {"sensor start", 0, -1, 0, DEPTH, -1,
         {"device.configureSensor", "sensor.start", "sensor.stop"}},
        {"device start", 0, 0, -2, DEPTH, -2,
         {"device.configureSensor", "sensor.start", "device.start", "sensor.stop"}},
        {"output type", 0, 0, 0, CONFIDENCE, -1,
         {"device.configureSensor", "sensor.start", "device.start", "device.getFrameLayouts",
          "device.stop", "sensor.stop"}},
        {"cache type", 0, 0, 0, CACHE, -1,
         {"device.configureSensor", "sensor.start", "device.start", "device.getFrameLayouts",
          "device.stop", "sensor.stop"}},
    };
    for (const auto& c : cases) {
        CameraRig rig;
        rig.factory->deviceScript.configureSensorResult = c.configure;
        rig.factory->deviceScript.startResult = c.deviceStart;
        rig.factory->sensorScript.startResult = c.sensorStart;
        ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
        const size_t mark = rig.log().mark() + 2;  // after getControl/setControl of RANGE
        EXPECT_EQ(rig.camera->start(c.type), c.expected) << c.what;
        EXPECT_EQ(rig.log().since(mark), c.tail) << c.what;
        EXPECT_FALSE(rig.camera->isStreaming()) << c.what;
        EXPECT_FALSE(rig.camera->thread.joinable()) << c.what;
        EXPECT_EQ(rig.camera->frameStore, nullptr) << c.what;
    }
}

TEST(CameraLifecycle, UnsupportedOutputTypeStaysInTheInfo) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    EXPECT_EQ(rig.camera->start(CONFIDENCE), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->getCameraInfo().type, CONFIDENCE);
}

TEST(CameraLifecycle, StartReportsTheSensorFormatAndType) {
    CameraRig rig;
    rig.factory->sensorScript.width = 640;
    rig.factory->sensorScript.height = 480;
    rig.factory->sensorScript.bitWidth = 8;
    rig.factory->sensorScript.bpp = 1;
    rig.factory->deviceScript.raw = {2, 640, 480};
    rig.factory->deviceScript.output = {0, 640, 480};
    ASSERT_EQ(rig.camera->open(USB, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    ASSERT_EQ(rig.camera->start(RAW), ZelvoSuccess);
    const CameraInfo info = rig.camera->getCameraInfo();
    EXPECT_EQ(info.type, RAW);
    EXPECT_EQ(info.width, 640u);
    EXPECT_EQ(info.height, 480u);
    EXPECT_EQ(info.bit_width, 8u);
    EXPECT_EQ(info.bpp, 1u);
    EXPECT_EQ(info.device_type, VGA);
    rig.camera->stop();
}

TEST(CameraLifecycle, RawStreamOnTheHqvgaSensorUsesTheDeviceRawLayout) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    ASSERT_EQ(rig.camera->setOutputType(RAW), ZelvoSuccess);
    FrameStore& store = *rig.camera->frameStore;
    // Four stacked sub-frames of 240 x 180 per read.
    EXPECT_EQ(store.staging().byteSize(), 240u * 720u * 2u);
    for (const auto& node : store.framePool().nodes()) {
        FrameDataFormat format{};
        ASSERT_EQ(node->buffer->getFormat(RAW, format), 0);
        EXPECT_EQ(format.width, 240u);
        EXPECT_EQ(format.height, 720u);
    }
    EXPECT_EQ(rig.camera->rawLayout.height, 720u);
    EXPECT_EQ(rig.camera->outputLayout.height, 180u);
}

TEST(CameraLifecycle, SetOutputTypeWhileStreamingChangesNothing) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    ASSERT_EQ(rig.camera->start(DEPTH), ZelvoSuccess);
    FrameStore* store = rig.camera->frameStore.get();
    const uint64_t generation = rig.camera->bufferGeneration();
    const size_t mark = rig.log().mark();

    EXPECT_EQ(rig.camera->setOutputType(RAW), ZelvoUnkownError);
    EXPECT_EQ(rig.camera->frameStore.get(), store);
    EXPECT_EQ(rig.camera->bufferGeneration(), generation);
    EXPECT_EQ(rig.camera->getCameraInfo().type, DEPTH);
    EXPECT_TRUE(rig.log().since(mark).empty());
    ZelvoFrameBuffer* frame = rig.camera->requestFrame(5000);
    ASSERT_NE(frame, nullptr);
    EXPECT_NE(dynamic_cast<DepthData*>(frame), nullptr);
    EXPECT_EQ(rig.camera->releaseFrame(frame), 0);

    rig.camera->stop();
    EXPECT_EQ(rig.camera->setOutputType(RAW), ZelvoSuccess);
    EXPECT_NE(rig.camera->bufferGeneration(), generation);
    EXPECT_NE(dynamic_cast<RawData*>(rig.camera->frameStore->framePool().nodes()[0]->buffer.get()),
              nullptr);
}

TEST(CameraLifecycle, SecondStartWhileStreamingIsRefusedWithoutTouchingComponents) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    ASSERT_EQ(rig.camera->start(DEPTH), ZelvoSuccess);
    const size_t mark = rig.log().mark();
    EXPECT_EQ(rig.camera->start(DEPTH), ZelvoUnkownError);
    EXPECT_TRUE(rig.log().since(mark).empty());
    EXPECT_TRUE(rig.camera->isStreaming());
    EXPECT_EQ(rig.camera->stop(), ZelvoSuccess);
}

TEST(CameraLifecycle, StopWithoutRunningThreadThrowsTheJoinError) {
    CameraRig never;
    EXPECT_THROW(never.camera->stop(), std::system_error);
    EXPECT_TRUE(never.log().entries().empty());

    CameraRig opened;
    ASSERT_EQ(opened.camera->open(CSI, 0), ZelvoSuccess);
    const size_t mark = opened.log().mark();
    try {
        opened.camera->stop();
        ADD_FAILURE() << "stop without a thread returned";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::invalid_argument);
    }
    EXPECT_TRUE(opened.log().since(mark).empty());
}

TEST(CameraLifecycle, StreamCanBeStartedAgainAfterStop) {
    CameraRig rig;
    ASSERT_EQ(rig.camera->open(CSI, 0), ZelvoSuccess);
    rig.sensor().setReadDelay(std::chrono::milliseconds(1));
    for (FrameType type : {DEPTH, RAW, DEPTH}) {
        ASSERT_EQ(rig.camera->start(type), ZelvoSuccess);
        ZelvoFrameBuffer* frame = rig.camera->requestFrame(5000);
        ASSERT_NE(frame, nullptr);
        FrameDataFormat format{};
        EXPECT_EQ(frame->getFormat(type, format), 0);
        EXPECT_EQ(rig.camera->releaseFrame(frame), 0);
        EXPECT_EQ(rig.camera->stop(), ZelvoSuccess);
    }
    EXPECT_EQ(rig.camera->close(), ZelvoSuccess);
}

}  // namespace
}  // namespace Zelvo
