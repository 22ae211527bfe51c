// The parameters of "ConfigAlgorithm.json" (an INI-style text despite its name), with the
// values that stand where the file or a key is missing or a value does not read as a number.
#pragma once

#include <string>

namespace ZelvoDepth {

constexpr const char* kAlgorithmParametersFile = "ConfigAlgorithm.json";

struct AlgorithmParameters {
    // [DenoisingParams]: temporal (T) and spatial (S) denoising of the signal (depth) and
    // of the amplitude (gray): levels 0 (off) to 5; method 1 is the only method.
    int tDenoiseLevelDepth = 3;
    int sDenoiseLevelDepth = 3;
    int tDenoiseMethodDepth = 1;
    int sDenoiseMethodDepth = 1;
    int tDenoiseLevelGray = 1;
    int sDenoiseLevelGray = 1;
    int tDenoiseMethodGray = 1;
    int sDenoiseMethodGray = 1;
    // [RepairParams]: removal of flying pixels, levels 0 (off) to 5.
    int erdoLevel = 3;
    // [ConfidenceParams]: pixels whose distance lies outside [min, max] mm are invalid.
    float validDistMin = 0.0f;
    float validDistMax = 7000.0f;
};

// Values that read as numbers but lie outside their key's range leave the default and add
// one line (with its line feed) to `complaints`, as docs/depth-library.md words it.
AlgorithmParameters parseAlgorithmParameters(const std::string& text,
                                             std::string* complaints = nullptr);

// Reads kAlgorithmParametersFile from `directory` (the working directory when empty):
// the defaults when it cannot be read. Writes the complaints on standard error.
AlgorithmParameters readAlgorithmParameters(const std::string& directory);

}  // namespace ZelvoDepth
