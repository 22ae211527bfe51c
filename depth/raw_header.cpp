#include "depth/raw_header.h"

namespace ZelvoDepth {
namespace {

constexpr uint8_t kMagic[4] = {'Z', 'R', 'A', 'W'};

// Serialises the fields as the bytes of words 0..27, in header order.
class ByteWriter {
public:
    explicit ByteWriter(uint8_t* bytes) : bytes_(bytes) {}
    void put8(uint8_t value) { bytes_[at_++] = value; }
    void put16(uint16_t value) {
        put8(static_cast<uint8_t>(value));
        put8(static_cast<uint8_t>(value >> 8));
    }
    void put32(uint32_t value) {
        put16(static_cast<uint16_t>(value));
        put16(static_cast<uint16_t>(value >> 16));
    }

private:
    uint8_t* bytes_;
    size_t at_ = 0;
};

class ByteReader {
public:
    explicit ByteReader(const uint8_t* bytes) : bytes_(bytes) {}
    uint8_t get8() { return bytes_[at_++]; }
    uint16_t get16() {
        const uint16_t low = get8();
        return static_cast<uint16_t>(low | get8() << 8);
    }
    uint32_t get32() {
        const uint32_t low = get16();
        return low | static_cast<uint32_t>(get16()) << 16;
    }

private:
    const uint8_t* bytes_;
    size_t at_ = 0;
};

void serialise(const RawHeader& header, uint8_t* bytes) {
    ByteWriter out(bytes);
    for (uint8_t byte : kMagic) out.put8(byte);
    out.put8(kRawHeaderVersion);
    out.put8(static_cast<uint8_t>(header.kind));
    out.put8(header.subFrameIndex);
    out.put8(header.phaseIndex);
    out.put8(header.frequencyIndex);
    out.put32(header.frequencyHz);
    out.put32(header.integrationTimeUs);
    out.put16(static_cast<uint16_t>(header.temperatureSixteenths));
    out.put32(header.frameCounter);
    out.put16(header.width);
    out.put16(header.height);
    out.put8(header.subFrameCount);
}

constexpr size_t kFieldBytes = kRawHeaderWords - 1;  // the check byte follows the fields

uint8_t checkByte(const uint8_t* bytes) {
    uint8_t check = 0;
    for (size_t i = 0; i < kFieldBytes; ++i) check ^= bytes[i];
    return check;
}

}  // namespace

void encodeRawHeader(const RawHeader& header, uint16_t* row, size_t width) {
    uint8_t bytes[kRawHeaderWords] = {};
    serialise(header, bytes);
    bytes[kFieldBytes] = checkByte(bytes);
    for (size_t i = 0; i < width; ++i)
        row[i] = i < kRawHeaderWords ? static_cast<uint16_t>(bytes[i] << 4) : 0;
}

bool decodeRawHeader(const uint16_t* row, size_t width, RawHeader& header) {
    if (width < kRawHeaderWords) return false;
    uint8_t bytes[kRawHeaderWords];
    for (size_t i = 0; i < kRawHeaderWords; ++i) {
        if (row[i] & ~0x0FF0u) return false;
        bytes[i] = static_cast<uint8_t>(row[i] >> 4);
    }
    if (checkByte(bytes) != bytes[kFieldBytes]) return false;
    ByteReader in(bytes);
    for (uint8_t byte : kMagic)
        if (in.get8() != byte) return false;
    if (in.get8() != kRawHeaderVersion) return false;
    RawHeader read;
    const uint8_t kind = in.get8();
    if (kind > static_cast<uint8_t>(SubFrameKind::Background)) return false;
    read.kind = static_cast<SubFrameKind>(kind);
    read.subFrameIndex = in.get8();
    read.phaseIndex = in.get8();
    read.frequencyIndex = in.get8();
    read.frequencyHz = in.get32();
    read.integrationTimeUs = in.get32();
    read.temperatureSixteenths = static_cast<int16_t>(in.get16());
    read.frameCounter = in.get32();
    read.width = in.get16();
    read.height = in.get16();
    read.subFrameCount = in.get8();
    if (read.phaseIndex > 3 || read.frequencyIndex > 1 ||
        read.subFrameIndex >= read.subFrameCount) {
        return false;
    }
    header = read;
    return true;
}

RawHeader expectedSubFrame(int index, int count) {
    RawHeader header;
    header.subFrameIndex = static_cast<uint8_t>(index);
    header.subFrameCount = static_cast<uint8_t>(count);
    const int group = index / kSingleFrequencySubFrames;  // 0: frequency 0, 1: frequency 1
    const int place = index % kSingleFrequencySubFrames;
    header.frequencyIndex = static_cast<uint8_t>(group);
    if (place < 4) {
        header.kind = SubFrameKind::Phase;
        header.phaseIndex = static_cast<uint8_t>(place);
    } else {
        header.kind = group == 0 ? SubFrameKind::Gray : SubFrameKind::Background;
    }
    return header;
}

}  // namespace ZelvoDepth
