// Reads the calibration that the camera module keeps in its own memory, over the CSI
// sensor's I2C bus, into the sensor's calibration buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sensor/csi/csi_sensor.h"

namespace Zelvo {

// Where the calibration starts in the module's memory, and the bounds of its length.
constexpr uint16_t kSensorCalibrationOffset = 80;
constexpr size_t kSensorCalibrationMinBytes = 512;
constexpr size_t kSensorCalibrationMaxBytes = ZelvoTOFCSISensor::kCalibrationBytes;

struct SensorCalibration {
    size_t length = 0;     // bytes read into sensor.calibrationData(); 0 when none were
    size_t announced = 0;  // the length block 0 announces; 0 when block 0 was not read
    int failedBlock = -1;  // the block whose read failed, or -1

    bool read() const { return length > 0; }
};

// Block b (512 bytes) comes from module offset 80 + 512 b and lands at byte 512 b of the
// calibration buffer. The first little-endian word of block 0 is the total length L,
// accepted from 512 to 16384 bytes; blocks 1 to ceil(L / 512) - 1 follow. A failed block
// read or a length out of bounds reads nothing. Needs an opened sensor.
SensorCalibration readSensorCalibration(ZelvoTOFCSISensor& sensor);

}  // namespace Zelvo
