// The I2C bus device: opening "/dev/i2c-%d" and the adapter settings requests.
//
// The plain extern "C" functions are exported from the library under their own names
// and talk to the operating system; the Zelvo:: versions take the host to talk to and
// are what the sensor uses. Each setting function returns 0, or the negated errno of
// the failed request after printing one "Error: ..." line on standard error.
#pragma once

#include <cstddef>

#include "core/host.h"

extern "C" {
int i2c_open_i2c_dev(int i2cbus, char* filename, size_t size, int quiet);
int i2c_set_slave_addr(int file, int address, int force);
int i2c_set_adapter_timeout(int file, int timeout);
int i2c_set_adapter_retries(int file, int retries);
int i2c_get_functionality(int file, unsigned long* funcs);
}

namespace Zelvo {

// Size of the path buffer the driver passes when it opens a bus.
constexpr size_t kI2cPathBytes = 20;

// Formats "/dev/i2c-<bus>" into filename (at most size bytes) and opens it read-write.
// Returns the descriptor or -1; unless quiet, a failure is explained on standard error.
int i2cOpenDev(Host& host, int i2cbus, char* filename, size_t size, int quiet);
int i2cSetSlaveAddr(Host& host, int file, int address, int force);
// Timeout in units of 10 ms; 0 selects 3.
int i2cSetAdapterTimeout(Host& host, int file, int timeout);
// 0 selects 2.
int i2cSetAdapterRetries(Host& host, int file, int retries);
int i2cGetFunctionality(Host& host, int file, unsigned long* funcs);

}  // namespace Zelvo
