// The replay plug-in's calls: a raw recording (a ROS 1 bag, docs/recordings.md) opened and
// its RAW frames read one by one. The plug-in (libzelvo_replay.so) is the only part of the
// system that links the ROS libraries; the simulated board loads it when ZELVO_SIM names a
// recording, so the driver itself never needs them.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// What the simulated board needs to know to serve the recording.
struct ZelvoReplayInfo {
    char board[32];       // the simulated board's name for the board it was recorded on
    char sensor[16];      // "hqvga" or "vga"
    int32_t frameRate;    // depth frames per second it was recorded at
    uint32_t width;       // samples per row of a RAW frame
    uint32_t rows;        // rows of a RAW frame
    uint32_t frameCount;  // RAW frames it holds
};

// Opens the recording at path: a handle, or null with error holding one line (no newline).
void* zelvoReplayOpen(const char* path, ZelvoReplayInfo* info, char* error, size_t errorSize);
// Copies RAW frame `index` (width x rows little-endian 16-bit samples) into samples, which
// holds width * rows of them. 0, or -1 with error holding one line.
int zelvoReplayReadFrame(void* recording, uint32_t index, int16_t* samples, char* error,
                         size_t errorSize);
void zelvoReplayClose(void* recording);

using ZelvoReplayOpenCall = void* (*)(const char*, ZelvoReplayInfo*, char*, size_t);
using ZelvoReplayReadFrameCall = int (*)(void*, uint32_t, int16_t*, char*, size_t);
using ZelvoReplayCloseCall = void (*)(void*);

}  // extern "C"

namespace Zelvo::sim {
// The plug-in's file name: found beside libzelvo through its RUNPATH.
constexpr const char* kReplayPluginName = "libzelvo_replay.so";
}  // namespace Zelvo::sim
