// Decoding of one HQVGA raw sample: an 11-bit two's-complement phase value carried in a
// 16-bit little-endian word, possibly shifted up by the board's capture path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Zelvo {

// The 11-bit signed value (-1024..1023) of a raw word: shift right by `shift`, keep bits
// 0..10, bit 10 is the sign. Bits above bit 10 are ignored.
inline int32_t hqvgaSampleValue(uint16_t word, unsigned shift) {
    const int32_t bits = static_cast<int32_t>((word >> shift) & 0x7FFu);
    return (bits ^ 0x400) - 0x400;
}

// The decoded sample, 16 times the 11-bit value: -16384..16368.
inline int16_t hqvgaDecodedSample(uint16_t word, unsigned shift) {
    return static_cast<int16_t>(hqvgaSampleValue(word, shift) * 16);
}

// The little-endian word at sample index `index` of a raw byte stream.
inline uint16_t hqvgaRawWord(const uint8_t* raw, size_t index) {
    uint16_t word;
    std::memcpy(&word, raw + 2 * index, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = static_cast<uint16_t>((word >> 8) | (word << 8));
#endif
    return word;
}

}  // namespace Zelvo
