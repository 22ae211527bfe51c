// The capture thread and the hand-off of finished frames to the caller.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <thread>

#include <zelvo/camera.h>
#include "core/device.h"
#include "core/frame_store.h"
#include "core/sensor.h"

namespace Zelvo {

namespace {

constexpr int64_t kAdjustPeriodNs = 3000000000LL;
constexpr auto kTakeBackWait = std::chrono::milliseconds(20);
constexpr auto kStallSleep = std::chrono::milliseconds(1);
// Pause after a failed read, doubled on each further failure up to the ceiling, so a
// camera that went away does not keep a core busy; reset by the next good read.
constexpr int kFirstBackOffMs = 1;
constexpr int kMaxBackOffMs = 50;
// Slice of a back-off pause after which the run flag is looked at again.
constexpr int kBackOffSliceMs = 5;

}  // namespace

void ZelvoTOFCamera::backOff(int& delayMs) {
    delayMs = delayMs == 0 ? kFirstBackOffMs : std::min(delayMs * 2, kMaxBackOffMs);
    for (int slept = 0; slept < delayMs && !stopped.load(); slept += kBackOffSliceMs) {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min(kBackOffSliceMs, delayMs - slept)));
    }
}

void ZelvoTOFCamera::captureThread() {
    if (!frameStore || !sensor || !device) return;
    FrameStore& store = *frameStore;
    uint8_t* staging = static_cast<uint8_t*>(store.staging().getData(CACHE));
    int64_t lastAdjust = wallClock();
    lastFrameTime = lastAdjust;
    int backOffMs = 0;
    // Set while reading paused for a reason other than the sensor (every buffer
    // borrowed, or reads failing): the pause is not an interval between sensor
    // frames, so the next interval starts at the next read.
    bool paused = false;

    while (!stopped.load()) {
        if (autoFrameRate.load(std::memory_order_relaxed)) {
            const int64_t now = wallClock();
            if (now - lastAdjust > kAdjustPeriodNs) {
                adjustFrameRate();
                lastAdjust = wallClock();
            }
        }

        LinkNode* node = store.framePool().takeFree();
        if (!node) {
            // Every buffer is out: recycle the oldest frame nobody has requested yet.
            node = store.takeBackOldest(kTakeBackWait);
            if (!node) {
                paused = true;
                std::this_thread::sleep_for(kStallSleep);
                continue;
            }
        }

        if (paused) {
            lastFrameTime = wallClock();
            paused = false;
        }
        const int result = analysisFrame(staging, node);
        if (result == ZelvoSuccess) {
            backOffMs = 0;
            store.publish(node);
            continue;
        }
        store.framePool().release(node);
        if (result == ZelvoSkipFrame || !readFailed) {
            backOffMs = 0;
        } else {
            paused = true;
            backOff(backOffMs);
        }
    }
}

int ZelvoTOFCamera::analysisFrame(uint8_t* staging, LinkNode* node) {
    readFailed = false;
    if (!sensor || !device || !staging || !node || !node->buffer) return ZelvoUnkownError;
    ZelvoFrameBuffer& buffer = *node->buffer;

    int64_t timestamp = 0;
    // Any failed read is dropped: the staging bytes may be incomplete.
    if (sensor->getFrame(staging, &timestamp) != 0) {
        readFailed = true;
        return ZelvoUnkownError;
    }
    buffer.setTimestamp(static_cast<uint64_t>(timestamp));
    // The estimate counts sensor reads, skipped ones included, so that dropping
    // frames on purpose never looks like a slow sensor.
    updateFps();

    const int loop = skipFrameLoop.load(std::memory_order_relaxed);
    const int skip = std::min(skipFrame.load(std::memory_order_relaxed), loop);
    skipCounter = (skipCounter + 1) % loop;
    const unsigned keep = static_cast<uint8_t>(loop - skip);
    const unsigned position = static_cast<uint8_t>(skipCounter);
    const unsigned length = static_cast<uint8_t>(loop);
    // Out of every `length` reads, `keep` are delivered, spread evenly.
    if ((keep * position) / length == (keep * position + keep) / length) return ZelvoSkipFrame;

    switch (info.type) {
    case RAW: {
        auto* out = static_cast<int16_t*>(buffer.getData(RAW));
        if (!out) return ZelvoUnkownError;
        device->getRawImages(staging, out);
        return ZelvoSuccess;
    }
    case DEPTH: {
        auto* depth = static_cast<float*>(buffer.getData(DEPTH));
        auto* amplitude = static_cast<float*>(buffer.getData(AMPLITUDE));
        auto* confidence = static_cast<float*>(buffer.getData(CONFIDENCE));
        if (!depth || !amplitude || !confidence) return ZelvoUnkownError;
        return device->getPhaseImage(staging, depth, amplitude, confidence) ? ZelvoSuccess
                                                                            : ZelvoUnkownError;
    }
    default:
        return ZelvoUnkownError;
    }
}

void ZelvoTOFCamera::updateFps() {
    const int64_t now = wallClock();
    const float sample = static_cast<float>((now - lastFrameTime) / 1000000);
    lastFrameTime = now;

    if (fpsSamples == 0) {
        frameInterval = sample;
    } else {
        const float candidate = (1.0f - fpsWeight) * frameInterval + fpsWeight * sample;
        if (std::fabs(candidate) <= std::numeric_limits<float>::max()) {
            frameInterval = candidate;
            const double quotient = static_cast<double>(candidate) / 2000.0;
            fpsWeight = quotient > 1.0 / 30.0 && quotient < 1.0 ? static_cast<float>(quotient)
                                                                : 1.0f / 30.0f;
        }
    }
    ++fpsSamples;
    fps = 1000.0f / frameInterval;
}

void ZelvoTOFCamera::adjustFrameRate() {
    if (!device) return;
    // A zero interval gives an infinite rate; clamp before converting.
    const float bounded = std::isnan(fps) ? 1.0f : std::min(std::max(fps, 1.0f), 1.0e6f);
    const int measured = static_cast<int>(bounded);

    int current = 0;
    device->getControl(FRAME_RATE, &current);
    const int tolerance = current >= 10 ? current / 10 : 1;
    if (std::llabs(static_cast<long long>(measured) - current) > tolerance) setControl(FRAME_RATE, measured);
}

ZelvoFrameBuffer* ZelvoTOFCamera::requestFrame(short timeout) {
    if (!frameStore) return nullptr;
    LinkNode* node = frameStore->request(timeout);
    return node ? node->buffer.get() : nullptr;
}

int ZelvoTOFCamera::releaseFrame(ZelvoFrameBuffer* frame) {
    if (!frameStore) return ZelvoUnkownError;
    return frameStore->framePool().releaseBorrowed(frame);
}

}  // namespace Zelvo
