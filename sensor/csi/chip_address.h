// Parsing the 7-bit address of a chip on the I2C bus.
#pragma once

namespace Zelvo {

constexpr long kFirstChipAddress = 0x03;
constexpr long kLastChipAddress = 0x77;

// The address (0x03..0x77) from a number in decimal, 0x hexadecimal or 0 octal;
// -1 when the text is not a number, -2 when the value is out of range.
int parseChipAddress(const char* text);

}  // namespace Zelvo
