#include "depth/depth_engine.h"

#include <algorithm>

#include "depth/raw_header.h"

namespace ZelvoDepth {

bool DepthEngine::init(int width, int height) {
    started_ = false;
    calibration_.reset();
    configDirectory_.clear();
    const bool fits = width >= kMinWidth && width <= kMaxSize && height >= 1 && height <= kMaxSize;
    width_ = fits ? width : 0;
    height_ = fits ? height : 0;
    return fits;
}

bool DepthEngine::setCalibration(const uint8_t* data, size_t length) {
    Calibration calibration;
    if (data == nullptr || !parseCalibration(data, length, calibration)) {
        calibration_.reset();
        return false;
    }
    calibration_ = std::move(calibration);
    return true;
}

void DepthEngine::setConfigDirectory(const char* directory) {
    configDirectory_ = directory != nullptr ? directory : "";
}

bool DepthEngine::start() {
    started_ = false;
    if (width_ == 0) return false;
    parameters_ = readAlgorithmParameters(configDirectory_);
    validRange_ = ValidRange{parameters_.validDistMin, parameters_.validDistMax};
    offsets_.build(calibration_ ? &*calibration_ : nullptr, width_, height_);
    prepareRowScratch();
    started_ = true;
    return true;
}

bool DepthEngine::computeFrame(const uint16_t* raw, float* depth, float* amplitude,
                               float* confidence) {
    // The mode is read once: a change from another thread applies from the next frame.
    const bool single = singleFrequency();
    if (!started_ || depth == nullptr || amplitude == nullptr || confidence == nullptr)
        return false;
    const OutputRow planes{depth, amplitude, confidence};
    RawFrameInfo info;
    const int count = single ? kSingleFrequencySubFrames : kDoubleFrequencySubFrames;
    if (!checkRawFrame(raw, width_, height_, count, info)) {
        zero(planes);
        return false;
    }
    if (single) {
        computeSingleFrequency(raw, info, planes);
        return true;
    }
    FrequencyPair pair;
    if (!planFrequencyPair(info.frequencyHz[0], info.frequencyHz[1], pair)) {
        zero(planes);
        return false;
    }
    computeDoubleFrequency(raw, info, pair, planes);
    return true;
}

void DepthEngine::computeSingleFrequency(const uint16_t* raw, const RawFrameInfo& info,
                                         const OutputRow& planes) const {
    const PhaseOffsets offsets =
        offsets_.forFrequency(info.frequencyHz[0], info.temperatureCelsius[0]);
    const float wrap = wrapMillimetres(info.frequencyHz[0]);
    for (int y = 0; y < height_; ++y) {
        demodulateRow(frequencyRow(raw, 0, offsets, y), demodulated_[0], width_);
        finishSingleFrequencyRow(demodulated_[0],
                                 rawPixelRow(raw, width_, height_, kGraySubFrame, y), wrap,
                                 validRange_, outputRow(planes, y), width_);
    }
}

void DepthEngine::computeDoubleFrequency(const uint16_t* raw, const RawFrameInfo& info,
                                         const FrequencyPair& pair, const OutputRow& planes) const {
    const PhaseOffsets offsets[2] = {
        offsets_.forFrequency(info.frequencyHz[0], info.temperatureCelsius[0]),
        offsets_.forFrequency(info.frequencyHz[1], info.temperatureCelsius[1])};
    for (int y = 0; y < height_; ++y) {
        demodulateRow(frequencyRow(raw, 0, offsets[0], y), demodulated_[0], width_);
        demodulateRow(frequencyRow(raw, kSecondFrequencySubFrame, offsets[1], y), demodulated_[1],
                      width_);
        finishDoubleFrequencyRow(demodulated_[0], demodulated_[1],
                                 rawPixelRow(raw, width_, height_, kGraySubFrame, y),
                                 rawPixelRow(raw, width_, height_, kBackgroundSubFrame, y), pair,
                                 validRange_, outputRow(planes, y), width_);
    }
}

FrequencyRow DepthEngine::frequencyRow(const uint16_t* raw, int firstSubFrame,
                                       const PhaseOffsets& offsets, int y) const {
    FrequencyRow row;
    for (int k = 0; k < 4; ++k)
        row.phase[k] = rawPixelRow(raw, width_, height_, firstSubFrame + k, y);
    row.gridOffset = offsets.row(y);
    row.frameOffset = offsets.frameTurns;
    return row;
}

OutputRow DepthEngine::outputRow(const OutputRow& planes, int y) const {
    const size_t at = static_cast<size_t>(width_) * y;
    return {planes.depth + at, planes.amplitude + at, planes.confidence + at};
}

void DepthEngine::prepareRowScratch() {
    constexpr size_t kArrays = 5;  // the members of DemodulatedRow
    const size_t width = static_cast<size_t>(width_);
    rowScratch_.assign(2 * kArrays * width, 0.0f);
    for (int frequency = 0; frequency < 2; ++frequency) {
        float* base = rowScratch_.data() + frequency * kArrays * width;
        demodulated_[frequency] = {base, base + width, base + 2 * width, base + 3 * width,
                                   base + 4 * width};
    }
}

void DepthEngine::zero(const OutputRow& planes) const {
    const size_t pixels = static_cast<size_t>(width_) * height_;
    std::fill(planes.depth, planes.depth + pixels, 0.0f);
    std::fill(planes.amplitude, planes.amplitude + pixels, 0.0f);
    std::fill(planes.confidence, planes.confidence + pixels, 0.0f);
}

}  // namespace ZelvoDepth
