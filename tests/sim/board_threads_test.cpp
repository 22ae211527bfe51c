// One thread blocked in a dequeue while another sets controls, queues, stops the stream,
// closes the node or the camera goes away. Waits use generous time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// A streaming node with buffers requested but none queued: a dequeue blocks.
struct Blocked {
    std::shared_ptr<Board> board;
    int fd;
    uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;

    explicit Blocked(const char* settings) : board(makeBoard(settings)) {
        fd = board->open("/dev/video0", O_RDWR);
        v4l2_requestbuffers request{};
        request.count = 2;
        request.type = type;
        request.memory = V4L2_MEMORY_MMAP;
        EXPECT_EQ(board->ioctl(fd, VIDIOC_REQBUFS, &request), 0);
        EXPECT_EQ(board->ioctl(fd, VIDIOC_STREAMON, &type), 0);
    }

    // Dequeue on another thread: its result and errno.
    std::future<std::pair<int, int>> dequeue() {
        return std::async(std::launch::async, [this] {
            v4l2_buffer buffer{};
            buffer.type = type;
            buffer.memory = V4L2_MEMORY_MMAP;
            int result = board->ioctl(fd, VIDIOC_DQBUF, &buffer);
            return std::make_pair(result, result == 0 ? int(buffer.index) : errno);
        });
    }
};

void expectStillBlocked(std::future<std::pair<int, int>>& pending) {
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
}

TEST(BoardThreads, ControlsWorkWhileADequeueWaitsAndStreamOffWakesIt) {
    Blocked node("board=jetson-nano,fps=0");
    auto pending = node.dequeue();
    expectStillBlocked(pending);
    v4l2_control control{V4L2_CID_EXPOSURE, 321};
    EXPECT_EQ(node.board->ioctl(node.fd, VIDIOC_S_CTRL, &control), 0);
    EXPECT_EQ(node.board->sensorState().exposure, 321);
    expectStillBlocked(pending);
    EXPECT_EQ(node.board->ioctl(node.fd, VIDIOC_STREAMOFF, &node.type), 0);
    ASSERT_EQ(pending.wait_for(kPatience), std::future_status::ready);
    auto [result, error] = pending.get();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, EINVAL);
}

TEST(BoardThreads, QueueingFromAnotherThreadDeliversTheFrame) {
    Blocked node("board=rpi4,fps=0");
    auto pending = node.dequeue();
    expectStillBlocked(pending);
    v4l2_buffer buffer{};
    buffer.index = 1;
    buffer.type = node.type;
    buffer.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(node.board->ioctl(node.fd, VIDIOC_QBUF, &buffer), 0);
    ASSERT_EQ(pending.wait_for(kPatience), std::future_status::ready);
    auto [result, index] = pending.get();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(index, 1);
}

TEST(BoardThreads, CloseWakesTheDequeue) {
    Blocked node("board=rpi4,fps=0");
    auto pending = node.dequeue();
    expectStillBlocked(pending);
    EXPECT_EQ(node.board->close(node.fd), 0);
    ASSERT_EQ(pending.wait_for(kPatience), std::future_status::ready);
    auto [result, error] = pending.get();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, EBADF);
}

TEST(BoardThreads, UnplugWakesTheDequeue) {
    Blocked node("board=rpi4,fps=0");
    auto pending = node.dequeue();
    expectStillBlocked(pending);
    node.board->unplug();
    ASSERT_EQ(pending.wait_for(kPatience), std::future_status::ready);
    auto [result, error] = pending.get();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, ENODEV);
}

TEST(BoardThreads, StreamingWhileAnotherThreadChangesRangeAndRate) {
    Client client(makeBoard("board=rpi5,fps=120,noise=0,scene=wall:1500"));
    ASSERT_EQ(client.start(), 0);
    std::atomic<bool> done{false};
    std::thread controller([&] {
        int value = 0;
        while (!done) {
            v4l2_control control{kRangeControlId, value ^= 1};
            client.board->ioctl(client.sensorSubdev, VIDIOC_S_CTRL, &control);
            std::this_thread::yield();
        }
    });
    std::vector<uint16_t> raw;
    int64_t stamps[4];
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(client.burst(raw, stamps));
    done = true;
    controller.join();
    // The last burst was rendered whole at one of the two frequencies.
    float depth4000 = hqvgaDepth(raw, 90 * 240 + 120, 4000, 0);
    float depth2000 = hqvgaDepth(raw, 90 * 240 + 120, 2000, 0);
    EXPECT_TRUE(std::fabs(depth4000 - 1500) < 3 || std::fabs(depth2000 - 1500) < 3)
        << depth4000 << " " << depth2000;
}

}  // namespace
}  // namespace Zelvo::sim::test
