#include "sim/sensor_controls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/videodev2.h>

namespace Zelvo::sim {
namespace {

constexpr size_t kMaxWriteLog = 1024;

struct ControlInfo {
    uint32_t id;
    const char* name;
    int32_t minimum, maximum, defaultValue;
};

constexpr ControlInfo kControls[] = {
    {V4L2_CID_EXPOSURE, "Exposure", kExposureMin, kExposureMax, kExposureDefault},
    {kRangeControlId, "Range", kRangeControlMin, kRangeControlMax, 0},
};

const ControlInfo* findControl(uint32_t id) {
    for (const ControlInfo& info : kControls)
        if (info.id == id) return &info;
    return nullptr;
}

}  // namespace

bool SensorControls::isControlRequest(unsigned long request) {
    return request == VIDIOC_QUERYCTRL || request == VIDIOC_G_CTRL ||
           request == VIDIOC_S_CTRL || request == VIDIOC_G_EXT_CTRLS ||
           request == VIDIOC_S_EXT_CTRLS || request == VIDIOC_TRY_EXT_CTRLS;
}

int SensorControls::get(uint32_t id, int32_t& value) const {
    if (id == V4L2_CID_EXPOSURE) {
        value = sensor_.exposure();
        return 0;
    }
    if (id == kRangeControlId) {
        value = sensor_.rangeControl();
        return 0;
    }
    return -EINVAL;
}

int SensorControls::set(uint32_t id, int32_t value) {
    const ControlInfo* info = findControl(id);
    if (!info) return -EINVAL;
    // Integer controls clamp to their range, as the kernel's control framework does.
    value = std::clamp(value, info->minimum, info->maximum);
    if (id == V4L2_CID_EXPOSURE)
        sensor_.setExposure(value);
    else
        sensor_.setRangeControl(value);
    if (writes_.size() < kMaxWriteLog) writes_.push_back({id, value});
    return 0;
}

int SensorControls::query(void* argument) const {
    auto* query = static_cast<v4l2_queryctrl*>(argument);
    const ControlInfo* info = nullptr;
    if (query->id & V4L2_CTRL_FLAG_NEXT_CTRL) {
        uint32_t after = query->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        for (const ControlInfo& candidate : kControls)
            if (candidate.id > after && (!info || candidate.id < info->id)) info = &candidate;
    } else {
        info = findControl(query->id);
    }
    if (!info) return -EINVAL;
    std::memset(query, 0, sizeof(*query));
    query->id = info->id;
    query->type = V4L2_CTRL_TYPE_INTEGER;
    std::strncpy(reinterpret_cast<char*>(query->name), info->name, sizeof(query->name) - 1);
    query->minimum = info->minimum;
    query->maximum = info->maximum;
    query->step = 1;
    query->default_value = info->defaultValue;
    return 0;
}

int SensorControls::extended(unsigned long request, void* argument) {
    auto* controls = static_cast<v4l2_ext_controls*>(argument);
    if (controls->count > 0 && !controls->controls) return -EFAULT;
    for (uint32_t i = 0; i < controls->count; ++i) {
        if (!findControl(controls->controls[i].id)) {
            controls->error_idx = i;
            return -EINVAL;
        }
    }
    for (uint32_t i = 0; i < controls->count; ++i) {
        v4l2_ext_control& control = controls->controls[i];
        int32_t value = control.value;
        if (request == VIDIOC_S_EXT_CTRLS) {
            set(control.id, value);
        } else if (request == VIDIOC_TRY_EXT_CTRLS) {
            const ControlInfo* info = findControl(control.id);
            value = std::clamp(value, info->minimum, info->maximum);
        }
        if (request != VIDIOC_TRY_EXT_CTRLS) get(control.id, value);
        control.value = value;
    }
    return 0;
}

int SensorControls::ioctl(unsigned long request, void* argument) {
    if (!argument) return -EFAULT;
    switch (request) {
    case VIDIOC_QUERYCTRL:
        return query(argument);
    case VIDIOC_G_CTRL: {
        auto* control = static_cast<v4l2_control*>(argument);
        return get(control->id, control->value);
    }
    case VIDIOC_S_CTRL: {
        auto* control = static_cast<v4l2_control*>(argument);
        int result = set(control->id, control->value);
        if (result == 0) get(control->id, control->value);
        return result;
    }
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
    case VIDIOC_TRY_EXT_CTRLS:
        return extended(request, argument);
    default:
        return -ENOTTY;
    }
}

}  // namespace Zelvo::sim
