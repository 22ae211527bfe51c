// A whole raw frame (docs/raw-format.md): where its sub-frames and pixel rows lie, and the
// check of all its embedded headers against each other and against the expected layout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZelvoDepth {

// Places of the sub-frames that are not the phases of frequency 0 (at 0 to 3).
constexpr int kGraySubFrame = 4;
constexpr int kSecondFrequencySubFrame = 5;  // phase 0 of frequency 1; phases 1 to 3 follow
constexpr int kBackgroundSubFrame = 9;

// Samples of one sub-frame of a width x height output: the header row and the pixel rows.
inline size_t rawSubFrameSamples(int width, int height) {
    return static_cast<size_t>(width) * (static_cast<size_t>(height) + 1);
}

// Pixel row `row` (0 is the top pixel row, below the header) of sub-frame `subFrame`.
inline const uint16_t* rawPixelRow(const uint16_t* raw, int width, int height, int subFrame,
                                   int row) {
    return raw + rawSubFrameSamples(width, height) * subFrame +
           static_cast<size_t>(width) * (static_cast<size_t>(row) + 1);
}

// What the headers of a consistent raw frame say about its two frequencies (index 1 is
// unused in a single-frequency frame).
struct RawFrameInfo {
    uint32_t frameCounter = 0;
    uint32_t frequencyHz[2] = {0, 0};
    float temperatureCelsius[2] = {0.0f, 0.0f};  // mean of the frequency's phase sub-frames
};

// Reads the header of every sub-frame of a frame of `subFrameCount` (5 or 10) sub-frames of
// width x height pixels: false when one is malformed, does not match its place, the size or
// the count, the frame counters differ, a phase sub-frame has frequency 0, the phase
// sub-frames of one frequency disagree on it, or the two frequencies are equal. Headers are
// read in order and the first mismatch ends the check, so a frame shorter than
// `subFrameCount` sub-frames whose first header says so is never read past its end.
bool checkRawFrame(const uint16_t* raw, int width, int height, int subFrameCount,
                   RawFrameInfo& info);

}  // namespace ZelvoDepth
