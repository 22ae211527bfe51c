// The camera on USB: an evaluation kit driven through its vendor's SDK, which is loaded
// when the camera is opened.
#pragma once

#include <cstdint>
#include <string>

#include "core/host.h"
#include "core/sensor.h"
#include <zelvo/types.h>
#include "sensor/usb/evk_sdk.h"
#include "sensor/usb/evk_sdk_library.h"

namespace Zelvo {

class ZelvoTOFUSBSensor final : public ZelvoTOFSensor {
public:
    // The longest one sub-frame capture waits, in the SDK's unit (milliseconds); a read
    // waits no longer than its ReadDeadline leaves.
    static constexpr int kCaptureTimeout = 2000;
    // Sub-frames of one raw frame lie less than this apart, in the SDK's time unit.
    static constexpr uint64_t kGroupGap = 6;

    // configPath: the SDK configuration file ("" or null: none). index is kept only.
    ZelvoTOFUSBSensor(const char* configPath, int index, Host& host);
    // Releases memory only; the SDK handle and the library belong to close.
    ~ZelvoTOFUSBSensor() override = default;

    ZelvoTOFUSBSensor(const ZelvoTOFUSBSensor&) = delete;
    ZelvoTOFUSBSensor& operator=(const ZelvoTOFUSBSensor&) = delete;

    // Loads the SDK, opens and initialises the kit and fills the frame size: 0, or -1
    // (nothing kept: a camera half opened is closed again, the library given back).
    int open(CameraInfo& info) override;
    // Closes the kit and gives the library back; 0. Again, or without open: nothing.
    int close() override;
    // 0; -1 when already streaming, not opened, or refused by the kit (streaming then
    // stays set until stop).
    int start() override;
    int stop() override;
    CameraInfo getCameraInfo() override { return info; }
    // 0 when every place of the raw frame was filled by this call with sub-frames less
    // than kGroupGap apart; -1 otherwise (a sub-frame of the wrong size, a failed capture
    // inside the group, not streaming, samples that cannot be scaled, or no whole group
    // within two frame periods, at least a second: a kit that stopped sending or never
    // sends a group cannot hold the capture thread).
    int getFrame(void* dst, int64_t* timestamp) override;
    // RANGE: four sensor register writes, 0 (-1 when not opened). Others: 1.
    int setControl(CameraCtrl ctrl, int value) override;
    // 4 for every control; value untouched.
    int getControl(CameraCtrl ctrl, int* value) override;

    ZelvoCameraHandle handle = nullptr;
    ZelvoImage frame{};
    CameraInfo info{};
    bool streaming = false;
    std::string configPath;
    int32_t deviceIndex;

private:
    // Closes the kit if open and gives the library back.
    void release();
    // A whole group was read, its last sub-frame stamped `stamp`: the frame period is
    // the shortest time seen between two groups (reads skipped by the camera only
    // lengthen the time between the groups it took).
    void groupCompleted(uint64_t stamp);

    // The kit's frame period in its time unit, learnt from the stamps of whole groups since
    // start (0: not known yet), and the stamp of the last group. Used by getFrame only,
    // reset by start.
    uint64_t framePeriod = 0;
    uint64_t lastGroupStamp = 0;

    EvkSdkLibrary sdk;
};

}  // namespace Zelvo
