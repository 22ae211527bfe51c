// Speed of the depth library's whole pipeline at 640 x 480, as a program drives it through the
// SiSDK calls (create, init, calibration, configuration directory, start, then
// SiSDKGetPhaseImage per frame), in single and double frequency, with the filters of
// "ConfigAlgorithm.json" at the values the driver writes and with every filter level at 0.
// The frames are a short sequence of a room with noise, a moving box, a calibrated sensor's
// phase errors and its calibration; each benchmark cycles through them. Beside it, a memory
// reference moves the same bytes (the frame's samples in, three float planes out) with next to
// no arithmetic, so that the library's time per pixel can be read against the machine's limit.
// CPU time is the whole process's: with ZELVO_DEPTH_THREADS above 1 it adds up the work of
// every thread that computes a frame.
//
//   depth_bench [--write=FOLDER] [Google Benchmark flags]
//   depth_bench --count=CASE [--count-frames=N]
//
// --write writes, before timing, what bench/depth_numpy_reference.py needs to run numpy on
// exactly the same input and compare results: "cali.bin" (the calibration), "single.raw" and
// "double.raw" (the frame sequences, little-endian 16-bit words), "defaults/" and "off/" (the
// two "ConfigAlgorithm.json" files) and "single-defaults.depth" and the like (the library's
// depth planes for every frame of the sequence from a fresh start, little-endian floats).
//
// --count runs one case (single, double, single-off or double-off) without timing: the
// sequence once to settle the filters' history, then N more frames (4 by default) inside
// depth_bench_counted_frames, for an instruction count under
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect=depth_bench_counted_frames
// It prints "counted_pixels=P", the pixels of those N frames.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "depth/calibration.h"
#include "depth/si_sdk.h"
#include "device/config_texts.h"
#include "tests/support/raw_frame_builder.h"

