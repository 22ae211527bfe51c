// Turning a bus designation (a number, or an adapter name) into a bus number.
#pragma once

#include "core/host.h"

namespace Zelvo {

constexpr unsigned long kLastI2cBus = 0xFFFFF;

// Negative results of the lookups.
constexpr int kI2cBusNoMatch = -1;
constexpr int kI2cBusOutOfRange = -2;
constexpr int kI2cBusOutOfMemory = -3;
constexpr int kI2cBusNotUnique = -4;

// A number (decimal, 0x hexadecimal or 0 octal) up to 0xFFFFF is the bus itself; any
// other text, the empty one included, is looked up as an adapter name.
int resolveI2cBus(Host& host, const char* designation);

// The bus of the one adapter whose name equals the text exactly.
int findI2cBusByName(Host& host, const char* name);

}  // namespace Zelvo
