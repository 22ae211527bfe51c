// The CSI transport against the guest's kernel: vivid's capture node stands in for a
// Jetson Nano's, and vivid's error injection for a capture path that fails.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <linux/videodev2.h>
#include <memory>
#include <string>
#include <vector>

#include <zelvo/camera.h>
#include <zelvo/frame_buffer.h>
#include "sensor/csi/csi_sensor.h"
#include "tests/kernel_guest/guest_kernel.h"
#include "tests/kernel_guest/kernel_host.h"

namespace Zelvo::guest {
namespace {

constexpr short kFrameWaitMs = 3000;

int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The vivid nodes, each put into the sensor's mode once; the first serves every test but
// the disconnect, which takes the second away for good.
class KernelCsi : public testing::Test {
protected:
    static void SetUpTestSuite() {
        nodes = vividCaptureNodes();
        for (int node : nodes) setUpError += prepareVividNode(node);
        bus = plainI2cBus();
    }
    void SetUp() override {
        ASSERT_GE(nodes.size(), 2u) << "vivid capture nodes missing";
        ASSERT_EQ(setUpError, "");
        ASSERT_GE(bus, 0) << "no I2C adapter with plain transfers";
        host = std::make_shared<KernelHost>(bus);
        descriptorsBefore = openDescriptors();
    }

    // After a fault that ends the reads: frames completed before it may still be handed
    // out, a few at most; then none come.
    void drainUntilReadsEnd(ZelvoTOFCamera& camera) {
        int delivered = 0;
        while (ZelvoFrameBuffer* frame = camera.requestFrame(kFrameWaitMs)) {
            camera.releaseFrame(frame);
            ASSERT_LT(++delivered, 8);
        }
    }

    // Requests count depth frames: each 240 x 180, stamped from the monotonic clock in
    // milliseconds, in order and not after the request.
    void streamDepthFrames(ZelvoTOFCamera& camera, int count) {
        uint64_t previous = 0;
        const int64_t started = monotonicMs();
        for (int i = 0; i < count; ++i) {
            SCOPED_TRACE(i);
            ZelvoFrameBuffer* frame = camera.requestFrame(kFrameWaitMs);
            ASSERT_NE(frame, nullptr);
            FrameDataFormat format{};
            ASSERT_EQ(frame->getFormat(DEPTH, format), 0);
            EXPECT_EQ(format.width, 240u);
            EXPECT_EQ(format.height, 180u);
            EXPECT_NE(frame->getData(DEPTH), nullptr);
            EXPECT_GE(format.timestamp, previous);
            EXPECT_GE(static_cast<int64_t>(format.timestamp), started - 1000);
            EXPECT_LE(static_cast<int64_t>(format.timestamp), monotonicMs());
            previous = format.timestamp;
            ASSERT_EQ(camera.releaseFrame(frame), 0);
        }
    }

    // Nothing of the node or the bus stays with the process.
    void expectAllReleased() {
        EXPECT_EQ(openDescriptors("/dev/video"), 0);
        EXPECT_EQ(openDescriptors("/dev/i2c-"), 0);
        EXPECT_EQ(openDescriptors(), descriptorsBefore);
        EXPECT_EQ(mappingsNaming("/dev/video"), 0);
    }

    static inline std::vector<int> nodes;
    static inline std::string setUpError;
    static inline int bus = -1;
    std::shared_ptr<KernelHost> host;
    int descriptorsBefore = 0;
};

TEST_F(KernelCsi, OpensAsJetsonStreamsHqvgaDepthStopsAndStartsAgain) {
    ZelvoTOFCamera camera(host);
    ASSERT_EQ(camera.open(CSI, nodes[0]), ZelvoSuccess);
    EXPECT_EQ(camera.getPlatform(), PlatformJetsonNano);
    EXPECT_GT(host->modelAnswers(), 0);
    EXPECT_GT(host->nodeNameAnswers(), 0);
    const CameraInfo info = camera.getCameraInfo();
    EXPECT_EQ(info.width, 240u);
    EXPECT_EQ(info.height, 180u);
    EXPECT_EQ(info.device_type, HQVGA);

    ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess);
    EXPECT_GE(mappingsNaming("/dev/video"), 1);
    streamDepthFrames(camera, 100);
    ASSERT_EQ(camera.stop(), ZelvoSuccess);
    EXPECT_EQ(mappingsNaming("/dev/video"), 0);

    ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess);
    streamDepthFrames(camera, 20);
    ASSERT_EQ(camera.stop(), ZelvoSuccess);
    EXPECT_EQ(camera.close(), ZelvoSuccess);
    expectAllReleased();
}

