#include "sensor/csi/frame_copy.h"

#include <algorithm>
#include <cstring>

namespace Zelvo {
namespace {

constexpr size_t kSourceRowBytes = 512;
constexpr size_t kCopiedRowBytes = 480;

// A 960-byte block holds two rows: the first 224 samples of the even row, the whole odd
// row, then the last 16 samples of the even row.
constexpr size_t kReorderBlockBytes = 960;
constexpr size_t kReorderFirstBytes = 448;     // s[0..448): even row, head
constexpr size_t kReorderMovedStart = 928;     // s[928..960): even row, tail
constexpr size_t kReorderMovedBytes = 32;
constexpr size_t kReorderRestBytes = 480;      // s[448..928): odd row

constexpr size_t kBytesPerSample = 2;
constexpr size_t kPackedTailBytes = 8;
constexpr size_t kPackedRowAlignment = 16;

// The first rowBytes of every stride bytes of the source, as long as whole rows remain.
void copyRows(const uint8_t* src, uint8_t* dst, size_t length, size_t rowBytes, size_t stride,
              size_t& pos, size_t capacity) {
    for (size_t offset = 0; offset + rowBytes <= length; offset += stride) {
        if (pos + rowBytes > capacity) return;
        memcpy(dst + pos, src + offset, rowBytes);
        pos += rowBytes;
    }
}

}  // namespace

void copyWhole(const uint8_t* src, uint8_t* dst, size_t length, uint32_t width, uint32_t stride,
               size_t& pos, size_t capacity) {
    const size_t rowBytes = static_cast<size_t>(width) * kBytesPerSample;
    if (rowBytes == 0 || stride <= rowBytes) {
        if (pos >= capacity) return;
        const size_t bytes = length < capacity - pos ? length : capacity - pos;
        memcpy(dst + pos, src, bytes);
        pos += bytes;
        return;
    }
    // Padded rows: the padding is not part of the frame.
    copyRows(src, dst, length, rowBytes, stride, pos, capacity);
}

void copyRows480of512(const uint8_t* src, uint8_t* dst, size_t length, uint32_t, uint32_t,
                      size_t& pos, size_t capacity) {
    copyRows(src, dst, length, kCopiedRowBytes, kSourceRowBytes, pos, capacity);
}

void copyReorder960(const uint8_t* src, uint8_t* dst, size_t length, uint32_t, uint32_t,
                    size_t& pos, size_t capacity) {
    for (size_t offset = 0; offset + kReorderBlockBytes <= length; offset += kReorderBlockBytes) {
        if (pos + kReorderBlockBytes > capacity) return;
        const uint8_t* block = src + offset;
        uint8_t* out = dst + pos;
        memcpy(out, block, kReorderFirstBytes);
        // The even row's tail sits behind the odd row: taken from there, the rows stay apart.
        memcpy(out + kReorderFirstBytes, block + kReorderMovedStart, kReorderMovedBytes);
        memcpy(out + kReorderFirstBytes + kReorderMovedBytes, block + kReorderFirstBytes,
               kReorderRestBytes);
        pos += kReorderBlockBytes;
    }
}

void unpackY12P(const uint8_t* src, uint8_t* dst, size_t length, uint32_t width,
                uint32_t reportedStride, size_t& pos, size_t capacity) {
    const size_t rowBytes = width * 3 / 2;
    const size_t computedStride = (rowBytes + kPackedRowAlignment - 1) / kPackedRowAlignment *
                                  kPackedRowAlignment;
    const size_t stride = reportedStride >= rowBytes ? reportedStride : computedStride;
    const size_t padding = stride - rowBytes;
    // The tail left unread is the last row's padding: a row without padding (640 or 320
    // samples) ends in samples, and skipping 8 bytes there would lose the frame's last ones.
    const size_t tail = std::min(kPackedTailBytes, padding);
    if (length <= tail) return;
    const size_t end = length - tail;
    const size_t sampleCapacity = capacity / 2;
    uint16_t* samples = reinterpret_cast<uint16_t*>(dst);
    size_t offset = 0;
    while (pos + 2 <= sampleCapacity && offset + 3 <= length) {
        const uint8_t b0 = src[offset];
        const uint8_t b1 = src[offset + 1];
        const uint8_t b2 = src[offset + 2];
        samples[pos] = static_cast<uint16_t>((b0 << 4) | (b2 & 0x0F));
        samples[pos + 1] = static_cast<uint16_t>((b1 << 4) | (b2 >> 4));
        pos += 2;
        offset += 3;
        if (offset >= end) return;
        if (padding != 0 && width != 0 && pos % width == 0) offset += padding;
    }
}

}  // namespace Zelvo
