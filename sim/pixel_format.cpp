#include "sim/pixel_format.h"

#include <cstring>

namespace Zelvo::sim {
namespace {

// The 12-bit word the sensor puts on the bus. HQVGA samples are signed 11-bit values: the
// low 11 bits are the two's-complement sample, bit 11 stays clear. VGA samples are the
// unsigned 12-bit words themselves.
inline uint16_t word12(int16_t sample) { return static_cast<uint16_t>(sample) & 0x7FF; }
inline uint16_t word12(uint16_t sample) { return sample & 0xFFF; }

inline void storeWord(uint8_t* at, uint16_t word) {
    at[0] = static_cast<uint8_t>(word & 0xFF);
    at[1] = static_cast<uint8_t>(word >> 8);
}

// Tail of an even row that the reordered layout moves behind the odd row.
constexpr uint32_t kReorderTailSamples = 16;

template <typename Sample>
void packPacked(const Sample* samples, const PixelLayout& layout, uint8_t* dst) {
    for (uint32_t row = 0; row < layout.height; ++row) {
        const Sample* in = samples + static_cast<size_t>(row) * layout.width;
        uint8_t* out = dst + static_cast<size_t>(row) * layout.bytesPerLine;
        uint32_t column = 0;
        for (; column + 1 < layout.width; column += 2) {
            uint16_t first = word12(in[column]), second = word12(in[column + 1]);
            out[0] = static_cast<uint8_t>(first >> 4);
            out[1] = static_cast<uint8_t>(second >> 4);
            out[2] = static_cast<uint8_t>((first & 0x0F) | ((second & 0x0F) << 4));
            out += 3;
        }
        if (column < layout.width) {
            uint16_t first = word12(in[column]);
            out[0] = static_cast<uint8_t>(first >> 4);
            out[1] = 0;
            out[2] = static_cast<uint8_t>(first & 0x0F);
            out += 3;
        }
        const uint8_t* rowEnd = dst + static_cast<size_t>(row + 1) * layout.bytesPerLine;
        std::memset(out, 0, static_cast<size_t>(rowEnd - out));
    }
}

template <typename Sample>
void packWords(const Sample* samples, const PixelLayout& layout, uint8_t* dst) {
    for (uint32_t row = 0; row < layout.height; ++row) {
        const Sample* in = samples + static_cast<size_t>(row) * layout.width;
        uint8_t* out = dst + static_cast<size_t>(row) * layout.bytesPerLine;
        for (uint32_t column = 0; column < layout.width; ++column)
            storeWord(out + 2 * column, word12(in[column]));
        std::memset(out + 2 * layout.width, 0, layout.bytesPerLine - 2 * layout.width);
    }
}

// Row 2k's first width-16 samples, then row 2k+1 whole, then row 2k's last 16 samples,
// each word shifted left by 4.
template <typename Sample>
void packReordered(const Sample* samples, const PixelLayout& layout, uint8_t* dst) {
    const uint32_t width = layout.width;
    const uint32_t head = width > kReorderTailSamples ? width - kReorderTailSamples : 0;
    uint32_t row = 0;
    for (; row + 1 < layout.height; row += 2) {
        const Sample* even = samples + static_cast<size_t>(row) * width;
        const Sample* odd = even + width;
        uint8_t* out = dst + static_cast<size_t>(row) * layout.bytesPerLine;
        for (uint32_t i = 0; i < head; ++i) storeWord(out + 2 * i, word12(even[i]) << 4);
        out += 2 * head;
        for (uint32_t i = 0; i < width; ++i)
            storeWord(out + 2 * i, word12(odd[i]) << 4);
        out += 2 * width;
        for (uint32_t i = head; i < width; ++i)
            storeWord(out + 2 * (i - head), word12(even[i]) << 4);
    }
    if (row < layout.height) {  // an odd last row stays in place
        const Sample* last = samples + static_cast<size_t>(row) * width;
        uint8_t* out = dst + static_cast<size_t>(row) * layout.bytesPerLine;
        for (uint32_t i = 0; i < width; ++i) storeWord(out + 2 * i, word12(last[i]) << 4);
    }
}

template <typename Sample>
void pack(const Sample* samples, const PixelLayout& layout, uint8_t* dst) {
    if (layout.pixelFormat == V4L2_PIX_FMT_Y12P)
        packPacked(samples, layout, dst);
    else if (layout.shiftedReorder)
        packReordered(samples, layout, dst);
    else
        packWords(samples, layout, dst);
}

}  // namespace

void computeLayout(PixelLayout& layout, uint32_t strideAlignment) {
    uint32_t rowBytes = layout.pixelFormat == V4L2_PIX_FMT_Y12P ? (layout.width * 3 + 1) / 2
                                                                : layout.width * 2;
    // Reordered row pairs fill their blocks exactly: no padding.
    if (strideAlignment > 1 && !layout.shiftedReorder)
        rowBytes = (rowBytes + strideAlignment - 1) / strideAlignment * strideAlignment;
    layout.bytesPerLine = rowBytes;
    layout.sizeImage = rowBytes * layout.height;
}

void packSubFrame(const int16_t* samples, const PixelLayout& layout, uint8_t* dst) {
    pack(samples, layout, dst);
}

void packSubFrame(const uint16_t* words, const PixelLayout& layout, uint8_t* dst) {
    pack(words, layout, dst);
}

}  // namespace Zelvo::sim