namespace {

using ZelvoDepth::testing::RawFrameBuilder;
using ZelvoDepth::testing::SyntheticPixel;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kPixels = kWidth * kHeight;
constexpr int kGridColumns = 17;
constexpr int kGridRows = 13;
constexpr float kReferenceTemperature = 35.0f;
constexpr double kFrameTemperature = 47.5;
// Frames in the sequence, and how far the box moves from one to the next (pixels).
constexpr int kSequenceFrames = 4;
constexpr double kBoxStep = 6.0;

// A room seen by a 640 x 480 camera: a back wall at 4 m, a floor 0.9 m below, a box at
// 1.3 m that moves sideways from frame to frame, a black poster too dark to measure and a
// reflector that saturates; amplitude falls with the square of the distance, ambient light
// adds to every level.
SyntheticPixel roomPixel(int x, int y, int frame) {
    const double focal = 520.0;
    const double dx = (x - kWidth / 2 + 0.5) / focal;
    const double dy = (y - kHeight / 2 + 0.5) / focal;
    double depth = 4000.0;
    if (dy > 0.05) depth = std::fmin(depth, 900.0 / dy);
    const double boxShift = kBoxStep * frame / focal;
    if (std::fabs(dx - boxShift) < 0.15 && dy > -0.1 && dy < 0.2) depth = 1300.0;
    SyntheticPixel pixel;
    pixel.distanceMm = depth * std::sqrt(1.0 + dx * dx + dy * dy);
    pixel.amplitude = std::fmin(1200.0, 1.6e9 / (pixel.distanceMm * pixel.distanceMm));
    if (x >= 60 && x < 140 && y >= 60 && y < 120) pixel.amplitude *= 0.004;    // a black poster
    if (x >= 500 && x < 540 && y >= 100 && y < 130) pixel.amplitude = 3000.0;  // a reflector
    pixel.background = 150.0 + 60.0 * (x % 97) / 97.0;
    pixel.offset = pixel.background + 0.8 * pixel.amplitude;
    pixel.gray = pixel.background + 1.6 * pixel.amplitude;
    return pixel;
}

// The sensor's smooth phase offsets in radians across the image (u, v in 0..1), in one of
// two shapes; the calibration grid samples them at its nodes.
double sensorOffset(int shape, double u, double v) {
    return (0.15 + 0.04 * shape) * ((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5));
}

// Calibration records: the single frequency, then the double pair; each with its own global
// offset (radians) and one temperature drift (radians per degree).
float globalOffset(int record) { return 0.4f + 0.3f * record; }
constexpr float kTemperatureCoefficient = 0.004f;

ZelvoDepth::Calibration roomCalibration() {
    ZelvoDepth::Calibration calibration;
    calibration.width = kWidth;
    calibration.height = kHeight;
    calibration.gridColumns = kGridColumns;
    calibration.gridRows = kGridRows;
    calibration.lens = {520.0f, 520.0f, 319.5f, 239.5f, 0.0f, 0.0f, 0.0f, 0.0f};
    calibration.referenceTemperature = kReferenceTemperature;
    const uint32_t frequencies[] = {ZelvoDepth::testing::kSingleFrequencyHz,
                                    ZelvoDepth::testing::kDoubleFrequencyHz[0],
                                    ZelvoDepth::testing::kDoubleFrequencyHz[1]};
    for (int record = 0; record < 3; ++record) {
        ZelvoDepth::FrequencyCalibration frequency;
        frequency.frequencyHz = frequencies[record];
        frequency.globalOffset = globalOffset(record);
        frequency.temperatureCoefficient = kTemperatureCoefficient;
        const int shape = record == 2 ? 1 : 0;
        for (int j = 0; j < kGridRows; ++j) {
            for (int i = 0; i < kGridColumns; ++i) {
                const double offset =
                    sensorOffset(shape, i / (kGridColumns - 1.0), j / (kGridRows - 1.0));
                frequency.grid.push_back(static_cast<int16_t>(std::lround(offset * 8192.0)));
            }
        }
        calibration.frequencies.push_back(frequency);
    }
    return calibration;
}

// The phase error of the sensor that roomCalibration describes.
double roomPhaseError(bool single, int frequency, int x, int y) {
    const int record = single ? 0 : 1 + frequency;
    return globalOffset(record) +
           kTemperatureCoefficient * (kFrameTemperature - kReferenceTemperature) +
           sensorOffset(record == 2 ? 1 : 0, x / (kWidth - 1.0), y / (kHeight - 1.0));
}

const std::vector<std::vector<uint16_t>>& roomFrames(bool single) {
    static const auto build = [](bool singleFrequency) {
        std::vector<std::vector<uint16_t>> frames;
        for (int frame = 0; frame < kSequenceFrames; ++frame) {
            RawFrameBuilder builder(kWidth, kHeight, singleFrequency);
            builder.scene([frame](int x, int y) { return roomPixel(x, y, frame); })
                .temperature(kFrameTemperature)
                .frameCounter(static_cast<uint32_t>(1 + frame))
                .noise(2.0, static_cast<uint32_t>(1 + frame));
            builder.phaseError([singleFrequency](int frequency, int x, int y) {
                return roomPhaseError(singleFrequency, frequency, x, y);
            });
            frames.push_back(builder.build());
        }
        return frames;
    };
    if (single) {
        static const std::vector<std::vector<uint16_t>> singleFrames = build(true);
        return singleFrames;
    }
    static const std::vector<std::vector<uint16_t>> doubleFrames = build(false);
    return doubleFrames;
}

const std::vector<uint8_t>& calibrationBytes() {
    static const std::vector<uint8_t> bytes = ZelvoDepth::encodeCalibration(roomCalibration());
    return bytes;
}

// "ConfigAlgorithm.json" as the driver writes it (every filter at its default) or with every
// filter level (the keys holding "Level", and "ERDOLvl") set to 0.
std::string algorithmText(bool filters) {
    const Zelvo::ConfigText& written = Zelvo::configTexts()[0];
    const std::string text(written.bytes, written.length);
    if (filters) return text;
    std::string off;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(begin, end - begin);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            const std::string key = line.substr(0, equals);
            if (key.find("Level") != std::string::npos || key == "ERDOLvl")
                line = key + "=0" + (line.back() == '\n' ? "\n" : "");
        }
        off += line;
        begin = end;
    }
    return off;
}

const char* caseFolder(bool filters) { return filters ? "defaults" : "off"; }

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// FOLDER/defaults/ and FOLDER/off/, each with its "ConfigAlgorithm.json".
bool writeConfigFolders(const std::string& folder) {
    for (bool filters : {true, false}) {
        const std::string directory = folder + "/" + caseFolder(filters);
        const std::string text = algorithmText(filters);
        if ((mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) ||
            !writeFile(directory + "/ConfigAlgorithm.json", text.data(), text.size())) {
            return false;
        }
    }
    return true;
}

// The configuration folders the benchmarks start their handles with: made in a temporary
// folder at the first use, removed at exit.
class ConfigFolders {
public:
    static const ConfigFolders& get() {
        static const ConfigFolders folders;
        return folders;
    }
    std::string directory(bool filters) const { return root_ + "/" + caseFolder(filters); }
    bool ready() const { return ready_; }

    ~ConfigFolders() {
        if (root_.empty()) return;
        for (bool filters : {true, false}) {
            std::remove((directory(filters) + "/ConfigAlgorithm.json").c_str());
            rmdir(directory(filters).c_str());
        }
        rmdir(root_.c_str());
    }

private:
    ConfigFolders() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/depth_bench.XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) return;
        root_ = pattern;
        ready_ = writeConfigFolders(root_);
    }

    std::string root_;
    bool ready_ = false;
};

