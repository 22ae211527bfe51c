// Frame buffers: one raw frame, one depth frame (three planes), and the staging
// buffer that receives one raw read of the sensor. All memory is allocated at
// construction; nothing is allocated per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <zelvo/types.h>

namespace Zelvo {

class ZelvoFrameBuffer {
public:
    virtual ~ZelvoFrameBuffer() = default;
    // Stores the capture time in every format the buffer holds.
    virtual void setTimestamp(uint64_t time) = 0;
    // The plane of that type, or null.
    virtual void* getData(FrameType type) = 0;
    // Copies the format of that plane and returns 0, or returns -1 and leaves out alone.
    virtual int getFormat(FrameType type, FrameDataFormat& out) = 0;
};

class RawData final : public ZelvoFrameBuffer {
public:
    RawData(uint32_t width, uint32_t height);
    void setTimestamp(uint64_t time) override;
    void* getData(FrameType type) override;
    int getFormat(FrameType type, FrameDataFormat& out) override;

    std::unique_ptr<int16_t[]> data;
    FrameDataFormat format;
};

class DepthData final : public ZelvoFrameBuffer {
public:
    DepthData(const FrameDataFormat& depthFormat, const FrameDataFormat& confidenceFormat);
    ~DepthData() override;
    void setTimestamp(uint64_t time) override;
    void* getData(FrameType type) override;
    int getFormat(FrameType type, FrameDataFormat& out) override;

    std::unique_ptr<float[]> confidence;
    std::unique_ptr<float[]> amplitude;
    std::unique_ptr<float[]> depth;
    FrameDataFormat depthFormat;
    FrameDataFormat confidenceFormat;
};

class CacheData final : public ZelvoFrameBuffer {
public:
    // width x height samples of 16 bits; the format's height is twice the row count.
    CacheData(uint32_t width, uint32_t height);
    void setTimestamp(uint64_t time) override;
    void* getData(FrameType type) override;
    int getFormat(FrameType type, FrameDataFormat& out) override;

    // Size of the staging bytes.
    size_t byteSize() const { return size; }

    std::unique_ptr<uint8_t[]> data;
    FrameDataFormat format;

private:
    size_t size;
};

}  // namespace Zelvo
