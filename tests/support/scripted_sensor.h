// A sensor transport whose results are scripted. It records lifecycle and control
// calls in a shared call log; frame reads are only counted (they come from the
// capture thread at frame rate). Read n (from 1) fills every 16-bit sample of the
// staging buffer with n and reports the timestamp first + (n - 1) * step.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "core/sensor.h"
#include "tests/support/call_log.h"

namespace Zelvo::testing {

struct SensorScript {
    uint32_t width = 240;
    uint32_t height = 180;
    uint32_t bitWidth = 12;
    uint32_t bpp = 2;
    int openResult = 0;
    int closeResult = 0;
    int startResult = 0;
    int stopResult = 0;
    int setControlResult = 0;
    int getControlResult = 0;
    bool writesControlValue = false;  // getControl writes controlValue when true
    int controlValue = 0;
    int64_t firstTimestamp = 1000;
    int64_t timestampStep = 33;
};

class ScriptedSensor final : public ZelvoTOFSensor {
public:
    ScriptedSensor(std::shared_ptr<CallLog> log, const SensorScript& script);
    ~ScriptedSensor() override;

    int open(CameraInfo& info) override;
    int close() override;
    int start() override;
    int stop() override;
    CameraInfo getCameraInfo() override;
    int getFrame(void* dst, int64_t* timestamp) override;
    int setControl(CameraCtrl ctrl, int value) override;
    int getControl(CameraCtrl ctrl, int* value) override;

    // Results of the next reads, one each; afterwards every read returns the default.
    void queueReadResults(std::initializer_list<int> results);
    void setDefaultReadResult(int result) { defaultReadResult.store(result); }
    // Reads numbered above the budget fail with -1, as an unplugged camera's would.
    void setReadBudget(int reads) { readBudget.store(reads); }
    // Time each read takes, as a frame period would.
    void setReadDelay(std::chrono::microseconds delay) { readDelayUs.store(delay.count()); }

    int reads() const { return readCount.load(); }
    // Read number that produced a timestamp.
    int readNumberOf(uint64_t timestamp) const;
    size_t frameBytes() const;

    SensorScript script;

private:
    std::shared_ptr<CallLog> log;
    CameraInfo kept{};
    std::mutex resultsMutex;
    std::deque<int> readResults;
    std::atomic<int> defaultReadResult{0};
    std::atomic<int64_t> readDelayUs{0};
    std::atomic<int> readCount{0};
    std::atomic<int> readBudget{std::numeric_limits<int>::max()};
};

}  // namespace Zelvo::testing
