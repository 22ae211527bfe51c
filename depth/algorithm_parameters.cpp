#include "depth/algorithm_parameters.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    Number lowest, highest;
    const char* range;  // as the complaint words it
};

constexpr const char* kLevels = "0..5";
constexpr ParameterKey<int> kIntegerKeys[] = {
    {"DenoisingParams", "TDenoiseLevel_Depth", &AlgorithmParameters::tDenoiseLevelDepth, 0, 5,
     kLevels},
    {"DenoisingParams", "SDenoiseLevel_Depth", &AlgorithmParameters::sDenoiseLevelDepth, 0, 5,
     kLevels},
    {"DenoisingParams", "TDenoiseMethod_Depth", &AlgorithmParameters::tDenoiseMethodDepth, 1, 1,
     "1"},
    {"DenoisingParams", "SDenoiseMethod_Depth", &AlgorithmParameters::sDenoiseMethodDepth, 1, 1,
     "1"},
    {"DenoisingParams", "TDenoiseLevel_Gray", &AlgorithmParameters::tDenoiseLevelGray, 0, 5,
     kLevels},
    {"DenoisingParams", "SDenoiseLevel_Gray", &AlgorithmParameters::sDenoiseLevelGray, 0, 5,
     kLevels},
    {"DenoisingParams", "TDenoiseMethod_Gray", &AlgorithmParameters::tDenoiseMethodGray, 1, 1,
     "1"},
    {"DenoisingParams", "SDenoiseMethod_Gray", &AlgorithmParameters::sDenoiseMethodGray, 1, 1,
     "1"},
    {"RepairParams", "ERDOLvl", &AlgorithmParameters::erdoLevel, 0, 5, kLevels},
};

constexpr ParameterKey<float> kDistanceKeys[] = {
    {"ConfidenceParams", "ValidDistMin", &AlgorithmParameters::validDistMin, 0.0f, 100000.0f,
     "0..100000"},
    {"ConfidenceParams", "ValidDistMax", &AlgorithmParameters::validDistMax, 0.0f, 100000.0f,
     "0..100000"},
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
void apply(const ParameterKey<Number>& key, const IniEntry& entry, AlgorithmParameters& parameters,
           std::string* complaints) {
    Number value;
    if (entry.section != key.section || entry.key != key.key || !readNumber(entry.value, value))
        return;
    if (value >= key.lowest && value <= key.highest) {
        parameters.*key.member = value;
        return;
    }
    const AlgorithmParameters defaults;
    parameters.*key.member = defaults.*key.member;
    if (complaints == nullptr) return;
    char line[256];
    std::snprintf(line, sizeof line, "%s: %s=%.64s is outside %s, using %g\n",
                  kAlgorithmParametersFile, key.key, entry.value.c_str(), key.range,
                  static_cast<double>(defaults.*key.member));
    *complaints += line;
}

// Up to kMaxFileBytes of the regular file at `path`. The name may lie in a directory others
// write to: a link there is not followed (O_NOFOLLOW), a FIFO does not block the open
// (O_NONBLOCK), and anything but a regular file counts as a file that cannot be read.
bool readRegularFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status;
    bool usable = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    text.assign(usable ? kMaxFileBytes : 0, '\0');
    size_t have = 0;
    while (usable && have < text.size()) {
        const ssize_t got = ::read(fd, &text[have], text.size() - have);
        if (got < 0 && errno == EINTR) continue;
        usable = got >= 0;
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    ::close(fd);
    text.resize(have);
    return usable;
}

}  // namespace

AlgorithmParameters parseAlgorithmParameters(const std::string& text, std::string* complaints) {
    AlgorithmParameters parameters;
    for (const IniEntry& entry : parseIniText(text)) {
        for (const auto& key : kIntegerKeys) apply(key, entry, parameters, complaints);
        for (const auto& key : kDistanceKeys) apply(key, entry, parameters, complaints);
    }
    if (parameters.validDistMin > parameters.validDistMax && complaints != nullptr) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "%s: ValidDistMin=%g is above ValidDistMax=%g, no pixel is valid\n",
                      kAlgorithmParametersFile, static_cast<double>(parameters.validDistMin),
                      static_cast<double>(parameters.validDistMax));
        *complaints += line;
    }
    return parameters;
}

AlgorithmParameters readAlgorithmParameters(const std::string& directory) {
    std::string path = kAlgorithmParametersFile;
    if (!directory.empty())
        path = directory + (directory.back() == '/' ? "" : "/") + kAlgorithmParametersFile;
    std::string text;
    if (!readRegularFile(path, text)) return AlgorithmParameters{};
    std::string complaints;
    const AlgorithmParameters parameters = parseAlgorithmParameters(text, &complaints);
    if (!complaints.empty()) std::fputs(complaints.c_str(), stderr);
    return parameters;
}

}  // namespace ZelvoDepth
