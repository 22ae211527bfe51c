// The V4L2 capture node (/dev/video0): capabilities, input, formats, memory-mapped
// streaming buffers and the sensor's bursts of sub-frames, with the semantics of a kernel
// driver on top of videobuf2.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/board_profile.h"
#include "sim/fault_injection.h"
#include "sim/pixel_format.h"
#include "sim/sensor_controls.h"
#include "sim/tof_sensor.h"

namespace Zelvo::sim {

using MonotonicClock = std::chrono::steady_clock;

// Sub-frames of one burst follow each other this closely.
constexpr std::chrono::microseconds kSubFrameGap{1000};
constexpr uint32_t kMaxBuffers = 16;
constexpr size_t kPageSize = 4096;

// Memory of one streaming buffer; mappings keep it alive after the buffers are freed.
struct BufferMemory {
    explicit BufferMemory(size_t bytes);
    ~BufferMemory();
    BufferMemory(const BufferMemory&) = delete;
    BufferMemory& operator=(const BufferMemory&) = delete;
    uint8_t* data;
    size_t size;  // page aligned
};

class CaptureNode {
public:
    // Checks that the media pipeline can stream the given format: 0 or a negative errno.
    using PipelineCheck = std::function<int(const PixelLayout&)>;

    // controls: the sensor's controls when the node carries them, else null.
    CaptureNode(const BoardProfile& profile, TofSensor& sensor, FaultInjection& faults,
                SensorControls* controls, PipelineCheck pipelineCheck);

    // client identifies the open descriptor (the queue belongs to the one that requested
    // buffers). lock holds the board's mutex; DQBUF waits with it. 0 or a negative errno.
    int ioctl(const void* client, bool nonBlocking, unsigned long request, void* argument,
              std::unique_lock<std::mutex>& lock, const bool& clientClosed);
    // What poll reports for a descriptor, as videobuf2 does: POLLERR while not streaming,
    // with nothing queued or for a descriptor that does not own the queue; POLLIN |
    // POLLRDNORM (of those asked) once a dequeue would not block. When not ready, recheck
    // is lowered to the time the next buffer completes (left alone when none will: a
    // stalled sensor never becomes ready).
    short poll(const void* client, short events, MonotonicClock::time_point& recheck);
    // Waits with the board's lock until woken or until the time (max: only when woken).
    void waitUntil(std::unique_lock<std::mutex>& lock, MonotonicClock::time_point time);
    // A mapping of the buffer at this offset, or a negative errno.
    int map(size_t length, int flags, int64_t offset, std::shared_ptr<BufferMemory>& memory);
    // The descriptor is closed: its queue stops and its buffers are freed.
    void release(const void* client);
    // Wakes every waiting dequeue (stream stopped, descriptor closed, camera unplugged).
    void wake() { wakeup_.notify_all(); }

    bool streaming() const { return streaming_; }

    ~CaptureNode();

private:
    struct Buffer {
        std::shared_ptr<BufferMemory> memory;
        uint32_t offset = 0;
        bool queued = false;
        timeval timestamp{};
        uint32_t sequence = 0;
        uint32_t bytesUsed = 0;
        bool failed = false;  // completed with V4L2_BUF_FLAG_ERROR
    };

    uint32_t bufferType() const;
    // Bytes of a buffer: the image, or on boards whose driver rounds buffers up, whole pages.
    uint32_t bufferLength() const;
    bool supportsPixelFormat(uint32_t pixelFormat) const;
    void adjustFormat(PixelLayout& layout) const;
    void readFormat(const PixelLayout& layout, v4l2_format& format) const;
    void writeFormat(const v4l2_format& format, PixelLayout& layout) const;
    int formatRequest(unsigned long request, v4l2_format& format);
    int requestBuffers(const void* client, v4l2_requestbuffers& request);
    int checkBuffer(const v4l2_buffer& buffer) const;
    void describeBuffer(uint32_t index, v4l2_buffer& buffer) const;
    int queueBuffer(const void* client, v4l2_buffer& buffer);
    int dequeueBuffer(const void* client, bool nonBlocking, v4l2_buffer& buffer,
                      std::unique_lock<std::mutex>& lock, const bool& clientClosed);
    // When the buffer at the head of the queue completes (perhaps already), starting the
    // sensor's burst when its time has come; max when no buffer will complete. 0, or a
    // negative errno when none can (device gone, not streaming).
    int completion(MonotonicClock::time_point& due);
    int streamOn(const void* client, uint32_t type);
    int streamOff(const void* client, uint32_t type);
    void stopStreaming();
    void freeBuffers();
    bool ownedByOther(const void* client) const { return owner_ && owner_ != client; }
    // The node is one per machine, and every board of the process presents the same
    // machine (each camera builds its own board): buffers held through one board make the
    // node busy for all others, as for another open file of the kernel's node.
    bool claimedElsewhere() const;
    void claim();
    void unclaim();
    // Sub-frames the sensor sends for one buffer: the sub-frames of a VGA raw frame.
    int subFramesPerBuffer() const;
    MonotonicClock::duration framePeriod() const;
    void startBurst(bool freeRunning);
    MonotonicClock::time_point dueTime(bool freeRunning) const;
    void fill(Buffer& buffer, MonotonicClock::time_point stamp, bool failed);

    const BoardProfile& profile_;
    TofSensor& sensor_;
    FaultInjection& faults_;
    SensorControls* controls_;
    PipelineCheck pipelineCheck_;

    PixelLayout format_;
    std::vector<Buffer> buffers_;
    std::deque<uint32_t> queue_;
    const void* owner_ = nullptr;
    bool streaming_ = false;
    std::condition_variable wakeup_;

    // The sensor's schedule: bursts of sensor_.subFramesPerFrame() sub-frames.
    MonotonicClock::time_point burstStart_;
    int subFrame_ = 0;
    bool burstReady_ = false;  // the current burst is rendered
    const int16_t* frame_ = nullptr;        // HQVGA: the burst's four phase images
    const uint16_t* vgaFrame_ = nullptr;    // VGA: the raw frame, of this mode
    const VgaMode* vgaMode_ = nullptr;
    int delayedFrom_ = kPhasesPerFrame;
    MonotonicClock::duration delay_{};
    uint32_t sequence_ = 0;
};

}  // namespace Zelvo::sim
