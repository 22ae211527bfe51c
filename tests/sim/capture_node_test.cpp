// The capture node's buffer lifecycle and the errors a kernel driver gives.
#include <gtest/gtest.h>

#include <functional>
#include <poll.h>
#include <thread>

#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

struct Node {
    std::shared_ptr<Board> board;
    int fd;
    uint32_t type;

    explicit Node(const std::string& settings)
        : board(makeBoard(settings)), fd(board->open("/dev/video0", O_RDWR)),
          type(board->profile().multiPlanar ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
                                            : V4L2_BUF_TYPE_VIDEO_CAPTURE) {}

    int request(uint32_t count, uint32_t memory = V4L2_MEMORY_MMAP, int on = -1) {
        v4l2_requestbuffers request{};
        request.count = count;
        request.type = type;
        request.memory = memory;
        int result = board->ioctl(on < 0 ? fd : on, VIDIOC_REQBUFS, &request);
        return result == 0 ? int(request.count) : -1;
    }

    int call(unsigned long request, uint32_t index, v4l2_buffer* out = nullptr) {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = type;
        buffer.memory = V4L2_MEMORY_MMAP;
        int result = board->ioctl(fd, request, &buffer);
        if (out) *out = buffer;
        return result;
    }

    int stream(unsigned long request) { return board->ioctl(fd, request, &type); }
};

void expectErrno(int result, int error) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errno, error);
}

TEST(CaptureNode, BufferLifecycleRequestMapQueueDequeueStop) {
    Node node("board=jetson-nano,fps=0,noise=0,scene=wall:1500");
    ASSERT_EQ(node.request(8), 8);
    std::vector<void*> maps;
    for (uint32_t i = 0; i < 8; ++i) {
        v4l2_buffer buffer{};
        ASSERT_EQ(node.call(VIDIOC_QUERYBUF, i, &buffer), 0);
        EXPECT_EQ(buffer.index, i);
        EXPECT_EQ(buffer.length, 86400u);
        EXPECT_FALSE(buffer.flags & V4L2_BUF_FLAG_QUEUED);
        void* map = node.board->mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED,
                                     node.fd, buffer.m.offset);
        ASSERT_NE(map, MAP_FAILED);
        for (void* other : maps) EXPECT_NE(map, other);
        maps.push_back(map);
        ASSERT_EQ(node.call(VIDIOC_QBUF, i), 0);
        ASSERT_EQ(node.call(VIDIOC_QUERYBUF, i, &buffer), 0);
        EXPECT_TRUE(buffer.flags & V4L2_BUF_FLAG_QUEUED);
    }
    ASSERT_EQ(node.stream(VIDIOC_STREAMON), 0);
    uint32_t lastSequence = 0;
    for (int i = 0; i < 12; ++i) {
        v4l2_buffer buffer{};
        ASSERT_EQ(node.call(VIDIOC_DQBUF, 0, &buffer), 0);
        EXPECT_EQ(buffer.index, uint32_t(i % 8)) << "buffers come back in queue order";
        EXPECT_EQ(buffer.bytesused, 86400u);
        EXPECT_TRUE(buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC);
        if (i > 0) {
            EXPECT_EQ(buffer.sequence, lastSequence + 1);
        }
        lastSequence = buffer.sequence;
        EXPECT_TRUE(buffer.timestamp.tv_sec > 0 || buffer.timestamp.tv_usec > 0);
        ASSERT_EQ(node.call(VIDIOC_QBUF, buffer.index), 0);
    }
    ASSERT_EQ(node.stream(VIDIOC_STREAMOFF), 0);
    for (uint32_t i = 0; i < 8; ++i) {
        v4l2_buffer buffer{};
        ASSERT_EQ(node.call(VIDIOC_QUERYBUF, i, &buffer), 0);
        EXPECT_FALSE(buffer.flags & V4L2_BUF_FLAG_QUEUED) << "stream off returns every buffer";
        EXPECT_EQ(node.board->munmap(maps[i], buffer.length), 0);
    }
    EXPECT_EQ(node.board->mappings(), 0u);
}