// A handle started as a program starts it: size, calibration, configuration folder, mode.
class StartedHandle {
public:
    StartedHandle(bool single, const std::string& configDirectory) {
        SiSDKCreate(&handle_);
        SiSDKInit(handle_, kWidth, kHeight);
        SiSDKSetCaliData(handle_, calibrationBytes().data(),
                         static_cast<uint32_t>(calibrationBytes().size()));
        SiSDKSetConfig(handle_, configDirectory.c_str());
        SiSDKSetSingleFreq(handle_, single);
        started_ = SiSDKStart(handle_);
    }
    ~StartedHandle() { SiSDKDestroy(&handle_); }
    StartedHandle(const StartedHandle&) = delete;
    StartedHandle& operator=(const StartedHandle&) = delete;

    bool compute(const uint16_t* raw) {
        return started_ &&
               SiSDKGetPhaseImage(handle_, raw, depth.data(), amplitude.data(), confidence.data());
    }

    std::vector<float> depth = std::vector<float>(kPixels);
    std::vector<float> amplitude = std::vector<float>(kPixels);
    std::vector<float> confidence = std::vector<float>(kPixels);

private:
    SiSDKHandle handle_ = nullptr;
    bool started_ = false;
};

std::string caseLabel(bool single, bool filters) {
    return std::string(single ? "single" : "double") + " frequency, filters " +
           (filters ? "at defaults" : "off");
}

