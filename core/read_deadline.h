// How long one sensor read may wait for its frame, whatever the transport: two frame
// periods, and never less than a second. A sensor that stopped sending must not hold the
// capture thread, which looks at `stopped` only between reads.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace Zelvo {

class ReadDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // The shortest wait, for a sensor of any rate.
    static constexpr int64_t kMinWaitMs = 1000;

    // Two periods of a frame, at least kMinWaitMs. A period of 0 (not known) gives the least.
    static constexpr int64_t waitMs(int64_t framePeriodMs) {
        return std::max(kMinWaitMs, 2 * std::max<int64_t>(framePeriodMs, 0));
    }
    // The same for a rate in frames per second (0 or less: not known).
    static constexpr int64_t waitMsAtRate(int framesPerSecond) {
        return waitMs(framesPerSecond > 0 ? 1000 / framesPerSecond : 0);
    }

    // A read that began now and may wait waitMs.
    explicit ReadDeadline(int64_t waitMs)
        : end_(Clock::now() + std::chrono::milliseconds(waitMs)) {}

    // Whole milliseconds left, rounded up; 0 once the time is over.
    int64_t leftMs() const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now());
        return std::max<int64_t>(left.count(), 0);
    }
    bool passed() const { return Clock::now() >= end_; }

private:
    Clock::time_point end_;
};

}  // namespace Zelvo
