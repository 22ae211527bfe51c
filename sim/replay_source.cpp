#include "sim/replay_source.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "sim/board_profile.h"
#include "sim/tof_sensor.h"

namespace Zelvo::sim {
namespace {

constexpr size_t kErrorBytes = 512;
// An HQVGA RAW sample is the sensor's value times this.
constexpr int kHqvgaRawScale = 16;

std::string settingError(const Settings& settings, const std::string& reason) {
    // The path is the user's text: no line break may come through.
    std::string path = settings.replay;
    std::replace(path.begin(), path.end(), '\n', ' ');
    return "ZELVO_SIM: setting \"replay\": cannot replay \"" + path + "\": " + reason + "\n";
}

}  // namespace

ReplaySource::ReplaySource(std::shared_ptr<Host> host, void* library)
    : host_(std::move(host)), library_(library) {}

ReplaySource::~ReplaySource() {
    if (recording_ && close_) close_(recording_);
    host_->dlclose(library_);
}

bool ReplaySource::attach(std::shared_ptr<Host> host, Settings& settings, std::string& error) {
    void* library = host->dlopen(kReplayPluginName, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = host->dlerror();
        error = settingError(settings, std::string("the replay plug-in is not available (") +
                                           (reason ? reason : kReplayPluginName) + ")");
        return false;
    }
    std::shared_ptr<ReplaySource> source(new ReplaySource(host, library));
    auto open = reinterpret_cast<ZelvoReplayOpenCall>(host->dlsym(library, "zelvoReplayOpen"));
    source->readFrame_ =
        reinterpret_cast<ZelvoReplayReadFrameCall>(host->dlsym(library, "zelvoReplayReadFrame"));
    source->close_ =
        reinterpret_cast<ZelvoReplayCloseCall>(host->dlsym(library, "zelvoReplayClose"));
    if (!open || !source->readFrame_ || !source->close_) {
        error = settingError(settings, std::string("the replay plug-in lacks its calls"));
        return false;
    }
    char reason[kErrorBytes] = {};
    source->recording_ = open(settings.replay.c_str(), &source->info_, reason, sizeof reason);
    if (!source->recording_) {
        error = settingError(settings, reason);
        return false;
    }

    const ZelvoReplayInfo& info = source->info_;
    const bool vga = source->isVga();
    const uint32_t expectedRows = static_cast<uint32_t>(kSensorHeight * kPhasesPerFrame);
    if (vga ? findVgaMode(info.width, info.rows) == nullptr
            : info.width != kSensorWidth || info.rows != expectedRows) {
        error = settingError(settings, "its RAW frames of " + std::to_string(info.width) + " x " +
                                           std::to_string(info.rows) +
                                           " samples are no frame of its sensor");
        return false;
    }
    if (settings.given.count("sensor") && settings.sensor != info.sensor) {
        error = settingError(settings, std::string("it was recorded with sensor \"") +
                                           info.sensor + "\", not \"" + settings.sensor + "\"");
        return false;
    }
    settings.sensor = info.sensor;
    if (!settings.given.count("board")) {
        if (!findBoardProfile(info.board)) {
            error = settingError(settings, std::string("it was recorded on an unknown board \"") +
                                               info.board + "\"");
            return false;
        }
        settings.board = info.board;
    }
    if (!boardCarriesSensor(*findBoardProfile(settings.board), settings.sensor)) {
        error = settingError(settings, "board \"" + settings.board +
                                           "\" cannot carry its sensor's frames");
        return false;
    }
    if (!settings.given.count("fps")) settings.fps = info.frameRate;
    source->raw_.assign(static_cast<size_t>(info.width) * info.rows, 0);
    if (!vga) source->phases_.assign(source->raw_.size(), 0);
    settings.replaySource = std::move(source);
    return true;
}

void ReplaySource::readNext() {
    char reason[kErrorBytes];
    // A frame that cannot be read leaves the last one in place: the stream goes on.
    readFrame_(recording_, next_, raw_.data(), reason, sizeof reason);
    next_ = (next_ + 1) % info_.frameCount;
}

const int16_t* ReplaySource::nextPhaseImages() {
    readNext();
    // RAW row 4r + k is phase k of sensor row r, each sample 16 times the sensor's 11-bit
    // value (the HQVGA device's decoding).
    for (int row = 0; row < kSensorHeight; ++row) {
        for (int phase = 0; phase < kPhasesPerFrame; ++phase) {
            const int16_t* from = &raw_[static_cast<size_t>(row * kPhasesPerFrame + phase) *
                                        kSensorWidth];
            int16_t* to = &phases_[static_cast<size_t>(phase) * kSamplesPerPhase +
                                   static_cast<size_t>(row) * kSensorWidth];
            for (int column = 0; column < kSensorWidth; ++column)
                to[column] = static_cast<int16_t>(from[column] / kHqvgaRawScale);
        }
    }
    return phases_.data();
}

const uint16_t* ReplaySource::nextVgaFrame(uint32_t width, uint32_t rows) {
    if (width != info_.width || rows != info_.rows) {
        blank_.assign(static_cast<size_t>(width) * rows, 0);
        return blank_.data();
    }
    readNext();
    // The RAW frame holds the sensor's 12-bit words as they came.
    return reinterpret_cast<const uint16_t*>(raw_.data());
}

}  // namespace Zelvo::sim
