#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <linux/v4l2-subdev.h>
#include <poll.h>
#include <utility>
#include <linux/videodev2.h>
#include <vector>

#include "tests/csi/csi_fixture.h"

namespace Zelvo {
namespace {

using testing::CsiBench;
using testing::ScriptedFrame;

constexpr uint32_t kY12 = 0x20323159;
constexpr uint32_t kY12P = 0x50323159;

ScriptedFrame frameAt(uint32_t index, long seconds, long microseconds, size_t length, int salt) {
    ScriptedFrame frame;
    frame.index = index;
    frame.timestamp.tv_sec = seconds;
    frame.timestamp.tv_usec = microseconds;
    frame.bytes.resize(length);
    for (size_t i = 0; i < length; ++i) frame.bytes[i] = static_cast<uint8_t>(i * 5 + salt * 31);
    return frame;
}

// An opened sensor of a small 4 x 2 format: 16 bytes a sub-frame, copied whole.
struct SmallStream : CsiBench {
    explicit SmallStream(int platform = PlatformRaspberryPi, int frames = 4) : CsiBench(platform) {
        EXPECT_EQ(open(), 0);
        sensor->setControl(FMT_WIDTH, 4);
        sensor->setControl(FMT_HEIGHT, 2);
        sensor->framesPerRequest = frames;
        host.bufferLength = 16;
    }
    // Scripts sub-frames at the given microsecond offsets; returns their bytes.
    std::vector<std::vector<uint8_t>> script(const std::vector<long>& offsets) {
        std::vector<std::vector<uint8_t>> sent;
        for (size_t i = 0; i < offsets.size(); ++i) {
            ScriptedFrame frame = frameAt(static_cast<uint32_t>(i % 8), 100 + offsets[i] / 1000000,
                                          offsets[i] % 1000000, 16, static_cast<int>(i));
            sent.push_back(frame.bytes);
            host.frames.push_back(frame);
        }
        return sent;
    }
};

struct StreamRow {
    int platform;
    uint32_t bufType;
    uint32_t pixelFormat;
    int subdevFormats;     // sub-devices given the format
    FrameCopy copy;
    uint32_t bufferLength;  // what the board's driver reports for a 240 x 180 frame
};

const StreamRow kStreams[] = {
    {PlatformJetsonNano, 1, kY12, 0, copyWhole, 86400},
    {PlatformJetson, 1, kY12, 0, copyReorder960, 86400},
    {4, 1, kY12, 0, copyWhole, 86400},
    {PlatformRaspberryPi, 1, kY12, 1, copyWhole, 86400},
    {PlatformRaspberryPi5, 1, kY12P, 2, unpackY12P, 66240},
    {PlatformRadxaRock, 9, kY12, 2, copyWhole, 86400},
};

TEST(CsiStreaming, EachPlatformStreamsWithItsFormatAndCopy) {
    for (const StreamRow& row : kStreams) {
        SCOPED_TRACE(row.platform);
        CsiBench bench(row.platform);
        ASSERT_EQ(bench.open(), 0);
        bench.host.bufferLength = row.bufferLength;
        bench.sensor->framesPerRequest = 4;
        ASSERT_EQ(bench.sensor->start(), 0);

        ASSERT_FALSE(bench.host.lastSetFormats.empty());
        v4l2_format format;
        memcpy(&format, bench.host.lastSetFormats.back().data(), sizeof format);
        EXPECT_EQ(format.type, row.bufType);
        EXPECT_EQ(bench.host.lastPixelFormat, row.pixelFormat);
        if (row.bufType == 9) {
            EXPECT_EQ(format.fmt.pix_mp.num_planes, 1);
            EXPECT_EQ(format.fmt.pix_mp.plane_fmt[0].bytesperline, 480u);
            EXPECT_EQ(format.fmt.pix_mp.plane_fmt[0].sizeimage, 86400u);
            EXPECT_EQ(format.fmt.pix_mp.field, static_cast<uint32_t>(V4L2_FIELD_NONE));
        } else {
            EXPECT_EQ(format.fmt.pix.width, 240u);
            EXPECT_EQ(format.fmt.pix.height, 180u);
            EXPECT_EQ(format.fmt.pix.bytesperline, 0u);
            EXPECT_EQ(format.fmt.pix.field, static_cast<uint32_t>(V4L2_FIELD_NONE));
        }
        EXPECT_EQ(bench.host.count(VIDIOC_TRY_FMT), 1);
        EXPECT_EQ(bench.host.count(VIDIOC_SUBDEV_S_FMT), row.subdevFormats);
        EXPECT_EQ(bench.sensor->copyFrame, row.copy);
        EXPECT_EQ(bench.host.count(VIDIOC_QUERYBUF), 8);
        EXPECT_EQ(bench.host.count(VIDIOC_QBUF), 8);
        EXPECT_EQ(bench.host.mappedNow, 8);
        EXPECT_TRUE(bench.host.streaming);

        std::vector<ScriptedFrame> sent;
        for (int i = 0; i < 4; ++i) {
            sent.push_back(frameAt(static_cast<uint32_t>(i + 2), 7, 1000 + i * 1000,
                                   row.bufferLength, i));
            bench.host.frames.push_back(sent.back());
        }
        const size_t frameBytes = 240 * 180 * 2 * 4;
        std::vector<uint8_t> raw(frameBytes, 0);
        int64_t timestamp = 0;
        EXPECT_EQ(bench.sensor->getFrame(raw.data(), &timestamp), 0);
        EXPECT_EQ(timestamp, 7004);

        std::vector<uint8_t> expected(frameBytes, 0);
        size_t pos = 0;
        for (const ScriptedFrame& frame : sent) {
            row.copy(frame.bytes.data(), expected.data(), frame.bytes.size(), 240, 0, pos,
                     frameBytes);
        }
        EXPECT_EQ(raw, expected);
        EXPECT_EQ(bench.host.count(VIDIOC_QBUF), 12);

        EXPECT_EQ(bench.sensor->stop(), 0);
        EXPECT_FALSE(bench.host.streaming);
        EXPECT_EQ(bench.host.mappedNow, 0);
        EXPECT_EQ(bench.host.unmapped, 8);
        EXPECT_EQ(bench.sensor->close(), 0);
        EXPECT_TRUE(bench.host.openFds().empty());
    }
}

TEST(CsiStreaming, Buffersof92160BytesTakeTheRowCopyOnEverySinglePlanePlatform) {
    for (const StreamRow& row : kStreams) {
        CsiBench bench(row.platform);
        ASSERT_EQ(bench.open(), 0);
        bench.host.bufferLength = 92160;
        ASSERT_EQ(bench.sensor->start(), 0);
        EXPECT_EQ(bench.sensor->copyFrame, row.bufType == 1 ? copyRows480of512 : copyWhole)
            << row.platform;
    }
}

// Rows are 360 bytes padded to 368, or to the stride the driver reports for its format.
TEST(CsiStreaming, Pi5UnpacksPaddedRowsIntoWholeSubFrames) {
    for (uint32_t reported : {0u, 384u}) {
        const size_t stride = reported ? reported : 368;
        CsiBench bench(PlatformRaspberryPi5);
        ASSERT_EQ(bench.open(), 0);
        bench.host.bufferLength = static_cast<uint32_t>(stride * 180);
        bench.host.reportedStride = reported;
        ASSERT_EQ(bench.sensor->start(), 0);
        ScriptedFrame frame = frameAt(0, 1, 0, stride * 180, 0);
        // Row r: samples 0x100 + r and 0x200 + r alternating, then the padding bytes.
        for (size_t row = 0; row < 180; ++row) {
            for (size_t pair = 0; pair < 120; ++pair) {
                uint8_t* p = frame.bytes.data() + row * stride + pair * 3;
                const uint16_t first = static_cast<uint16_t>(0x100 + row);
                const uint16_t second = static_cast<uint16_t>(0x200 + row);
                p[0] = static_cast<uint8_t>(first >> 4);
                p[1] = static_cast<uint8_t>(second >> 4);
                p[2] = static_cast<uint8_t>((first & 0xF) | (second & 0xF) << 4);
            }
            memset(frame.bytes.data() + row * stride + 360, 0xFF, stride - 360);
        }
        bench.host.frames.push_back(frame);
        // A size set for the next stream does not change the running one.
        EXPECT_EQ(bench.sensor->setControl(FMT_WIDTH, 64), 0);
        std::vector<uint16_t> samples(240 * 180, 0);
        int64_t timestamp = 0;
        ASSERT_EQ(bench.sensor->getFrame(samples.data(), &timestamp), 0);
        for (size_t row = 0; row < 180; ++row) {
            ASSERT_EQ(samples[row * 240], 0x100 + row) << stride << " " << row;
            ASSERT_EQ(samples[row * 240 + 239], 0x200 + row) << stride << " " << row;
        }
    }
}

// Buffers rounded up to whole pages: only the image the driver reports reaches the frame,
// so no sub-frame is shifted by the bytes after the one before (fails with the old
// driver, which copied whole buffers).
TEST(CsiStreaming, OnlyTheReportedImageIsCopied) {
    const struct {
        const char* name;
        int platform;
        uint32_t imageBytes;        // one sub-frame as the board delivers it
        uint32_t bytesUsed;         // payload reported with each buffer (0: none)
        uint32_t formatImageBytes;  // image size the format reports (0: none)
    } cases[] = {
        {"row pairs, payload", PlatformJetson, 86400, 86400, 0},
        {"packed, payload", PlatformRaspberryPi5, 66240, 66240, 0},
        {"multi-planar, payload", PlatformRadxaRock, 86400, 86400, 0},
        {"whole, image size of the format", PlatformRaspberryPi, 86400, 0, 86400},
    };
    constexpr size_t kFrameBytes = 240 * 180 * 2 * 4;
    for (const auto& c : cases) {
        CsiBench bench(c.platform);
        ASSERT_EQ(bench.open(), 0);
        const uint32_t pageRounded = (c.imageBytes + 4095) / 4096 * 4096;
        bench.host.bufferLength = pageRounded;
        bench.host.reportedImageBytes = c.formatImageBytes;
        bench.sensor->framesPerRequest = 4;
        ASSERT_EQ(bench.sensor->start(), 0) << c.name;
        std::vector<uint8_t> expected(kFrameBytes, 0);
        size_t pos = 0;
        for (int i = 0; i < 4; ++i) {
            ScriptedFrame frame = frameAt(static_cast<uint32_t>(i), 7, 1000 * i, pageRounded, i);
            std::fill(frame.bytes.begin() + c.imageBytes, frame.bytes.end(), 0xEE);
            frame.bytesUsed = c.bytesUsed;
            bench.sensor->copyFrame(frame.bytes.data(), expected.data(), c.imageBytes, 240, 0,
                                    pos, kFrameBytes);
            bench.host.frames.push_back(frame);
        }
        std::vector<uint8_t> raw(kFrameBytes, 0);
        int64_t timestamp = 0;
        ASSERT_EQ(bench.sensor->getFrame(raw.data(), &timestamp), 0) << c.name;
        EXPECT_EQ(raw, expected) << c.name;
    }
}

// A sub-frame the driver completed with an error is given back and costs the read; the
// next read gathers a whole burst (fails with the old driver, which copied it).
TEST(CsiStreaming, ErrorFlaggedBufferIsQueuedAgainAndFailsTheRead) {
    SmallStream stream;
    ASSERT_EQ(stream.sensor->start(), 0);
    const auto sent = stream.script({0, 1000, 2000, 3000, 40000, 41000, 42000, 43000});
    stream.host.frames[1].flags = V4L2_BUF_FLAG_ERROR;
    std::vector<uint8_t> raw(64, 0);
    int64_t timestamp = 0;
    EXPECT_EQ(stream.sensor->getFrame(raw.data(), &timestamp), -2);
    EXPECT_EQ(stream.host.count(VIDIOC_QBUF), 8 + 2);  // the good sub-frame and the failed one
    ASSERT_EQ(stream.sensor->getFrame(raw.data(), &timestamp), 0);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_TRUE(std::equal(sent[4 + k].begin(), sent[4 + k].end(), raw.begin() + k * 16)) << k;
    }
}

// A node that reports an error ends the read at once; a receiver whose sensor stopped
// sending (the fault matrix's stalled board) ends it after the wait.
TEST(CsiStreaming, ReadWithoutBuffersEndsInsteadOfBlocking) {
    // An error on the node (not streaming, nothing queued, device gone) ends it at once.
    for (short events : {POLLERR, POLLERR | POLLHUP, POLLNVAL}) {
        SmallStream stream;
        ASSERT_EQ(stream.sensor->start(), 0);
        stream.host.videoPollEvents = events;
        stream.script({0, 10, 20, 30});
        std::vector<uint8_t> raw(64, 0);
        int64_t timestamp = 0;
        EXPECT_EQ(stream.sensor->getFrame(raw.data(), &timestamp), -2) << events;
        EXPECT_EQ(stream.host.count(VIDIOC_DQBUF), 0) << events;
    }
    // The wait: two frame periods at the sensor's rate, never less than a second.
    CsiBench bench(PlatformJetson);
    ASSERT_EQ(bench.open(), 0);
    EXPECT_EQ(bench.sensor->bufferWaitMs(), 1000);
    for (const auto& [rate, waitMs] : {std::pair{1, 2000}, {4, 1000}, {0, 1000}, {-3, 1000}}) {
        bench.sensor->setControl(FRAME_RATE, rate);
        EXPECT_EQ(bench.sensor->bufferWaitMs(), waitMs) << rate;
    }
}

TEST(CsiStreaming, LateSubFrameRestartsTheGroup) {
    const struct {
        std::vector<long> offsets;  // microseconds of the dequeued sub-frames
        std::vector<size_t> kept;   // which of them make up the frame
    } cases[] = {
        {{0, 1000, 2000, 3000}, {0, 1, 2, 3}},
        {{0, 5000, 10000, 15000}, {0, 1, 2, 3}},
        {{0, 1000, 6001, 7000, 8000, 9000}, {2, 3, 4, 5}},
        {{0, 1000, 2000, 7001, 8000, 9000, 10000}, {3, 4, 5, 6}},
        {{999000, 1004000, 1005000, 1006000}, {0, 1, 2, 3}},   // across a second: 5000
        {{999000, 1004001, 1005000, 1006000, 1007000}, {1, 2, 3, 4}},
        {{5000, 0, 100, 200}, {0, 1, 2, 3}},                   // going back is no gap
    };
    for (const auto& c : cases) {
        SmallStream stream;
        ASSERT_EQ(stream.sensor->start(), 0);
        const auto sent = stream.script(c.offsets);
        std::vector<uint8_t> raw(64 + 16, 0xAA);
        int64_t timestamp = 0;
        ASSERT_EQ(stream.sensor->getFrame(raw.data(), &timestamp), 0) << c.offsets.size();
        for (size_t k = 0; k < c.kept.size(); ++k) {
            EXPECT_TRUE(std::equal(sent[c.kept[k]].begin(), sent[c.kept[k]].end(),
                                   raw.begin() + k * 16))
                << "sub-frame " << k << " of case " << c.offsets[2];
        }
        const long last = c.offsets.back();
        EXPECT_EQ(timestamp, (100 + last / 1000000) * 1000 + last % 1000000 / 1000);
        EXPECT_TRUE(stream.host.frames.empty());
        EXPECT_EQ(raw[64], 0xAA);
    }
}

TEST(CsiStreaming, NoSubFramesAskedTouchesNoBuffer) {
    SmallStream stream(PlatformRaspberryPi, 0);
    ASSERT_EQ(stream.sensor->start(), 0);
    stream.script({0});
    int64_t timestamp = 99;
    uint8_t raw[16];
    EXPECT_EQ(stream.sensor->getFrame(raw, &timestamp), 0);
    EXPECT_EQ(timestamp, 0);
    EXPECT_EQ(stream.host.count(VIDIOC_DQBUF), 0);
}

TEST(CsiStreaming, BufferIndexWithoutAMappingIsRejected) {
    const struct {
        uint32_t granted;
        uint32_t index;
        int result;
    } cases[] = {{8, 8, 2}, {8, 200, 2}, {8, 7, 0}, {3, 3, 2}, {3, 2, 0}};
    for (const auto& c : cases) {
        SmallStream stream(PlatformRaspberryPi, 1);
        stream.host.grantedBuffers = c.granted;
        ASSERT_EQ(stream.sensor->start(), 0);
        stream.host.frames.push_back(frameAt(c.index, 1, 0, 16, 1));
        uint8_t raw[16];
        int64_t timestamp = 0;
        EXPECT_EQ(stream.sensor->getFrame(raw, &timestamp), c.result) << c.granted << " " << c.index;
        // A rejected buffer is not queued again.
        EXPECT_EQ(stream.host.count(VIDIOC_QBUF), static_cast<int>(c.granted) + (c.result == 0));
    }
}

TEST(CsiStreaming, FailedStartLeavesNoMapping) {
    const struct {
        const char* name;
        std::function<void(testing::FakeCsiHost&)> arrange;
        int result;
    } cases[] = {
        {"query", [](testing::FakeCsiHost& h) {
             int seen = 0;
             h.handle(VIDIOC_QUERYBUF, [seen](int, void* argument) mutable {
                 auto* buffer = static_cast<v4l2_buffer*>(argument);
                 if (++seen == 5) {
                     errno = EIO;
                     return -1;
                 }
                 buffer->length = 16;
                 buffer->m.offset = buffer->index * 0x100000;
                 return 0;
             });
         }, -1},
        {"mapping", [](testing::FakeCsiHost& h) { h.failMmap = true; }, -1},
        {"other size", [](testing::FakeCsiHost& h) {
             h.handle(VIDIOC_SUBDEV_G_FMT, [](int, void* argument) {
                 static_cast<v4l2_subdev_format*>(argument)->format.width = 4;
                 static_cast<v4l2_subdev_format*>(argument)->format.height = 3;
                 return 0;
             });
         }, -1},
    };
    for (const auto& c : cases) {
        SmallStream stream;
        c.arrange(stream.host);
        EXPECT_EQ(stream.sensor->start(), c.result) << c.name;
        EXPECT_EQ(stream.host.mappedNow, 0) << c.name;
        EXPECT_EQ(stream.sensor->bufferCount, 0u) << c.name;
    }
}

TEST(CsiStreaming, FormatIsAppliedAndReadBack) {
    SmallStream stream(PlatformRaspberryPi5);
    EXPECT_EQ(stream.sensor->setFormat(), 0);
    EXPECT_EQ(stream.host.subdevWidth, 4u);
    EXPECT_EQ(stream.host.subdevHeight, 2u);
    EXPECT_EQ(stream.host.width, 4u);
    EXPECT_EQ(stream.host.count(VIDIOC_SUBDEV_S_FMT), 2);

    stream.host.failRequest(VIDIOC_SUBDEV_G_FMT, EIO);
    EXPECT_EQ(stream.sensor->setFormat(), -2);
    stream.host.handle(VIDIOC_SUBDEV_S_FMT, [](int, void*) { return 0; });  // ignores the size
    stream.sensor->setControl(FMT_WIDTH, 8);
    EXPECT_EQ(stream.sensor->setFormat(), -1);

    ZelvoTOFCSISensor unopened("/dev/video0", PlatformRaspberryPi5, stream.host);
    const size_t before = stream.host.requests.size();
    EXPECT_EQ(unopened.setFormat(), 0);
    EXPECT_EQ(stream.host.requests.size(), before);
}

TEST(CsiStreaming, StopReportsEveryFailureButUnmapsWhatItCan) {
    {
        SmallStream stream;
        ASSERT_EQ(stream.sensor->start(), 0);
        stream.host.failUnmaps = 1;
        EXPECT_EQ(stream.sensor->stop(), -2);
        EXPECT_EQ(stream.host.unmapped, 7);
        // Stopping again finds nothing left to unmap.
        EXPECT_EQ(stream.sensor->stop(), 0);
        EXPECT_EQ(stream.host.unmapped, 7);
    }
    {
        CsiBench never(PlatformRaspberryPi);
        never.make();
        EXPECT_EQ(never.sensor->stop(), -2);
        uint8_t raw[16];
        int64_t timestamp = 0;
        EXPECT_EQ(never.sensor->getFrame(raw, &timestamp), -2);
        EXPECT_TRUE(never.host.requests.empty());
    }
}

// A driver keeps its format while it holds buffers: stop hands them back so that the
// next start can apply the format again.
TEST(CsiStreaming, StopHandsTheBuffersBackForTheNextStart) {
    SmallStream stream;
    std::vector<uint32_t> requested;
    stream.host.handle(VIDIOC_REQBUFS, [&requested](int, void* argument) {
        requested.push_back(static_cast<v4l2_requestbuffers*>(argument)->count);
        return 0;  // grants the count asked for
    });
    stream.host.handle(VIDIOC_S_FMT, [&requested](int, void*) {
        if (!requested.empty() && requested.back() != 0) {
            errno = EBUSY;
            return -1;
        }
        return 0;
    });
    // QUERYBUF of the fake answers for the buffers its own REQBUFS granted.
    stream.host.handle(VIDIOC_QUERYBUF, [](int, void* argument) {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        buffer->length = 16;
        buffer->m.offset = buffer->index * 0x100000;
        return 0;
    });
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(stream.sensor->start(), 0) << round;
        EXPECT_EQ(stream.sensor->stop(), 0) << round;
    }
    EXPECT_EQ(requested, (std::vector<uint32_t>{8, 0, 8, 0, 8, 0}));

