// The four routines that append a driver buffer to a raw frame, on arbitrary lengths,
// widths, strides and positions. The destination is allocated to its exact capacity, so
// AddressSanitizer stops any write past it; the position runs on across several buffers
// as it does over the sub-frames of one frame.
#include <cstdlib>
#include <memory>
#include <vector>

#include "sensor/csi/frame_copy.h"
#include "tests/fuzz/byte_reader.h"

namespace {

constexpr Zelvo::FrameCopy kRoutines[] = {Zelvo::copyWhole, Zelvo::copyRows480of512,
                                          Zelvo::copyReorder960, Zelvo::unpackY12P};
constexpr size_t kMaxCapacity = 1 << 18;

}  // namespace

// The input: the routine (one byte), width, stride, capacity and starting position (four
// bytes each), then up to four buffers, each a four-byte length and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Zelvo::fuzz::ByteReader input(data, size);
    const Zelvo::FrameCopy copy = kRoutines[input.u8() % 4];
    const bool samples = copy == Zelvo::unpackY12P;  // position in samples, not bytes
    const uint32_t width = input.u32();
    const uint32_t stride = input.u32();
    const size_t capacity = input.u32() % (kMaxCapacity + 1);
    const size_t limit = samples ? capacity / 2 : capacity;
    // Past the end included: a position there must write nothing.
    size_t pos = input.u32() % (limit + 17);
    std::unique_ptr<uint8_t[]> dst(new uint8_t[capacity]);
    for (int buffer = 0; buffer < 4 && input.remaining() > 0; ++buffer) {
        const std::vector<uint8_t> bytes = input.bytes(input.u32());
        // Exactly the buffer's bytes, so a read past them is caught too.
        std::unique_ptr<uint8_t[]> src(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), src.get());
        const size_t before = pos;
        copy(src.get(), dst.get(), bytes.size(), width, stride, pos, capacity);
        if (pos < before) std::abort();
        if (pos != before && pos > limit) std::abort();
    }
    return 0;
}
