// Format, buffers and streaming of the CSI sensor.
#include <algorithm>
#include <cerrno>
#include <linux/media-bus-format.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include "core/read_deadline.h"
#include "core/retried_request.h"
#include "sensor/csi/csi_sensor.h"
#include "sensor/csi/single_request.h"

namespace Zelvo {
namespace {

// 12-bit greyscale, two samples packed in three bytes (not in every kernel's headers).
constexpr uint32_t kPixelFormatY12P = 0x50323159;
constexpr uint32_t kPixelFormatY12 = 0x20323159;

// Room for the planes of a multi-planar buffer; the sensor's format has one plane.
constexpr uint32_t kPlanes = 1;

// A buffer record ready for a request: the plane record is used on multi-planar nodes.
struct BufferRequest {
    v4l2_buffer buffer{};
    v4l2_plane planes[kPlanes]{};

    BufferRequest(uint32_t type, uint32_t index) {
        buffer.type = type;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        if (type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
            buffer.length = kPlanes;
            buffer.m.planes = planes;
        }
    }
    BufferRequest(const BufferRequest&) = delete;
    BufferRequest& operator=(const BufferRequest&) = delete;

    bool multiPlanar() const { return buffer.type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE; }
    uint32_t mapLength() const { return multiPlanar() ? planes[0].length : buffer.length; }
    // Bytes of image data the driver put in the buffer (0: not reported).
    uint32_t bytesUsed() const { return multiPlanar() ? planes[0].bytesused : buffer.bytesused; }
    uint32_t mapOffset() const {
        return multiPlanar() ? planes[0].m.mem_offset : buffer.m.offset;
    }
};

int64_t microsecondsBetween(const timeval& earlier, const timeval& later) {
    return (static_cast<int64_t>(later.tv_sec) - earlier.tv_sec) * 1000000 +
           (static_cast<int64_t>(later.tv_usec) - earlier.tv_usec);
}

// The bytes of one sub-frame: the payload the driver reports, else the image size of the
// format, else the whole buffer; never more than was mapped. A driver may round buffers
// up to whole pages, so the buffer length alone can include bytes after the image.
size_t payloadBytes(uint32_t bytesUsed, uint32_t imageBytes, uint32_t length, size_t mapped) {
    const uint32_t reported = bytesUsed ? bytesUsed : imageBytes ? imageBytes : length;
    return std::min<size_t>(reported, mapped);
}

}  // namespace

int ZelvoTOFCSISensor::setFormat() {
    if (videoFd < 0) return 0;
    const uint32_t width = info.width;
    const uint32_t height = info.height;

    v4l2_format format{};
    format.type = bufType;
    if (bufType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
        v4l2_pix_format_mplane& pix = format.fmt.pix_mp;
        pix.width = width;
        pix.height = height;
        pix.pixelformat = kPixelFormatY12;
        pix.field = V4L2_FIELD_NONE;
        pix.num_planes = 1;
        pix.plane_fmt[0].bytesperline = 2 * width;
        pix.plane_fmt[0].sizeimage = 2 * width * height;
    } else {
        v4l2_pix_format& pix = format.fmt.pix;
        pix.width = width;
        pix.height = height;
        pix.field = V4L2_FIELD_NONE;
        pix.pixelformat = platform == PlatformRaspberryPi5 ? kPixelFormatY12P : kPixelFormatY12;
    }
    int result = retryIoctl(host, videoFd, VIDIOC_TRY_FMT, &format);
    if (result != 0) return result;
    result = retryIoctl(host, videoFd, VIDIOC_S_FMT, &format);
    if (result != 0) return result;
    // The driver fills in the row stride and image size it chose.
    if (bufType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
        formatStride = format.fmt.pix_mp.plane_fmt[0].bytesperline;
        formatImageBytes = format.fmt.pix_mp.plane_fmt[0].sizeimage;
    } else {
        formatStride = format.fmt.pix.bytesperline;
        formatImageBytes = format.fmt.pix.sizeimage;
    }

    if (isSubdevPlatform(platform)) {
        for (int i = 0; i < pipeline.subdevCount; ++i) {
            v4l2_subdev_format subdevFormat{};
            subdevFormat.which = V4L2_SUBDEV_FORMAT_ACTIVE;
            subdevFormat.pad = 0;
            subdevFormat.format.width = width;
            subdevFormat.format.height = height;
            subdevFormat.format.code = MEDIA_BUS_FMT_Y12_1X12;
            subdevFormat.format.field = V4L2_FIELD_NONE;
            result = retryIoctl(host, pipeline.subdevFds[i], VIDIOC_SUBDEV_S_FMT, &subdevFormat);
            if (result != 0) return result;
        }
    }

    uint32_t appliedWidth = 0;
    uint32_t appliedHeight = 0;
    if (readImageSize(appliedWidth, appliedHeight) != 0) return -2;
    return appliedWidth == width && appliedHeight == height ? 0 : -1;
}

int ZelvoTOFCSISensor::start() {
    if (setFormat() != 0) return -1;
    // Mappings left by a start that was never stopped are released, not leaked.
    releaseMappings();

    v4l2_requestbuffers request{};
    request.count = kBufferSlots;
    request.type = bufType;
    request.memory = V4L2_MEMORY_MMAP;
    if (retryIoctl(host, videoFd, VIDIOC_REQBUFS, &request) < 0) return -1;
    // The driver may grant fewer buffers than asked (or, against the rules, more):
    // stream with those that fit the table, and refuse when there are none.
    const uint32_t granted = request.count < kBufferSlots ? request.count : kBufferSlots;
    if (granted == 0) return -1;

    // The stream keeps the size it started with: FMT_WIDTH and FMT_HEIGHT may change
    // info from the caller's thread while frames are read.
    const int64_t frames = framesPerRequest > 0 ? framesPerRequest : 0;
    frameCapacity = static_cast<size_t>(info.width) * info.height * 2 * frames;
    streamWidth = info.width;

    if (mapAndQueueBuffers(granted) != 0) {
        releaseBuffers();
        return -1;
    }
    int type = static_cast<int>(bufType);
    if (retryIoctl(host, videoFd, VIDIOC_STREAMON, &type) < 0) {
        releaseBuffers();
        return -2;
    }
    return 0;
}

int ZelvoTOFCSISensor::mapAndQueueBuffers(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        BufferRequest query(bufType, i);
        if (retryIoctl(host, videoFd, VIDIOC_QUERYBUF, &query.buffer) < 0) return -1;

        // A 92160-byte buffer holds 180 rows of 512 bytes whatever the board; on
        // multi-planar nodes the buffer-level length is the plane count instead.
        if (!query.multiPlanar() && query.buffer.length == kPaddedRowsBufferBytes) {
            copyFrame = copyRows480of512;
        } else if (platform == PlatformJetson) {
            copyFrame = copyReorder960;
        } else if (platform == PlatformRaspberryPi5) {
            copyFrame = unpackY12P;
        } else {
            copyFrame = copyWhole;
        }

        const size_t length = query.mapLength();
        void* mapping = host.mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, videoFd,
                                  query.mapOffset());
        if (mapping == MAP_FAILED || mapping == nullptr) return -1;
        mappedBuffers[i] = static_cast<uint8_t*>(mapping);
        mappedLengths[i] = length;
        bufferCount = i + 1;

