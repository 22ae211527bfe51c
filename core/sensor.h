// The sensor transport: delivers raw frames of 16-bit samples, knows nothing of depth.
#pragma once

#include <cstdint>

#include <zelvo/types.h>

namespace Zelvo {

class ZelvoTOFSensor {
public:
    // Sub-frames gathered by one getFrame; the camera sets 4 for the 240 x 180 sensor.
    int32_t framesPerRequest = 1;

    virtual ~ZelvoTOFSensor() = default;

    // Fills width, height, bit_width and bpp of the caller's record and keeps a copy.
    virtual int open(CameraInfo& info) = 0;
    virtual int close() = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
    virtual CameraInfo getCameraInfo() = 0;
    // Gathers framesPerRequest sub-frames into dst; writes the time of the last one.
    virtual int getFrame(void* dst, int64_t* timestamp) = 0;
    virtual int setControl(CameraCtrl ctrl, int value) = 0;
    virtual int getControl(CameraCtrl ctrl, int* value) = 0;
};

}  // namespace Zelvo
