// The I2C adapters present on the system, collected from "/proc/bus/i2c" or from
// sysfs. The list lives only for one lookup.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/host.h"

namespace Zelvo {

struct I2cAdapter {
    int busNumber = 0;            // the number "/dev/i2c-%d" is formatted with
    std::string name;
    std::string kindText;         // "dummy", "isa", "i2c", "smbus", "unknown" (sysfs)
    std::string descriptionText;  // "Dummy bus", "ISA bus", "I2C adapter", ... (sysfs)
};

// The adapters in the order the system lists them; an empty list when neither source is
// readable; nothing when memory ran out.
std::optional<std::vector<I2cAdapter>> collectI2cAdapters(Host& host);

}  // namespace Zelvo