        BufferRequest queue(bufType, i);
        if (retryIoctl(host, videoFd, VIDIOC_QBUF, &queue.buffer) < 0) return -1;
    }
    return 0;
}

// Unmaps every buffer start mapped; the number of unmappings that failed.
int ZelvoTOFCSISensor::releaseMappings() {
    int failures = 0;
    for (uint32_t i = 0; i < kBufferSlots; ++i) {
        if (!mappedBuffers[i]) continue;
        if (host.munmap(mappedBuffers[i], mappedLengths[i]) != 0) ++failures;
        mappedBuffers[i] = nullptr;
        mappedLengths[i] = 0;
    }
    bufferCount = 0;
    return failures;
}

// Unmaps the buffers and hands them back (count 0); 0, or -2.
// A driver refuses a new format (EBUSY) while it holds buffers: the next start needs them gone.
int ZelvoTOFCSISensor::releaseBuffers() {
    if (releaseMappings() != 0) return -2;  // the driver refuses while any stays mapped
    v4l2_requestbuffers request{};
    request.count = 0;
    request.type = bufType;
    request.memory = V4L2_MEMORY_MMAP;
    return retryIoctl(host, videoFd, VIDIOC_REQBUFS, &request) < 0 ? -2 : 0;
}

int ZelvoTOFCSISensor::stop() {
    int type = static_cast<int>(bufType);
    if (retryIoctl(host, videoFd, VIDIOC_STREAMOFF, &type) < 0) return -2;
    for (uint32_t i = 0; i < bufferCount; ++i) {
        BufferRequest query(bufType, i);
        if (retryIoctl(host, videoFd, VIDIOC_QUERYBUF, &query.buffer) < 0) return -2;
    }
    return releaseBuffers();
}