    // With a buffer still mapped the driver would refuse: nothing is asked.
    ASSERT_EQ(stream.sensor->start(), 0);
    stream.host.failUnmaps = 1;
    EXPECT_EQ(stream.sensor->stop(), -2);
    EXPECT_EQ(requested.back(), 8u);
}

// The staging buffer holds width * height * 2 * framesPerRequest bytes as of start.
TEST(CsiStreaming, GetFrameNeverWritesPastTheFrame) {
    const struct {
        const char* name;
        uint32_t mappedLength;
        uint32_t reportedLength;
        int framesAtStart;
        int framesLater;
    } cases[] = {
        {"driver reports more than it mapped", 16, 4096, 2, 2},
        {"buffers larger than a sub-frame", 40, 0, 2, 2},
        {"more sub-frames asked after start", 16, 0, 2, 4},
    };
    for (const auto& c : cases) {
        SmallStream stream(PlatformRaspberryPi, c.framesAtStart);
        stream.host.bufferLength = c.mappedLength;
        ASSERT_EQ(stream.sensor->start(), 0);
        stream.sensor->framesPerRequest = c.framesLater;
        for (int i = 0; i < c.framesLater; ++i) {
            ScriptedFrame frame = frameAt(static_cast<uint32_t>(i), 1, i * 10, c.mappedLength, i);
            frame.reportedLength = c.reportedLength;
            stream.host.frames.push_back(frame);
        }
        const size_t capacity = 4 * 2 * 2 * c.framesAtStart;
        std::vector<uint8_t> raw(capacity + 256, 0xAA);
        int64_t timestamp = 0;
        EXPECT_EQ(stream.sensor->getFrame(raw.data(), &timestamp), 0) << c.name;
        for (size_t i = capacity; i < raw.size(); ++i) {
            ASSERT_EQ(raw[i], 0xAA) << c.name << ": byte " << i;
        }
    }
}

TEST(CsiStreaming, MultiPlaneBuffersAreDescribedWithOnePlane) {
    CsiBench bench(PlatformRadxaRock);
    ASSERT_EQ(bench.open(), 0);
    std::vector<uint32_t> planeCounts;
    bench.host.handle(VIDIOC_QBUF, [&planeCounts](int, void* argument) {
        const auto* buffer = static_cast<v4l2_buffer*>(argument);
        planeCounts.push_back(buffer->m.planes ? buffer->length : 0);
        return 0;
    });
    bench.host.bufferLength = 86400;
    ASSERT_EQ(bench.sensor->start(), 0);
    EXPECT_EQ(planeCounts, std::vector<uint32_t>(8, 1));
}

}  // namespace
}  // namespace Zelvo