TEST(CaptureNode, DequeueNeedsAStreamAndAQueuedBuffer) {
    Node node("board=rpi4,fps=0");
    ASSERT_EQ(node.request(2), 2);
    expectErrno(node.call(VIDIOC_DQBUF, 0), EINVAL);  // not streaming
    ASSERT_EQ(node.call(VIDIOC_QBUF, 0), 0);
    expectErrno(node.call(VIDIOC_DQBUF, 0), EINVAL);  // queued, but still not streaming
}

TEST(CaptureNode, NonBlockingDequeueWithNothingQueuedSaysTryAgain) {
    auto board = makeBoard("board=rpi4,fps=0");
    int fd = board->open("/dev/video0", O_RDWR | O_NONBLOCK);
    v4l2_requestbuffers request{};
    request.count = 2;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(board->ioctl(fd, VIDIOC_REQBUFS, &request), 0);
    uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(board->ioctl(fd, VIDIOC_STREAMON, &type), 0);
    v4l2_buffer buffer{};
    buffer.type = type;
    buffer.memory = V4L2_MEMORY_MMAP;
    expectErrno(board->ioctl(fd, VIDIOC_DQBUF, &buffer), EAGAIN);
}

TEST(CaptureNode, RequestErrors) {
    Node node("board=rpi4");
    expectErrno(node.request(4, V4L2_MEMORY_USERPTR), EINVAL);
    node.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    expectErrno(node.request(4), EINVAL);
    node.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(node.request(100), int(kMaxBuffers));
    EXPECT_EQ(node.request(3), 3);
    // Another descriptor cannot take the queue it does not own.
    int other = node.board->open("/dev/video0", O_RDWR);
    expectErrno(node.request(2, V4L2_MEMORY_MMAP, other), EBUSY);
    // Releasing the queue lets the other one have it.
    EXPECT_EQ(node.request(0), 0);
    EXPECT_EQ(node.request(2, V4L2_MEMORY_MMAP, other), 2);
}

TEST(CaptureNode, BufferErrors) {
    Node node("board=rpi4,fps=0");
    ASSERT_EQ(node.request(4), 4);
    expectErrno(node.call(VIDIOC_QUERYBUF, 4), EINVAL);
    expectErrno(node.call(VIDIOC_QBUF, 7), EINVAL);
    ASSERT_EQ(node.call(VIDIOC_QBUF, 1), 0);
    expectErrno(node.call(VIDIOC_QBUF, 1), EINVAL);  // already queued
    v4l2_buffer buffer{};
    buffer.index = 2;
    buffer.type = node.type;
    buffer.memory = V4L2_MEMORY_USERPTR;
    expectErrno(node.board->ioctl(node.fd, VIDIOC_QBUF, &buffer), EINVAL);
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    expectErrno(node.board->ioctl(node.fd, VIDIOC_QBUF, &buffer), EINVAL);
    // Streaming is refused while the pipeline is busy changing format, and vice versa.
    v4l2_format format{};
    format.type = node.type;
    ASSERT_EQ(node.board->ioctl(node.fd, VIDIOC_G_FMT, &format), 0);
    expectErrno(node.board->ioctl(node.fd, VIDIOC_S_FMT, &format), EBUSY);
    EXPECT_EQ(node.board->ioctl(node.fd, VIDIOC_TRY_FMT, &format), 0);
}

TEST(CaptureNode, StreamErrors) {
    Node node("board=jetson-orin,fps=0");
    expectErrno(node.stream(VIDIOC_STREAMON), EINVAL);  // no buffers
    ASSERT_EQ(node.request(2), 2);
    uint32_t wrong = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    expectErrno(node.board->ioctl(node.fd, VIDIOC_STREAMON, &wrong), EINVAL);
    EXPECT_EQ(node.stream(VIDIOC_STREAMON), 0);
    EXPECT_EQ(node.stream(VIDIOC_STREAMON), 0);  // already on
    expectErrno(node.request(2), EBUSY);
    int other = node.board->open("/dev/video0", O_RDWR);
    expectErrno(node.board->ioctl(other, VIDIOC_STREAMOFF, &node.type), EBUSY);
    EXPECT_EQ(node.stream(VIDIOC_STREAMOFF), 0);
    expectErrno(node.call(VIDIOC_DQBUF, 0), EINVAL);
}

