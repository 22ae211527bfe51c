#include "sim/sensor_registers.h"

#include <cerrno>
#include <cstring>

namespace Zelvo::sim {
namespace {

uint32_t bigEndian32(const uint8_t* data) {
    return (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) |
           uint32_t(data[3]);
}

void readBigEndian32(uint32_t value, uint8_t* data, size_t length) {
    uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                        uint8_t(value)};
    for (size_t i = 0; i < length; ++i) data[i] = i < 4 ? bytes[i] : 0;
}

}  // namespace

uint8_t SensorRegisters::calibrationByte(uint32_t address) {
    address &= kCalibrationMemoryBytes - 1;
    return static_cast<uint8_t>((address * 131u) ^ (address >> 7) ^ 0x5Au);
}

int SensorRegisters::write(const uint8_t* data, size_t length) {
    if (length < 2) return 0;  // an address-only write is acknowledged and does nothing
    pointer_ = static_cast<uint16_t>((data[0] << 8) | data[1]);
    if (length == 2) return 0;
    const uint8_t* value = data + 2;
    const size_t valueLength = length - 2;
    switch (pointer_) {
    case kFrameRateRegister:
        if (valueLength != 4) return -EIO;
        sensor_.writeFrameRateRegister(bigEndian32(value));
        return 0;
    case kCalibrationRequestRegister:
        if (valueLength != 4) return -EIO;
        calibrationRequest_ = bigEndian32(value);
        return 0;
    default:
        return 0;  // other registers take writes without effect
    }
}

int SensorRegisters::read(uint8_t* data, size_t length) {
    switch (pointer_) {
    case kFrameRateRegister:
        readBigEndian32(sensor_.frameRateRegister(), data, length);
        break;
    case kCalibrationRequestRegister:
        readBigEndian32(calibrationRequest_, data, length);
        break;
    case kCalibrationWindowRegister: {
        const uint32_t offset = calibrationRequest_ >> 16;
        const size_t available = calibrationRequest_ & 0xFFFF;
        for (size_t i = 0; i < length; ++i)
            data[i] = i < available && i < kCalibrationWindowBytes
                          ? sensor_.calibrationByte(offset + static_cast<uint32_t>(i))
                          : 0xFF;
        break;
    }
    default:
        std::memset(data, 0, length);
        break;
    }
    return 0;
}

}  // namespace Zelvo::sim
