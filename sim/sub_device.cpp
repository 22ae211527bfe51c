#include "sim/sub_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/media-bus-format.h>
#include <linux/videodev2.h>

#include "sim/tof_sensor.h"

namespace Zelvo::sim {
namespace {

constexpr uint32_t kBridgeCodes[] = {MEDIA_BUS_FMT_Y12_1X12, MEDIA_BUS_FMT_Y10_1X10,
                                     MEDIA_BUS_FMT_Y8_1X8};
constexpr uint32_t kMinSize = 16;
constexpr uint32_t kMaxSize = 8192;

}  // namespace

SubDevice::SubDevice(const EntityProfile& entity, SensorControls* controls,
                     const TofSensor& sensor)
    : entity_(entity), controls_(controls), sensor_(sensor) {
    active_.assign(std::max<uint16_t>(entity_.pads, 1), defaultFormat());
}

v4l2_mbus_framefmt SubDevice::defaultFormat() const {
    v4l2_mbus_framefmt format;
    std::memset(&format, 0, sizeof(format));
    format.width = sensor_.defaultFrameWidth();
    format.height = sensor_.defaultFrameHeight();
    format.code = MEDIA_BUS_FMT_Y12_1X12;
    format.field = V4L2_FIELD_NONE;
    format.colorspace = V4L2_COLORSPACE_RAW;
    return format;
}

SubdevClient SubDevice::newClient() const {
    return SubdevClient{std::vector<v4l2_mbus_framefmt>(active_.size(), defaultFormat())};
}

void SubDevice::adjust(uint32_t pad, v4l2_mbus_framefmt& format,
                       const std::vector<v4l2_mbus_framefmt>& formats) const {
    v4l2_mbus_framefmt adjusted = defaultFormat();
    if (isSensor()) {
        // The sensor streams its own modes only: one (HQVGA) or the nearest (VGA).
        adjusted.width = format.width;
        adjusted.height = format.height;
        sensor_.fitFrameSize(adjusted.width, adjusted.height);
    } else if (pad > 0) {
        adjusted = formats[0];  // source pads carry what enters the sink
    } else {
        adjusted.width = std::clamp(format.width, kMinSize, kMaxSize);
        adjusted.height = std::clamp(format.height, kMinSize, kMaxSize);
        for (uint32_t code : kBridgeCodes)
            if (format.code == code) adjusted.code = code;
    }
    format = adjusted;
}

int SubDevice::setFormat(std::vector<v4l2_mbus_framefmt>& formats, v4l2_subdev_format& request) {
    adjust(request.pad, request.format, formats);
    formats[request.pad] = request.format;
    if (!isSensor() && request.pad == 0)
        for (size_t pad = 1; pad < formats.size(); ++pad) formats[pad] = request.format;
    return 0;
}

int SubDevice::ioctl(SubdevClient& client, unsigned long request, void* argument,
                     bool streaming) {
    if (SensorControls::isControlRequest(request))
        return controls_ ? controls_->ioctl(request, argument) : -ENOTTY;
    if (!argument) return -EFAULT;
    switch (request) {
    case VIDIOC_SUBDEV_QUERYCAP: {
        auto* capability = static_cast<v4l2_subdev_capability*>(argument);
        std::memset(capability, 0, sizeof(*capability));
        capability->version = kKernelVersion;
        return 0;
    }
    case VIDIOC_SUBDEV_G_FMT:
    case VIDIOC_SUBDEV_S_FMT: {
        auto* format = static_cast<v4l2_subdev_format*>(argument);
        if (format->which != V4L2_SUBDEV_FORMAT_TRY && format->which != V4L2_SUBDEV_FORMAT_ACTIVE)
            return -EINVAL;
        if (format->pad >= active_.size()) return -EINVAL;
        auto& formats = format->which == V4L2_SUBDEV_FORMAT_TRY ? client.tryFormats : active_;
        if (request == VIDIOC_SUBDEV_G_FMT) {
            format->format = formats[format->pad];
            return 0;
        }
        if (format->which == V4L2_SUBDEV_FORMAT_ACTIVE && streaming) return -EBUSY;
        return setFormat(formats, *format);
    }
    case VIDIOC_SUBDEV_ENUM_MBUS_CODE: {
        auto* code = static_cast<v4l2_subdev_mbus_code_enum*>(argument);
        if (code->pad >= active_.size()) return -EINVAL;
        const size_t count = isSensor() ? 1 : sizeof(kBridgeCodes) / sizeof(kBridgeCodes[0]);
        if (code->index >= count) return -EINVAL;
        code->code = kBridgeCodes[code->index];
        return 0;
    }
    case VIDIOC_SUBDEV_ENUM_FRAME_SIZE: {
        auto* size = static_cast<v4l2_subdev_frame_size_enum*>(argument);
        if (size->pad >= active_.size()) return -EINVAL;
        if (isSensor()) {
            const size_t sizes = sensor_.isVga() ? vgaModes().size() : 1;
            if (size->index >= sizes) return -EINVAL;
            uint32_t width = sensor_.defaultFrameWidth(), height = sensor_.defaultFrameHeight();
            if (sensor_.isVga()) {
                width = vgaModes()[size->index].width;
                height = vgaModes()[size->index].rows();
            }
            size->min_width = size->max_width = width;
            size->min_height = size->max_height = height;
        } else {
            if (size->index > 0) return -EINVAL;
            size->min_width = size->min_height = kMinSize;
            size->max_width = size->max_height = kMaxSize;
        }
        return 0;
    }
    default:
        return -ENOTTY;
    }
}

}  // namespace Zelvo::sim
