#include "sim/i2c_adapter.h"

#include <cerrno>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

namespace Zelvo::sim {
namespace {

constexpr size_t kMaxMessageLength = 8192;
constexpr size_t kMaxWriteLog = 1024;

}  // namespace

unsigned long I2cAdapter::functionality() {
    unsigned long mask = I2C_FUNC_SMBUS_EMUL;
    if (!faults_.plainI2cRemoved()) mask |= I2C_FUNC_I2C;
    return mask;
}

int I2cAdapter::ioctl(I2cClient& client, unsigned long request, void* argument) {
    const unsigned long value = reinterpret_cast<unsigned long>(argument);
    switch (request) {
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE:
        if (value > (client.tenBit ? 0x3FFul : 0x7Ful)) return -EINVAL;
        // The camera's kernel driver holds the sensor's address.
        if (request == I2C_SLAVE && sensor_ && value == kSensorI2cAddress) return -EBUSY;
        client.address = static_cast<uint16_t>(value);
        return 0;
    case I2C_TENBIT:
        client.tenBit = value != 0;
        return 0;
    case I2C_RETRIES:
        return 0;  // the simulated bus never needs a retry or times out
    case I2C_TIMEOUT:
        return value > 0x7FFFFFFFul / 10 ? -EINVAL : 0;
    case I2C_PEC:
        return 0;
    case I2C_FUNCS:
        if (!argument) return -EFAULT;
        *static_cast<unsigned long*>(argument) = functionality();
        return 0;
    case I2C_RDWR:
        return transfer(argument);
    default:
        return -ENOTTY;
    }
}

int I2cAdapter::transfer(void* argument) {
    if (!argument) return -EFAULT;
    if (!(functionality() & I2C_FUNC_I2C)) return -EOPNOTSUPP;
    auto* data = static_cast<i2c_rdwr_ioctl_data*>(argument);
    if (!data->msgs || data->nmsgs == 0 || data->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) return -EINVAL;
    for (uint32_t i = 0; i < data->nmsgs; ++i) {
        const i2c_msg& message = data->msgs[i];
        if (message.len > kMaxMessageLength) return -EINVAL;
        if (message.len > 0 && !message.buf) return -EFAULT;
    }
    // Every message addresses the sensor, or nobody acknowledges.
    for (uint32_t i = 0; i < data->nmsgs; ++i)
        if (!sensor_ || data->msgs[i].addr != kSensorI2cAddress) return -EREMOTEIO;

    lastTransfer_.clear();
    for (uint32_t i = 0; i < data->nmsgs; ++i) {
        i2c_msg& message = data->msgs[i];
        int result = (message.flags & I2C_M_RD) ? sensor_->read(message.buf, message.len)
                                                 : sensor_->write(message.buf, message.len);
        I2cMessageRecord record;
        record.address = message.addr;
        record.flags = message.flags;
        record.bytes.assign(message.buf, message.buf + message.len);
        if (!(message.flags & I2C_M_RD) && sensorWrites_.size() < kMaxWriteLog)
            sensorWrites_.push_back(record);
        lastTransfer_.push_back(std::move(record));
        if (result < 0) return result;
    }
    return static_cast<int>(data->nmsgs);
}

long I2cAdapter::read(I2cClient& client, void* buffer, size_t count) {
    if (count > kMaxMessageLength) count = kMaxMessageLength;
    if (!sensor_ || client.address != kSensorI2cAddress) return -EREMOTEIO;
    int result = sensor_->read(static_cast<uint8_t*>(buffer), count);
    return result < 0 ? result : static_cast<long>(count);
}

}  // namespace Zelvo::sim
