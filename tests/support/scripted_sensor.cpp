#include "tests/support/scripted_sensor.h"

#include <thread>

namespace Zelvo::testing {

ScriptedSensor::ScriptedSensor(std::shared_ptr<CallLog> log, const SensorScript& script)
    : script(script), log(std::move(log)) {
    kept.width = script.width;
    kept.height = script.height;
    kept.bit_width = script.bitWidth;
    kept.bpp = script.bpp;
}

ScriptedSensor::~ScriptedSensor() { log->add("sensor.destroyed"); }

int ScriptedSensor::open(CameraInfo& info) {
    log->add("sensor.open");
    if (script.openResult != 0) return script.openResult;
    info.width = script.width;
    info.height = script.height;
    info.bit_width = script.bitWidth;
    info.bpp = script.bpp;
    kept = info;
    return 0;
}

int ScriptedSensor::close() {
    log->add("sensor.close");
    return script.closeResult;
}

int ScriptedSensor::start() {
    log->add("sensor.start");
    return script.startResult;
}

int ScriptedSensor::stop() {
    log->add("sensor.stop");
    return script.stopResult;
}

CameraInfo ScriptedSensor::getCameraInfo() { return kept; }

int ScriptedSensor::getFrame(void* dst, int64_t* timestamp) {
    const int n = ++readCount;
    int result = n > readBudget.load() ? -1 : defaultReadResult.load();
    {
        std::lock_guard<std::mutex> lock(resultsMutex);
        if (!readResults.empty()) {
            result = readResults.front();
            readResults.pop_front();
        }
    }
    const int64_t delay = readDelayUs.load();
    if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
    if (result != 0) return result;
    auto* samples = static_cast<int16_t*>(dst);
    const size_t count = frameBytes() / 2;
    for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(n & 0x7fff);
    *timestamp = script.firstTimestamp + (n - 1) * script.timestampStep;
    return 0;
}

int ScriptedSensor::setControl(CameraCtrl ctrl, int value) {
    log->add(call("sensor.setControl", ctrl, value));
    // An accepted size applies to the frames of the next stream, as on the CSI sensor.
    if (script.setControlResult == 0 && ctrl == FMT_WIDTH) kept.width = static_cast<uint32_t>(value);
    if (script.setControlResult == 0 && ctrl == FMT_HEIGHT) kept.height = static_cast<uint32_t>(value);
    return script.setControlResult;
}

int ScriptedSensor::getControl(CameraCtrl ctrl, int* value) {
    log->add(call("sensor.getControl", ctrl));
    if (script.writesControlValue && value != nullptr) *value = script.controlValue;
    return script.getControlResult;
}

void ScriptedSensor::queueReadResults(std::initializer_list<int> results) {
    std::lock_guard<std::mutex> lock(resultsMutex);
    readResults.insert(readResults.end(), results.begin(), results.end());
}

int ScriptedSensor::readNumberOf(uint64_t timestamp) const {
    return static_cast<int>((static_cast<int64_t>(timestamp) - script.firstTimestamp) /
                            script.timestampStep) + 1;
}

size_t ScriptedSensor::frameBytes() const {
    return static_cast<size_t>(script.width) * script.height *
           static_cast<size_t>(framesPerRequest) * 2;
}

}  // namespace Zelvo::testing
