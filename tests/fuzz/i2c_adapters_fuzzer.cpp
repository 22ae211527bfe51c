// The I2C adapter lists of procfs and sysfs, and the bus lookup by name over them.
#include <cstdlib>
#include <cstring>

#include "sensor/csi/i2c_adapters.h"
#include "sensor/csi/i2c_bus_resolution.h"
#include "tests/fuzz/fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Zelvo::fuzz::FuzzHost host(data, size);
    const auto adapters = Zelvo::collectI2cAdapters(host);
    if (adapters) {
        for (const Zelvo::I2cAdapter& adapter : *adapters) {
            // Names come from lines of at most 119 characters.
            if (adapter.name.size() >= 120) std::abort();
        }
    }
    // The designation is a C string: it ends at its first NUL.
    const std::string designation = host.parameter("designation").c_str();
    const int bus = Zelvo::resolveI2cBus(host, designation.c_str());
    // A documented failure, the number itself, or the number of an adapter of that name.
    if (bus < Zelvo::kI2cBusNotUnique) std::abort();
    if (bus >= 0 && adapters) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(designation.c_str(), &end, 0);
        bool named = false;
        for (const Zelvo::I2cAdapter& adapter : *adapters)
            named = named || (adapter.busNumber == bus && adapter.name == designation);
        if (!named && !(*end == '\0' && !designation.empty() && number == unsigned(bus)))
            std::abort();
    }
    // Every adapter opened to probe its kind is closed again.
    if (!host.openFds().empty()) std::abort();
    return 0;
}