void BM_DepthPipeline(benchmark::State& state) {
    const bool single = state.range(0) == 1;
    const bool filters = state.range(1) == 1;
    const std::vector<std::vector<uint16_t>>& frames = roomFrames(single);
    if (!ConfigFolders::get().ready()) {
        state.SkipWithError("cannot write the configuration folders");
        return;
    }
    StartedHandle handle(single, ConfigFolders::get().directory(filters));
    for (const std::vector<uint16_t>& frame : frames) {
        if (!handle.compute(frame.data())) {
            state.SkipWithError("a frame was refused");
            return;
        }
    }
    size_t next = 0;
    for (auto _ : state) {
        handle.compute(frames[next].data());
        next = next + 1 == frames.size() ? 0 : next + 1;
        benchmark::DoNotOptimize(handle.depth.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetLabel(caseLabel(single, filters));
}
BENCHMARK(BM_DepthPipeline)
    ->ArgNames({"single", "filters"})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({0, 0})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// The memory reference: every pixel sample of the frame read, three float planes written,
// with only integer sums between (sub-frame k feeds plane k mod 3), so the loop runs at the
// speed the memory system moves those bytes.
template <int SubFrames>
void copyFrame(const uint16_t* __restrict raw, float* __restrict first, float* __restrict second,
               float* __restrict third) {
    const uint16_t* samples[SubFrames];
    for (int k = 0; k < SubFrames; ++k)
        samples[k] = raw + ZelvoDepth::rawSubFrameSamples(kWidth, kHeight) * k + kWidth;
    for (int i = 0; i < kPixels; ++i) {
        uint32_t sums[3] = {0, 0, 0};
        for (int k = 0; k < SubFrames; ++k) sums[k % 3] += samples[k][i];
        first[i] = static_cast<float>(sums[0]);
        second[i] = static_cast<float>(sums[1]);
        third[i] = static_cast<float>(sums[2]);
    }
}

void BM_MemoryReference(benchmark::State& state) {
    const bool single = state.range(0) == 1;
    const std::vector<std::vector<uint16_t>>& frames = roomFrames(single);
    const int subFrames = single ? ZelvoDepth::kSingleFrequencySubFrames
                                 : ZelvoDepth::kDoubleFrequencySubFrames;
    std::vector<float> planes[3] = {std::vector<float>(kPixels), std::vector<float>(kPixels),
                                    std::vector<float>(kPixels)};
    const auto copy = single ? copyFrame<ZelvoDepth::kSingleFrequencySubFrames>
                             : copyFrame<ZelvoDepth::kDoubleFrequencySubFrames>;
    size_t next = 0;
    for (auto _ : state) {
        copy(frames[next].data(), planes[0].data(), planes[1].data(), planes[2].data());
        next = next + 1 == frames.size() ? 0 : next + 1;
        benchmark::DoNotOptimize(planes[0].data());
        benchmark::ClobberMemory();
    }
    const double bytes = static_cast<double>(kPixels) * (subFrames * sizeof(uint16_t) +
                                                         3 * sizeof(float));
    state.counters["bytes"] = bytes;
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(std::string("memory reference, ") + (single ? "single" : "double") +
                   " frequency");
}
BENCHMARK(BM_MemoryReference)->ArgName("single")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// Prints what Google Benchmark prints, then a table of time per pixel and frame rate (CPU
// time; the medians when repeated).
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                kept_.push_back(run);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printSummary() {
        std::ostream& out = GetOutputStream();
        char line[128];
        std::snprintf(line, sizeof line, "\n%-44s %9s %10s %8s\n", "CPU time, 640 x 480",
                      "ns/pixel", "frames/s", "GB/s");
        out << line;
        for (const Run& run : kept_) {
            if (run.error_occurred) continue;
            const double seconds =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            std::snprintf(line, sizeof line, "%-44s %9.2f %10.1f", run.report_label.c_str(),
                          seconds / kPixels * 1e9, 1.0 / seconds);
            out << line;
            const auto bytes = run.counters.find("bytes");
            if (bytes != run.counters.end()) {
                std::snprintf(line, sizeof line, " %8.2f", bytes->second / seconds / 1e9);
                out << line;
            }
            out << "\n";
        }
        out.flush();
    }

private:
    std::vector<Run> kept_;
};

bool writeInputsAndResults(const std::string& folder) {
    if (!writeFile(folder + "/cali.bin", calibrationBytes().data(), calibrationBytes().size()) ||
        !writeConfigFolders(folder)) {
        return false;
    }
    for (bool single : {true, false}) {
        const std::string mode = folder + (single ? "/single" : "/double");
        std::vector<uint16_t> sequence;
        for (const std::vector<uint16_t>& frame : roomFrames(single))
            sequence.insert(sequence.end(), frame.begin(), frame.end());
        if (!writeFile(mode + ".raw", sequence.data(), sequence.size() * sizeof(uint16_t)))
            return false;
        for (bool filters : {true, false}) {
            StartedHandle handle(single, folder + "/" + caseFolder(filters));
            std::vector<float> depths;
            for (const std::vector<uint16_t>& frame : roomFrames(single)) {
                if (!handle.compute(frame.data())) return false;
                depths.insert(depths.end(), handle.depth.begin(), handle.depth.end());
            }
            if (!writeFile(mode + "-" + caseFolder(filters) + ".depth", depths.data(),
                           depths.size() * sizeof(float))) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

// The frames an instruction count covers: callgrind collects inside this function only.
// `handle` is a StartedHandle; the plain signature keeps the name unmangled for the
// collection filter.
extern "C" __attribute__((noinline)) bool depth_bench_counted_frames(void* handle, bool single,
                                                                      int count) {
    bool computed = true;
    for (int frame = 0; frame < count; ++frame) {
        computed &= static_cast<StartedHandle*>(handle)->compute(
            roomFrames(single)[frame % kSequenceFrames].data());
    }
    return computed;
}

namespace {

int countInstructions(const std::string& name, int count) {
    const bool single = name.rfind("single", 0) == 0;
    const bool filters = name.size() < 4 || name.compare(name.size() - 4, 4, "-off") != 0;
    if ((!single && name.rfind("double", 0) != 0) || count < 1 ||
        name.size() != (filters ? 6u : 10u)) {
        std::fprintf(stderr, "depth_bench: --count takes single, double, single-off or "
                             "double-off and --count-frames a positive number\n");
        return 2;
    }
    if (!ConfigFolders::get().ready()) {
        std::fprintf(stderr, "depth_bench: cannot write the configuration folders\n");
        return 1;
    }
    StartedHandle handle(single, ConfigFolders::get().directory(filters));
    for (const std::vector<uint16_t>& frame : roomFrames(single)) {
        if (!handle.compute(frame.data())) {
            std::fprintf(stderr, "depth_bench: a frame was refused\n");
            return 1;
        }
    }
    if (!depth_bench_counted_frames(&handle, single, count)) return 1;
    std::printf("counted_pixels=%lld\n", static_cast<long long>(count) * kPixels);
    return 0;
}

// The value of --NAME=VALUE, or null.
const char* optionValue(const char* argument, const char* name) {
    const size_t length = std::strlen(name);
    if (std::strncmp(argument, "--", 2) != 0 || std::strncmp(argument + 2, name, length) != 0 ||
        argument[2 + length] != '=') {
        return nullptr;
    }
    return argument + 3 + length;
}

}  // namespace

int main(int argc, char** argv) {
    std::string count;
    int countFrames = 4;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (const char* folder = optionValue(argv[i], "write")) {
            if (!writeInputsAndResults(folder)) {
                std::fprintf(stderr, "depth_bench: cannot write the frames and results to %s\n",
                             folder);
                return 1;
            }
        } else if (const char* value = optionValue(argv[i], "count")) {
            count = value;
        } else if (const char* frames = optionValue(argv[i], "count-frames")) {
            countFrames = std::atoi(frames);
        } else {
            argv[kept++] = argv[i];
        }
    }
    if (!count.empty()) return countInstructions(count, countFrames);
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
}
