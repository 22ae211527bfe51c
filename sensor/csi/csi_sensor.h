// The camera on a MIPI CSI-2 link: a V4L2 video node streaming memory-mapped buffers,
// on some boards a media-controller pipeline of sub-devices, and the sensor's control
// interface on an I2C bus.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/host.h"
#include "core/sensor.h"
#include <zelvo/types.h>
#include "sensor/csi/frame_copy.h"
#include "sensor/csi/media_pipeline.h"

namespace Zelvo {

class ZelvoTOFCSISensor final : public ZelvoTOFSensor {
public:
    static constexpr int kBufferSlots = 8;
    static constexpr size_t kCalibrationBytes = 16384;
    static constexpr size_t kCalibrationBlockBytes = 512;
    // Rate reported before the first FRAME_RATE write: the sensor's default, which is
    // also the highest rate of the 240 x 180 mode.
    static constexpr int kDefaultFrameRate = 30;
    // Sub-frames further apart than this start a new raw frame.
    static constexpr int64_t kSubFrameGapMicroseconds = 5000;
    // The wait for a buffer looks at the node again at least this often.
    static constexpr int kBufferPollSliceMs = 100;

    // devicePath is "/dev/video<index>" (at most 79 characters are kept).
    ZelvoTOFCSISensor(const char* devicePath, int platform, Host& host);
    // Releases memory only; descriptors and mappings belong to stop and close.
    ~ZelvoTOFCSISensor() override;

    ZelvoTOFCSISensor(const ZelvoTOFCSISensor&) = delete;
    ZelvoTOFCSISensor& operator=(const ZelvoTOFCSISensor&) = delete;

    // 0, or -2 (a failing capability query included; the process is never ended).
    int open(CameraInfo& info) override;
    // Releases exactly what open acquired, and buffers still mapped; 0. A second close
    // does nothing.
    int close() override;
    // 0; -1 when the format, buffer request, query, mapping or queueing fails or no
    // buffer is granted; -2 when streaming does not switch on.
    int start() override;
    // Streaming off, buffers unmapped and handed back to the driver: 0, or -2.
    int stop() override;
    CameraInfo getCameraInfo() override { return info; }
    // 0; -2 on a failed dequeue or queue, a buffer the driver marks as failed, or when no
    // buffer comes in time (bufferWaitMs); 2 for a buffer the sensor did not map.
    // Writes at most width * height * 2 * framesPerRequest bytes (as of start) to dst.
    int getFrame(void* dst, int64_t* timestamp) override;
    int setControl(CameraCtrl ctrl, int value) override;
    int getControl(CameraCtrl ctrl, int* value) override;

    // Reads 512 bytes of the module's calibration memory at offset into dst: 0, or -2.
    int readCalibrationBlock(uint16_t offset, uint8_t* dst);

    // Applies info.width x info.height to the video node and the sub-devices and reads
    // the size back: 0, -1 for a different size, -2 when it cannot be read, or the
    // result of a failed request.
    int setFormat();

    // How long one read waits for a buffer: the bound every transport's read keeps (two
    // frame periods at the current frame rate, at least a second).
    int bufferWaitMs() const;

    uint8_t* calibrationData() { return calibrationBuffer.get(); }

    int32_t videoFd = -1;
    MediaPipeline pipeline;
    int32_t i2cFd = -1;
    uint16_t chipAddress = 0;
    // Written from the caller's thread and from the capture thread's rate adjustment.
    std::atomic<int32_t> frameRate{kDefaultFrameRate};
    int32_t inputIndex = 0;
    int32_t platform;
    char devicePath[80] = {};
    uint32_t bufType = 1;
    uint8_t* mappedBuffers[kBufferSlots] = {};
    size_t mappedLengths[kBufferSlots] = {};
    uint32_t bufferCount = 0;    // buffers granted and mapped by start
    size_t frameCapacity = 0;    // bytes getFrame may write, fixed by start
    uint32_t streamWidth = 0;    // row width of the running stream, fixed by start
    // What the driver answered to the format set (0 where it reported nothing): the
    // distance between source rows and the bytes of one image.
    uint32_t formatStride = 0;
    uint32_t formatImageBytes = 0;
    CameraInfo info{};
    FrameCopy copyFrame = copyWhole;

private:
    int applyPlatformPipeline();
    int openI2cBus();
    int readImageSize(uint32_t& width, uint32_t& height);
    int mapAndQueueBuffers(uint32_t count);
    int waitForBuffer();
    int releaseMappings();
    int releaseBuffers();
    int controlFd() const;

    Host& host;
    std::unique_ptr<uint8_t[]> calibrationBuffer;
};

}  // namespace Zelvo
