#include "sensor/csi/i2c_bus_resolution.h"

#include <cstdio>
#include <cstdlib>

#include "sensor/csi/i2c_adapters.h"

namespace Zelvo {

int resolveI2cBus(Host& host, const char* designation) {
    char* end = nullptr;
    const unsigned long number = strtoul(designation, &end, 0);
    if (*designation == '\0' || *end != '\0') return findI2cBusByName(host, designation);
    if (number > kLastI2cBus) {
        fprintf(stderr, "Error: I2C bus out of range!\n");
        return kI2cBusOutOfRange;
    }
    return static_cast<int>(number);
}

int findI2cBusByName(Host& host, const char* name) {
    const auto adapters = collectI2cAdapters(host);
    if (!adapters) {
        fprintf(stderr, "Error: Out of memory!\n");
        return kI2cBusOutOfMemory;
    }
    int bus = kI2cBusNoMatch;
    for (const I2cAdapter& adapter : *adapters) {
        if (adapter.name != name) continue;
        if (bus >= 0) {
            fprintf(stderr, "Error: I2C bus name is not unique!\n");
            return kI2cBusNotUnique;
        }
        bus = adapter.busNumber;
    }
    if (bus < 0) fprintf(stderr, "Error: I2C bus name doesn't match any bus present!\n");
    return bus;
}

}  // namespace Zelvo
