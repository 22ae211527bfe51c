#include "sensor/usb/usb_sensor.h"

#include <algorithm>

#include "core/read_deadline.h"
#include "sensor/usb/kit_index.h"
#include "sensor/usb/twelve_bit_samples.h"

namespace Zelvo {
namespace {

constexpr int kShortRange = 2000;
constexpr char kBinSuffix[] = ".bin";
constexpr size_t kBinSuffixLength = sizeof(kBinSuffix) - 1;

struct RegisterWrite {
    uint16_t address;
    uint16_t value;
};

// The sensor timing of each measuring range: the 2000 mm range, then every other.
constexpr RegisterWrite kShortRangeWrites[] = {
    {0x216c, 0x08}, {0x2179, 0x0a}, {0x217a, 0x0e}, {0x217b, 0x12}};
constexpr RegisterWrite kLongRangeWrites[] = {
    {0x216c, 0x10}, {0x2179, 0x0e}, {0x217a, 0x16}, {0x217b, 0x1e}};

bool endsWithBin(const std::string& path) {
    return path.size() >= kBinSuffixLength &&
           path.compare(path.size() - kBinSuffixLength, kBinSuffixLength, kBinSuffix) == 0;
}

}  // namespace

ZelvoTOFUSBSensor::ZelvoTOFUSBSensor(const char* configPath, int index, Host& host)
    : configPath(configPath ? configPath : ""), deviceIndex(index), sdk(host) {}

void ZelvoTOFUSBSensor::release() {
    if (handle) sdk.calls().ZelvoCloseCamera(handle);
    handle = nullptr;
    streaming = false;
    sdk.unload();
}

int ZelvoTOFUSBSensor::open(CameraInfo& cameraInfo) {
    if (!sdk.load()) return -1;
    const EvkSdkCalls& calls = sdk.calls();

    ZelvoOpenParam param{};
    calls.ZelvoDefaultParam(&param);
    if (!configPath.empty()) {
        param.configFile = configPath.c_str();
        param.binFile = endsWithBin(configPath) ? 1 : 0;
    }
    const KitIndexScope opening(deviceIndex);
    if (calls.ZelvoOpenCamera(&handle, &param) != 0) {
        handle = nullptr;  // whatever a failed open left there is no camera
        release();
        return -1;
    }
    if (calls.ZelvoInitCamera(handle) != 0) {
        release();
        return -1;
    }

    ZelvoCameraConfig config{};
    calls.ZelvoGetCameraConfig(handle, &config);
    cameraInfo.width = config.width;
    cameraInfo.height = config.height;
    cameraInfo.bit_width = config.bitWidth;
    cameraInfo.bpp = config.bitWidth > 8 ? 2 : 1;
    info = cameraInfo;
    return 0;
}

int ZelvoTOFUSBSensor::close() {
    release();
    return 0;
}

int ZelvoTOFUSBSensor::start() {
    if (streaming || !handle) return -1;
    streaming = true;
    framePeriod = 0;
    lastGroupStamp = 0;
    return sdk.calls().ZelvoStartCamera(handle) == 0 ? 0 : -1;
}

int ZelvoTOFUSBSensor::stop() {
    streaming = false;
    if (handle) sdk.calls().ZelvoStopCamera(handle);
    return 0;
}

int ZelvoTOFUSBSensor::getFrame(void* dst, int64_t* timestamp) {
    const size_t samples = static_cast<size_t>(info.width) * info.height;
    const size_t expected = samples * info.bpp;
    uint16_t* out = static_cast<uint16_t*>(dst);
    uint64_t last = 0;
    int32_t place = 0;     // next place of the group to fill
    bool scaled = true;    // every sub-frame in the group could be scaled
    // A period longer than a capture's time-out is no period a kit streams at.
    const uint64_t period = std::min<uint64_t>(framePeriod, kCaptureTimeout);
    const ReadDeadline deadline(ReadDeadline::waitMs(static_cast<int64_t>(period)));
    for (int32_t attempt = 0; attempt < framesPerRequest;) {
        if (!streaming) {
            ++attempt;
            continue;
        }
        const int64_t left = deadline.leftMs();
        if (left == 0) return -1;
        const int timeout = static_cast<int>(std::min<int64_t>(left, kCaptureTimeout));
        const EvkSdkCalls& calls = sdk.calls();
        if (calls.ZelvoCaptureImage(handle, &frame, timeout) != 0) {
            ++attempt;
            *timestamp = static_cast<int64_t>(last);
            continue;
        }
        // A sub-frame too far from the previous one (or before it) begins a new group.
        if (attempt > 0 && frame.timestamp - last >= kGroupGap) {
            attempt = 0;
            place = 0;
            scaled = true;
        }
        if (frame.dataSize != expected) {
            calls.ZelvoFreeImage(handle, frame);
            return -1;
        }
        scaled = scaleToTwelveBits(frame.data.address, samples, info.bpp, info.bit_width,
                                   out + static_cast<size_t>(place) * samples) &&
                 scaled;
        last = frame.timestamp;
        ++place;
        calls.ZelvoFreeImage(handle, frame);
        ++attempt;
        *timestamp = static_cast<int64_t>(last);
    }
    // Places left with older data (a failed capture) or none at all make no new frame.
    if (place != framesPerRequest || !scaled) return -1;
    groupCompleted(last);
    return 0;
}

void ZelvoTOFUSBSensor::groupCompleted(uint64_t stamp) {
    if (lastGroupStamp != 0 && stamp > lastGroupStamp) {
        const uint64_t between = stamp - lastGroupStamp;
        framePeriod = framePeriod == 0 ? between : std::min(framePeriod, between);
    }
    lastGroupStamp = stamp;
}

int ZelvoTOFUSBSensor::setControl(CameraCtrl ctrl, int value) {
    if (ctrl != RANGE) return 1;
    if (!handle) return -1;
    const auto& writes = value == kShortRange ? kShortRangeWrites : kLongRangeWrites;
    for (const RegisterWrite& write : writes)
        sdk.calls().ZelvoWriteSensorReg(handle, write.address, write.value);
    return 0;
}

int ZelvoTOFUSBSensor::getControl(CameraCtrl, int*) { return ZelvoNotImplemented; }

}  // namespace Zelvo
