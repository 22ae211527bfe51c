// The three kinds of frame buffer. Each allocates its planes once, at construction.
#include <zelvo/frame_buffer.h>

namespace Zelvo {

namespace {

size_t planeSize(uint32_t width, uint32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

}  // namespace

RawData::RawData(uint32_t width, uint32_t height)
    : data(std::make_unique<int16_t[]>(planeSize(width, height))),
      format{width, height, RAW, 0} {}

void RawData::setTimestamp(uint64_t time) { format.timestamp = time; }

void* RawData::getData(FrameType type) { return type == RAW ? data.get() : nullptr; }

int RawData::getFormat(FrameType type, FrameDataFormat& out) {
    if (type != RAW) return -1;
    out = format;
    return 0;
}

DepthData::DepthData(const FrameDataFormat& depthFormat, const FrameDataFormat& confidenceFormat)
    : confidence(std::make_unique<float[]>(planeSize(confidenceFormat.width,
                                                     confidenceFormat.height))),
      amplitude(std::make_unique<float[]>(planeSize(confidenceFormat.width,
                                                    confidenceFormat.height))),
      depth(std::make_unique<float[]>(planeSize(depthFormat.width, depthFormat.height))),
      depthFormat(depthFormat),
      confidenceFormat(confidenceFormat) {
    this->depthFormat.timestamp = 0;
    this->confidenceFormat.timestamp = 0;
}

DepthData::~DepthData() = default;

void DepthData::setTimestamp(uint64_t time) {
    depthFormat.timestamp = time;
    confidenceFormat.timestamp = time;
}

void* DepthData::getData(FrameType type) {
    switch (type) {
    case CONFIDENCE:
        return confidence.get();
    case DEPTH:
        return depth.get();
    case AMPLITUDE:
        return amplitude.get();
    default:
        return nullptr;
    }
}

int DepthData::getFormat(FrameType type, FrameDataFormat& out) {
    switch (type) {
    case DEPTH:
        out = depthFormat;
        return 0;
    case CONFIDENCE:
    case AMPLITUDE:
        // Amplitude shares the confidence plane's format, type included.
        out = confidenceFormat;
        return 0;
    default:
        return -1;
    }
}

CacheData::CacheData(uint32_t width, uint32_t height)
    : data(std::make_unique<uint8_t[]>(planeSize(width, height) * 2)),
      format{width, 2 * height, CACHE, 0},
      size(planeSize(width, height) * 2) {}

void CacheData::setTimestamp(uint64_t time) { format.timestamp = time; }

void* CacheData::getData(FrameType type) { return type == CACHE ? data.get() : nullptr; }

int CacheData::getFormat(FrameType type, FrameDataFormat& out) {
    if (type != CACHE) return -1;
    out = format;
    return 0;
}

}  // namespace Zelvo
