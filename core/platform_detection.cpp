// Tells the board from the devicetree model text.
#include <cstdio>
#include <cstring>

#include "core/platform_detection.h"
#include "core/host.h"

namespace Zelvo {

namespace {

bool contains(const char* text, const char* word) { return std::strstr(text, word) != nullptr; }

}  // namespace

Platform detectPlatform(Host& host) {
    FILE* file = host.openText("/sys/firmware/devicetree/base/model", "r");
    if (!file) return PlatformOther;
    // One line of at most 99 characters; the model text ends at its first NUL.
    char model[100] = {};
    if (!std::fgets(model, sizeof model, file)) model[0] = '\0';
    std::fclose(file);

    if (contains(model, "Jetson")) {
        if (contains(model, "Xavier")) return PlatformJetson;
        if (contains(model, "TX1") || contains(model, "Nano")) return PlatformJetsonNano;
        return PlatformJetson;
    }
    if (contains(model, " Orin")) return PlatformJetson;
    if (contains(model, "Raspberry"))
        return contains(model, "Pi 5") ? PlatformRaspberryPi5 : PlatformRaspberryPi;
    if (contains(model, "Radxa ROCK")) return PlatformRadxaRock;
    return PlatformOther;
}

}  // namespace Zelvo
