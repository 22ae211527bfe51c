// The sensor's I2C slave at 0x0c: 16-bit register numbers and 32-bit values, most
// significant byte first; the frame-rate register and the calibration memory behind a
// request register and a 512-byte data window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/tof_sensor.h"

namespace Zelvo::sim {

constexpr uint16_t kSensorI2cAddress = 0x0c;
constexpr uint16_t kCalibrationRequestRegister = 0x0631;
constexpr uint16_t kCalibrationWindowRegister = 0x0632;
constexpr uint16_t kFrameRateRegister = 0x0633;
constexpr size_t kCalibrationWindowBytes = 512;
constexpr size_t kCalibrationMemoryBytes = 0x10000;

// One message of an I2C transfer as the sensor saw it (read messages hold what it sent).
struct I2cMessageRecord {
    uint16_t address = 0;
    uint16_t flags = 0;
    std::vector<uint8_t> bytes;
};

class SensorRegisters {
public:
    explicit SensorRegisters(TofSensor& sensor) : sensor_(sensor) {}

    // A write message: register number, then data. 0 or a negative errno.
    int write(const uint8_t* data, size_t length);
    // A read message from the register last addressed.
    int read(uint8_t* data, size_t length);

    // The calibration memory of a module that holds no calibration: a fixed pattern. The
    // VGA module's memory holds its calibration (TofSensor::calibrationByte).
    static uint8_t calibrationByte(uint32_t address);
    uint32_t calibrationRequest() const { return calibrationRequest_; }

private:
    TofSensor& sensor_;
    uint16_t pointer_ = 0;
    uint32_t calibrationRequest_ = 0;
};

}  // namespace Zelvo::sim
