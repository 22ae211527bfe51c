// Camera controls: the settings the camera keeps itself (frame skipping, automatic
// frame rate), the frame-rate bound, and everything else forwarded to the device.
#include <zelvo/camera.h>

#include "core/device.h"
#include "core/sensor.h"

namespace Zelvo {

namespace {

// The skip rule works on 8-bit loop lengths.
constexpr int kMaxSkipFrameLoop = 255;

}  // namespace

int ZelvoTOFCamera::setControl(CameraCtrl ctrl, int value) {
    // Controls belong to an opened camera, the camera's own settings included.
    if (!device) return ZelvoUnkownError;
    switch (ctrl) {
    case SKIP_FRAME:
        if (value < 0 || value > skipFrameLoop.load(std::memory_order_relaxed))
            return ZelvoInvalidParameter;
        skipFrame.store(value, std::memory_order_relaxed);
        return ZelvoSuccess;
    case SKIP_FRAME_LOOP:
        if (value < 1 || value > kMaxSkipFrameLoop) return ZelvoInvalidParameter;
        skipFrameLoop.store(value, std::memory_order_relaxed);
        return ZelvoSuccess;
    case AUTO_FRAME_RATE:
        autoFrameRate.store(value != 0, std::memory_order_relaxed);
        return ZelvoSuccess;
    case FRAME_RATE: {
        // Bounded by what the device can run at, not by the rate set last, so a
        // lowered rate can be raised again.
        int limit = 0;
        const int result = device->getMaxFrameRate(&limit);
        if (result != ZelvoSuccess) return result;
        if (value < 1 || value > limit) return ZelvoInvalidParameter;
        return device->setControl(FRAME_RATE, value);
    }
    default:
        return device->setControl(ctrl, value);
    }
}

int ZelvoTOFCamera::getControl(CameraCtrl ctrl, int* value) {
    if (!device) return ZelvoUnkownError;
    if (!value) return ZelvoInvalidParameter;
    if (ctrl == AUTO_FRAME_RATE) {
        *value = autoFrameRate.load(std::memory_order_relaxed) ? 1 : 0;
        return ZelvoSuccess;
    }
    return device->getControl(ctrl, value);
}

int ZelvoTOFCamera::setControlExt(CameraCtrl ctrl, const char* value) {
    if (!device) return ZelvoUnkownError;
    return device->setControlExt(ctrl, value);
}

int ZelvoTOFCamera::getControlExt(CameraCtrl, const char**) {
    if (!device) return ZelvoUnkownError;
    return ZelvoSuccess;
}

bool ZelvoTOFCamera::getPhaseImage(uint8_t* raw, float* depth, float* amplitude,
                                   float* confidence) {
    if (!device) return false;
    return device->getPhaseImage(raw, depth, amplitude, confidence);
}

bool ZelvoTOFCamera::getRawImages(uint8_t* raw, int16_t* out) {
    if (!device) return false;
    return device->getRawImages(raw, out);
}

}  // namespace Zelvo
