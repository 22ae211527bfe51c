// The sensor's registers over the I2C bus: 16-bit register numbers and values sent
// most significant byte first, in combined transfers (I2C_RDWR) addressed to the chip.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/host.h"

namespace Zelvo {

constexpr uint16_t kFrameRateRegister = 0x0633;
constexpr uint16_t kCalibrationRequestRegister = 0x0631;
constexpr uint16_t kCalibrationWindowRegister = 0x0632;

// Writes a 32-bit value to a register in one message: 0, or -2.
int writeRegister32(Host& host, int i2cFd, uint16_t chipAddress, uint16_t reg, uint32_t value);

// Selects a register and reads length bytes from it in one transfer of two messages:
// 0, or -2.
int readRegisterBytes(Host& host, int i2cFd, uint16_t chipAddress, uint16_t reg, uint8_t* dst,
                      uint16_t length);

}  // namespace Zelvo