TEST(CaptureNode, MapChecksOffsetLengthAndSharing) {
    Node node("board=rpi5");
    ASSERT_EQ(node.request(2), 2);
    v4l2_buffer buffer{};
    ASSERT_EQ(node.call(VIDIOC_QUERYBUF, 1, &buffer), 0);
    EXPECT_EQ(buffer.length, 69632u);  // 66240 bytes of image, rounded up to whole pages
    auto map = [&](size_t length, int flags, int64_t offset) {
        return node.board->mmap(nullptr, length, PROT_READ | PROT_WRITE, flags, node.fd, offset);
    };
    errno = 0;
    EXPECT_EQ(map(buffer.length, MAP_PRIVATE, buffer.m.offset), MAP_FAILED);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(map(buffer.length, MAP_SHARED, buffer.m.offset + 1), MAP_FAILED);
    EXPECT_EQ(map(1 << 20, MAP_SHARED, buffer.m.offset), MAP_FAILED);
    EXPECT_EQ(map(0, MAP_SHARED, buffer.m.offset), MAP_FAILED);
    int media = node.board->open("/dev/media0", O_RDWR);
    EXPECT_EQ(node.board->mmap(nullptr, 4096, PROT_READ, MAP_SHARED, media, 0), MAP_FAILED);
    EXPECT_EQ(errno, ENODEV);

    // munmap as on Linux: an address nothing maps succeeds (fails against the old board);
    // a range that covers a mapping removes it; the board refuses to split one.
    void* address = map(buffer.length, MAP_SHARED, buffer.m.offset);
    ASSERT_NE(address, MAP_FAILED);
    v4l2_buffer first{};
    ASSERT_EQ(node.call(VIDIOC_QUERYBUF, 0, &first), 0);
    void* other = map(first.length, MAP_SHARED, first.m.offset);
    ASSERT_NE(other, MAP_FAILED);
    expectErrno(node.board->munmap(static_cast<uint8_t*>(address) + 4096, 4096), EINVAL);
    expectErrno(node.board->munmap(static_cast<uint8_t*>(address) + 1, 4096), EINVAL);
    expectErrno(node.board->munmap(address, 0), EINVAL);
    EXPECT_EQ(node.board->munmap(address, buffer.length), 0);
    EXPECT_EQ(node.board->munmap(address, buffer.length), 0);  // already gone
    EXPECT_EQ(node.board->mappings(), 1u);
    EXPECT_EQ(node.board->munmap(other, 1 << 20), 0);
    EXPECT_EQ(node.board->mappings(), 0u);
}

TEST(CaptureNode, MappingOutlivesTheDescriptor) {
    Node node("board=rpi4,fps=0");
    ASSERT_EQ(node.request(1), 1);
    v4l2_buffer buffer{};
    ASSERT_EQ(node.call(VIDIOC_QUERYBUF, 0, &buffer), 0);
    auto* address = static_cast<uint8_t*>(
        node.board->mmap(nullptr, buffer.length, PROT_READ, MAP_SHARED, node.fd, buffer.m.offset));
    ASSERT_NE(address, MAP_FAILED);
    EXPECT_EQ(node.board->close(node.fd), 0);
    address[buffer.length - 1] = 1;  // still valid memory (the sanitizers check this)
    EXPECT_EQ(node.board->munmap(address, buffer.length), 0);
}

