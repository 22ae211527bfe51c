#include "sensor/usb/twelve_bit_samples.h"

#include <algorithm>

namespace Zelvo {
namespace {

constexpr uint32_t kTargetBits = 12;

inline uint32_t littleEndianSample(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8;
}

}  // namespace

bool scaleToTwelveBits(const uint8_t* src, size_t count, uint32_t bytesPerSample,
                       uint32_t bitWidth, uint16_t* dst) {
    if (bytesPerSample == 1) {
        if (bitWidth != 8) return false;
        for (size_t i = 0; i < count; ++i) dst[i] = static_cast<uint16_t>(src[i] << 4);
        return true;
    }
    if (bitWidth == kTargetBits) {
        for (size_t i = 0; i < count; ++i)
            dst[i] = static_cast<uint16_t>(littleEndianSample(src + 2 * i));
    } else if (bitWidth < kTargetBits) {
        const uint32_t shift = kTargetBits - bitWidth;
        for (size_t i = 0; i < count; ++i)
            dst[i] = static_cast<uint16_t>(littleEndianSample(src + 2 * i) << shift);
    } else {
        // A shift of 16 or more leaves nothing of a 16-bit sample.
        const uint32_t shift = std::min<uint32_t>(bitWidth - kTargetBits, 16);
        for (size_t i = 0; i < count; ++i)
            dst[i] = static_cast<uint16_t>(littleEndianSample(src + 2 * i) >> shift);
    }
    return true;
}

}  // namespace Zelvo
