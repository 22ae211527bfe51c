// Every injected fault shows where the driver would see it.
#include <gtest/gtest.h>

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

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
