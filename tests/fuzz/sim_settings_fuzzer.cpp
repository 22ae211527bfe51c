// The ZELVO_SIM settings text.
#include <cstdlib>
#include <string>

#include "sim/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Zelvo::sim::Settings settings;
    std::string error;
    if (Zelvo::sim::parseSettings(text.c_str(), settings, error)) {
        if (!error.empty()) std::abort();
        return 0;
    }
    // One line, ending in its line feed; quoted texts are cut, so the line stays short.
    if (error.empty() || error.back() != '\n' || error.find('\n') != error.size() - 1)
        std::abort();
    if (error.size() > 400) std::abort();
    return 0;
}