TEST_F(KernelCsi, ErrorFlaggedBufferCostsOneFrame) {
    ZelvoTOFCSISensor sensor(("/dev/video" + std::to_string(nodes[0])).c_str(),
                             PlatformJetsonNano, *host);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    sensor.framesPerRequest = 4;
    ASSERT_EQ(sensor.start(), 0);
    std::vector<uint8_t> raw(240 * 180 * 2 * 4);
    int64_t timestamp = 0;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(sensor.getFrame(raw.data(), &timestamp), 0);

    ASSERT_EQ(setVividControl(nodes[0], "Inject V4L2_BUF_FLAG_ERROR"), "");
    // The flagged buffer is one of those queued now: it comes within three reads.
    std::vector<int> results;
    for (int i = 0; i < 6; ++i) results.push_back(sensor.getFrame(raw.data(), &timestamp));
    EXPECT_EQ(std::count(results.begin(), results.end(), -2), 1);
    EXPECT_EQ(std::count(results.begin(), results.end(), 0), 5);
    EXPECT_EQ(results.back(), 0);

    EXPECT_EQ(sensor.stop(), 0);
    EXPECT_EQ(sensor.close(), 0);
    expectAllReleased();
}

// Each start step the kernel can be made to refuse once: the start fails with its code,
// gives back what it took, and the next start streams.
TEST_F(KernelCsi, FailingStartLeavesCameraStartable) {
    struct Case {
        const char* control;
        int result;
    };
    const Case cases[] = {
        {"Inject VIDIOC_REQBUFS Error", ZelvoUnkownError},
        {"Inject VIDIOC_QBUF Error", ZelvoUnkownError},
        {"Inject VIDIOC_STREAMON Error", ZelvoSystemError},
    };
    ZelvoTOFCamera camera(host);
    ASSERT_EQ(camera.open(CSI, nodes[0]), ZelvoSuccess);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        ASSERT_EQ(setVividControl(nodes[0], c.control), "");
        EXPECT_EQ(camera.start(DEPTH), c.result);
        EXPECT_FALSE(camera.isStreaming());
        EXPECT_EQ(mappingsNaming("/dev/video"), 0);

        ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess);
        streamDepthFrames(camera, 5);
        EXPECT_EQ(camera.stop(), ZelvoSuccess);
    }
    EXPECT_EQ(camera.close(), ZelvoSuccess);
    expectAllReleased();
}

// A queue the kernel marks as failed mid-stream (every read then fails) ends the frames;
// stop gives the buffers back, and the camera starts and streams again.
TEST_F(KernelCsi, FatalStreamingErrorEndsReadsAndCameraStartsAgain) {
    ZelvoTOFCamera camera(host);
    ASSERT_EQ(camera.open(CSI, nodes[0]), ZelvoSuccess);
    ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess);
    streamDepthFrames(camera, 5);

    ASSERT_EQ(setVividControl(nodes[0], "Inject Fatal Streaming Error"), "");
    drainUntilReadsEnd(camera);
    EXPECT_EQ(camera.stop(), ZelvoSuccess);
    EXPECT_EQ(mappingsNaming("/dev/video"), 0);

    ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess);
    streamDepthFrames(camera, 5);
    EXPECT_EQ(camera.stop(), ZelvoSuccess);
    EXPECT_EQ(camera.close(), ZelvoSuccess);
    expectAllReleased();
}

TEST_F(KernelCsi, DisconnectMidStreamEndsReadsAndStopAndCloseReturn) {
    ZelvoTOFCamera camera(host);
    ASSERT_EQ(camera.open(CSI, nodes[1]), ZelvoSuccess);
    ASSERT_EQ(camera.start(DEPTH), ZelvoSuccess);
    streamDepthFrames(camera, 5);

    ASSERT_EQ(setVividControl(nodes[1], "Disconnect"), "");
    drainUntilReadsEnd(camera);

    auto stopped = std::async(std::launch::async, [&camera] { return camera.stop(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(stopped.get(), ZelvoSystemError);
    auto closed = std::async(std::launch::async, [&camera] { return camera.close(); });
    ASSERT_EQ(closed.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(closed.get(), ZelvoSuccess);
    expectAllReleased();
}

}  // namespace
}  // namespace Zelvo::guest
