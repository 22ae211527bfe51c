// A depth device whose results are scripted. Lifecycle and control calls go to the
// shared call log; the per-frame operations are counted. Controls are kept in a
// table: a successful setControl stores the value that getControl then reports.
// getRawImages copies the raw layout's samples from the staging buffer;
// getPhaseImage writes the first staging sample into every depth sample, its
// double into amplitude and its negation into confidence.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "core/device.h"
#include "tests/support/call_log.h"

namespace Zelvo::testing {

struct DeviceScript {
    FrameLayout raw{2, 240, 720};
    FrameLayout output{2, 240, 180};
    int initResult = 0;
    int closeResult = 0;
    int configureSensorResult = 0;
    int startResult = 0;
    int stopResult = 0;
    int setControlResult = 0;
    int setControlExtResult = 0;
    int getControlResult = 0;
    int maxFrameRate = 30;
    int maxFrameRateResult = 0;
};

class ScriptedDevice final : public ZelvoDevice {
public:
    ScriptedDevice(std::shared_ptr<CallLog> log, const DeviceScript& script, int32_t platform);
    ~ScriptedDevice() override;

    DeviceType getDeviceType() override { return type; }
    void getFrameLayouts(FrameLayout& raw, FrameLayout& output) override;
    int init(ZelvoTOFSensor* sensor, DeviceType type) override;
    int close() override;
    int configureSensor() override;
    int start() override;
    int stop() override;
    int setControl(CameraCtrl ctrl, int value) override;
    int setControlExt(CameraCtrl ctrl, const char* text) override;
    int getControl(CameraCtrl ctrl, int* value) override;
    int getControlExt(CameraCtrl ctrl, const char** text) override;
    bool getRawImages(const uint8_t* src, int16_t* dst) override;
    bool getPhaseImage(const uint8_t* src, float* depth, float* amplitude,
                       float* confidence) override;
    int getMaxFrameRate(int* value) override;

    // Value of a control as getControl would report it (0 when never set).
    int control(CameraCtrl ctrl) const;
    void presetControl(CameraCtrl ctrl, int value);
    void setPhaseResult(bool ok) { phaseResult.store(ok); }

    int phaseCalls() const { return phaseCount.load(); }
    int rawCalls() const { return rawCount.load(); }

    DeviceScript script;

private:
    std::shared_ptr<CallLog> log;
    DeviceType type = VGA;
    mutable std::mutex controlsMutex;
    std::map<int, int> controls;
    std::atomic<bool> phaseResult{true};
    std::atomic<int> phaseCount{0};
    std::atomic<int> rawCount{0};
};

}  // namespace Zelvo::testing
