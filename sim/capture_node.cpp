#include "sim/capture_node.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <poll.h>
#include <sys/mman.h>

namespace Zelvo::sim {
namespace {

constexpr uint32_t kMinSize = 16;
constexpr uint32_t kMaxWidth = 4096;
constexpr uint32_t kMaxHeight = 8192;  // a double-frequency VGA frame has 4810 rows

size_t pageAlign(size_t bytes) { return (bytes + kPageSize - 1) / kPageSize * kPageSize; }

void copyText(uint8_t* destination, size_t size, const std::string& text) {
    std::memset(destination, 0, size);
    std::memcpy(destination, text.c_str(), std::min(size - 1, text.size()));
}

// Which board's node holds buffers, for each video node of the process. Never destroyed:
// boards may outlive the static objects at exit.
struct NodeClaim {
    std::mutex mutex;
    std::map<int, const void*> holders;  // by video node index
};

NodeClaim& nodeClaim() {
    static NodeClaim* claim = new NodeClaim;
    return *claim;
}

timeval toTimeval(MonotonicClock::time_point time) {
    auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    timeval value{};
    value.tv_sec = static_cast<decltype(value.tv_sec)>(micros / 1000000);
    value.tv_usec = static_cast<decltype(value.tv_usec)>(micros % 1000000);
    return value;
}

}  // namespace

// Mapped apart from the heap, as a kernel's buffers are: the pages arrive zeroed, go back to
// the system when the buffer is freed (a heap block would stay in the allocator's arena of
// whichever thread requested the buffers), and an inaccessible page after the buffer stops a
// read past its end.
BufferMemory::BufferMemory(size_t bytes) : size(pageAlign(bytes)) {
    void* mapping = ::mmap(nullptr, size + kPageSize, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        data = nullptr;
        return;
    }
    data = static_cast<uint8_t*>(mapping);
    ::mprotect(data + size, kPageSize, PROT_NONE);
}

BufferMemory::~BufferMemory() {
    if (data) ::munmap(data, size + kPageSize);
}

CaptureNode::CaptureNode(const BoardProfile& profile, TofSensor& sensor, FaultInjection& faults,
                         SensorControls* controls, PipelineCheck pipelineCheck)
    : profile_(profile),
      sensor_(sensor),
      faults_(faults),
      controls_(controls),
      pipelineCheck_(std::move(pipelineCheck)) {
    format_.pixelFormat = profile_.packedFormat ? V4L2_PIX_FMT_Y12P : V4L2_PIX_FMT_Y12;
    format_.width = sensor_.defaultFrameWidth();
    format_.height = sensor_.defaultFrameHeight();
    format_.shiftedReorder = profile_.shiftedReorder;
    computeLayout(format_, profile_.strideAlignment);
}

CaptureNode::~CaptureNode() { unclaim(); }

bool CaptureNode::claimedElsewhere() const {
    NodeClaim& claim = nodeClaim();
    std::lock_guard<std::mutex> lock(claim.mutex);
    auto it = claim.holders.find(profile_.videoIndex);
    return it != claim.holders.end() && it->second != this;
}

void CaptureNode::claim() {
    NodeClaim& claim = nodeClaim();
    std::lock_guard<std::mutex> lock(claim.mutex);
    claim.holders.emplace(profile_.videoIndex, this);
}

void CaptureNode::unclaim() {
    NodeClaim& claim = nodeClaim();
    std::lock_guard<std::mutex> lock(claim.mutex);
    auto it = claim.holders.find(profile_.videoIndex);
    if (it != claim.holders.end() && it->second == this) claim.holders.erase(it);
}

int CaptureNode::subFramesPerBuffer() const {
    if (!sensor_.isVga()) return 1;
    const VgaMode* mode = findVgaMode(format_.width, format_.height);
    return mode ? mode->subFrames : 1;
}

uint32_t CaptureNode::bufferType() const {
    return profile_.multiPlanar ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE : V4L2_BUF_TYPE_VIDEO_CAPTURE;
}

uint32_t CaptureNode::bufferLength() const {
    return static_cast<uint32_t>(profile_.pageRoundedBuffers ? pageAlign(format_.sizeImage)
                                                             : format_.sizeImage);
}

bool CaptureNode::supportsPixelFormat(uint32_t pixelFormat) const {
    return pixelFormat == V4L2_PIX_FMT_Y12 ||
           (profile_.packedFormat && pixelFormat == V4L2_PIX_FMT_Y12P);
}

void CaptureNode::adjustFormat(PixelLayout& layout) const {
    if (!supportsPixelFormat(layout.pixelFormat))
        layout.pixelFormat = profile_.packedFormat ? V4L2_PIX_FMT_Y12P : V4L2_PIX_FMT_Y12;
    if (profile_.entities.empty()) {
        // Without a media graph the node follows the sensor's modes.
        sensor_.fitFrameSize(layout.width, layout.height);
    } else {
        layout.width = std::clamp(layout.width, kMinSize, kMaxWidth) & ~1u;
        layout.height = std::clamp(layout.height, 1u, kMaxHeight);
    }
    layout.shiftedReorder = profile_.shiftedReorder;
    computeLayout(layout, profile_.strideAlignment);
}

void CaptureNode::readFormat(const PixelLayout& layout, v4l2_format& format) const {
    std::memset(&format.fmt, 0, sizeof(format.fmt));
    if (profile_.multiPlanar) {
        v4l2_pix_format_mplane& mp = format.fmt.pix_mp;
        mp.width = layout.width;
        mp.height = layout.height;
        mp.pixelformat = layout.pixelFormat;
        mp.field = V4L2_FIELD_NONE;
        mp.colorspace = V4L2_COLORSPACE_RAW;
        mp.num_planes = 1;
        mp.plane_fmt[0].bytesperline = layout.bytesPerLine;
        mp.plane_fmt[0].sizeimage = layout.sizeImage;
    } else {
        v4l2_pix_format& pix = format.fmt.pix;
        pix.width = layout.width;
        pix.height = layout.height;
        pix.pixelformat = layout.pixelFormat;
        pix.field = V4L2_FIELD_NONE;
        pix.colorspace = V4L2_COLORSPACE_RAW;
        pix.bytesperline = layout.bytesPerLine;
        pix.sizeimage = layout.sizeImage;
    }
}

void CaptureNode::writeFormat(const v4l2_format& format, PixelLayout& layout) const {
    if (profile_.multiPlanar) {
        layout.width = format.fmt.pix_mp.width;
        layout.height = format.fmt.pix_mp.height;
        layout.pixelFormat = format.fmt.pix_mp.pixelformat;
    } else {
        layout.width = format.fmt.pix.width;
        layout.height = format.fmt.pix.height;
        layout.pixelFormat = format.fmt.pix.pixelformat;
    }
}

int CaptureNode::formatRequest(unsigned long request, v4l2_format& format) {
    if (format.type != bufferType()) return -EINVAL;
    if (request == VIDIOC_G_FMT) {
        readFormat(format_, format);
        return 0;
    }
    PixelLayout layout;
    writeFormat(format, layout);
    adjustFormat(layout);
    if (request == VIDIOC_S_FMT) {
        if (!buffers_.empty() || streaming_ || claimedElsewhere()) return -EBUSY;
        format_ = layout;
    }
    readFormat(layout, format);
    return 0;
}

int CaptureNode::requestBuffers(const void* client, v4l2_requestbuffers& request) {
    if (request.type != bufferType() || request.memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (ownedByOther(client) || claimedElsewhere()) return -EBUSY;
    if (streaming_) return -EBUSY;
    freeBuffers();
    request.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    if (request.count == 0) {
        owner_ = nullptr;
        return 0;
    }
    uint32_t granted = std::min(request.count, kMaxBuffers);
    int limit = faults_.grantLimit();
    if (limit >= 0) granted = std::min(granted, static_cast<uint32_t>(limit));
    uint32_t offset = 0;
    for (uint32_t i = 0; i < granted; ++i) {
        Buffer buffer;
        buffer.memory = std::make_shared<BufferMemory>(format_.sizeImage);
        if (!buffer.memory->data) {
            freeBuffers();
            return -ENOMEM;
        }
        buffer.offset = offset;
        offset += static_cast<uint32_t>(buffer.memory->size);
        buffers_.push_back(std::move(buffer));
    }
    request.count = granted;
    owner_ = granted > 0 ? client : nullptr;
    if (granted > 0) claim();
    return 0;
}

int CaptureNode::checkBuffer(const v4l2_buffer& buffer) const {
    if (buffer.type != bufferType()) return -EINVAL;
    if (buffer.index >= buffers_.size()) return -EINVAL;
    if (profile_.multiPlanar) {
        if (buffer.length < 1) return -EINVAL;
        if (!buffer.m.planes) return -EFAULT;
    }
    return 0;
}

void CaptureNode::describeBuffer(uint32_t index, v4l2_buffer& buffer) const {
    const Buffer& source = buffers_[index];
    v4l2_plane* planes = profile_.multiPlanar ? buffer.m.planes : nullptr;
    const uint32_t type = buffer.type;
    std::memset(&buffer, 0, sizeof(buffer));
    buffer.index = index;
    buffer.type = type;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.field = V4L2_FIELD_NONE;
    buffer.flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC |
                   V4L2_BUF_FLAG_TSTAMP_SRC_EOF | (source.queued ? V4L2_BUF_FLAG_QUEUED : 0) |
                   (source.failed ? V4L2_BUF_FLAG_ERROR : 0);
    buffer.timestamp = source.timestamp;
    buffer.sequence = source.sequence;
    if (profile_.multiPlanar) {
        buffer.length = 1;
        buffer.m.planes = planes;
        std::memset(planes, 0, sizeof(*planes));
        planes[0].length = bufferLength();
        planes[0].bytesused = source.bytesUsed;
        planes[0].m.mem_offset = source.offset;
    } else {
        buffer.length = bufferLength();
        buffer.bytesused = source.bytesUsed;
        buffer.m.offset = source.offset;
    }
}

int CaptureNode::queueBuffer(const void* client, v4l2_buffer& buffer) {
    if (int error = checkBuffer(buffer)) return error;
    if (buffer.memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (ownedByOther(client)) return -EBUSY;
    Buffer& target = buffers_[buffer.index];
    if (target.queued) return -EINVAL;
    target.queued = true;
    target.failed = false;
    queue_.push_back(buffer.index);
    describeBuffer(buffer.index, buffer);
    wakeup_.notify_all();
    return 0;
}

MonotonicClock::duration CaptureNode::framePeriod() const {
    return std::chrono::duration_cast<MonotonicClock::duration>(std::chrono::nanoseconds(
        1000000000LL / std::max(1, sensor_.frameRate())));
}

void CaptureNode::startBurst(bool freeRunning) {
    if (sensor_.isVga())
        vgaFrame_ = sensor_.nextVgaFrame(format_.width, format_.height, vgaMode_);
    else
        frame_ = sensor_.nextFrame();
    int64_t delayUs = 0;
    delayedFrom_ = sensor_.subFramesPerFrame();
    delay_ = {};
    if (faults_.takeSubFrameDelay(delayedFrom_, delayUs)) delay_ = std::chrono::microseconds(delayUs);
    // A free-running sensor starts a burst when a buffer waits for it, once the frame is
    // rendered, and its sub-frames carry that time.
    if (freeRunning) burstStart_ = MonotonicClock::now();
    burstReady_ = true;
}

MonotonicClock::time_point CaptureNode::dueTime(bool freeRunning) const {
    // A free-running sensor has its whole burst ready at once.
    auto due = burstStart_ + (freeRunning ? 0 : subFrame_) * kSubFrameGap;
    if (subFrame_ >= delayedFrom_) due += delay_;
    return due;
}

void CaptureNode::fill(Buffer& buffer, MonotonicClock::time_point stamp, bool failed) {
    if (!sensor_.isVga()) {
        packSubFrame(frame_ + static_cast<size_t>(subFrame_) * kSamplesPerPhase, format_,
                     buffer.memory->data);
    } else if (vgaMode_->width == format_.width && vgaMode_->rows() == format_.height) {
        packSubFrame(vgaFrame_, format_, buffer.memory->data);
    } else {
        // A size the sensor does not stream (the pipeline check lets none through).
        std::memset(buffer.memory->data, 0, format_.sizeImage);
    }
    buffer.bytesUsed = format_.sizeImage;
    buffer.failed = failed;
    if (failed) {
        // The receiver lost the rest of the sub-frame.
        const uint32_t kept = format_.sizeImage / 2;
        std::memset(buffer.memory->data + kept, 0, format_.sizeImage - kept);
        buffer.bytesUsed = kept;
    }
    buffer.timestamp = toTimeval(stamp);
    buffer.sequence = sequence_++;
}

int CaptureNode::completion(MonotonicClock::time_point& due) {
    const int needed = subFramesPerBuffer();
    if (faults_.unpluggedWithin(needed)) return -ENODEV;
    if (!streaming_) return -EINVAL;
    due = MonotonicClock::time_point::max();
    if (queue_.empty() || faults_.stalled(needed)) return 0;
    const bool freeRunning = sensor_.frameRate() == 0;
    if (subFrame_ == 0 && !burstReady_) {
        if (!freeRunning) {
            // Bursts nobody was waiting for are gone; the newest one that began counts.
            const auto now = MonotonicClock::now();
            const auto period = framePeriod();
            if (now - burstStart_ >= period)
                burstStart_ += ((now - burstStart_) / period) * period;
            if (now < burstStart_) {
                due = burstStart_;  // nothing before the burst; look again then
                return 0;
            }
        }
        startBurst(freeRunning);
    }
    due = dueTime(freeRunning);
    return 0;
}

void CaptureNode::waitUntil(std::unique_lock<std::mutex>& lock, MonotonicClock::time_point time) {
    if (time == MonotonicClock::time_point::max())
        wakeup_.wait(lock);
    else
        wakeup_.wait_until(lock, time);
}

short CaptureNode::poll(const void* client, short events, MonotonicClock::time_point& recheck) {
    if (ownedByOther(client) || !streaming_ || queue_.empty()) return POLLERR;
    MonotonicClock::time_point due;
    if (int error = completion(due)) return error == -ENODEV ? POLLERR | POLLHUP : POLLERR;
    if (due <= MonotonicClock::now()) return static_cast<short>(events & (POLLIN | POLLRDNORM));
    recheck = std::min(recheck, due);
    return 0;
}

int CaptureNode::dequeueBuffer(const void* client, bool nonBlocking, v4l2_buffer& buffer,
                               std::unique_lock<std::mutex>& lock, const bool& clientClosed) {
    if (buffer.type != bufferType()) return -EINVAL;
    if (buffer.memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (profile_.multiPlanar && (buffer.length < 1 || !buffer.m.planes)) return -EINVAL;
    if (ownedByOther(client)) return -EBUSY;
    MonotonicClock::time_point due;
    while (true) {
        if (clientClosed) return -EBADF;
        if (int error = completion(due)) return error;
        if (due <= MonotonicClock::now()) break;
        if (nonBlocking) return -EAGAIN;
        waitUntil(lock, due);
    }
    const uint32_t index = queue_.front();
    queue_.pop_front();
    Buffer& source = buffers_[index];
    source.queued = false;
    fill(source, due, faults_.takeBufferError());
    describeBuffer(index, buffer);
    uint32_t reported = 0;
    if (faults_.takeBufferIndex(reported)) buffer.index = reported;
    faults_.subFramesDequeued(subFramesPerBuffer());
    if (++subFrame_ == sensor_.subFramesPerFrame()) {
        subFrame_ = 0;
        burstReady_ = false;
        if (sensor_.frameRate() != 0) burstStart_ += framePeriod();
        faults_.frameCompleted();
    }
    if (faults_.unplugged()) wakeup_.notify_all();
    return 0;
}

int CaptureNode::streamOn(const void* client, uint32_t type) {
    if (type != bufferType()) return -EINVAL;
    if (ownedByOther(client)) return -EBUSY;
    if (buffers_.empty()) return -EINVAL;
    if (streaming_) return 0;
    if (pipelineCheck_)
        if (int error = pipelineCheck_(format_)) return error;
    streaming_ = true;
    subFrame_ = 0;
    burstReady_ = false;
    delayedFrom_ = sensor_.subFramesPerFrame();
    burstStart_ = MonotonicClock::now() + (sensor_.frameRate() > 0 ? framePeriod()
                                                                    : MonotonicClock::duration{});
    return 0;
}

void CaptureNode::stopStreaming() {
    streaming_ = false;
    subFrame_ = 0;
    burstReady_ = false;
    queue_.clear();
    for (Buffer& buffer : buffers_) buffer.queued = false;
    wakeup_.notify_all();
}

int CaptureNode::streamOff(const void* client, uint32_t type) {
    if (type != bufferType()) return -EINVAL;
    if (ownedByOther(client)) return -EBUSY;
    stopStreaming();
    return 0;
}

void CaptureNode::freeBuffers() {
    queue_.clear();
    buffers_.clear();  // mappings keep their memory
    unclaim();
}

void CaptureNode::release(const void* client) {
    if (owner_ != client) return;
    stopStreaming();
    freeBuffers();
    owner_ = nullptr;
}

int CaptureNode::map(size_t length, int flags, int64_t offset,
                     std::shared_ptr<BufferMemory>& memory) {
    if (!(flags & MAP_SHARED)) return -EINVAL;
    if (length == 0) return -EINVAL;
    for (const Buffer& buffer : buffers_) {
        if (buffer.offset != offset) continue;
        if (pageAlign(length) > buffer.memory->size) return -EINVAL;
        memory = buffer.memory;
        return 0;
    }
    return -EINVAL;
}

int CaptureNode::ioctl(const void* client, bool nonBlocking, unsigned long request,
                       void* argument, std::unique_lock<std::mutex>& lock,
                       const bool& clientClosed) {
    if (SensorControls::isControlRequest(request))
        return controls_ ? controls_->ioctl(request, argument) : -ENOTTY;
    if (!argument) return -EFAULT;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* capability = static_cast<v4l2_capability*>(argument);
        std::memset(capability, 0, sizeof(*capability));
        copyText(capability->driver, sizeof(capability->driver), profile_.driverName);
        copyText(capability->card, sizeof(capability->card), profile_.cardName);
        copyText(capability->bus_info, sizeof(capability->bus_info),
                 "platform:" + profile_.driverName);
        capability->version = kKernelVersion;
        capability->device_caps =
            (profile_.multiPlanar ? V4L2_CAP_VIDEO_CAPTURE_MPLANE : V4L2_CAP_VIDEO_CAPTURE) |
            V4L2_CAP_STREAMING | (profile_.entities.empty() ? 0 : V4L2_CAP_IO_MC);
        // A driver with several nodes reports them all in capabilities.
        capability->capabilities =
            capability->device_caps | profile_.otherNodeCaps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUMINPUT: {
        auto* input = static_cast<v4l2_input*>(argument);
        if (input->index != 0) return -EINVAL;
        std::memset(input, 0, sizeof(*input));
        copyText(input->name, sizeof(input->name), "Camera 0");
        input->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_G_INPUT:
        *static_cast<int*>(argument) = 0;
        return 0;
    case VIDIOC_S_INPUT:
        return *static_cast<int*>(argument) == 0 ? 0 : -EINVAL;
    case VIDIOC_ENUM_FMT: {
        auto* description = static_cast<v4l2_fmtdesc*>(argument);
        if (description->type != bufferType()) return -EINVAL;
        const uint32_t formats[] = {profile_.packedFormat ? V4L2_PIX_FMT_Y12P : V4L2_PIX_FMT_Y12,
                                    V4L2_PIX_FMT_Y12};
        const uint32_t count = profile_.packedFormat ? 2 : 1;
        if (description->index >= count) return -EINVAL;
        const uint32_t index = description->index, type = description->type;
        std::memset(description, 0, sizeof(*description));
        description->index = index;
        description->type = type;
        description->pixelformat = formats[index];
        copyText(description->description, sizeof(description->description),
                 formats[index] == V4L2_PIX_FMT_Y12P ? "12-bit Greyscale (packed)"
                                                     : "12-bit Greyscale");
        return 0;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT:
        return formatRequest(request, *static_cast<v4l2_format*>(argument));
    case VIDIOC_REQBUFS:
        return requestBuffers(client, *static_cast<v4l2_requestbuffers*>(argument));
    case VIDIOC_QUERYBUF: {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        if (int error = checkBuffer(*buffer)) return error;
        describeBuffer(buffer->index, *buffer);
        return 0;
    }
    case VIDIOC_QBUF:
        return queueBuffer(client, *static_cast<v4l2_buffer*>(argument));
    case VIDIOC_DQBUF:
        return dequeueBuffer(client, nonBlocking, *static_cast<v4l2_buffer*>(argument), lock,
                             clientClosed);
    case VIDIOC_STREAMON:
        return streamOn(client, *static_cast<uint32_t*>(argument));
    case VIDIOC_STREAMOFF:
        return streamOff(client, *static_cast<uint32_t*>(argument));
    default:
        return -ENOTTY;
    }
}

}  // namespace Zelvo::sim
