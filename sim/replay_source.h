// A raw recording served by the simulated board in place of the rendered scene
// (ZELVO_SIM=replay=FILE.bag): its RAW frames, in order and looping, turned back into the
// sensor frames the devices make them from. The recording is read by the replay plug-in
// (sim/replay/replay_plugin.h), loaded through the host only when a recording is named.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/host.h"
#include "sim/replay/replay_plugin.h"
#include "sim/settings.h"

namespace Zelvo::sim {

class ReplaySource {
public:
    // Opens the recording settings.replay names, with the plug-in loaded through host, and
    // makes the settings present what it was recorded on: its sensor, its board unless
    // `board` was given, its frame rate unless `fps` was given. False with error holding
    // one line (ending in a newline) that names the setting.
    static bool attach(std::shared_ptr<Host> host, Settings& settings, std::string& error);

    ~ReplaySource();
    ReplaySource(const ReplaySource&) = delete;
    ReplaySource& operator=(const ReplaySource&) = delete;

    const ZelvoReplayInfo& info() const { return info_; }
    bool isVga() const { return std::string(info_.sensor) == "vga"; }

    // The next HQVGA frame as the sensor makes it: four phase images of 240 x 180 signed
    // samples, phase 0 first. Valid until the next call.
    const int16_t* nextPhaseImages();
    // The next VGA raw frame of width x rows 12-bit words, or a frame of zeros when the
    // size asked for is not the recorded one (a recording holds one mode only). Valid until
    // the next call.
    const uint16_t* nextVgaFrame(uint32_t width, uint32_t rows);

private:
    ReplaySource(std::shared_ptr<Host> host, void* library);
    // Reads the next recorded frame (looping) into raw_; on a read failure the last frame
    // is served again.
    void readNext();

    const std::shared_ptr<Host> host_;  // kept: the plug-in is unloaded through it
    void* library_;
    void* recording_ = nullptr;
    ZelvoReplayReadFrameCall readFrame_ = nullptr;
    ZelvoReplayCloseCall close_ = nullptr;
    ZelvoReplayInfo info_{};
    uint32_t next_ = 0;
    std::vector<int16_t> raw_;       // the RAW frame last read
    std::vector<int16_t> phases_;    // HQVGA: it as phase images
    std::vector<uint16_t> blank_;    // VGA: a frame of another mode
};

}  // namespace Zelvo::sim
