// The parameters of "ConfigAlgorithm.json" (an INI-style text despite its name), with the
// values that stand where the file or a key is missing or a value does not read as a number.
#pragma once

#include <string>

namespace ZelvoDepth {

constexpr const char* kAlgorithmParametersFile = "ConfigAlgorithm.json";

struct AlgorithmParameters {
    // [DenoisingParams]: temporal (T) and spatial (S) denoising of depth and gray. Read and
    // kept for the denoising stage; the pipeline does not apply them yet.
    int tDenoiseLevelDepth = 3;
    int sDenoiseLevelDepth = 3;
    int tDenoiseMethodDepth = 1;
    int sDenoiseMethodDepth = 1;
    int tDenoiseLevelGray = 1;
    int sDenoiseLevelGray = 1;
    int tDenoiseMethodGray = 1;
    int sDenoiseMethodGray = 1;
    // [RepairParams]: strength of the repair of flying and missing pixels (not applied yet).
    int erdoLevel = 3;
    // [ConfidenceParams]: pixels whose distance lies outside [min, max] mm are invalid.
    float validDistMin = 0.0f;
    float validDistMax = 7000.0f;
};

AlgorithmParameters parseAlgorithmParameters(const std::string& text);

// Reads kAlgorithmParametersFile from `directory` (the working directory when empty):
// the defaults when it cannot be read.
AlgorithmParameters readAlgorithmParameters(const std::string& directory);

}  // namespace ZelvoDepth
