#include "depth/algorithm_parameters.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "depth/ini_text.h"

namespace ZelvoDepth {
namespace {

// Longer files are not parameter files; what lies beyond this is not read.
constexpr size_t kMaxFileBytes = 65536;

template <typename Number>
struct ParameterKey {
    const char* section;
    const char* key;
    Number AlgorithmParameters::*member;
};

constexpr ParameterKey<int> kIntegerKeys[] = {
    {"DenoisingParams", "TDenoiseLevel_Depth", &AlgorithmParameters::tDenoiseLevelDepth},
    {"DenoisingParams", "SDenoiseLevel_Depth", &AlgorithmParameters::sDenoiseLevelDepth},
    {"DenoisingParams", "TDenoiseMethod_Depth", &AlgorithmParameters::tDenoiseMethodDepth},
    {"DenoisingParams", "SDenoiseMethod_Depth", &AlgorithmParameters::sDenoiseMethodDepth},
    {"DenoisingParams", "TDenoiseLevel_Gray", &AlgorithmParameters::tDenoiseLevelGray},
    {"DenoisingParams", "SDenoiseLevel_Gray", &AlgorithmParameters::sDenoiseLevelGray},
    {"DenoisingParams", "TDenoiseMethod_Gray", &AlgorithmParameters::tDenoiseMethodGray},
    {"DenoisingParams", "SDenoiseMethod_Gray", &AlgorithmParameters::sDenoiseMethodGray},
    {"RepairParams", "ERDOLvl", &AlgorithmParameters::erdoLevel},
};

constexpr ParameterKey<float> kDistanceKeys[] = {
    {"ConfidenceParams", "ValidDistMin", &AlgorithmParameters::validDistMin},
    {"ConfidenceParams", "ValidDistMax", &AlgorithmParameters::validDistMax},
};

// The whole value as a number (locale-independent), false otherwise; a value that is not
// finite ("inf", "nan") leaves the default.
template <typename Number>
bool readNumber(const std::string& text, Number& value) {
    Number read{};
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, read);
    if (result.ec != std::errc() || result.ptr != end) return false;
    if (!std::isfinite(static_cast<double>(read))) return false;
    value = read;
    return true;
}

template <typename Number>
void apply(const ParameterKey<Number>& key, const IniEntry& entry,
           AlgorithmParameters& parameters) {
    Number value;
    if (entry.section == key.section && entry.key == key.key && readNumber(entry.value, value)) {
        parameters.*key.member = value;
    }
}

}  // namespace

AlgorithmParameters parseAlgorithmParameters(const std::string& text) {
    AlgorithmParameters parameters;
    for (const IniEntry& entry : parseIniText(text)) {
        for (const auto& key : kIntegerKeys) apply(key, entry, parameters);
        for (const auto& key : kDistanceKeys) apply(key, entry, parameters);
    }
    return parameters;
}

AlgorithmParameters readAlgorithmParameters(const std::string& directory) {
    std::string path = kAlgorithmParametersFile;
    if (!directory.empty())
        path = directory + (directory.back() == '/' ? "" : "/") + kAlgorithmParametersFile;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return AlgorithmParameters{};
    std::string text(kMaxFileBytes, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
    return parseAlgorithmParameters(text);
}

}  // namespace ZelvoDepth
