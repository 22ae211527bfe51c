#include "depth/calibration_offsets.h"

#include <algorithm>
#include <cmath>

#include "depth/pixel_rows.h"

namespace ZelvoDepth {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// Where pixel `index` of `pixels` falls between the nodes of a grid of `nodes` along one axis:
// the lower node and the weight of the upper one.
struct GridPosition {
    int node;
    float weight;
};

GridPosition gridPosition(int index, int pixels, int nodes) {
    const double at = pixels > 1 ? static_cast<double>(index) * (nodes - 1) / (pixels - 1) : 0.0;
    const int node = std::min(static_cast<int>(at), nodes - 2);
    return {node, static_cast<float>(at - node)};
}

}  // namespace

void CalibrationOffsets::build(const Calibration* calibration, int width, int height) {
    records_.clear();
    width_ = static_cast<size_t>(width);
    planeSize_ = width_ * static_cast<size_t>(height);
    // Vector loops read up to kRowTail offsets past a row's last pixel, the last row's too.
    zeroRow_.assign(width_ + kRowTail, 0.0f);
    planes_.clear();
    if (calibration == nullptr) return;

    referenceTemperature_ = calibration->referenceTemperature;
    const int columns = calibration->gridColumns;
    const int rows = calibration->gridRows;
    std::vector<GridPosition> across(width_);
    for (int x = 0; x < width; ++x) across[x] = gridPosition(x, width, columns);
    planes_.assign(planeSize_ * calibration->frequencies.size() + kRowTail, 0.0f);
    const float unit = static_cast<float>(kGridOffsetUnit / kTwoPi);  // grid unit in turns
    float* out = planes_.data();
    for (const FrequencyCalibration& frequency : calibration->frequencies) {
        records_.push_back(
            {frequency.frequencyHz, frequency.globalOffset, frequency.temperatureCoefficient});
        for (int y = 0; y < height; ++y) {
            const GridPosition down = gridPosition(y, height, rows);
            const int16_t* top = &frequency.grid[static_cast<size_t>(down.node) * columns];
            const int16_t* bottom = top + columns;
            for (int x = 0; x < width; ++x) {
                const GridPosition right = across[x];
                const float upper =
                    top[right.node] + right.weight * (top[right.node + 1] - top[right.node]);
                const float lower = bottom[right.node] +
                                    right.weight * (bottom[right.node + 1] - bottom[right.node]);
                *out++ = unit * (upper + down.weight * (lower - upper));
            }
        }
    }
}

PhaseOffsets CalibrationOffsets::forFrequency(uint32_t frequencyHz,
                                              float temperatureCelsius) const {
    if (records_.empty()) return {zeroRow_.data(), 0, 0.0f};
    size_t nearest = 0;
    auto distance = [frequencyHz](uint32_t other) {
        return frequencyHz > other ? frequencyHz - other : other - frequencyHz;
    };
    for (size_t i = 1; i < records_.size(); ++i)
        if (distance(records_[i].frequencyHz) < distance(records_[nearest].frequencyHz))
            nearest = i;
    const Record& record = records_[nearest];
    const double radians =
        record.globalOffset + static_cast<double>(record.temperatureCoefficient) *
                                  (temperatureCelsius - referenceTemperature_);
    const double turns = radians / kTwoPi;
    return {planes_.data() + planeSize_ * nearest, width_,
            static_cast<float>(turns - std::floor(turns))};
}

}  // namespace ZelvoDepth
