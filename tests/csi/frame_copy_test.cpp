#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sensor/csi/frame_copy.h"

namespace Zelvo {
namespace {

std::vector<uint8_t> countingBytes(size_t length, int salt = 0) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + salt + i / 251);
    return bytes;
}

uint16_t sampleAt(size_t row, size_t column) {
    return static_cast<uint16_t>((row * 240 + column) * 13 % 4096);
}

// A 240-sample-wide frame of 12-bit packed pixels: 360 bytes a row, padded to 368.
std::vector<uint8_t> packedFrame(size_t rows) {
    std::vector<uint8_t> frame;
    for (size_t row = 0; row < rows; ++row) {
        for (size_t column = 0; column < 240; column += 2) {
            const uint16_t first = sampleAt(row, column);
            const uint16_t second = sampleAt(row, column + 1);
            frame.push_back(static_cast<uint8_t>(first >> 4));
            frame.push_back(static_cast<uint8_t>(second >> 4));
            frame.push_back(static_cast<uint8_t>((first & 0x0F) | (second & 0x0F) << 4));
        }
        frame.insert(frame.end(), 8, 0xEE);
    }
    return frame;
}

TEST(FrameCopy, WholeCopiesTheBufferAndAdvancesByItsLength) {
    const auto source = countingBytes(1000);
    std::vector<uint8_t> destination(3000, 0);
    size_t pos = 0;
    copyWhole(source.data(), destination.data(), source.size(), 240, 0, pos, destination.size());
    copyWhole(source.data(), destination.data(), source.size(), 240, 0, pos, destination.size());
    EXPECT_EQ(pos, 2000u);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), destination.begin()));
    EXPECT_TRUE(std::equal(source.begin(), source.end(), destination.begin() + 1000));
    EXPECT_EQ(destination[2000], 0);
}

// Rows the driver pads (its stride above two bytes a sample) lose their padding.
TEST(FrameCopy, WholeLeavesOutTheRowPaddingTheDriverReports) {
    auto source = countingBytes(3 * 496);
    for (size_t row = 0; row < 3; ++row) std::fill_n(source.begin() + row * 496 + 480, 16, 0xEE);
    for (uint32_t stride : {0u, 480u, 496u}) {
        std::vector<uint8_t> destination(3 * 496, 0xAA);
        size_t pos = 0;
        copyWhole(source.data(), destination.data(), 3 * 496, 240, stride, pos, destination.size());
        if (stride != 496) {
            EXPECT_EQ(pos, 3u * 496u) << stride;  // a row as long as its samples: one block
            continue;
        }
        ASSERT_EQ(pos, 3u * 480u);
        for (size_t row = 0; row < 3; ++row) {
            EXPECT_TRUE(std::equal(source.begin() + row * 496, source.begin() + row * 496 + 480,
                                   destination.begin() + row * 480))
                << row;
        }
        EXPECT_EQ(destination[3 * 480], 0xAA);
    }
}

TEST(FrameCopy, Rows480of512KeepsTheFirst480BytesOfEachRow) {
    const auto source = countingBytes(kPaddedRowsBufferBytes);
    std::vector<uint8_t> destination(180 * 480 + 16, 0xAA);
    size_t pos = 0;
    copyRows480of512(source.data(), destination.data(), source.size(), 240, 0, pos, 180 * 480 + 16);
    ASSERT_EQ(pos, 180u * 480u);
    for (size_t row = 0; row < 180; ++row) {
        for (size_t byte = 0; byte < 480; ++byte) {
            ASSERT_EQ(destination[row * 480 + byte], source[row * 512 + byte]) << row << " " << byte;
        }
    }
    EXPECT_EQ(destination[180 * 480], 0xAA);

    size_t untouched = 5;
    copyRows480of512(source.data(), destination.data(), 0, 240, 0, untouched, destination.size());
    EXPECT_EQ(untouched, 5u);
}

TEST(FrameCopy, Reorder960PutsTheEvenRowTailBackInPlace) {
    const auto source = countingBytes(2 * 960, 3);
    std::vector<uint8_t> destination(2 * 960 + 8, 0xAA);
    size_t pos = 0;
    copyReorder960(source.data(), destination.data(), source.size(), 240, 0, pos,
                   destination.size());
    ASSERT_EQ(pos, 1920u);
    for (size_t block = 0; block < 2; ++block) {
        const uint8_t* s = source.data() + block * 960;
        const uint8_t* d = destination.data() + block * 960;
        for (size_t i = 0; i < 448; ++i) ASSERT_EQ(d[i], s[i]) << i;
        for (size_t i = 0; i < 32; ++i) ASSERT_EQ(d[448 + i], s[928 + i]) << i;
        for (size_t i = 0; i < 480; ++i) ASSERT_EQ(d[480 + i], s[448 + i]) << i;
    }
    // Every byte of a block is carried over exactly once.
    EXPECT_EQ(destination[959], source[927]);
    EXPECT_EQ(destination[479], source[959]);
    EXPECT_EQ(destination[1920], 0xAA);

    size_t untouched = 0;
    copyReorder960(source.data(), destination.data(), 0, 240, 0, untouched, destination.size());
    EXPECT_EQ(untouched, 0u);
}

