// An I2C adapter as /dev/i2c-N presents it: functionality, slave address, combined
// transfers, with the sensor's registers on the camera's bus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/fault_injection.h"
#include "sim/sensor_registers.h"

namespace Zelvo::sim {

// State an open /dev/i2c-N keeps per descriptor.
struct I2cClient {
    uint16_t address = 0;
    bool tenBit = false;
};

class I2cAdapter {
public:
    // sensor is null on adapters without the camera.
    I2cAdapter(int bus, std::string name, SensorRegisters* sensor, FaultInjection& faults)
        : bus_(bus), name_(std::move(name)), sensor_(sensor), faults_(faults) {}

    int bus() const { return bus_; }
    const std::string& name() const { return name_; }

    // 0 (or a count for I2C_RDWR), or a negative errno.
    int ioctl(I2cClient& client, unsigned long request, void* argument);
    // Plain read from the client's address.
    long read(I2cClient& client, void* buffer, size_t count);

    // The messages of the last combined transfer that reached the sensor.
    const std::vector<I2cMessageRecord>& lastTransfer() const { return lastTransfer_; }
    // Every write message the sensor received, oldest first.
    const std::vector<I2cMessageRecord>& sensorWrites() const { return sensorWrites_; }

private:
    int transfer(void* argument);
    unsigned long functionality();

    int bus_;
    std::string name_;
    SensorRegisters* sensor_;
    FaultInjection& faults_;
    std::vector<I2cMessageRecord> lastTransfer_;
    std::vector<I2cMessageRecord> sensorWrites_;
};

}  // namespace Zelvo::sim