TEST(CaptureNode, FormatsFollowTheBoard) {
    struct Case {
        const char* board;
        uint32_t asked;
        uint32_t pixelFormat;
        uint32_t bytesPerLine;
    };
    const Case cases[] = {
        {"rpi5", V4L2_PIX_FMT_Y12P, V4L2_PIX_FMT_Y12P, 368},
        {"rpi5", V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_Y12, 480},
        {"rpi5", V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_Y12P, 368},
        {"rpi4", V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_Y12, 512},
        {"rpi4", V4L2_PIX_FMT_Y12P, V4L2_PIX_FMT_Y12, 512},
        {"jetson-xavier", V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_Y12, 480},
        {"rock5b", V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_Y12, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.board) + " " + std::to_string(c.asked));
        Node node(std::string("board=") + c.board);
        v4l2_format format{};
        format.type = node.type;
        if (node.type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
            format.fmt.pix_mp.width = 240;
            format.fmt.pix_mp.height = 180;
            format.fmt.pix_mp.pixelformat = c.asked;
            format.fmt.pix_mp.num_planes = 1;
            ASSERT_EQ(node.board->ioctl(node.fd, VIDIOC_S_FMT, &format), 0);
            EXPECT_EQ(format.fmt.pix_mp.pixelformat, c.pixelFormat);
            EXPECT_EQ(format.fmt.pix_mp.num_planes, 1);
            EXPECT_EQ(format.fmt.pix_mp.plane_fmt[0].bytesperline, c.bytesPerLine);
            EXPECT_EQ(format.fmt.pix_mp.plane_fmt[0].sizeimage, c.bytesPerLine * 180);
            format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            expectErrno(node.board->ioctl(node.fd, VIDIOC_G_FMT, &format), EINVAL);
        } else {
            format.fmt.pix.width = 240;
            format.fmt.pix.height = 180;
            format.fmt.pix.pixelformat = c.asked;
            ASSERT_EQ(node.board->ioctl(node.fd, VIDIOC_S_FMT, &format), 0);
            EXPECT_EQ(format.fmt.pix.pixelformat, c.pixelFormat);
            EXPECT_EQ(format.fmt.pix.bytesperline, c.bytesPerLine);
            EXPECT_EQ(format.fmt.pix.sizeimage, c.bytesPerLine * 180);
        }
    }
}

TEST(CaptureNode, MediaBoardStreamsOnlyWhatTheSensorDelivers) {
    // A node format that differs from the sensor's is refused when streaming starts.
    Client client(makeBoard("board=rock5b,fps=0"));
    ASSERT_EQ(client.setFormat(), 0);
    v4l2_format format{};
    format.type = client.type;
    format.fmt.pix_mp.width = 320;
    format.fmt.pix_mp.height = 240;
    format.fmt.pix_mp.pixelformat = V4L2_PIX_FMT_Y12;
    format.fmt.pix_mp.num_planes = 1;
    ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_S_FMT, &format), 0);
    EXPECT_EQ(format.fmt.pix_mp.width, 320u);
    v4l2_requestbuffers request{};
    request.count = 2;
    request.type = client.type;
    request.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_REQBUFS, &request), 0);
    expectErrno(client.board->ioctl(client.video, VIDIOC_STREAMON, &client.type), EPIPE);

    // The sensor has one mode: a request for another size comes back as 240 x 180.
    v4l2_subdev_format subdev{};
    subdev.which = V4L2_SUBDEV_FORMAT_ACTIVE;
    subdev.format.width = 320;
    subdev.format.height = 240;
    subdev.format.code = 0x2013;
    ASSERT_EQ(client.board->ioctl(client.sensorSubdev, VIDIOC_SUBDEV_S_FMT, &subdev), 0);
    EXPECT_EQ(subdev.format.width, 240u);
    EXPECT_EQ(subdev.format.height, 180u);
    subdev.pad = 3;
    expectErrno(client.board->ioctl(client.sensorSubdev, VIDIOC_SUBDEV_G_FMT, &subdev), EINVAL);
    subdev.pad = 0;
    subdev.which = 7;
    expectErrno(client.board->ioctl(client.sensorSubdev, VIDIOC_SUBDEV_G_FMT, &subdev), EINVAL);
}

