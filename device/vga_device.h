// The VGA depth device: drives the depth-processing library for every sensor that is not
// 240 x 180. It writes the library's configuration texts and hands it the calibration at
// each stream start; the library turns each raw frame of 5 (single-frequency) or 10
// (double-frequency) sub-frames of height + 1 rows into depth, amplitude and confidence.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/device.h"
#include "core/host.h"
#include "device/calibration_file.h"
#include "device/si_sdk_library.h"

namespace Zelvo {

// The frame rates a VGA size runs at; the sizes listed are the ones the sensor delivers.
struct FrameRateLimit {
    int32_t width, height;
    int singleFrequency, doubleFrequency;  // frames per second
};

class ZelvoDeviceVGA final : public ZelvoDevice {
public:
    static constexpr int32_t kLayoutCode = 2;
    static constexpr int32_t kSingleFrequencyRange = 1250;  // mm
    static constexpr int32_t kDoubleFrequencyRange = 4500;  // mm
    static constexpr uint32_t kSingleFrequencySubFrames = 5;
    static constexpr uint32_t kDoubleFrequencySubFrames = 10;

    ZelvoDeviceVGA(int32_t platform, Host& host);

    ZelvoDeviceVGA(const ZelvoDeviceVGA&) = delete;
    ZelvoDeviceVGA& operator=(const ZelvoDeviceVGA&) = delete;

    SiSDKHandle handle = nullptr;  // created by init, destroyed by close or a failed start
    std::string configDir;         // handed to the library when not empty
    int32_t width = 640;           // output size: 320 or 640 ...
    int32_t height = 480;          // ... by 240 or 480, each set on its own
    // FRAME_RATE has been set through the sensor. The capture thread's automatic
    // adjustment sets it while the caller's thread reads it.
    std::atomic<bool> frameRateSet{false};
    // Second calibration source: the module's own memory, when the sensor is a CSI
    // sensor, with a copy stored in "cali.out.bin". Off unless set here.
    bool readSensorCalibration = false;
    bool saveSensorCalibration = false;

    DeviceType getDeviceType() override;
    void getFrameLayouts(FrameLayout& raw, FrameLayout& output) override;
    // 1 for a null sensor; -1 when the library cannot be loaded or creates no handle.
    int init(ZelvoTOFSensor* sensor, DeviceType type) override;
    // Waits 500 ms for the library to settle, destroys the handle, releases the
    // calibration and the library; 0.
    int close() override;
    // Refuses (-1, with one line on standard error naming it) a size pair the sensor
    // cannot deliver; otherwise asks the sensor for the raw layout.
    int configureSensor() override;
    // Writes the configuration texts, initialises the library, hands it the calibration
    // and the configuration directory, and starts it: 0 or -1. A failure after the texts
    // destroys the handle. A size pair the sensor cannot deliver, or a sensor frame of
    // another width or too small for the raw layout of the size and mode, fails the start
    // (-1) before anything is written.
    int start() override;
    int stop() override;
    // FMT_WIDTH, FMT_HEIGHT and MODE are refused (1) while a stream runs: the raw buffers
    // keep the size they were built with. A change of them lowers a frame rate set above
    // the maximum of the new size and mode to that maximum.
    int setControl(CameraCtrl ctrl, int value) override;
    int setControlExt(CameraCtrl ctrl, const char* text) override;
    int getControl(CameraCtrl ctrl, int* value) override;
    int getControlExt(CameraCtrl ctrl, const char** text) override;
    bool getRawImages(const uint8_t* src, int16_t* dst) override;
    bool getPhaseImage(const uint8_t* src, float* depth, float* amplitude,
                       float* confidence) override;
    // 41 / 23 fps at 640 x 480 and 61 / 36 at 320 x 240 (single / double frequency);
    // 1 for any other size.
    int getMaxFrameRate(int* value) override;

    bool streaming() const { return streaming_; }

private:
    bool singleFrequency() const;
    uint32_t subFrameCount() const;
    uint32_t rawRows() const;
    bool sensorFrameHoldsRawLayout() const;
    const FrameRateLimit* sizeLimit() const;
    // True, after one line on standard error, when the size is no pair the sensor delivers.
    bool sizeRefused() const;
    void keepFrameRateWithinMaximum();
    void handCalibration();
    bool handSensorCalibration();
    void destroyHandle();

    Host& host;
    SiSdkLibrary library;
    CalibrationFileMapping calibrationFile;
    bool streaming_ = false;
};

}  // namespace Zelvo
