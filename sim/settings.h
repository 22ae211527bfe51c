// The ZELVO_SIM settings: which board, sensor and scene the simulated board presents.
#pragma once

#include <cstdint>
#include <string>

namespace Zelvo::sim {

struct SceneSettings {
    enum class Kind { Room, Wall };
    Kind kind = Kind::Room;
    int wallDistanceMm = 0;  // Wall: distance along the optical axis
};

struct Settings {
    std::string board = "rpi5";
    std::string sensor = "hqvga";
    SceneSettings scene;
    int fps = 30;  // 0: as fast as the pipeline takes frames
    bool noise = true;
    uint32_t seed = 1;
};

// Parses "1" (all defaults) or comma-separated key=value pairs. On failure returns false
// and error holds one line, ending in a newline, that names the offending setting.
bool parseSettings(const char* text, Settings& settings, std::string& error);

}  // namespace Zelvo::sim
