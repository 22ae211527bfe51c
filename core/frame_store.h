// Everything one stream needs: the pooled output buffers, the staging buffer for
// sensor reads, and the hand-off between the capture thread and the caller (a
// counter of requestable frames with its condition variable).
//
// Two locks, never held together: the pool's mutex guards the lists, the store's
// mutex guards the counter. A frame is queued before it is counted and uncounted
// before it is popped, so a positive count always has a frame behind it.
//
// Requests wait only while the stream runs: a store whose stream has not begun or
// has ended hands out what is still ready and never waits for more.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include <zelvo/frame_buffer.h>
#include "core/frame_pool.h"
#include <zelvo/types.h>

namespace Zelvo {

class FrameStore {
public:
    static constexpr uint8_t kPoolSize = 3;
    static constexpr int kReadyLimit = 3;

    // info: the stream's camera information, its height already multiplied by the
    // sub-frames per read and its type the output type (DEPTH builds depth frames,
    // anything else raw frames). layout: size of one output buffer.
    FrameStore(const CameraInfo& info, const FrameLayout& layout);
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    FramePool& framePool() { return *pool; }
    const FramePool& framePool() const { return *pool; }
    CacheData& staging() { return *cache; }
    const FrameLayout& frameLayout() const { return layout; }
    uint8_t size() const { return kPoolSize; }

    // Capture thread: queues a filled frame and wakes waiting requests.
    void publish(LinkNode* node);
    // Capture thread, when no buffer is free: takes back the oldest frame not yet
    // requested, waiting up to `wait` for one. Null when none became ready. Frames
    // that waiting requests are about to take are left to them: otherwise a caller
    // holding all buffers but one could wait forever for the last, which the
    // capture thread keeps recycling before the caller wakes.
    LinkNode* takeBackOldest(std::chrono::milliseconds wait);
    // Caller: the oldest ready frame, now borrowed. While the stream runs, a negative
    // time-out waits without limit and 0 does not wait; otherwise nothing waits. A wait
    // also ends when the stream ends or wakeRequests is called. Null when no frame is
    // ready at the end.
    LinkNode* request(short timeoutMs);
    // The capture thread is about to fill frames: requests may wait for them.
    void beginStream();
    // No more frames will come: waiting requests return, later ones do not wait.
    void endStream();
    // Every request waiting right now returns (with the oldest ready frame, or null);
    // the stream goes on, and later requests wait as usual.
    void wakeRequests();
    // Frames a request could take at once.
    int readyFrames() const;
    // Requests waiting for a frame right now.
    int waitingRequests() const;

private:
    FrameLayout layout;
    std::unique_ptr<FramePool> pool;
    std::unique_ptr<CacheData> cache;  // destroyed first, before the pool and its buffers
    mutable std::mutex mutex;  // guards readyCount; the mutex of readyCond
    std::condition_variable readyCond;
    int readyCount = 0;
    int waitingCount = 0;  // requests inside their wait
    bool streaming = false;
    uint64_t wakeCalls = 0;  // wakeRequests so far; a wait ends when it changes
};

}  // namespace Zelvo
