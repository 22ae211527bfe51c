// The depth-processing device: frame layouts, raw unpacking, depth computation and
// the controls that belong to depth processing. Other controls go on to the sensor.
#pragma once

#include <cstdint>

#include "core/sensor.h"
#include <zelvo/types.h>

namespace Zelvo {

class ZelvoDevice {
public:
    int32_t platform;
    ZelvoTOFSensor* sensor = nullptr;  // not owned

    explicit ZelvoDevice(int32_t platform) : platform(platform) {}
    virtual ~ZelvoDevice() = default;

    virtual DeviceType getDeviceType() = 0;
    virtual void getFrameLayouts(FrameLayout& raw, FrameLayout& output) = 0;
    virtual int init(ZelvoTOFSensor* sensor, DeviceType type) = 0;
    virtual int close() = 0;
    virtual int configureSensor() = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
    virtual int setControl(CameraCtrl ctrl, int value) = 0;
    virtual int setControlExt(CameraCtrl ctrl, const char* text) = 0;
    virtual int getControl(CameraCtrl ctrl, int* value) = 0;
    virtual int getControlExt(CameraCtrl ctrl, const char** text) = 0;
    virtual bool getRawImages(const uint8_t* src, int16_t* dst) = 0;
    virtual bool getPhaseImage(const uint8_t* src, float* depth, float* amplitude,
                               float* confidence) = 0;

    // Highest frame rate the device and its sensor can run at. The camera bounds
    // FRAME_RATE by this, not by the rate currently set, so a lowered rate can be
    // raised again. Writes the limit and returns a TofErrorCode.
    virtual int getMaxFrameRate(int* value) = 0;
};

}  // namespace Zelvo
