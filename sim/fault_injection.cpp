#include "sim/fault_injection.h"

#include <algorithm>

namespace Zelvo::sim {

void FaultInjection::failRequest(unsigned long request, int error, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestFailures_.push_back({request, error, times});
}

void FaultInjection::failOpen(const std::string& path, int error, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    openFailures_.push_back({path, error, times});
}

void FaultInjection::unplugAfterFrames(int frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    framesUntilUnplug_ = frames;
    if (frames <= 0) unplugged_ = true;
}

void FaultInjection::unplugAfterSubFrames(int64_t subFrames) {
    std::lock_guard<std::mutex> lock(mutex_);
    subFramesUntilUnplug_ = subFrames;
    if (subFrames <= 0) unplugged_ = true;
}

void FaultInjection::stallAfterSubFrames(int64_t subFrames) {
    std::lock_guard<std::mutex> lock(mutex_);
    subFramesUntilStall_ = subFrames < 0 ? -1 : subFrames;
}

void FaultInjection::flagBufferError(int64_t buffers) {
    std::lock_guard<std::mutex> lock(mutex_);
    buffersUntilError_ = buffers < 0 ? 0 : buffers;
}

void FaultInjection::handOutBufferIndex(uint32_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    badIndexArmed_ = true;
    badIndex_ = index;
}

void FaultInjection::delaySubFrame(int subFrame, int64_t delayUs) {
    std::lock_guard<std::mutex> lock(mutex_);
    delayArmed_ = true;
    delaySubFrame_ = subFrame;
    delayUs_ = delayUs;
}

void FaultInjection::grantAtMost(int buffers) {
    std::lock_guard<std::mutex> lock(mutex_);
    grantLimit_ = buffers;
}

void FaultInjection::withoutPlainI2c(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    noPlainI2c_ = on;
}

template <typename Key>
bool FaultInjection::takeFailure(std::vector<Failure<Key>>& failures, const Key& key,
                                 int& error) {
    for (auto it = failures.begin(); it != failures.end(); ++it) {
        if (it->key != key || it->remaining <= 0) continue;
        error = it->error;
        if (--it->remaining == 0) failures.erase(it);
        return true;
    }
    return false;
}

bool FaultInjection::takeRequestFailure(unsigned long request, int& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return takeFailure(requestFailures_, request, error);
}

bool FaultInjection::takeOpenFailure(const std::string& path, int& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return takeFailure(openFailures_, path, error);
}

bool FaultInjection::unplugged() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unplugged_;
}

bool FaultInjection::unpluggedWithin(int64_t needed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (subFramesUntilUnplug_ > 0 && subFramesUntilUnplug_ < needed) {
        subFramesUntilUnplug_ = 0;
        unplugged_ = true;
    }
    return unplugged_;
}

bool FaultInjection::stalled(int64_t needed) {
    std::lock_guard<std::mutex> lock(mutex_);
    return subFramesUntilStall_ >= 0 && subFramesUntilStall_ < needed;
}

bool FaultInjection::takeBufferError() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (buffersUntilError_ < 0) return false;
    return buffersUntilError_-- == 0;
}

void FaultInjection::subFramesDequeued(int64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (subFramesUntilStall_ > 0) subFramesUntilStall_ = std::max<int64_t>(subFramesUntilStall_ - count, 0);
    if (subFramesUntilUnplug_ > 0) {
        subFramesUntilUnplug_ = std::max<int64_t>(subFramesUntilUnplug_ - count, 0);
        if (subFramesUntilUnplug_ == 0) unplugged_ = true;
    }
}

void FaultInjection::frameCompleted() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (framesUntilUnplug_ > 0 && --framesUntilUnplug_ == 0) unplugged_ = true;
}

bool FaultInjection::takeBufferIndex(uint32_t& index) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!badIndexArmed_) return false;
    badIndexArmed_ = false;
    index = badIndex_;
    return true;
}

bool FaultInjection::takeSubFrameDelay(int& subFrame, int64_t& delayUs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!delayArmed_) return false;
    delayArmed_ = false;
    subFrame = delaySubFrame_;
    delayUs = delayUs_;
    return true;
}

int FaultInjection::grantLimit() {
    std::lock_guard<std::mutex> lock(mutex_);
    return grantLimit_;
}

bool FaultInjection::plainI2cRemoved() {
    std::lock_guard<std::mutex> lock(mutex_);
    return noPlainI2c_;
}

}  // namespace Zelvo::sim