int ZelvoTOFCSISensor::bufferWaitMs() const {
    return static_cast<int>(ReadDeadline::waitMsAtRate(frameRate));
}

// Waits until a dequeue would not block: 0, or -1 when the node reports an error (not
// streaming, nothing queued, the device gone) or no buffer comes within bufferWaitMs. A
// receiver whose sensor stopped sending completes no buffer at all, and a blocking
// dequeue would then wait for ever.
int ZelvoTOFCSISensor::waitForBuffer() {
    if (videoFd < 0) return -1;
    const ReadDeadline deadline(bufferWaitMs());
    while (true) {
        const int64_t left = deadline.leftMs();
        if (left <= 0) return -1;
        pollfd polled{};
        polled.fd = videoFd;
        polled.events = POLLIN | POLLRDNORM;
        const int slice = static_cast<int>(std::min<int64_t>(left, kBufferPollSliceMs));
        const int ready = host.poll(&polled, 1, slice);
        if (ready < 0 && errno != EINTR) return -1;
        if (ready <= 0) continue;
        if (polled.revents & (POLLERR | POLLHUP | POLLNVAL)) return -1;
        if (polled.revents & (POLLIN | POLLRDNORM)) return 0;
    }
}

int ZelvoTOFCSISensor::getFrame(void* destination, int64_t* timestamp) {
    if (framesPerRequest <= 0) {
        *timestamp = 0;
        return 0;
    }
    uint8_t* dst = static_cast<uint8_t*>(destination);
    size_t pos = 0;
    timeval previous{};
    for (int i = 0; i < framesPerRequest; ++i) {
        if (waitForBuffer() != 0) return -2;
        BufferRequest dequeued(bufType, 0);
        if (retryIoctl(host, videoFd, VIDIOC_DQBUF, &dequeued.buffer) < 0) return -2;
        const v4l2_buffer& buffer = dequeued.buffer;
        if (buffer.index >= kBufferSlots || !mappedBuffers[buffer.index]) return 2;
        if (buffer.flags & V4L2_BUF_FLAG_ERROR) {
            // The driver lost part of this sub-frame: the buffer goes back, the read is dropped.
            retryIoctl(host, videoFd, VIDIOC_QBUF, &dequeued.buffer);
            return -2;
        }

        // A sub-frame that comes late belongs to the next burst: it starts the group again.
        if (i > 0 && microsecondsBetween(previous, buffer.timestamp) > kSubFrameGapMicroseconds) {
            i = 0;
            pos = 0;
        }

        const uint8_t* source = mappedBuffers[buffer.index];
        // Never read past the mapping, whatever lengths the driver reports now.
        const size_t length = payloadBytes(dequeued.bytesUsed(), formatImageBytes,
                                           dequeued.mapLength(), mappedLengths[buffer.index]);
        // A multi-planar buffer that reports no plane holds nothing.
        if (!dequeued.multiPlanar() || buffer.length >= kPlanes) {
            copyFrame(source, dst, length, streamWidth, formatStride, pos, frameCapacity);
        }
        previous = buffer.timestamp;

        if (retryIoctl(host, videoFd, VIDIOC_QBUF, &dequeued.buffer) < 0) return -2;
    }
    *timestamp = static_cast<int64_t>(previous.tv_sec) * 1000 + previous.tv_usec / 1000;
    return 0;
}

}  // namespace Zelvo
