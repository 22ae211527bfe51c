// Every injected fault shows where the driver would see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <poll.h>
#include <thread>

#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

void expectErrno(int result, int error) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errno, error);
}

v4l2_buffer captureBuffer() {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    return buffer;
}

TEST(FaultInjection, ChosenRequestFailsWithChosenErrorNTimes) {
    Client client(makeBoard("board=jetson-nano,fps=0"));
    ASSERT_EQ(client.start(), 0);
    client.board->faults().failRequest(VIDIOC_DQBUF, EAGAIN, 2);
    v4l2_buffer buffer = captureBuffer();
    expectErrno(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), EAGAIN);
    expectErrno(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), EAGAIN);
    EXPECT_EQ(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), 0);
    // Other requests were never affected.
    client.board->faults().failRequest(VIDIOC_S_CTRL, EIO, 1);
    v4l2_capability capability{};
    EXPECT_EQ(client.board->ioctl(client.video, VIDIOC_QUERYCAP, &capability), 0);
    expectErrno(client.setControl(V4L2_CID_EXPOSURE, 10), EIO);
    EXPECT_EQ(client.setControl(V4L2_CID_EXPOSURE, 10), 0);
}

TEST(FaultInjection, OpeningANodeFails) {
    auto board = makeBoard("board=rpi5");
    board->faults().failOpen("/dev/v4l-subdev1", EACCES, 1);
    expectErrno(board->open("/dev/v4l-subdev1", O_RDWR), EACCES);
    int fd = board->open("/dev/v4l-subdev1", O_RDWR);
    EXPECT_GE(fd, 0);
    board->faults().failOpen("/sys/firmware/devicetree/base/model", ENOENT, 1);
    EXPECT_EQ(board->openText("/sys/firmware/devicetree/base/model", "r"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(FaultInjection, UnpluggedCameraAnswersEverythingWithNoDevice) {
    Client client(makeBoard("board=rpi5,fps=0"));
    ASSERT_EQ(client.start(), 0);
    client.board->faults().unplugAfterFrames(2);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    v4l2_buffer buffer = captureBuffer();
    for (int k = 0; k < 4; ++k)  // the second frame still arrives whole
        ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), 0) << k;
    expectErrno(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), ENODEV);
    v4l2_capability capability{};
    expectErrno(client.board->ioctl(client.video, VIDIOC_QUERYCAP, &capability), ENODEV);
    expectErrno(client.board->ioctl(client.sensorSubdev, VIDIOC_G_CTRL, &capability), ENODEV);
    expectErrno(client.board->open("/dev/video0", O_RDWR), ENODEV);
    expectErrno(client.board->open("/dev/i2c-4", O_RDWR), ENODEV);
    // Releasing what was acquired still works.
    client.unmapAll();
    EXPECT_EQ(client.board->mappings(), 0u);
    EXPECT_EQ(client.board->close(client.video), 0);
    client.video = -1;
}

// ZELVO_SIM's unplug=N and stall=N count sub-frames; the C++ calls do the same. A stalled
// sensor leaves every call answering, but no buffer completes: a blocking dequeue waits
// until stream off (the old board never stalled).
// Counted in sub-frames on both sensors: a VGA buffer (its single-frequency raw frame)
// holds five, and one that the limit cuts short never completes.
TEST(FaultInjection, StalledOrRemovedAfterNSubFrames) {
    const struct {
        const char* settings;
        std::function<void(FaultInjection&)> arm;
        bool removed;
        int buffers;  // completed before
    } cases[] = {
        {",stall=6", nullptr, false, 6},
        {"", [](FaultInjection& f) { f.stallAfterSubFrames(6); }, false, 6},
        {",unplug=6", nullptr, true, 6},
        {"", [](FaultInjection& f) { f.unplugAfterSubFrames(6); }, true, 6},
        {",sensor=vga,stall=12", nullptr, false, 2},
        {",sensor=vga,unplug=12", nullptr, true, 2},
        {",sensor=vga,unplug=10", nullptr, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        Client client(makeBoard(std::string("board=rock5b,fps=0") + c.settings));
        if (std::string(c.settings).find("vga") != std::string::npos) {
            client.width = 640;
            client.height = 481 * 5;
        }
        if (c.arm) c.arm(client.board->faults());
        ASSERT_EQ(client.start(), 0);
        v4l2_buffer buffer;
        v4l2_plane plane;
        client.describe(buffer, plane);
        for (int k = 0; k < c.buffers; ++k)  // eight buffers queued: none queued again
            ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), 0) << k;
        pollfd polled{client.video, POLLIN, 0};
        EXPECT_EQ(client.board->poll(&polled, 1, 100), c.removed ? 1 : 0);
        EXPECT_EQ(polled.revents, c.removed ? POLLERR | POLLHUP : 0);
        if (c.removed) {
            expectErrno(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), ENODEV);
            continue;
        }
        v4l2_capability capability{};
        EXPECT_EQ(client.board->ioctl(client.video, VIDIOC_QUERYCAP, &capability), 0);
        int dequeued = 0;
        std::thread waiter(
            [&] { dequeued = client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_STREAMOFF, &client.type), 0);
        waiter.join();
        EXPECT_EQ(dequeued, -1);
    }
}