// Stream on checks every enabled link of the pipeline, the sensor's link into the bridge
// as well as the node's own (a node of another size: the test above).
TEST(CaptureNode, StreamOnChecksEveryEnabledLink) {
    for (const char* board : {"rpi5", "rock5b"}) {
        for (uint32_t code : {0x2013u, 0x200au}) {  // Y12_1X12 as the sensor sends, Y10_1X10
            Client client(makeBoard(std::string("board=") + board + ",fps=0"));
            ASSERT_EQ(client.setFormat(), 0);
            v4l2_subdev_format bridge{};
            bridge.which = V4L2_SUBDEV_FORMAT_ACTIVE;
            bridge.format.width = kWidth;
            bridge.format.height = kHeight;
            bridge.format.code = code;
            ASSERT_EQ(client.board->ioctl(client.subdevs[0], VIDIOC_SUBDEV_S_FMT, &bridge), 0);
            v4l2_requestbuffers request{};
            request.count = 2;
            request.type = client.type;
            request.memory = V4L2_MEMORY_MMAP;
            ASSERT_EQ(client.board->ioctl(client.video, VIDIOC_REQBUFS, &request), 0);
            const int result = client.board->ioctl(client.video, VIDIOC_STREAMON, &client.type);
            EXPECT_EQ(result, code == 0x2013u ? 0 : -1) << board << " " << code;
            if (result != 0) {
                EXPECT_EQ(errno, EPIPE);
            }
        }
    }
}

// poll answers as videobuf2 does (the old board reported every descriptor ready at once).
TEST(CaptureNode, PollTellsWhenADequeueWouldNotBlock) {
    Node node("board=jetson-nano,fps=30");
    pollfd polled{node.fd, POLLIN | POLLRDNORM, 0};
    auto poll = [&](int timeoutMs) { return node.board->poll(&polled, 1, timeoutMs); };
    EXPECT_EQ(poll(-1), 1);  // not streaming
    EXPECT_EQ(polled.revents, POLLERR);
    ASSERT_EQ(node.request(2), 2);
    ASSERT_EQ(node.stream(VIDIOC_STREAMON), 0);
    EXPECT_EQ(poll(-1), 1);  // nothing queued
    EXPECT_EQ(polled.revents, POLLERR);
    ASSERT_EQ(node.call(VIDIOC_QBUF, 0), 0);
    ASSERT_EQ(node.call(VIDIOC_QBUF, 1), 0);
    EXPECT_EQ(poll(5000), 1);
    EXPECT_EQ(polled.revents, POLLIN | POLLRDNORM);
    ASSERT_EQ(node.call(VIDIOC_DQBUF, 0), 0);
    node.board->close(node.fd);  // the node is free for the boards below

    // A stalled sensor never becomes ready; stream off, close and unplug end the wait.
    const struct {
        const char* name;
        std::function<void(Node&)> act;
        short revents;
    } endings[] = {
        {"stream off", [](Node& n) { n.stream(VIDIOC_STREAMOFF); }, POLLERR},
        {"close", [](Node& n) { n.board->close(n.fd); }, POLLNVAL},
        {"unplug", [](Node& n) { n.board->unplug(); }, POLLERR | POLLHUP},
    };
    for (const auto& ending : endings) {
        Node stalled("board=jetson-nano,fps=30");
        stalled.board->faults().stallAfterSubFrames(0);
        ASSERT_EQ(stalled.request(2), 2);
        ASSERT_EQ(stalled.call(VIDIOC_QBUF, 0), 0);
        ASSERT_EQ(stalled.stream(VIDIOC_STREAMON), 0);
        pollfd waiting{stalled.fd, POLLIN, 0};
        EXPECT_EQ(stalled.board->poll(&waiting, 1, 100), 0) << ending.name;
        std::thread actor([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ending.act(stalled);
        });
        EXPECT_EQ(stalled.board->poll(&waiting, 1, -1), 1) << ending.name;
        EXPECT_EQ(waiting.revents, ending.revents) << ending.name;
        actor.join();
    }
}

