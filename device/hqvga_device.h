// The HQVGA depth device: computes depth itself from the four phase images of a
// 240 x 180 sensor, and owns the measuring range.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/device.h"

namespace Zelvo {

class ZelvoDeviceHQVGA final : public ZelvoDevice {
public:
    static constexpr uint32_t kWidth = 240;
    static constexpr uint32_t kHeight = 180;
    static constexpr uint32_t kPhases = 4;
    static constexpr uint32_t kPixels = kWidth * kHeight;
    static constexpr int32_t kLayoutCode = 2;
    // The fastest the HQVGA sensor runs, in frames per second.
    static constexpr int kMaxFrameRate = 30;
    static constexpr int32_t kLongRange = 4000;   // mm, at 37.5 MHz
    static constexpr int32_t kShortRange = 2000;  // mm, at 75 MHz
    static constexpr float kLongRangeFrequency = 37500000.0f;
    static constexpr float kShortRangeFrequency = 75000000.0f;

    // transport: how the raw frames arrive, which decides the sample shift.
    explicit ZelvoDeviceHQVGA(int32_t platform, Connection transport = CSI);

    // Right shift applied to every raw word before decoding: the Jetson capture path
    // delivers the samples shifted up by 4 bits.
    const uint8_t sampleShift;

    // Light modulation frequency (Hz) the depth is computed with, and the RANGE value (mm).
    float modulationFrequency() const;
    int32_t range() const;

    DeviceType getDeviceType() override;
    void getFrameLayouts(FrameLayout& raw, FrameLayout& output) override;
    int init(ZelvoTOFSensor* sensor, DeviceType type) override;
    int close() override;
    int configureSensor() override;
    int start() override;
    int stop() override;
    // RANGE only: 2000 and 4000 select 75 and 37.5 MHz and are set on the sensor as well,
    // whose result is returned (-1 without a sensor; the range is kept either way); other
    // values are the device's alone and keep the frequency. Any other control: 1.
    int setControl(CameraCtrl ctrl, int value) override;
    int setControlExt(CameraCtrl ctrl, const char* text) override;
    // RANGE from the device; any other control from the sensor (-1 without a sensor).
    int getControl(CameraCtrl ctrl, int* value) override;
    int getControlExt(CameraCtrl ctrl, const char** text) override;
    bool getRawImages(const uint8_t* src, int16_t* dst) override;
    bool getPhaseImage(const uint8_t* src, float* depth, float* amplitude,
                       float* confidence) override;
    int getMaxFrameRate(int* value) override;

private:
    // Range (low half) and the bits of the modulation frequency (high half) in one word:
    // controls arrive on the caller's thread while the capture thread computes a frame,
    // and each frame must see a range and a frequency that were set together.
    static uint64_t packSettings(int32_t range, float frequency);
    std::atomic<uint64_t> settings_;
};

}  // namespace Zelvo