TEST(FrameCopy, UnpackY12PTakesTwelveBitPairsFromThreeBytes) {
    // 0xAB 0xCD 0x21 holds 0xAB1 and 0xCD2.
    std::vector<uint8_t> source = {0xAB, 0xCD, 0x21, 0x12, 0x34, 0xF0};
    source.resize(32, 0);
    std::vector<uint16_t> samples(64, 0xFFFF);
    size_t pos = 0;
    unpackY12P(source.data(), reinterpret_cast<uint8_t*>(samples.data()), source.size(), 240, 0,
               pos, samples.size() * 2);
    EXPECT_EQ(samples[0], 0xAB1);
    EXPECT_EQ(samples[1], 0xCD2);
    EXPECT_EQ(samples[2], 0x120);
    EXPECT_EQ(samples[3], 0x34F);
    // Stops once the source offset reaches length - 8: 24 bytes give 16 samples.
    EXPECT_EQ(pos, 16u);
    EXPECT_EQ(samples[16], 0xFFFF);
}

TEST(FrameCopy, UnpackY12PSkipsThe8PaddingBytesOfEach368ByteRow) {
    const auto source = packedFrame(180);
    ASSERT_EQ(source.size(), 368u * 180u);
    std::vector<uint16_t> samples(240 * 180 + 8, 0xFFFF);
    size_t pos = 0;
    unpackY12P(source.data(), reinterpret_cast<uint8_t*>(samples.data()), source.size(), 240, 0,
               pos, samples.size() * 2);
    ASSERT_EQ(pos, 240u * 180u);
    for (size_t row = 0; row < 180; ++row) {
        for (size_t column = 0; column < 240; ++column) {
            ASSERT_EQ(samples[row * 240 + column], sampleAt(row, column)) << row << " " << column;
        }
    }
    EXPECT_EQ(samples[240 * 180], 0xFFFF);
}

// 640-sample rows are 960 bytes, a multiple of 16: no padding, and the frame's last 8
// bytes are samples (the old rule left the last row's last five samples behind).
TEST(FrameCopy, UnpackY12PReadsRowsWithoutPaddingToTheEnd) {
    for (const uint32_t width : {640u, 320u}) {
        const size_t rowBytes = width * 3 / 2, rows = 4;
        std::vector<uint8_t> source(rowBytes * rows, 0x11);
        std::vector<uint16_t> samples(width * rows + 4, 0xFFFF);
        size_t pos = 0;
        unpackY12P(source.data(), reinterpret_cast<uint8_t*>(samples.data()), source.size(),
                   width, 0, pos, samples.size() * 2);
        EXPECT_EQ(pos, width * rows) << width;
        EXPECT_EQ(samples[width * rows - 1], 0x111) << width;
        EXPECT_EQ(samples[width * rows], 0xFFFF) << width;
    }
}

TEST(FrameCopy, UnpackY12PIgnoresBuffersOf8BytesOrLess) {
    const std::vector<uint8_t> source(8, 0x55);
    std::vector<uint16_t> samples(8, 0xFFFF);
    size_t pos = 2;
    unpackY12P(source.data(), reinterpret_cast<uint8_t*>(samples.data()), 8, 240, 0, pos, 16);
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(samples[2], 0xFFFF);
}

// A driver reporting more than the frame holds must not overrun the destination.
TEST(FrameCopy, NoRoutineWritesPastTheCapacity) {
    const struct {
        const char* name;
        FrameCopy copy;
        size_t length;
        size_t capacity;
        size_t expectedPos;  // bytes, or samples for the unpacking routine
    } cases[] = {
        {"whole", copyWhole, 4096, 1000, 1000},
        {"rows", copyRows480of512, kPaddedRowsBufferBytes, 1000, 960},
        {"reorder", copyReorder960, 9600, 2000, 1920},
        {"unpack", unpackY12P, 368 * 180, 1000, 500},
    };
    const auto source = packedFrame(180);
    auto big = countingBytes(kPaddedRowsBufferBytes);
    for (const auto& c : cases) {
        const uint8_t* from = c.copy == unpackY12P ? source.data() : big.data();
        std::vector<uint8_t> destination(c.capacity + 64, 0xAA);
        size_t pos = 0;
        c.copy(from, destination.data(), c.length, 240, 0, pos, c.capacity);
        EXPECT_EQ(pos, c.expectedPos) << c.name;
        for (size_t i = c.capacity; i < destination.size(); ++i) {
            ASSERT_EQ(destination[i], 0xAA) << c.name << " wrote byte " << i;
        }
        // Already full: nothing more.
        const size_t before = pos;
        c.copy(from, destination.data(), c.length, 240, 0, pos, c.capacity);
        EXPECT_EQ(pos, before) << c.name;
    }
}

// Blocks or rows that would be read past the source length are not copied.
TEST(FrameCopy, NoRoutineReadsPastTheSourceLength) {
    const auto source = countingBytes(4096);
    std::vector<uint8_t> destination(8192, 0);
    size_t pos = 0;
    copyRows480of512(source.data(), destination.data(), 512 + 479, 240, 0, pos, destination.size());
    EXPECT_EQ(pos, 480u);
    pos = 0;
    copyReorder960(source.data(), destination.data(), 960 + 959, 240, 0, pos, destination.size());
    EXPECT_EQ(pos, 960u);
}

}  // namespace
}  // namespace Zelvo