TEST(CaptureNode, SubdevTryFormatsBelongToTheDescriptor) {
    auto board = makeBoard("board=rpi5");
    Client client(board);
    int bridge = client.subdevs[0];
    v4l2_subdev_format format{};
    format.which = V4L2_SUBDEV_FORMAT_TRY;
    format.format.width = 640;
    format.format.height = 480;
    format.format.code = 0x2013;
    ASSERT_EQ(board->ioctl(bridge, VIDIOC_SUBDEV_S_FMT, &format), 0);
    v4l2_subdev_format active{};
    active.which = V4L2_SUBDEV_FORMAT_ACTIVE;
    ASSERT_EQ(board->ioctl(bridge, VIDIOC_SUBDEV_G_FMT, &active), 0);
    EXPECT_EQ(active.format.width, 240u);
    v4l2_subdev_format tried{};
    tried.which = V4L2_SUBDEV_FORMAT_TRY;
    ASSERT_EQ(board->ioctl(bridge, VIDIOC_SUBDEV_G_FMT, &tried), 0);
    EXPECT_EQ(tried.format.width, 640u);

    // A file opened after an ACTIVE change starts from the driver's defaults, and the
    // change leaves this file's TRY formats alone (the old board copied ACTIVE).
    active.format.width = 320;
    active.format.height = 240;
    active.format.code = 0x2013;
    ASSERT_EQ(board->ioctl(bridge, VIDIOC_SUBDEV_S_FMT, &active), 0);
    ASSERT_EQ(board->ioctl(bridge, VIDIOC_SUBDEV_G_FMT, &tried), 0);
    EXPECT_EQ(tried.format.width, 640u);
    const int later = board->open("/dev/v4l-subdev0", O_RDWR);
    ASSERT_EQ(board->ioctl(later, VIDIOC_SUBDEV_G_FMT, &tried), 0);
    EXPECT_EQ(tried.format.width, 240u);
    EXPECT_EQ(tried.format.height, 180u);
    active.format = {};
    ASSERT_EQ(board->ioctl(later, VIDIOC_SUBDEV_G_FMT, &active), 0);
    EXPECT_EQ(active.format.width, 320u);
    board->close(later);
}

TEST(CaptureNode, InputAndCapabilities) {
    Node node("board=rock5b");
    int input = 0;
    EXPECT_EQ(node.board->ioctl(node.fd, VIDIOC_S_INPUT, &input), 0);
    input = 1;
    expectErrno(node.board->ioctl(node.fd, VIDIOC_S_INPUT, &input), EINVAL);
    v4l2_capability capability{};
    ASSERT_EQ(node.board->ioctl(node.fd, VIDIOC_QUERYCAP, &capability), 0);
    EXPECT_FALSE(capability.device_caps & V4L2_CAP_VIDEO_CAPTURE);
    EXPECT_TRUE(capability.device_caps & V4L2_CAP_VIDEO_CAPTURE_MPLANE);
    expectErrno(node.board->ioctl(node.fd, 0xDEAD, &input), ENOTTY);
}

TEST(CaptureNode, MultiPlanarBuffersDescribeTheirPlane) {
    Node node("board=rock5b,fps=0");
    ASSERT_EQ(node.request(2), 2);
    v4l2_plane plane{};
    v4l2_buffer buffer{};
    buffer.index = 1;
    buffer.type = node.type;
    buffer.memory = V4L2_MEMORY_MMAP;
    expectErrno(node.board->ioctl(node.fd, VIDIOC_QUERYBUF, &buffer), EINVAL);  // no plane room
    buffer.length = 1;
    buffer.m.planes = &plane;
    ASSERT_EQ(node.board->ioctl(node.fd, VIDIOC_QUERYBUF, &buffer), 0);
    EXPECT_EQ(buffer.length, 1u);
    EXPECT_EQ(plane.length, 90112u);  // 86400 bytes of image in whole pages
    EXPECT_NE(plane.m.mem_offset, 0u);
}

}  // namespace
}  // namespace Zelvo::sim::test
