// The sensor's V4L2 controls (measuring range and exposure), served by the sensor's
// sub-device, or by the video node on boards without sub-devices.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/tof_sensor.h"

namespace Zelvo::sim {

// Driver-private range control: 0 for 37.5 MHz, 1 for 75 MHz.
constexpr uint32_t kRangeControlId = 0x00981901;

struct ControlWrite {
    uint32_t id;
    int32_t value;  // the value the control took
};

class SensorControls {
public:
    explicit SensorControls(TofSensor& sensor) : sensor_(sensor) {}

    // Handles the control requests; -ENOTTY for any other request.
    int ioctl(unsigned long request, void* argument);
    static bool isControlRequest(unsigned long request);

    const std::vector<ControlWrite>& writes() const { return writes_; }

private:
    int get(uint32_t id, int32_t& value) const;
    int set(uint32_t id, int32_t value);
    int query(void* argument) const;
    int extended(unsigned long request, void* argument);

    TofSensor& sensor_;
    std::vector<ControlWrite> writes_;
};

}  // namespace Zelvo::sim
