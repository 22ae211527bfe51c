#include "sensor/csi/sensor_registers.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

namespace Zelvo {

int writeRegister32(Host& host, int i2cFd, uint16_t chipAddress, uint16_t reg, uint32_t value) {
    uint8_t bytes[6] = {
        static_cast<uint8_t>(reg >> 8),    static_cast<uint8_t>(reg),
        static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
        static_cast<uint8_t>(value >> 8),  static_cast<uint8_t>(value),
    };
    i2c_msg message{chipAddress, 0, sizeof bytes, bytes};
    i2c_rdwr_ioctl_data transfer{&message, 1};
    return host.ioctl(i2cFd, I2C_RDWR, &transfer) < 1 ? -2 : 0;
}

int readRegisterBytes(Host& host, int i2cFd, uint16_t chipAddress, uint16_t reg, uint8_t* dst,
                      uint16_t length) {
    uint8_t registerBytes[2] = {static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg)};
    i2c_msg messages[2] = {
        {chipAddress, 0, sizeof registerBytes, registerBytes},
        {chipAddress, I2C_M_RD, length, dst},
    };
    i2c_rdwr_ioctl_data transfer{messages, 2};
    return host.ioctl(i2cFd, I2C_RDWR, &transfer) < 2 ? -2 : 0;
}

}  // namespace Zelvo
