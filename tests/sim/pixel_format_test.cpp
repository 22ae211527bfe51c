// Byte placement of one sub-frame in each delivery format.
#include <gtest/gtest.h>

#include <vector>

#include "sim/pixel_format.h"

namespace Zelvo::sim {
namespace {

constexpr uint32_t kWidth = 240;
constexpr uint32_t kHeight = 180;

// Distinct signed 11-bit samples, negative ones included.
std::vector<int16_t> pattern() {
    std::vector<int16_t> samples(kWidth * kHeight);
    for (uint32_t r = 0; r < kHeight; ++r)
        for (uint32_t c = 0; c < kWidth; ++c)
            samples[r * kWidth + c] = static_cast<int16_t>(int((r * 241 + c * 7) % 2048) - 1024);
    return samples;
}

uint16_t word(int16_t sample) { return static_cast<uint16_t>(sample) & 0x7FF; }

uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

PixelLayout layout(uint32_t pixelFormat, uint32_t alignment, bool reorder = false) {
    PixelLayout l;
    l.pixelFormat = pixelFormat;
    l.width = kWidth;
    l.height = kHeight;
    l.shiftedReorder = reorder;
    computeLayout(l, alignment);
    return l;
}

TEST(PixelFormat, PackedRowsOf360BytesOnA368ByteStride) {
    const auto samples = pattern();
    const PixelLayout l = layout(V4L2_PIX_FMT_Y12P, 16);
    EXPECT_EQ(l.bytesPerLine, 368u);
    EXPECT_EQ(l.sizeImage, 368u * 180);
    std::vector<uint8_t> bytes(l.sizeImage, 0xEE);
    packSubFrame(samples.data(), l, bytes.data());
    for (uint32_t r = 0; r < kHeight; ++r) {
        const uint8_t* row = bytes.data() + r * 368;
        for (uint32_t c = 0; c < kWidth; c += 2) {
            const uint8_t* b = row + c / 2 * 3;
            EXPECT_EQ(uint16_t((b[0] << 4) | (b[2] & 0x0F)), word(samples[r * kWidth + c]));
            EXPECT_EQ(uint16_t((b[1] << 4) | (b[2] >> 4)), word(samples[r * kWidth + c + 1]));
        }
        for (uint32_t pad = 360; pad < 368; ++pad) EXPECT_EQ(row[pad], 0) << "row " << r;
    }
}

TEST(PixelFormat, WordsOnA512ByteStride) {
    const auto samples = pattern();
    const PixelLayout l = layout(V4L2_PIX_FMT_Y12, 256);
    EXPECT_EQ(l.bytesPerLine, 512u);
    EXPECT_EQ(l.sizeImage, 92160u);
    std::vector<uint8_t> bytes(l.sizeImage, 0xEE);
    packSubFrame(samples.data(), l, bytes.data());
    for (uint32_t r = 0; r < kHeight; ++r) {
        for (uint32_t c = 0; c < kWidth; ++c)
            ASSERT_EQ(wordAt(bytes, r * 512 + 2 * c), word(samples[r * kWidth + c]));
        for (uint32_t pad = 480; pad < 512; ++pad) ASSERT_EQ(bytes[r * 512 + pad], 0);
    }
}

TEST(PixelFormat, PlainWordRows) {
    const auto samples = pattern();
    const PixelLayout l = layout(V4L2_PIX_FMT_Y12, 16);
    EXPECT_EQ(l.sizeImage, 86400u);
    std::vector<uint8_t> bytes(l.sizeImage);
    packSubFrame(samples.data(), l, bytes.data());
    for (uint32_t i = 0; i < kWidth * kHeight; ++i) ASSERT_EQ(wordAt(bytes, 2 * i), word(samples[i]));
}

TEST(PixelFormat, ShiftedRowPairsIn960ByteBlocks) {
    const auto samples = pattern();
    const PixelLayout l = layout(V4L2_PIX_FMT_Y12, 32, true);
    EXPECT_EQ(l.sizeImage, 86400u);
    std::vector<uint8_t> bytes(l.sizeImage);
    packSubFrame(samples.data(), l, bytes.data());
    for (uint32_t k = 0; k < kHeight / 2; ++k) {
        const size_t block = k * 960;
        const int16_t* even = samples.data() + 2 * k * kWidth;
        const int16_t* odd = even + kWidth;
        for (uint32_t i = 0; i < 224; ++i)
            ASSERT_EQ(wordAt(bytes, block + 2 * i), uint16_t(word(even[i]) << 4));
        for (uint32_t i = 0; i < 240; ++i)
            ASSERT_EQ(wordAt(bytes, block + 448 + 2 * i), uint16_t(word(odd[i]) << 4));
        for (uint32_t i = 224; i < 240; ++i)
            ASSERT_EQ(wordAt(bytes, block + 928 + 2 * (i - 224)), uint16_t(word(even[i]) << 4));
    }
}

TEST(PixelFormat, SampleWordsAreTheLow11BitsInTwosComplement) {
    const PixelLayout l = layout(V4L2_PIX_FMT_Y12, 16);
    const int16_t values[] = {-1, -1024, 1023, 0, -300};
    const uint16_t words[] = {0x7FF, 0x400, 0x3FF, 0x000, 0x6D4};
    for (size_t v = 0; v < 5; ++v) {
        std::vector<int16_t> samples(kWidth * kHeight, values[v]);
        std::vector<uint8_t> bytes(l.sizeImage);
        packSubFrame(samples.data(), l, bytes.data());
        EXPECT_EQ(wordAt(bytes, 0), words[v]) << values[v];
        EXPECT_EQ(wordAt(bytes, l.sizeImage - 2), words[v]) << values[v];
    }
}

}  // namespace
}  // namespace Zelvo::sim
