// Faults a test can inject into the simulated board. Thread-safe: a test may arm a fault
// while another thread is inside the board.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace Zelvo::sim {

class FaultInjection {
public:
    // The next `times` ioctl calls with this request number fail with `error`.
    void failRequest(unsigned long request, int error, int times = 1);
    // The next `times` opens of this path fail with `error`.
    void failOpen(const std::string& path, int error, int times = 1);
    // After `frames` more depth frames (bursts of sub-frames) have been dequeued, the camera
    // is gone: every call but close and munmap fails with ENODEV, as when the node goes
    // away. 0: at the next call.
    void unplugAfterFrames(int frames);
    // The same, counted in sub-frames.
    void unplugAfterSubFrames(int64_t subFrames);
    // After `subFrames` more sub-frames the sensor sends nothing (negative: it sends again),
    // as when a cable is pulled or the sensor crashed: no buffer completes, a blocking
    // dequeue waits and poll times out, while every call still answers. A buffer that holds
    // several sub-frames (the VGA raw frame) completes only when all of them were sent.
    void stallAfterSubFrames(int64_t subFrames);
    // The buffer dequeued after `buffers` more (a sub-frame, or a whole VGA frame) is
    // completed with V4L2_BUF_FLAG_ERROR, its second half lost.
    void flagBufferError(int64_t buffers = 0);
    // The next dequeued buffer reports this index (the buffer itself stays with the
    // application and is never queued again unless the application does so).
    void handOutBufferIndex(uint32_t index);
    // In the next burst, sub-frame `subFrame` (1..3) and those after it arrive `delayUs`
    // microseconds late.
    void delaySubFrame(int subFrame, int64_t delayUs);
    // Buffer requests grant at most this many buffers (negative: no limit).
    void grantAtMost(int buffers);
    // Adapters report no plain I2C transfers (only SMBus emulation).
    void withoutPlainI2c(bool on);

    // Used by the board.
    bool takeRequestFailure(unsigned long request, int& error);
    bool takeOpenFailure(const std::string& path, int& error);
    bool unplugged();
    // The device is gone before a buffer of `needed` more sub-frames completes: when it
    // goes within them, it goes now.
    bool unpluggedWithin(int64_t needed);
    // No buffer of `needed` more sub-frames can complete.
    bool stalled(int64_t needed = 1);
    // Called for each sub-frame the sensor delivers into a buffer: true when it is the one
    // to complete with an error.
    bool takeBufferError();
    void subFramesDequeued(int64_t count);
    void frameCompleted();  // one burst delivered
    bool takeBufferIndex(uint32_t& index);
    bool takeSubFrameDelay(int& subFrame, int64_t& delayUs);
    int grantLimit();
    bool plainI2cRemoved();

private:
    // A call that fails `remaining` more times with `error`; `Key` names the call.
    template <typename Key>
    struct Failure {
        Key key;
        int error;
        int remaining;
    };

    template <typename Key>
    static bool takeFailure(std::vector<Failure<Key>>& failures, const Key& key, int& error);

    std::mutex mutex_;
    std::vector<Failure<unsigned long>> requestFailures_;
    std::vector<Failure<std::string>> openFailures_;
    int framesUntilUnplug_ = -1;
    int64_t subFramesUntilUnplug_ = -1;
    bool unplugged_ = false;
    int64_t subFramesUntilStall_ = -1;  // 0: stalled
    int64_t buffersUntilError_ = -1;
    bool badIndexArmed_ = false;
    uint32_t badIndex_ = 0;
    bool delayArmed_ = false;
    int delaySubFrame_ = 0;
    int64_t delayUs_ = 0;
    int grantLimit_ = -1;
    bool noPlainI2c_ = false;
};

}  // namespace Zelvo::sim
