#include "depth/depth_engine.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <sys/stat.h>

#include "depth/frequency_pair.h"
#include "depth/raw_header.h"

namespace ZelvoDepth {
namespace {

// Temporal reset thresholds (docs/depth-library.md, steps 2 and 3), in units of the noise
// variance v: three deviations of the difference of signals, of amplitudes.
constexpr float kDepthResetPerFrequency = 36.0f;
constexpr float kGrayReset = 9.0f;

// A variable's value, or null when it is unset or empty.
const char* environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

int clampRow(int y, int height) { return y < 0 ? 0 : y >= height ? height - 1 : y; }

// Repeats the first and last pixel of a ring row into its kRowPad columns at each side.
void padRow(float* row, int width) {
    for (int x = 1; x <= kRowPad; ++x) {
        row[-x] = row[0];
        row[width - 1 + x] = row[width - 1];
    }
}

}  // namespace

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
    calibration_.reset();
    if (data == nullptr || length == 0) return false;  // none: silently uncalibrated
    // Our format ends within kCalibrationMaxBytes: nothing beyond is read, whatever the length.
    Calibration calibration;
    CalibrationFault fault;
    if (!parseCalibration(data, std::min(length, kCalibrationMaxBytes), calibration, &fault)) {
        if (fault == CalibrationFault::WrongSize)
            std::fprintf(stderr,
                         "calibration: wrong size, %zu bytes for a length field of %zu "
                         "(%zu..%zu), not used\n",
                         length, announcedCalibrationLength(data, length), kCalibrationMinBytes,
                         kCalibrationMaxBytes);
        else
            std::fprintf(stderr, "calibration: failed check (%s), not used\n",
                         calibrationFaultName(fault));
        return false;
    }
    if (width_ != 0 && !calibrationServesOutput(calibration, width_, height_)) {
        std::fprintf(stderr,
                     "calibration: other resolution, %u x %u for a %d x %d output, not used\n",
                     unsigned{calibration.width}, unsigned{calibration.height}, width_, height_);
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
    std::string directory = configDirectory_;
    std::string named = "configuration directory ";
    if (directory.empty()) {
        const char* fromEnvironment = std::getenv(kConfigDirectoryVariable);
        if (fromEnvironment != nullptr) directory = fromEnvironment;
        named = std::string(kConfigDirectoryVariable) + "=";
    }
    // A directory named that is not there is worth a line: the parameters are not the ones
    // the user prepared.
    int error = 0;
    struct stat status;
    if (!directory.empty() && ::stat(directory.c_str(), &status) != 0)
        error = errno;
    else if (!directory.empty() && !S_ISDIR(status.st_mode))
        error = ENOTDIR;
    if (error != 0) {
        std::fprintf(stderr, "%s%.300s: %s, using the default parameters\n", named.c_str(),
                     directory.c_str(), std::strerror(error));
        parameters_ = AlgorithmParameters{};
    } else {
        parameters_ = readAlgorithmParameters(directory);
    }
    filters_ = filterSettings(parameters_.tDenoiseLevelDepth, parameters_.sDenoiseLevelDepth,
                              parameters_.tDenoiseLevelGray, parameters_.sDenoiseLevelGray,
                              parameters_.erdoLevel);
    validRange_ = ValidRange{parameters_.validDistMin, parameters_.validDistMax};
    readEnvironment();
    offsets_.build(calibration_ ? &*calibration_ : nullptr, width_, height_);
    const size_t pixels = static_cast<size_t>(width_) * height_;
    const bool temporal = filters_.depthAlpha > 0.0f || filters_.grayAlpha > 0.0f;
    state_.assign(temporal ? 2 * kStateComponents * pixels : 0, 0.0f);
    previousState_ = 0;
    stateValid_ = false;
    prepareRings();
    workers_.start(threads_);
    started_ = true;
    return true;
}

void DepthEngine::readEnvironment() {
    threads_ = 1;
    if (const char* text = environmentValue(kThreadsVariable)) {
        int threads = 0;
        const char* end = text + std::strlen(text);
        const auto read = std::from_chars(text, end, threads);
        if (read.ec == std::errc() && read.ptr == end && threads >= 1 && threads <= kMaxThreads)
            threads_ = threads;
        else
            std::fprintf(stderr, "%s=%.64s is not a thread count 1..%d, using 1\n",
                         kThreadsVariable, text, kMaxThreads);
    }
    threads_ = std::min(threads_, height_);  // a band holds at least one row

    LoopForm form = bestLoopForm();
    if (const char* text = environmentValue(kLoopFormVariable)) {
        LoopForm named;
        if (loopFormNamed(text, named) && pixelLoops(named) != nullptr)
            form = named;
        else
            std::fprintf(stderr, "%s=%.64s is not available, using %s\n", kLoopFormVariable, text,
                         pixelLoops(form)->name);
    }
    loops_ = pixelLoops(form);
}

void DepthEngine::prepareRings() {
    const size_t width = static_cast<size_t>(width_);
    stride_ = (width + 2 * kRowPad + kRowTail + 7) / 8 * 8;
    ringRadius_ = std::max(filters_.depthRadius, filters_.grayRadius);
    const size_t preparedRows = 2 * static_cast<size_t>(ringRadius_) + 1;
    const size_t depthRows = 2 * static_cast<size_t>(filters_.flyingReach) + 1;
    rings_.assign(static_cast<size_t>(threads_), BandRings{});
    for (BandRings& rings : rings_) {
        rings.storage.assign((preparedRows * kPreparedArrays + depthRows * 3) * stride_, 0.0f);
        float* next = rings.storage.data() + kRowPad;
        auto take = [&] {
            float* row = next;
            next += stride_;
            return row;
        };
        rings.prepared.resize(preparedRows);
        for (PreparedRow& row : rings.prepared) {
            row.i[0] = take();
            row.q[0] = take();
            row.i[1] = take();
            row.q[1] = take();
            row.amplitude = take();
            row.inverseNoise = take();
            row.confidence = take();
        }
        rings.depth.resize(depthRows);
        for (DepthRow& row : rings.depth) {
            row.depth = take();
            row.amplitude = take();
            row.confidence = take();
        }
    }
}

bool DepthEngine::computeFrame(const uint16_t* raw, float* depth, float* amplitude,
                               float* confidence) {
    // The mode is read once: a change from another thread applies from the next frame.
    const bool single = singleFrequency();
    if (!started_ || depth == nullptr || amplitude == nullptr || confidence == nullptr)
        return false;
    const DepthRow planes{depth, amplitude, confidence};
    RawFrameInfo info;
    const int count = single ? kSingleFrequencySubFrames : kDoubleFrequencySubFrames;
    if (!checkRawFrame(raw, width_, height_, count, info)) {
        zero(planes);
        return false;
    }
    FrameSetup& setup = job_.setup;
    setup = FrameSetup{};
    if (!single && !planFrequencyPair(info.frequencyHz[0], info.frequencyHz[1], setup.pair)) {
        zero(planes);
        return false;
    }
    const int frequencies = single ? 1 : 2;
    setup.twoFrequencies = !single;
    setup.filters = filters_;
    setup.range = validRange_;
    // The state holds another scene after a start or a change of mode or frequencies.
    const bool reset = !stateValid_ || single != lastSingle_ ||
                       info.frequencyHz[0] != lastFrequencyHz_[0] ||
                       info.frequencyHz[1] != lastFrequencyHz_[1];
    setup.depthReset = reset ? -1.0f : kDepthResetPerFrequency * frequencies;
    setup.grayReset = reset ? -1.0f : kGrayReset / frequencies;
    if (filters_.depthRadius > 0)
        setup.depthSpatialScale = 1.0f / (8.0f * filters_.depthStrength * frequencies);
    if (filters_.grayRadius > 0) setup.graySpatialScale = frequencies / filters_.grayStrength;
    for (int f = 0; f < frequencies; ++f) {
        job_.offsets[f] = offsets_.forFrequency(info.frequencyHz[f], info.temperatureCelsius[f]);
        setup.frameOffset[f] = job_.offsets[f].frameTurns;
    }
    if (single) {
        job_.offsets[1] = job_.offsets[0];
        setup.wrap = wrapMillimetres(info.frequencyHz[0]);
    }
    job_.raw = raw;
    job_.planes = planes;

    workers_.run(&DepthEngine::bandTask, this);

    if (!state_.empty()) previousState_ = 1 - previousState_;
    stateValid_ = true;
    lastSingle_ = single;
    lastFrequencyHz_[0] = info.frequencyHz[0];
    lastFrequencyHz_[1] = single ? 0 : info.frequencyHz[1];
    return true;
}

void DepthEngine::bandTask(void* engine, int band) {
    static_cast<DepthEngine*>(engine)->computeBand(band);
}

// Band `band` owns the output rows [first, end). Its depth rows reach K beyond them and its
// prepared rows R beyond those, within the image; it writes the temporal state of its own
// rows only, so the bands' results do not depend on their number.
void DepthEngine::computeBand(int band) {
    const int bands = static_cast<int>(rings_.size());
    const int first = static_cast<int>(static_cast<int64_t>(height_) * band / bands);
    const int end = static_cast<int>(static_cast<int64_t>(height_) * (band + 1) / bands);
    if (first >= end) return;
    BandRings& rings = rings_[static_cast<size_t>(band)];
    const int radius = ringRadius_;
    const int reach = filters_.flyingReach;
    const int depthFirst = std::max(0, first - reach);
    const int depthEnd = std::min(height_, end + reach);
    const int preparedSlots = 2 * radius + 1;
    const int depthSlots = 2 * reach + 1;
    int nextPrepared = std::max(0, depthFirst - radius);
    PreparedRow window[2 * kRowPad + 1];
    for (int y = depthFirst; y < depthEnd; ++y) {
        for (const int last = std::min(y + radius, height_ - 1); nextPrepared <= last;
             ++nextPrepared) {
            prepareRow(rings, nextPrepared, nextPrepared >= first && nextPrepared < end);
        }
        for (int dy = -radius; dy <= radius; ++dy)
            window[radius + dy] = rings.prepared[clampRow(y + dy, height_) % preparedSlots];
        const DepthRow& row = rings.depth[y % depthSlots];
        loops_->finish(window, job_.offsets[0].row(y), job_.offsets[1].row(y), row, job_.setup,
                       width_);
        padRow(row.depth, width_);
        if (y - reach >= first) repairRow(rings, y - reach);
    }
    for (int y = std::max(first, depthEnd - reach); y < end; ++y) repairRow(rings, y);
}

void DepthEngine::prepareRow(BandRings& rings, int y, bool owned) {
    SampleRows samples;
    for (int k = 0; k < 4; ++k) {
        samples.phase[0][k] = rawPixelRow(job_.raw, width_, height_, k, y);
        samples.phase[1][k] =
            job_.setup.twoFrequencies
                ? rawPixelRow(job_.raw, width_, height_, kSecondFrequencySubFrame + k, y)
                : samples.phase[0][k];
    }
    samples.gray = rawPixelRow(job_.raw, width_, height_, kGraySubFrame, y);
    samples.background = job_.setup.twoFrequencies
                             ? rawPixelRow(job_.raw, width_, height_, kBackgroundSubFrame, y)
                             : samples.gray;
    StateRows state{};
    if (!state_.empty()) {
        const size_t plane = static_cast<size_t>(width_) * height_;
        const size_t at = static_cast<size_t>(width_) * y;
        float* previous = state_.data() + plane * kStateComponents * previousState_;
        float* next = state_.data() + plane * kStateComponents * (1 - previousState_);
        for (int c = 0; c < kStateComponents; ++c) {
            state.previous[c] = previous + plane * c + at;
            state.next[c] = owned ? next + plane * c + at : nullptr;
        }
    }
    const PreparedRow& row = rings.prepared[y % rings.prepared.size()];
    loops_->prepare(samples, state, row, job_.setup, width_);
    for (float* array : {row.i[0], row.q[0], row.i[1], row.q[1], row.amplitude,
                         row.inverseNoise, row.confidence})
        padRow(array, width_);
}

void DepthEngine::repairRow(BandRings& rings, int y) {
    const int reach = filters_.flyingReach;
    const int slots = 2 * reach + 1;
    DepthRow window[2 * kRowPad + 1];
    for (int dy = -reach; dy <= reach; ++dy)
        window[reach + dy] = rings.depth[clampRow(y + dy, height_) % slots];
    const size_t at = static_cast<size_t>(width_) * y;
    const DepthRow out{job_.planes.depth + at, job_.planes.amplitude + at,
                       job_.planes.confidence + at};
    loops_->repair(window, out, job_.setup, width_);
}

void DepthEngine::zero(const DepthRow& planes) const {
    const size_t pixels = static_cast<size_t>(width_) * height_;
    std::fill(planes.depth, planes.depth + pixels, 0.0f);
    std::fill(planes.amplitude, planes.amplitude + pixels, 0.0f);
    std::fill(planes.confidence, planes.confidence + pixels, 0.0f);
}

}  // namespace ZelvoDepth
