// Speed of the depth library's SiSDKGetPhaseImage at 640 x 480, single and double frequency,
// on a room-like raw frame with noise, a calibrated sensor's phase errors and its calibration.
//
//   depth_bench [--write=FOLDER] [Google Benchmark flags]
//
// --write writes, before timing, what bench/depth_numpy_reference.py needs to time numpy on
// exactly the same input and compare results: "single.raw" and "double.raw" (the frames,
// little-endian 16-bit words), "cali.bin" (the calibration) and "single.depth" and
// "double.depth" (the library's depth planes, little-endian floats).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "depth/calibration.h"
#include "depth/si_sdk.h"
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

// A room seen by a 640 x 480 camera: a back wall at 4 m, a floor 0.9 m below, a box at
// 1.3 m, a black poster too dark to measure and a reflector that saturates; amplitude falls
// with the square of the distance, ambient light adds to every level.
SyntheticPixel roomPixel(int x, int y) {
    const double focal = 520.0;
    const double dx = (x - kWidth / 2 + 0.5) / focal;
    const double dy = (y - kHeight / 2 + 0.5) / focal;
    double depth = 4000.0;
    if (dy > 0.05) depth = std::fmin(depth, 900.0 / dy);
    if (std::fabs(dx) < 0.15 && dy > -0.1 && dy < 0.2) depth = 1300.0;
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

const std::vector<uint16_t>& roomFrame(bool single) {
    static const auto build = [](bool singleFrequency) {
        RawFrameBuilder builder(kWidth, kHeight, singleFrequency);
        builder.scene(roomPixel).temperature(kFrameTemperature).noise(2.0);
        builder.phaseError([singleFrequency](int frequency, int x, int y) {
            return roomPhaseError(singleFrequency, frequency, x, y);
        });
        return builder.build();
    };
    static const std::vector<uint16_t> singleFrame = build(true);
    static const std::vector<uint16_t> doubleFrame = build(false);
    return single ? singleFrame : doubleFrame;
}

const std::vector<uint8_t>& calibrationBytes() {
    static const std::vector<uint8_t> bytes = ZelvoDepth::encodeCalibration(roomCalibration());
    return bytes;
}

// A started handle for one mode, with the calibration and the default parameters.
class StartedHandle {
public:
    explicit StartedHandle(bool single) {
        SiSDKCreate(&handle_);
        SiSDKInit(handle_, kWidth, kHeight);
        SiSDKSetCaliData(handle_, calibrationBytes().data(),
                         static_cast<uint32_t>(calibrationBytes().size()));
        SiSDKSetSingleFreq(handle_, single);
        started_ = SiSDKStart(handle_);
    }
    ~StartedHandle() { SiSDKDestroy(&handle_); }

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

void BM_SiSDKGetPhaseImage(benchmark::State& state) {
    const bool single = state.range(0) == 1;
    StartedHandle handle(single);
    const uint16_t* raw = roomFrame(single).data();
    if (!handle.compute(raw)) {
        state.SkipWithError("the frame was refused");
        return;
    }
    for (auto _ : state) {
        handle.compute(raw);
        benchmark::DoNotOptimize(handle.depth.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetLabel(single ? "single frequency" : "double frequency");
}
BENCHMARK(BM_SiSDKGetPhaseImage)->ArgName("single")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

bool writeInputsAndResults(const std::string& folder) {
    if (!writeFile(folder + "/cali.bin", calibrationBytes().data(), calibrationBytes().size()))
        return false;
    for (bool single : {true, false}) {
        const std::string name = folder + (single ? "/single" : "/double");
        const std::vector<uint16_t>& raw = roomFrame(single);
        StartedHandle handle(single);
        if (!handle.compute(raw.data()) ||
            !writeFile(name + ".raw", raw.data(), raw.size() * sizeof(uint16_t)) ||
            !writeFile(name + ".depth", handle.depth.data(), kPixels * sizeof(float))) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* kWriteOption = "--write=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kWriteOption, std::strlen(kWriteOption)) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        if (!writeInputsAndResults(argv[i] + std::strlen(kWriteOption))) {
            std::fprintf(stderr, "cannot write the frames and results to %s\n",
                         argv[i] + std::strlen(kWriteOption));
            return 1;
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
