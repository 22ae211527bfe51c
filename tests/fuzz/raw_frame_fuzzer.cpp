// The depth library's raw frames: the check of their embedded headers, then the depth
// computation of a frame that passes, on a small sensor of each frequency mode.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "depth/raw_frame.h"
#include "depth/raw_header.h"
#include "depth/si_sdk.h"

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 4;

// The input: one byte choosing the mode (bit 0: double frequency), then the frame's
// samples, little-endian, padded with zeros to the frame's size.
std::vector<uint16_t> frameOf(const uint8_t* data, size_t size, int count) {
    std::vector<uint16_t> raw(ZelvoDepth::rawSubFrameSamples(kWidth, kHeight) * count, 0);
    const size_t samples = std::min(raw.size(), size / 2);
    for (size_t i = 0; i < samples; ++i)
        raw[i] = static_cast<uint16_t>(data[2 * i] | data[2 * i + 1] << 8);
    return raw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool single = (data[0] & 1) == 0;
    const int count = single ? ZelvoDepth::kSingleFrequencySubFrames
                             : ZelvoDepth::kDoubleFrequencySubFrames;
    const std::vector<uint16_t> raw = frameOf(data + 1, size - 1, count);
    ZelvoDepth::RawFrameInfo info;
    const bool valid = ZelvoDepth::checkRawFrame(raw.data(), kWidth, kHeight, count, info);
    if (valid && info.frequencyHz[0] == 0) std::abort();

    SiSDKHandle handle = nullptr;
    if (!SiSDKCreate(&handle)) std::abort();
    // A directory with no parameter file: the library's defaults.
    if (!SiSDKInit(handle, kWidth, kHeight) || !SiSDKSetConfig(handle, "/") ||
        !SiSDKSetSingleFreq(handle, single) || !SiSDKStart(handle)) {
        std::abort();
    }
    const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
    std::vector<float> depth(pixels), amplitude(pixels), confidence(pixels);
    const bool computed = SiSDKGetPhaseImage(handle, raw.data(), depth.data(), amplitude.data(),
                                             confidence.data());
    if (computed && !valid) std::abort();
    SiSDKDestroy(&handle);
    return 0;
}
