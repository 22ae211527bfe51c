#include "tests/support/scripted_device.h"

#include <cstring>
#include <string>

namespace Zelvo::testing {

ScriptedDevice::ScriptedDevice(std::shared_ptr<CallLog> log, const DeviceScript& script,
                               int32_t platform)
    : ZelvoDevice(platform), script(script), log(std::move(log)) {}

ScriptedDevice::~ScriptedDevice() { log->add("device.destroyed"); }

void ScriptedDevice::getFrameLayouts(FrameLayout& raw, FrameLayout& output) {
    log->add("device.getFrameLayouts");
    raw = script.raw;
    output = script.output;
}

int ScriptedDevice::init(ZelvoTOFSensor* sensor, DeviceType type) {
    log->add(call("device.init", type));
    this->sensor = sensor;
    this->type = type;
    return script.initResult;
}

int ScriptedDevice::close() {
    log->add("device.close");
    return script.closeResult;
}

int ScriptedDevice::configureSensor() {
    log->add("device.configureSensor");
    return script.configureSensorResult;
}

int ScriptedDevice::start() {
    log->add("device.start");
    return script.startResult;
}

int ScriptedDevice::stop() {
    log->add("device.stop");
    return script.stopResult;
}

int ScriptedDevice::setControl(CameraCtrl ctrl, int value) {
    log->add(call("device.setControl", ctrl, value));
    if (script.setControlResult != 0) return script.setControlResult;
    std::lock_guard<std::mutex> lock(controlsMutex);
    controls[ctrl] = value;
    return 0;
}

int ScriptedDevice::setControlExt(CameraCtrl ctrl, const char* text) {
    log->add("device.setControlExt(" + std::to_string(ctrl) + "," + (text ? text : "null") + ")");
    return script.setControlExtResult;
}

int ScriptedDevice::getControl(CameraCtrl ctrl, int* value) {
    log->add(call("device.getControl", ctrl));
    if (script.getControlResult != 0) return script.getControlResult;
    *value = control(ctrl);
    return 0;
}

int ScriptedDevice::getControlExt(CameraCtrl ctrl, const char**) {
    log->add(call("device.getControlExt", ctrl));
    return 0;
}

bool ScriptedDevice::getRawImages(const uint8_t* src, int16_t* dst) {
    ++rawCount;
    std::memcpy(dst, src, static_cast<size_t>(script.raw.width) * script.raw.height * 2);
    return true;
}

bool ScriptedDevice::getPhaseImage(const uint8_t* src, float* depth, float* amplitude,
                                   float* confidence) {
    ++phaseCount;
    int16_t first = 0;
    std::memcpy(&first, src, sizeof first);
    const size_t count = static_cast<size_t>(script.output.width) * script.output.height;
    for (size_t i = 0; i < count; ++i) {
        depth[i] = first;
        amplitude[i] = 2.0f * first;
        confidence[i] = -first;
    }
    return phaseResult.load();
}

int ScriptedDevice::getMaxFrameRate(int* value) {
    log->add("device.getMaxFrameRate");
    if (script.maxFrameRateResult != 0) return script.maxFrameRateResult;
    *value = script.maxFrameRate;
    return 0;
}

int ScriptedDevice::control(CameraCtrl ctrl) const {
    std::lock_guard<std::mutex> lock(controlsMutex);
    auto it = controls.find(ctrl);
    return it == controls.end() ? 0 : it->second;
}

void ScriptedDevice::presetControl(CameraCtrl ctrl, int value) {
    std::lock_guard<std::mutex> lock(controlsMutex);
    controls[ctrl] = value;
}

}  // namespace Zelvo::testing
