// Construction, open and close of the CSI sensor.
#include "sensor/csi/csi_sensor.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/i2c.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <new>

#include "core/retried_request.h"
#include "sensor/csi/chip_address.h"
#include "sensor/csi/i2c_bus.h"
#include "sensor/csi/i2c_bus_resolution.h"
#include "sensor/csi/jetson_bus_designation.h"
#include "sensor/csi/media_walk.h"
#include "sensor/csi/single_request.h"

namespace Zelvo {
namespace {

constexpr const char* kSensorChipAddress = "0x0c";
constexpr uint32_t kBitWidth = 12;
constexpr uint32_t kBytesPerSample = 2;

}  // namespace

ZelvoTOFCSISensor::ZelvoTOFCSISensor(const char* path, int platform, Host& host)
    : platform(platform), host(host) {
    if (path) snprintf(devicePath, sizeof devicePath, "%s", path);
}

ZelvoTOFCSISensor::~ZelvoTOFCSISensor() = default;

int ZelvoTOFCSISensor::open(CameraInfo& callerInfo) {
    videoFd = host.open(devicePath, O_RDWR);
    if (videoFd < 0) return -2;

    v4l2_capability capability{};
    if (retryIoctl(host, videoFd, VIDIOC_QUERYCAP, &capability) < 0) {
        fprintf(stderr, "VIDIOC_QUERYCAP: error - %d\n", errno);
        return -2;
    }
    // A driver with several nodes reports all of them in capabilities; this node's own
    // are in device_caps when the driver says it fills them.
    const uint32_t capabilities = (capability.capabilities & V4L2_CAP_DEVICE_CAPS)
                                      ? capability.device_caps
                                      : capability.capabilities;
    if (capabilities & V4L2_CAP_VIDEO_CAPTURE) {
        bufType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    } else if (capabilities & V4L2_CAP_VIDEO_CAPTURE_MPLANE) {
        bufType = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    } else {
        return -2;
    }
    if (!(capabilities & V4L2_CAP_STREAMING)) return -2;

    if (applyPlatformPipeline() != 0) return -2;
    if (platform != PlatformRadxaRock) {
        int input = inputIndex;
        if (retryIoctl(host, videoFd, VIDIOC_S_INPUT, &input) < 0) return -2;
    }
    if (openI2cBus() != 0) return -2;
    chipAddress = static_cast<uint16_t>(parseChipAddress(kSensorChipAddress));

    if (!calibrationBuffer) {
        calibrationBuffer.reset(new (std::nothrow) uint8_t[kCalibrationBytes]());
        if (!calibrationBuffer) return -2;
    }

    int result = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    if (readImageSize(width, height) == 0) {
        callerInfo.width = width;
        callerInfo.height = height;
    } else {
        result = -2;
    }
    callerInfo.bit_width = kBitWidth;
    callerInfo.bpp = kBytesPerSample;
    info = callerInfo;
    return result;
}

// Chooses the buffer type of the board and finds the sub-devices and the bus designation.
int ZelvoTOFCSISensor::applyPlatformPipeline() {
    bufType = platform == PlatformRadxaRock ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
                                            : V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (isSubdevPlatform(platform)) {
        // What the walk does not find leaves the bus designation empty; the bus
        // resolution then fails and says so.
        walkMediaGraph(host, platform, videoFd, pipeline);
        return 0;
    }
    pipeline.subdevCount = 0;
    if (isJetsonPlatform(platform)) return readJetsonBusDesignation(host, videoFd, pipeline.busName);
    return 0;
}

int ZelvoTOFCSISensor::openI2cBus() {
    const int bus = resolveI2cBus(host, pipeline.busName);
    if (bus < 0) return -2;
    char path[kI2cPathBytes];
    i2cFd = i2cOpenDev(host, bus, path, sizeof path, 0);
    if (i2cFd < 0) return -2;
    unsigned long functions = 0;
    if (i2cGetFunctionality(host, i2cFd, &functions) < 0) return -2;
    if (!(functions & I2C_FUNC_I2C)) {
        fprintf(stderr, "Error: Adapter does not have %s capability\n", "I2C transfers");
        return -2;
    }
    return 0;
}

// The sensor's current size: its sub-device's format on the media-controller boards,
// the video node's format elsewhere. One request, not retried. The ACTIVE format is the
// device's; a TRY format belongs to this open file and starts from the driver's defaults.
int ZelvoTOFCSISensor::readImageSize(uint32_t& width, uint32_t& height) {
    if (isSubdevPlatform(platform)) {
        v4l2_subdev_format format{};
        format.which = V4L2_SUBDEV_FORMAT_ACTIVE;
        format.pad = 0;
        if (requestOnce(host, pipeline.sensorSubdevFd(), VIDIOC_SUBDEV_G_FMT, &format) < 0) {
            return -1;
        }
        width = format.format.width;
        height = format.format.height;
        return 0;
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (requestOnce(host, videoFd, VIDIOC_G_FMT, &format) < 0) return -1;
    width = format.fmt.pix.width;
    height = format.fmt.pix.height;
    return 0;
}

int ZelvoTOFCSISensor::close() {
    // Buffers a failed stop could not unmap (a camera unplugged mid-stream) go now.
    releaseMappings();
    for (int i = 0; i < pipeline.subdevCount; ++i) {
        if (pipeline.subdevFds[i] >= 0) host.close(pipeline.subdevFds[i]);
        pipeline.subdevFds[i] = -1;
    }
    pipeline.subdevCount = 0;
    pipeline.sensorSubdevIndex = 0;
    if (videoFd >= 0) host.close(videoFd);
    videoFd = -1;
    if (i2cFd >= 0) host.close(i2cFd);
    i2cFd = -1;
    calibrationBuffer.reset();
    return 0;
}

}  // namespace Zelvo
