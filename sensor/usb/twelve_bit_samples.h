// Samples of an evaluation kit of any bit width, scaled to the 12-bit samples the depth
// devices expect.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelvo {

// Writes `count` 16-bit samples to dst from the kit's samples at src (row order, no gaps):
// 1-byte samples of 8 bits shifted left by 4; 2-byte little-endian samples shifted left by
// 12 - bitWidth below 12 bits (low 16 bits kept), copied at 12 and shifted right by
// bitWidth - 12 above. False, with dst untouched, for 1-byte samples of another width.
bool scaleToTwelveBits(const uint8_t* src, size_t count, uint32_t bytesPerSample,
                       uint32_t bitWidth, uint16_t* dst);

}  // namespace Zelvo
