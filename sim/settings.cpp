#include "sim/settings.h"

#include <cerrno>
#include <cstdlib>
#include <set>

#include "sim/board_profile.h"

namespace Zelvo::sim {
namespace {

constexpr int kMaxFps = 120;
constexpr int kMaxWallMm = 20000;
constexpr unsigned long kMaxSubFrameCount = 100000000;
// Longest piece of the user's text an error line repeats.
constexpr size_t kMaxQuotedCharacters = 40;

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

// The text in double quotes, at most kMaxQuotedCharacters of it (then "..."), with
// control characters, quotes and backslashes escaped so the line stays one line.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    size_t shown = 0;
    for (unsigned char c : text) {
        if (shown == kMaxQuotedCharacters) {
            out += "...";
            break;
        }
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            static const char kHex[] = "0123456789abcdef";
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 0x0F];
            }
        } else {
            out += static_cast<char>(c);
        }
        ++shown;
    }
    return out + "\"";
}

bool applySetting(const std::string& key, const std::string& value, Settings& settings) {
    unsigned long number = 0;
    if (key == "board") {
        if (findBoardProfile(value) == nullptr) return false;
        settings.board = value;
    } else if (key == "sensor") {
        if (value != "hqvga" && value != "vga") return false;
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
    } else if (key == "usb_bits") {
        if (value != "8" && value != "10" && value != "12" && value != "16") return false;
        settings.usbBits = std::atoi(value.c_str());
    } else if (key == "fpn") {
        if (value != "0" && value != "1") return false;
        settings.fixedPattern = value == "1";
    } else if (key == "cameras") {
        if (value != "1" && value != "2") return false;
        settings.cameras = value == "1" ? 1 : 2;
    } else if (key == "stall") {
        // A camera that never sends, or is gone before it opens, is no camera to rehearse.
        if (!parseDecimal(value, kMaxSubFrameCount, number) || number == 0) return false;
        settings.stallAfterSubFrames = static_cast<int64_t>(number);
    } else if (key == "unplug") {
        if (!parseDecimal(value, kMaxSubFrameCount, number) || number == 0) return false;
        settings.unplugAfterSubFrames = static_cast<int64_t>(number);
    } else if (key == "replay") {
        if (value.empty()) return false;
        settings.replay = value;  // opened, and checked, by the board
    } else {
        return false;
    }
    return true;
}

bool isKnownKey(const std::string& key) {
    static const std::set<std::string> kKeys = {"board", "sensor", "scene", "fps",
                                                "noise", "seed",   "usb_bits", "fpn",
                                                "stall", "unplug",   "replay", "cameras"};
    return kKeys.count(key) != 0;
}

}  // namespace

bool parseSettings(const char* text, Settings& settings, std::string& error) {
    Settings parsed;
    const std::string all = text ? text : "";
    if (all == "1") {
        settings = parsed;
        return true;
    }
    std::set<std::string> given;
    size_t start = 0;
    while (true) {
        size_t end = all.find(',', start);
        const std::string item = all.substr(start, end == std::string::npos ? end : end - start);
        size_t equals = item.find('=');
        if (equals == std::string::npos) {
            error = "ZELVO_SIM: setting " + quoted(item) + " is not of the form key=value\n";
            return false;
        }
        const std::string key = item.substr(0, equals);
        const std::string value = item.substr(equals + 1);
        if (!isKnownKey(key)) {
            error = "ZELVO_SIM: unknown setting " + quoted(key) + "\n";
            return false;
        }
        if (!given.insert(key).second) {
            error = "ZELVO_SIM: setting " + quoted(key) + " is given twice\n";
            return false;
        }
        if (!applySetting(key, value, parsed)) {
            error = "ZELVO_SIM: invalid value " + quoted(value) + " for setting " + quoted(key) +
                    "\n";
            return false;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (!boardCarriesSensor(*findBoardProfile(parsed.board), parsed.sensor)) {
        error = "ZELVO_SIM: setting \"sensor\" " + quoted(parsed.sensor) +
                " cannot stream on board " + quoted(parsed.board) +
                ": its frame copy cannot carry that sensor's frames\n";
        return false;
    }
    parsed.given = given;
    settings = parsed;
    return true;
}

}  // namespace Zelvo::sim
