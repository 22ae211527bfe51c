// Speed of the HQVGA device's data operations on a room-like raw frame.
//
//   hqvga_bench [--write-frame=PATH] [--write-depth=PATH] [Google Benchmark flags]
//
// --write-frame writes the raw frame (172800 little-endian 16-bit words) before timing,
// so that bench/hqvga_numpy_reference.py times numpy on exactly the same input;
// --write-depth writes the device's depth plane of that frame at RANGE 4000 (43200
// little-endian floats), for the script to compare with its own result.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zelvo/types.h>
#include "device/hqvga_device.h"
#include "device/hqvga_sample.h"

namespace {

using Zelvo::ZelvoDeviceHQVGA;

constexpr int kWidth = ZelvoDeviceHQVGA::kWidth;
constexpr int kHeight = ZelvoDeviceHQVGA::kHeight;
constexpr int kPixels = ZelvoDeviceHQVGA::kPixels;

// Radial distance in mm of a pixel looking into a room: a back wall at 3.2 m, a floor
// below the horizon, and a box 1.4 m away in the middle.
double roomDistance(int row, int column) {
    const double focal = 200.0;  // pixels
    const double dx = (column - kWidth / 2 + 0.5) / focal;
    const double dy = (row - kHeight / 2 + 0.5) / focal;
    const double ray = std::sqrt(1.0 + dx * dx + dy * dy);
    double depth = 3200.0;                             // along the optical axis
    if (dy > 0.05) depth = std::fmin(depth, 800.0 / dy);  // floor 0.8 m below the camera
    if (std::fabs(dx) < 0.2 && dy > -0.1 && dy < 0.25) depth = 1400.0;  // the box
    return depth * ray;
}

// A raw frame for RANGE 4000 (y = P2 - P0, x = P3 - P1) with amplitude falling with the
// square of the distance and a little deterministic noise.
std::vector<uint8_t> roomFrame() {
    std::vector<uint8_t> raw(2 * ZelvoDeviceHQVGA::kPhases * kPixels);
    uint32_t noise = 12345;
    auto nextNoise = [&noise]() {  // roughly normal, standard deviation about 3
        int sum = 0;
        for (int k = 0; k < 4; ++k) {
            noise = noise * 1664525u + 1013904223u;
            sum += static_cast<int>(noise >> 29);
        }
        return sum - 14;
    };
    const double pi = 3.14159265358979323846;
    for (int row = 0; row < kHeight; ++row) {
        for (int column = 0; column < kWidth; ++column) {
            const double distance = roomDistance(row, column);
            const double phase = 2.0 * pi * std::fmod(distance, 4000.0) / 4000.0;
            const double amplitude = std::fmin(900.0, 4.0e8 / (distance * distance));
            const double s = amplitude * std::sin(phase) / 2.0;
            const double c = amplitude * std::cos(phase) / 2.0;
            const double offset = 40.0;
            const double samples[4] = {offset - s, offset - c, offset + s, offset + c};
            for (int k = 0; k < 4; ++k) {
                int value = static_cast<int>(std::lround(samples[k])) + nextNoise();
                value = value < -1024 ? -1024 : (value > 1023 ? 1023 : value);
                const uint16_t word = static_cast<uint16_t>(value & 0x7FF);
                const size_t index = static_cast<size_t>(k) * kPixels + row * kWidth + column;
                raw[2 * index] = static_cast<uint8_t>(word & 0xFF);
                raw[2 * index + 1] = static_cast<uint8_t>(word >> 8);
            }
        }
    }
    return raw;
}

const std::vector<uint8_t>& frame() {
    static const std::vector<uint8_t> raw = roomFrame();
    return raw;
}

void BM_GetPhaseImage(benchmark::State& state) {
    ZelvoDeviceHQVGA device(Zelvo::PlatformRaspberryPi);
    device.setControl(Zelvo::RANGE, static_cast<int>(state.range(0)));
    std::vector<float> depth(kPixels), amplitude(kPixels), confidence(kPixels);
    for (auto _ : state) {
        device.getPhaseImage(frame().data(), depth.data(), amplitude.data(), confidence.data());
        benchmark::DoNotOptimize(depth.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_GetPhaseImage)->Arg(4000)->Arg(2000)->Unit(benchmark::kMicrosecond);

// The documented per-pixel arithmetic with the libm atan2, for comparison.
void BM_PlainPhaseImage(benchmark::State& state) {
    std::vector<float> depth(kPixels), amplitude(kPixels), confidence(kPixels);
    const uint8_t* raw = frame().data();
    for (auto _ : state) {
        const float quotient = 300000000.0f / (37500000.0f * 12.566371f);
        for (int i = 0; i < kPixels; ++i) {
            const int p0 = Zelvo::hqvgaDecodedSample(Zelvo::hqvgaRawWord(raw, i), 0);
            const int p1 = Zelvo::hqvgaDecodedSample(Zelvo::hqvgaRawWord(raw, i + kPixels), 0);
            const int p2 =
                Zelvo::hqvgaDecodedSample(Zelvo::hqvgaRawWord(raw, i + 2 * kPixels), 0);
            const int p3 =
                Zelvo::hqvgaDecodedSample(Zelvo::hqvgaRawWord(raw, i + 3 * kPixels), 0);
            const int y = p2 - p0;
            const int x = p3 - p1;
            float theta = static_cast<float>(std::atan2(double(y), double(x)));
            if (theta < 0) theta += 6.2831855f;
            depth[i] = (quotient * theta) * 1000.0f;
            amplitude[i] = static_cast<float>(0.5 * std::sqrt(double(x) * x + double(y) * y));
            confidence[i] = amplitude[i];
        }
        benchmark::DoNotOptimize(depth.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_PlainPhaseImage)->Unit(benchmark::kMicrosecond);

void BM_GetRawImages(benchmark::State& state) {
    ZelvoDeviceHQVGA device(Zelvo::PlatformRaspberryPi);
    std::vector<int16_t> raw(ZelvoDeviceHQVGA::kPhases * kPixels);
    for (auto _ : state) {
        device.getRawImages(frame().data(), raw.data());
        benchmark::DoNotOptimize(raw.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * ZelvoDeviceHQVGA::kPhases * kPixels);
}
BENCHMARK(BM_GetRawImages)->Unit(benchmark::kMicrosecond);

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

bool writeFrame(const std::string& path) {
    return writeFile(path, frame().data(), frame().size());
}

bool writeDepth(const std::string& path) {
    ZelvoDeviceHQVGA device(Zelvo::PlatformRaspberryPi);
    device.setControl(Zelvo::RANGE, 4000);
    std::vector<float> depth(kPixels), amplitude(kPixels), confidence(kPixels);
    device.getPhaseImage(frame().data(), depth.data(), amplitude.data(), confidence.data());
    return writeFile(path, depth.data(), depth.size() * sizeof(float));
}

}  // namespace

int main(int argc, char** argv) {
    const struct {
        const char* option;
        bool (*write)(const std::string&);
    } outputs[] = {{"--write-frame=", writeFrame}, {"--write-depth=", writeDepth}};
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        bool consumed = false;
        for (const auto& output : outputs) {
            const size_t length = std::strlen(output.option);
            if (std::strncmp(argv[i], output.option, length) != 0) continue;
            consumed = true;
            if (!output.write(argv[i] + length)) {
                std::fprintf(stderr, "cannot write %s\n", argv[i] + length);
                return 1;
            }
        }
        if (!consumed) {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
