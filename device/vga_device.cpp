#include "device/vga_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

#include "device/config_files.h"
#include "device/sensor_calibration.h"
#include "sensor/csi/csi_sensor.h"

namespace Zelvo {
namespace {

// The library may still be finishing work on the last frame when the stream ends.
constexpr std::chrono::milliseconds kCloseSettleTime{500};

constexpr FrameRateLimit kFrameRateLimits[] = {
    {640, 480, 41, 23},
    {320, 240, 61, 36},
};

bool validWidth(int value) { return value == 320 || value == 640; }
bool validHeight(int value) { return value == 240 || value == 480; }

}  // namespace

ZelvoDeviceVGA::ZelvoDeviceVGA(int32_t platform, Host& host)
    : ZelvoDevice(platform), host(host), library(host) {}

bool ZelvoDeviceVGA::singleFrequency() const {
    // Without a handle the library has no mode to ask; it starts in single-frequency mode.
    if (!library.loaded() || handle == nullptr) return true;
    return library.calls().isSingleFreq(handle);
}

uint32_t ZelvoDeviceVGA::subFrameCount() const {
    return singleFrequency() ? kSingleFrequencySubFrames : kDoubleFrequencySubFrames;
}

uint32_t ZelvoDeviceVGA::rawRows() const {
    return (static_cast<uint32_t>(height) + 1) * subFrameCount();
}

DeviceType ZelvoDeviceVGA::getDeviceType() { return VGA; }

void ZelvoDeviceVGA::getFrameLayouts(FrameLayout& raw, FrameLayout& output) {
    raw = FrameLayout{kLayoutCode, static_cast<uint32_t>(width), rawRows()};
    output.width = static_cast<uint32_t>(width);
    output.height = static_cast<uint32_t>(height);
}

int ZelvoDeviceVGA::init(ZelvoTOFSensor* newSensor, DeviceType) {
    if (newSensor == nullptr) return ZelvoInvalidParameter;
    sensor = newSensor;
    if (!library.load()) return ZelvoUnkownError;
    return library.calls().create(&handle) ? ZelvoSuccess : ZelvoUnkownError;
}

int ZelvoDeviceVGA::close() {
    // sleep_for resumes after a signal with the time that is left.
    std::this_thread::sleep_for(kCloseSettleTime);
    destroyHandle();
    streaming_ = false;
    library.unload();
    return ZelvoSuccess;
}

const FrameRateLimit* ZelvoDeviceVGA::sizeLimit() const {
    for (const FrameRateLimit& limit : kFrameRateLimits) {
        if (limit.width == width && limit.height == height) return &limit;
    }
    return nullptr;
}

bool ZelvoDeviceVGA::sizeRefused() const {
    if (sizeLimit() != nullptr) return false;
    std::fprintf(stderr,
                 "Error: the VGA size %d x %d cannot be delivered by the sensor; "
                 "it delivers 640 x 480 and 320 x 240\n",
                 static_cast<int>(width), static_cast<int>(height));
    return true;
}

int ZelvoDeviceVGA::configureSensor() {
    if (sensor == nullptr) return ZelvoUnkownError;
    // Widths and heights are set one at a time; only at the start must they make a pair.
    if (sizeRefused()) return ZelvoUnkownError;
    // Refusals are of no consequence: the USB sensor refuses every size.
    sensor->setControl(FMT_WIDTH, width);
    sensor->setControl(FMT_HEIGHT, static_cast<int>(rawRows()));
    return ZelvoSuccess;
}

bool ZelvoDeviceVGA::sensorFrameHoldsRawLayout() const {
    // The camera reads the sensor into a staging buffer of the sensor's frame size (its
    // frames per request of width x height samples), and the raw copy and the library read
    // width x rawRows samples from it.
    const CameraInfo frame = sensor->getCameraInfo();
    const uint64_t held = static_cast<uint64_t>(frame.width) * frame.height *
                          static_cast<uint64_t>(std::max(sensor->framesPerRequest, 0));
    // A row of another width would shift every sub-frame, however many samples arrive.
    return frame.width == static_cast<uint32_t>(width) &&
           held >= static_cast<uint64_t>(width) * rawRows();
}

int ZelvoDeviceVGA::start() {
    if (!library.loaded() || sensor == nullptr) return ZelvoUnkownError;
    if (sizeRefused() || !sensorFrameHoldsRawLayout()) return ZelvoUnkownError;
    if (!writeConfigFiles(host)) return ZelvoUnkownError;
    const SiSdkCalls& calls = library.calls();
    if (handle == nullptr || !calls.init(handle, width, height)) {
        destroyHandle();
        return ZelvoUnkownError;
    }
    handCalibration();
    if (!configDir.empty()) calls.setConfig(handle, configDir.c_str());
    if (!calls.start(handle)) {
        destroyHandle();
        return ZelvoUnkownError;
    }
    streaming_ = true;
    return ZelvoSuccess;
}

int ZelvoDeviceVGA::stop() {
    streaming_ = false;
    return ZelvoSuccess;
}

void ZelvoDeviceVGA::handCalibration() {
    if (readSensorCalibration && handSensorCalibration()) return;

    // A missing, empty or unmappable file is no error: the library runs uncalibrated,
    // or with what an earlier start gave it.
    CalibrationFileMapping next;
    std::string problem;
    if (!next.map(host, kCalibrationFileName, problem)) {
        if (!problem.empty()) {
            std::fprintf(stderr, "Error: cannot use the calibration file %s: %s\n",
                         kCalibrationFileName, problem.c_str());
        }
        return;
    }
    if (next.size() > std::numeric_limits<uint32_t>::max()) {
        next.release(host);
        return;
    }
    library.calls().setCaliData(handle, next.data(), static_cast<uint32_t>(next.size()));
    // The library holds the new bytes now, so the mapping of the previous start can go.
    calibrationFile.release(host);
    calibrationFile = next;
}

bool ZelvoDeviceVGA::handSensorCalibration() {
    auto* csiSensor = dynamic_cast<ZelvoTOFCSISensor*>(sensor);
    if (csiSensor == nullptr) return false;
    const SensorCalibration calibration = Zelvo::readSensorCalibration(*csiSensor);
    if (!calibration.read()) return false;

    const uint8_t* bytes = csiSensor->calibrationData();
    library.calls().setCaliData(handle, bytes, static_cast<uint32_t>(calibration.length));
    if (saveSensorCalibration) {
        saveCalibrationFile(host, kSensorCalibrationCopyName, bytes, calibration.length);
    }
    calibrationFile.release(host);
    return true;
}

void ZelvoDeviceVGA::destroyHandle() {
    if (library.loaded()) library.calls().destroy(&handle);
    // A destroyed handle reads no calibration any more.
    calibrationFile.release(host);
}

int ZelvoDeviceVGA::setControl(CameraCtrl ctrl, int value) {
    switch (ctrl) {
    case FMT_WIDTH:
        if (streaming_ || !validWidth(value)) return ZelvoInvalidParameter;
        width = value;
        keepFrameRateWithinMaximum();
        return ZelvoSuccess;
    case FMT_HEIGHT:
        if (streaming_ || !validHeight(value)) return ZelvoInvalidParameter;
        height = value;
        keepFrameRateWithinMaximum();
        return ZelvoSuccess;
    case MODE:
        if (streaming_ || (value != SINGLE_FREQ && value != DOUBLE_FREQ)) {
            return ZelvoInvalidParameter;
        }
        if (!library.loaded() || handle == nullptr) return ZelvoUnkownError;
        library.calls().setSingleFreq(handle, value == SINGLE_FREQ);
        keepFrameRateWithinMaximum();
        return ZelvoSuccess;
    case FRAME_MODE:
        return ZelvoNotImplemented;
    case FRAME_RATE: {
        if (sensor == nullptr) return ZelvoUnkownError;
        const int result = sensor->setControl(FRAME_RATE, value);
        if (result != ZelvoSuccess) return result;
        frameRateSet = true;
        return ZelvoSuccess;
    }
    default:
        return ZelvoInvalidParameter;
    }
}

int ZelvoDeviceVGA::setControlExt(CameraCtrl ctrl, const char* text) {
    if (ctrl != CONFIG_DIR_EXT || text == nullptr) return ZelvoInvalidParameter;
    configDir = text;
    return ZelvoSuccess;
}

int ZelvoDeviceVGA::getControl(CameraCtrl ctrl, int* value) {
    if (ctrl == FRAME_MODE) return ZelvoNotImplemented;
    if (ctrl == FRAME_RATE && !frameRateSet) return getMaxFrameRate(value);
    const bool own = ctrl == RANGE || ctrl == FMT_WIDTH || ctrl == FMT_HEIGHT || ctrl == MODE;
    if (!own) {
        if (sensor == nullptr) return ZelvoUnkownError;
        return sensor->getControl(ctrl, value);
    }
    if (value == nullptr) return ZelvoInvalidParameter;
    switch (ctrl) {
    case RANGE:
        *value = singleFrequency() ? kSingleFrequencyRange : kDoubleFrequencyRange;
        break;
    case FMT_WIDTH:
        *value = width;
        break;
    case FMT_HEIGHT:
        *value = height;
        break;
    default:  // MODE
        *value = singleFrequency() ? SINGLE_FREQ : DOUBLE_FREQ;
        break;
    }
    return ZelvoSuccess;
}

int ZelvoDeviceVGA::getControlExt(CameraCtrl ctrl, const char** text) {
    if (ctrl != CONFIG_DIR_EXT || text == nullptr) return ZelvoInvalidParameter;
    *text = configDir.c_str();
    return ZelvoSuccess;
}

bool ZelvoDeviceVGA::getRawImages(const uint8_t* src, int16_t* dst) {
    if (src == nullptr || dst == nullptr) return false;
    const size_t samples = static_cast<size_t>(width) * rawRows();
    std::memcpy(dst, src, samples * sizeof *dst);
    return true;
}

bool ZelvoDeviceVGA::getPhaseImage(const uint8_t* src, float* depth, float* amplitude,
                                   float* confidence) {
    if (!library.loaded() || handle == nullptr || src == nullptr) return false;
    return library.calls().getPhaseImage(handle, reinterpret_cast<const uint16_t*>(src), depth,
                                         amplitude, confidence);
}

int ZelvoDeviceVGA::getMaxFrameRate(int* value) {
    if (value == nullptr) return ZelvoInvalidParameter;
    const FrameRateLimit* limit = sizeLimit();
    if (limit == nullptr) return ZelvoInvalidParameter;
    *value = singleFrequency() ? limit->singleFrequency : limit->doubleFrequency;
    return ZelvoSuccess;
}

void ZelvoDeviceVGA::keepFrameRateWithinMaximum() {
    // A rate never set is answered with the maximum of the new size and mode already.
    int maximum = 0, rate = 0;
    if (!frameRateSet.load() || sensor == nullptr || getMaxFrameRate(&maximum) != ZelvoSuccess) {
        return;
    }
    if (sensor->getControl(FRAME_RATE, &rate) == ZelvoSuccess && rate > maximum) {
        sensor->setControl(FRAME_RATE, maximum);
    }
}

}  // namespace Zelvo
