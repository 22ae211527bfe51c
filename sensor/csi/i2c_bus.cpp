#include "sensor/csi/i2c_bus.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>

namespace Zelvo {
namespace {

// The adapter requests take their value in place of the pointer argument.
void* asArgument(long value) { return reinterpret_cast<void*>(static_cast<intptr_t>(value)); }

}  // namespace

int i2cOpenDev(Host& host, int i2cbus, char* filename, size_t size, int quiet) {
    char local[kI2cPathBytes];
    if (!filename || size == 0) {
        filename = local;
        size = sizeof local;
    }
    snprintf(filename, size, "/dev/i2c-%d", i2cbus);
    const int file = host.open(filename, O_RDWR);
    if (file < 0 && !quiet) {
        const int error = errno;
        if (error == ENOENT) {
            fprintf(stderr, "Error: Could not open file `/dev/i2c-%d': %s\n", i2cbus,
                    strerror(error));
        } else {
            fprintf(stderr, "Error: Could not open file `%s': %s\n", filename, strerror(error));
            if (error == EACCES) fprintf(stderr, "Run as root?\n");
        }
        errno = error;
    }
    return file;
}

int i2cSetSlaveAddr(Host& host, int file, int address, int force) {
    if (host.ioctl(file, force ? I2C_SLAVE_FORCE : I2C_SLAVE, asArgument(address)) < 0) {
        const int error = errno;
        fprintf(stderr, "Error: Could not set address to 0x%02x: %s\n", address, strerror(error));
        return -error;
    }
    return 0;
}

int i2cSetAdapterTimeout(Host& host, int file, int timeout) {
    if (host.ioctl(file, I2C_TIMEOUT, asArgument(timeout ? timeout : 3)) < 0) {
        const int error = errno;
        fprintf(stderr, "Error: Could not set timeout to %d: %s\n", timeout, strerror(error));
        return -error;
    }
    return 0;
}

int i2cSetAdapterRetries(Host& host, int file, int retries) {
    if (host.ioctl(file, I2C_RETRIES, asArgument(retries ? retries : 2)) < 0) {
        const int error = errno;
        fprintf(stderr, "Error: Could not set retries to %d: %s\n", retries, strerror(error));
        return -error;
    }
    return 0;
}

int i2cGetFunctionality(Host& host, int file, unsigned long* funcs) {
    if (host.ioctl(file, I2C_FUNCS, funcs) < 0) {
        const int error = errno;
        fprintf(stderr, "Error: Could not get adapter functionality: %s\n", strerror(error));
        return -error;
    }
    return 0;
}

}  // namespace Zelvo

extern "C" {

int i2c_open_i2c_dev(int i2cbus, char* filename, size_t size, int quiet) {
    return Zelvo::i2cOpenDev(*Zelvo::systemHost(), i2cbus, filename, size, quiet);
}

int i2c_set_slave_addr(int file, int address, int force) {
    return Zelvo::i2cSetSlaveAddr(*Zelvo::systemHost(), file, address, force);
}

int i2c_set_adapter_timeout(int file, int timeout) {
    return Zelvo::i2cSetAdapterTimeout(*Zelvo::systemHost(), file, timeout);
}

int i2c_set_adapter_retries(int file, int retries) {
    return Zelvo::i2cSetAdapterRetries(*Zelvo::systemHost(), file, retries);
}

int i2c_get_functionality(int file, unsigned long* funcs) {
    return Zelvo::i2cGetFunctionality(*Zelvo::systemHost(), file, funcs);
}

}  // extern "C"
