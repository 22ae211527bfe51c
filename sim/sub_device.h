// A V4L2 sub-device node (/dev/v4l-subdevN): pad formats, and on the sensor its controls.
#pragma once

#include <cstdint>
#include <linux/v4l2-subdev.h>
#include <vector>

#include "sim/board_profile.h"
#include "sim/sensor_controls.h"
#include "sim/tof_sensor.h"

namespace Zelvo::sim {

// Per-descriptor state: the TRY formats of the pads. They belong to the open file and
// start from the driver's defaults, whatever the ACTIVE formats are.
struct SubdevClient {
    std::vector<v4l2_mbus_framefmt> tryFormats;
};

class SubDevice {
public:
    // controls: the sensor's controls, or null for a bridge. Formats start from the
    // sensor's default frame; the sensor's pad takes only the sizes the sensor streams.
    SubDevice(const EntityProfile& entity, SensorControls* controls, const TofSensor& sensor);

    const EntityProfile& entity() const { return entity_; }
    bool isSensor() const { return entity_.role == EntityRole::Sensor; }
    // The state of a newly opened file.
    SubdevClient newClient() const;

    // 0 or a negative errno. streaming: the pipeline is running (ACTIVE formats locked).
    int ioctl(SubdevClient& client, unsigned long request, void* argument, bool streaming);

    const v4l2_mbus_framefmt& activeFormat(uint32_t pad) const { return active_[pad]; }

private:
    v4l2_mbus_framefmt defaultFormat() const;
    // Adjusts a requested format to what the pad supports.
    void adjust(uint32_t pad, v4l2_mbus_framefmt& format,
                const std::vector<v4l2_mbus_framefmt>& formats) const;
    int setFormat(std::vector<v4l2_mbus_framefmt>& formats, v4l2_subdev_format& request);

    EntityProfile entity_;
    SensorControls* controls_;
    const TofSensor& sensor_;
    std::vector<v4l2_mbus_framefmt> active_;
};

}  // namespace Zelvo::sim
