// Mapping a capture buffer needs the access the descriptor was opened with, as on Linux:
// every mapping needs read access, and a shared writable one write access too (EACCES).
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

struct AccessCase {
    const char* name;
    int openFlags;
    int protection;
    int error;  // 0: the mapping is made
};

TEST(DescriptorAccess, MappingABufferNeedsTheAccessOfTheDescriptor) {
    const AccessCase cases[] = {
        {"read-write, mapped read-write", O_RDWR, PROT_READ | PROT_WRITE, 0},
        {"read-only, mapped read-only", O_RDONLY, PROT_READ, 0},
        {"read-only, mapped read-write", O_RDONLY, PROT_READ | PROT_WRITE, EACCES},
        {"write-only, mapped read-only", O_WRONLY, PROT_READ, EACCES},
    };
    for (const AccessCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto board = makeBoard("board=jetson-nano");
        const int fd = board->open("/dev/video0", c.openFlags);
        ASSERT_GE(fd, 0);
        v4l2_requestbuffers request{};
        request.count = 1;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        ASSERT_EQ(board->ioctl(fd, VIDIOC_REQBUFS, &request), 0);
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        ASSERT_EQ(board->ioctl(fd, VIDIOC_QUERYBUF, &buffer), 0);

        errno = 0;
        void* mapping =
            board->mmap(nullptr, buffer.length, c.protection, MAP_SHARED, fd, buffer.m.offset);
        if (c.error == 0) {
            ASSERT_NE(mapping, MAP_FAILED);
            EXPECT_EQ(board->munmap(mapping, buffer.length), 0);
        } else {
            EXPECT_EQ(mapping, MAP_FAILED);
            EXPECT_EQ(errno, c.error);
        }
        EXPECT_EQ(board->close(fd), 0);
    }
}

}  // namespace
}  // namespace Zelvo::sim::test
