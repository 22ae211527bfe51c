#include "core/frame_store.h"

namespace Zelvo {

FrameStore::FrameStore(const CameraInfo& info, const FrameLayout& layout)
    : layout(layout),
      pool(std::make_unique<FramePool>()),
      cache(std::make_unique<CacheData>(info.width, info.height)) {
    for (uint8_t i = 0; i < kPoolSize; ++i) {
        if (info.type == DEPTH) {
            const FrameDataFormat depthFormat{layout.width, layout.height, DEPTH, 0};
            const FrameDataFormat confidenceFormat{layout.width, layout.height, CONFIDENCE, 0};
            pool->add(std::make_unique<DepthData>(depthFormat, confidenceFormat));
        } else {
            pool->add(std::make_unique<RawData>(layout.width, layout.height));
        }
    }
}

void FrameStore::publish(LinkNode* node) {
    pool->pushReady(node);
    std::lock_guard<std::mutex> lock(mutex);
    if (readyCount <= kReadyLimit) {
        ++readyCount;
        readyCond.notify_all();
    }
}

LinkNode* FrameStore::takeBackOldest(std::chrono::milliseconds wait) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto spare = [this] { return readyCount > waitingCount; };
        if (!readyCond.wait_for(lock, wait, spare)) return nullptr;
        --readyCount;
    }
    return pool->popReady(LinkNode::Place::Filling);
}

LinkNode* FrameStore::request(short timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        const uint64_t wakeCallsBefore = wakeCalls;
        const auto over = [&] {
            return readyCount > 0 || !streaming || wakeCalls != wakeCallsBefore;
        };
        ++waitingCount;
        if (timeoutMs < 0) {
            readyCond.wait(lock, over);
        } else {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            readyCond.wait_until(lock, deadline, over);
        }
        --waitingCount;
        if (readyCount == 0) return nullptr;
        --readyCount;
    }
    return pool->popReady(LinkNode::Place::Borrowed);
}

void FrameStore::beginStream() {
    std::lock_guard<std::mutex> lock(mutex);
    streaming = true;
}

void FrameStore::endStream() {
    std::lock_guard<std::mutex> lock(mutex);
    streaming = false;
    readyCond.notify_all();
}

void FrameStore::wakeRequests() {
    std::lock_guard<std::mutex> lock(mutex);
    ++wakeCalls;
    readyCond.notify_all();
}

int FrameStore::waitingRequests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return waitingCount;
}

int FrameStore::readyFrames() const {
    std::lock_guard<std::mutex> lock(mutex);
    return readyCount;
}

}  // namespace Zelvo
