#include "tools/calibration_summary.h"

#include <algorithm>

namespace ZelvoTools {

void printCalibration(std::FILE* out, const ZelvoDepth::Calibration& calibration,
                      size_t length) {
    const ZelvoDepth::LensIntrinsics& lens = calibration.lens;
    std::fprintf(out, "Zelvo calibration, %zu bytes\n", length);
    std::fprintf(out, "  module: %u x %u pixels\n", unsigned{calibration.width},
                 unsigned{calibration.height});
    std::fprintf(out, "  lens: fx %.2f fy %.2f cx %.2f cy %.2f pixels\n", lens.fx, lens.fy,
                 lens.cx, lens.cy);
    std::fprintf(out, "  distortion: k1 %.6f k2 %.6f p1 %.6f p2 %.6f\n", lens.k1, lens.k2,
                 lens.p1, lens.p2);
    std::fprintf(out, "  reference temperature: %.1f C\n", calibration.referenceTemperature);
    std::fprintf(out, "  offset grid: %u x %u nodes\n", unsigned{calibration.gridColumns},
                 unsigned{calibration.gridRows});
    int number = 0;
    for (const ZelvoDepth::FrequencyCalibration& frequency : calibration.frequencies) {
        const auto [lowest, highest] =
            std::minmax_element(frequency.grid.begin(), frequency.grid.end());
        const bool grid = lowest != frequency.grid.end();
        std::fprintf(out,
                     "  frequency %d: %u Hz, offset %.4f rad, drift %.6f rad/C, "
                     "grid offsets %.4f to %.4f rad\n",
                     ++number, frequency.frequencyHz, frequency.globalOffset,
                     frequency.temperatureCoefficient,
                     grid ? *lowest * ZelvoDepth::kGridOffsetUnit : 0.0f,
                     grid ? *highest * ZelvoDepth::kGridOffsetUnit : 0.0f);
    }
}

}  // namespace ZelvoTools
