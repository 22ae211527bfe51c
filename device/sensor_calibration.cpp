#include "device/sensor_calibration.h"

namespace Zelvo {

SensorCalibration readSensorCalibration(ZelvoTOFCSISensor& sensor) {
    SensorCalibration result;
    uint8_t* buffer = sensor.calibrationData();
    if (buffer == nullptr) return result;

    constexpr size_t kBlock = ZelvoTOFCSISensor::kCalibrationBlockBytes;
    auto readBlock = [&](size_t block) {
        const auto offset = static_cast<uint16_t>(kSensorCalibrationOffset + kBlock * block);
        if (sensor.readCalibrationBlock(offset, buffer + kBlock * block) == 0) return true;
        result.failedBlock = static_cast<int>(block);
        return false;
    };

    if (!readBlock(0)) return result;
    result.announced = static_cast<size_t>(buffer[0]) | static_cast<size_t>(buffer[1]) << 8;
    if (result.announced < kSensorCalibrationMinBytes ||
        result.announced > kSensorCalibrationMaxBytes) {
        return result;
    }
    const size_t blocks = (result.announced + kBlock - 1) / kBlock;
    for (size_t block = 1; block < blocks; ++block) {
        if (!readBlock(block)) return result;
    }
    result.length = result.announced;
    return result;
}

}  // namespace Zelvo
