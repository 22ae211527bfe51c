// The calibration tool's reader: a file's bytes parsed as a calibration and, when they
// are one, printed as the tool shows them.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "depth/calibration.h"
#include "tools/calibration_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* const sink = std::fopen("/dev/null", "w");
    const std::vector<uint8_t> bytes(data, data + size);
    ZelvoDepth::Calibration calibration;
    if (!ZelvoDepth::parseCalibration(bytes.data(), bytes.size(), calibration)) return 0;
    const size_t length = ZelvoDepth::announcedCalibrationLength(bytes.data(), bytes.size());
    if (length > bytes.size()) std::abort();
    ZelvoTools::printCalibration(sink, calibration, length);
    return 0;
}
