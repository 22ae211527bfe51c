// The embedded header row of a raw sub-frame (docs/raw-format.md): each header word
// carries one byte in bits 4 to 11, so the header survives 8- to 16-bit transports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZelvoDepth {

enum class SubFrameKind : uint8_t { Phase = 0, Gray = 1, Background = 2 };

struct RawHeader {
    SubFrameKind kind = SubFrameKind::Phase;
    uint8_t subFrameIndex = 0;   // place in the raw frame, 0..9
    uint8_t phaseIndex = 0;      // 0..3 for phase sub-frames
    uint8_t frequencyIndex = 0;  // 0 or 1
    uint32_t frequencyHz = 0;    // 0 for gray and background
    uint32_t integrationTimeUs = 0;
    int16_t temperatureSixteenths = 0;  // degrees Celsius times 16
    uint32_t frameCounter = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t subFrameCount = 0;   // 5 or 10
};

// Words of the header that carry fields; a row must be at least this wide.
constexpr size_t kRawHeaderWords = 29;
constexpr uint8_t kRawHeaderVersion = 1;

// Writes the header into the first kRawHeaderWords words of row and zeroes the rest of the
// row's `width` words. width must be at least kRawHeaderWords.
void encodeRawHeader(const RawHeader& header, uint16_t* row, size_t width);

// Reads a header row of `width` words: false when the row is too short, a word has bits
// outside 4..11, or the magic, version, check byte or a field's range is wrong.
bool decodeRawHeader(const uint16_t* row, size_t width, RawHeader& header);

// Sub-frames of a raw frame in each frequency mode.
constexpr int kSingleFrequencySubFrames = 5;
constexpr int kDoubleFrequencySubFrames = 10;

// The kind, phase and frequency index the sub-frame at `index` has in a raw frame of
// `count` sub-frames (5 or 10): the layout both the sensor and the library follow.
RawHeader expectedSubFrame(int index, int count);

}  // namespace ZelvoDepth
