#include "depth/raw_frame.h"

#include "depth/raw_header.h"

namespace ZelvoDepth {
namespace {

bool matchesPlace(const RawHeader& read, const RawHeader& expected, int width, int height) {
    return read.kind == expected.kind && read.subFrameIndex == expected.subFrameIndex &&
           read.phaseIndex == expected.phaseIndex &&
           read.frequencyIndex == expected.frequencyIndex && read.width == width &&
           read.height == height && read.subFrameCount == expected.subFrameCount;
}

}  // namespace

bool checkRawFrame(const uint16_t* raw, int width, int height, int subFrameCount,
                   RawFrameInfo& info) {
    if (raw == nullptr || width <= 0 || height <= 0 ||
        (subFrameCount != kSingleFrequencySubFrames &&
         subFrameCount != kDoubleFrequencySubFrames)) {
        return false;
    }
    RawFrameInfo read;
    float temperatureSum[2] = {0.0f, 0.0f};
    for (int index = 0; index < subFrameCount; ++index) {
        RawHeader header;
        const uint16_t* row = raw + rawSubFrameSamples(width, height) * index;
        if (!decodeRawHeader(row, static_cast<size_t>(width), header)) return false;
        if (!matchesPlace(header, expectedSubFrame(index, subFrameCount), width, height))
            return false;
        if (index == 0) read.frameCounter = header.frameCounter;
        if (header.frameCounter != read.frameCounter) return false;
        if (header.kind != SubFrameKind::Phase) continue;
        const int frequency = header.frequencyIndex;
        if (header.frequencyHz == 0) return false;
        if (header.phaseIndex == 0) read.frequencyHz[frequency] = header.frequencyHz;
        if (header.frequencyHz != read.frequencyHz[frequency]) return false;
        temperatureSum[frequency] += header.temperatureSixteenths / 16.0f;
    }
    if (subFrameCount == kDoubleFrequencySubFrames &&
        read.frequencyHz[0] == read.frequencyHz[1]) {
        return false;
    }
    for (int frequency = 0; frequency < 2; ++frequency)
        read.temperatureCelsius[frequency] = temperatureSum[frequency] / 4.0f;
    info = read;
    return true;
}

}  // namespace ZelvoDepth