// The flagged sub-frame arrives with its second half lost; the next ones are whole.
TEST(FaultInjection, BufferCompletedWithAnError) {
    Client client(makeBoard("board=jetson-nano,fps=0,noise=0"));
    ASSERT_EQ(client.start(), 0);
    client.board->faults().flagBufferError(1);
    for (int k = 0; k < 3; ++k) {
        v4l2_buffer buffer = captureBuffer();
        ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), 0);
        EXPECT_EQ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0, k == 1) << k;
        EXPECT_EQ(buffer.bytesused, k == 1 ? 86400u / 2 : 86400u) << k;
        const uint8_t* tail = client.maps[buffer.index] + 86400 - 480;
        EXPECT_EQ(std::count(tail, tail + 480, 0) == 480, k == 1) << k;
        ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_QBUF, &buffer), 0);
    }
}

TEST(FaultInjection, BufferIndexOutOfRange) {
    Client client(makeBoard("board=rpi4,fps=0"));
    ASSERT_EQ(client.start(), 0);
    client.board->faults().handOutBufferIndex(8);
    v4l2_buffer buffer = captureBuffer();
    ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), 0);
    EXPECT_EQ(buffer.index, 8u);
    ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_DQBUF, &buffer), 0);
    EXPECT_EQ(buffer.index, 1u) << "only one buffer is misreported";
}

TEST(FaultInjection, LateSubFrame) {
    Client client(makeBoard("board=jetson-orin,fps=30"));
    ASSERT_EQ(client.start(), 0);
    client.board->faults().delaySubFrame(2, 6000);
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    ASSERT_TRUE(client.burst(raw, stamps));
    EXPECT_LT(stamps[1] - stamps[0], 5000);
    EXPECT_GT(stamps[2] - stamps[1], 5000);
    EXPECT_LT(stamps[3] - stamps[2], 5000);
    ASSERT_TRUE(client.burst(raw, stamps));
    EXPECT_LT(stamps[2] - stamps[1], 5000) << "the delay hits one burst only";
}

TEST(FaultInjection, FewerBuffersGranted) {
    auto board = makeBoard("board=rpi5");
    int fd = board->open("/dev/video0", O_RDWR);
    v4l2_requestbuffers request{};
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    board->faults().grantAtMost(3);
    request.count = 8;
    ASSERT_EQ(board->ioctl(fd, VIDIOC_REQBUFS, &request), 0);
    EXPECT_EQ(request.count, 3u);
    board->faults().grantAtMost(0);
    request.count = 8;
    ASSERT_EQ(board->ioctl(fd, VIDIOC_REQBUFS, &request), 0);
    EXPECT_EQ(request.count, 0u);
    uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    expectErrno(board->ioctl(fd, VIDIOC_STREAMON, &type), EINVAL);
}

TEST(FaultInjection, AdapterWithoutPlainI2c) {
    auto board = makeBoard("board=rpi4");
    board->faults().withoutPlainI2c(true);
    int fd = board->open("/dev/i2c-10", O_RDWR);
    unsigned long functionality = 0;
    ASSERT_EQ(board->ioctl(fd, I2C_FUNCS, &functionality), 0);
    EXPECT_FALSE(functionality & I2C_FUNC_I2C);
    EXPECT_TRUE(functionality & I2C_FUNC_SMBUS_BYTE_DATA);
    uint8_t bytes[6] = {0x06, 0x33, 0, 0, 0, 30};
    i2c_msg message[1] = {{0x0c, 0, 6, bytes}};
    i2c_rdwr_ioctl_data data{message, 1};
    expectErrno(board->ioctl(fd, I2C_RDWR, &data), EOPNOTSUPP);
    EXPECT_TRUE(board->sensorState().i2cWrites.empty());
}

}  // namespace
}  // namespace Zelvo::sim::test
