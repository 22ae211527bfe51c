// What the media walk finds of the capture pipeline: the media device, the sub-device
// descriptors (bridges and the sensor) and the sensor's I2C bus designation.
#pragma once

#include <cstdint>

namespace Zelvo {

struct MediaPipeline {
    static constexpr int kMaxSubdevs = 4;

    char mediaPath[80] = {};                      // "/dev/<media entry>"
    int32_t subdevFds[kMaxSubdevs] = {-1, -1, -1, -1};
    uint8_t sensorSubdevIndex = 0;                // entry of the sensor's own sub-device
    uint8_t subdevCount = 0;                      // valid entries of subdevFds
    char busName[10] = {};                        // bus number or adapter name, as text

    // Descriptor of the sensor's sub-device, or -1 when none is open.
    int sensorSubdevFd() const {
        return sensorSubdevIndex < subdevCount ? subdevFds[sensorSubdevIndex] : -1;
    }
};

}  // namespace Zelvo
