// The depth library's calibration: the parser, the encoding of what it read, and the
// expansion of the offset grids at a start.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "depth/calibration.h"
#include "depth/si_sdk.h"

namespace {

bool sameCalibration(const ZelvoDepth::Calibration& a, const ZelvoDepth::Calibration& b) {
    if (a.width != b.width || a.height != b.height || a.gridColumns != b.gridColumns ||
        a.gridRows != b.gridRows || a.frequencies.size() != b.frequencies.size() ||
        std::memcmp(&a.lens, &b.lens, sizeof a.lens) != 0 ||
        std::memcmp(&a.referenceTemperature, &b.referenceTemperature, sizeof(float)) != 0) {
        return false;
    }
    for (size_t i = 0; i < a.frequencies.size(); ++i) {
        const ZelvoDepth::FrequencyCalibration& x = a.frequencies[i];
        const ZelvoDepth::FrequencyCalibration& y = b.frequencies[i];
        if (x.frequencyHz != y.frequencyHz || x.grid != y.grid ||
            std::memcmp(&x.globalOffset, &y.globalOffset, sizeof(float)) != 0 ||
            std::memcmp(&x.temperatureCoefficient, &y.temperatureCoefficient, sizeof(float)) != 0)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the input's bytes, so a read past them is caught.
    std::vector<uint8_t> bytes(data, data + size);
    ZelvoDepth::Calibration calibration;
    const bool parsed = ZelvoDepth::parseCalibration(bytes.data(), bytes.size(), calibration);
    if (parsed) {
        // What was read encodes again, and reads back the same.
        const std::vector<uint8_t> encoded = ZelvoDepth::encodeCalibration(calibration);
        ZelvoDepth::Calibration again;
        if (encoded.empty() ||
            !ZelvoDepth::parseCalibration(encoded.data(), encoded.size(), again) ||
            !sameCalibration(calibration, again)) {
            std::abort();
        }
    }

    // The library takes a calibration that parses and serves its output size. A small output
    // the calibration serves, where there is one, so that a start expands its grids.
    int width = 40, height = 3;
    for (int factor = 1; parsed && factor <= static_cast<int>(calibration.width); ++factor) {
        const int w = static_cast<int>(calibration.width) / factor;
        const int h = static_cast<int>(calibration.height) / factor;
        if (w * factor == static_cast<int>(calibration.width) &&
            h * factor == static_cast<int>(calibration.height) && w <= 64 && h >= 1 && h <= 64) {
            width = w;
            height = h;
            break;
        }
    }
    const bool usable = parsed && ZelvoDepth::calibrationServesOutput(calibration, width, height);
    SiSDKHandle handle = nullptr;
    if (!SiSDKCreate(&handle) || !SiSDKInit(handle, width, height) ||
        !SiSDKSetConfig(handle, "/"))
        std::abort();
    if (SiSDKSetCaliData(handle, bytes.data(), static_cast<uint32_t>(bytes.size())) != usable)
        std::abort();
    if (!SiSDKStart(handle)) std::abort();
    SiSDKDestroy(&handle);
    return 0;
}
