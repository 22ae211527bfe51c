#include "sim/settings.h"

#include <cstdlib>
#include <cerrno>

#include "sim/board_profile.h"

namespace Zelvo::sim {
namespace {

constexpr int kMaxFps = 120;
constexpr int kMaxWallMm = 20000;

// A decimal number without sign, spaces or trailing characters, within [0, limit].
bool parseDecimal(const std::string& text, unsigned long limit, unsigned long& value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed > limit) return false;
    value = static_cast<unsigned long>(parsed);
    return true;
}

bool applySetting(const std::string& key, const std::string& value, Settings& settings) {
    unsigned long number = 0;
    if (key == "board") {
        if (findBoardProfile(value) == nullptr) return false;
        settings.board = value;
    } else if (key == "sensor") {
        if (value != "hqvga") return false;
        settings.sensor = value;
    } else if (key == "scene") {
        if (value == "room") {
            settings.scene = SceneSettings{};
        } else if (value.compare(0, 5, "wall:") == 0) {
            if (!parseDecimal(value.substr(5), kMaxWallMm, number) || number == 0) return false;
            settings.scene.kind = SceneSettings::Kind::Wall;
            settings.scene.wallDistanceMm = static_cast<int>(number);
        } else {
            return false;
        }
    } else if (key == "fps") {
        if (!parseDecimal(value, kMaxFps, number)) return false;
        settings.fps = static_cast<int>(number);
    } else if (key == "noise") {
        if (value != "0" && value != "1") return false;
        settings.noise = value == "1";
    } else if (key == "seed") {
        if (!parseDecimal(value, 0xFFFFFFFFul, number)) return false;
        settings.seed = static_cast<uint32_t>(number);
    }
    return true;
}

bool isKnownKey(const std::string& key) {
    return key == "board" || key == "sensor" || key == "scene" || key == "fps" ||
           key == "noise" || key == "seed";
}

}  // namespace

bool parseSettings(const char* text, Settings& settings, std::string& error) {
    Settings parsed;
    const std::string all = text ? text : "";
    if (all == "1") {
        settings = parsed;
        return true;
    }
    size_t start = 0;
    while (true) {
        size_t end = all.find(',', start);
        const std::string item = all.substr(start, end == std::string::npos ? end : end - start);
        size_t equals = item.find('=');
        if (equals == std::string::npos) {
            error = "ZELVO_SIM: setting \"" + item + "\" is not of the form key=value\n";
            return false;
        }
        const std::string key = item.substr(0, equals);
        const std::string value = item.substr(equals + 1);
        if (!isKnownKey(key)) {
            error = "ZELVO_SIM: unknown setting \"" + key + "\"\n";
            return false;
        }
        if (!applySetting(key, value, parsed)) {
            error = "ZELVO_SIM: invalid value \"" + value + "\" for setting \"" + key + "\"\n";
            return false;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    settings = parsed;
    return true;
}

}  // namespace Zelvo::sim
