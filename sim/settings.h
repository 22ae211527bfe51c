// The ZELVO_SIM settings: which board, sensor and scene the simulated board presents.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace Zelvo::sim {

class ReplaySource;

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
    int usbBits = 12;          // sample bit width of the simulated evaluation kit
    bool fixedPattern = true;  // the VGA sensor's fixed-pattern phase offsets
    // Sensors on the board, each on its own capture pipeline, and kits attached (1 or 2).
    int cameras = 1;
    // The sensor stops sending after this many sub-frames (-1: never), as when a cable
    // is pulled: the receiver simply completes no more buffers.
    int64_t stallAfterSubFrames = -1;
    // The device is removed after this many sub-frames (-1: never): ENODEV from then on.
    int64_t unplugAfterSubFrames = -1;
    // A raw recording served instead of the scene (empty: none). The source is opened by
    // the board (sim/replay_source.h), which sets board, sensor and fps from it.
    std::string replay;
    std::shared_ptr<ReplaySource> replaySource;
    std::set<std::string> given;  // the keys the text named
};

// Parses "1" (all defaults) or comma-separated key=value pairs, each key at most once.
// On failure returns false and error holds one line, ending in a newline, that names the
// offending setting; quoted texts are cut to a few dozen characters and never break the
// line.
bool parseSettings(const char* text, Settings& settings, std::string& error);

}  // namespace Zelvo::sim
