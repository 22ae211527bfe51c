// Reads a fuzz input front to back as little-endian numbers and byte runs; past its end
// every number reads 0 and every run is empty, so seeds can be written by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Zelvo::fuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data(data), size(size) {}

    size_t remaining() const { return size - at; }
    uint8_t u8() { return at < size ? data[at++] : 0; }
    uint32_t u32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(u8()) << (8 * i);
        return value;
    }
    // The next `count` bytes, fewer at the end of the input.
    std::vector<uint8_t> bytes(size_t count) {
        const size_t taken = count < remaining() ? count : remaining();
        std::vector<uint8_t> run(data + at, data + at + taken);
        at += taken;
        return run;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

}  // namespace Zelvo::fuzz
