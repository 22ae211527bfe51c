// The controls the CSI sensor answers itself and the calibration memory read.
#include <cstdio>
#include <linux/videodev2.h>
#include <thread>
#include <chrono>

#include "core/retried_request.h"
#include "sensor/csi/csi_sensor.h"
#include "sensor/csi/sensor_registers.h"

namespace Zelvo {
namespace {

// Driver-private control selecting the modulation: 1 for the 2 m range, 0 for 4 m.
constexpr uint32_t kRangeControl = V4L2_CID_USER_BASE + 0x1001;

constexpr uint16_t kCalibrationRequestLength = 0x0200;
constexpr auto kCalibrationSettleTime = std::chrono::milliseconds(100);

// The range control value for a RANGE value, or -1 when the value is not allowed. The
// range is given in metres (2, 4) or in millimetres (2000, 4000).
int rangeControlValue(int range) {
    switch (range) {
    case 2:
    case 2000:
        return 1;
    case 4:
    case 4000:
        return 0;
    default:
        return -1;
    }
}

}  // namespace

// Range and exposure are controls of the sensor's sub-device on the media-controller
// boards; elsewhere the video node carries them.
int ZelvoTOFCSISensor::controlFd() const {
    return isSubdevPlatform(platform) ? pipeline.sensorSubdevFd() : videoFd;
}

int ZelvoTOFCSISensor::setControl(CameraCtrl ctrl, int value) {
    v4l2_control control{};
    switch (ctrl) {
    case RANGE: {
        const int rangeValue = rangeControlValue(value);
        if (rangeValue < 0) return 1;
        control.id = kRangeControl;
        control.value = rangeValue;
        break;
    }
    case EXPOSURE:
        control.id = V4L2_CID_EXPOSURE;
        control.value = value;
        break;
    case FMT_WIDTH:
        info.width = static_cast<uint32_t>(value);
        return 0;
    case FMT_HEIGHT:
        info.height = static_cast<uint32_t>(value);
        return 0;
    case FRAME_RATE:
        frameRate = value;
        return writeRegister32(host, i2cFd, chipAddress, kFrameRateRegister,
                               static_cast<uint32_t>(value));
    default:
        return 1;
    }
    if (retryIoctl(host, controlFd(), VIDIOC_S_CTRL, &control) < 0) {
        perror("VIDIOC_S_CTRL");
        return -1;
    }
    return 0;
}

int ZelvoTOFCSISensor::getControl(CameraCtrl ctrl, int* value) {
    v4l2_control control{};
    switch (ctrl) {
    case RANGE:
        control.id = kRangeControl;
        break;
    case EXPOSURE:
        control.id = V4L2_CID_EXPOSURE;
        break;
    case FMT_WIDTH:
        *value = static_cast<int>(info.width);
        return 0;
    case FMT_HEIGHT:
        *value = static_cast<int>(info.height);
        return 0;
    case FRAME_RATE:
        *value = frameRate;
        return 0;
    default:
        return 1;
    }
    if (retryIoctl(host, controlFd(), VIDIOC_G_CTRL, &control) < 0) {
        perror("VIDIOC_G_CTRL");
        return -1;
    }
    *value = ctrl == RANGE ? (control.value != 0 ? 2 : 4) : control.value;
    return 0;
}

int ZelvoTOFCSISensor::readCalibrationBlock(uint16_t offset, uint8_t* dst) {
    const uint32_t request = static_cast<uint32_t>(offset) << 16 | kCalibrationRequestLength;
    if (writeRegister32(host, i2cFd, chipAddress, kCalibrationRequestRegister, request) != 0) {
        return -2;
    }
    // The module needs this long to fetch the block into its data window.
    std::this_thread::sleep_for(kCalibrationSettleTime);
    return readRegisterBytes(host, i2cFd, chipAddress, kCalibrationWindowRegister, dst,
                             kCalibrationBlockBytes);
}

}  // namespace Zelvo
