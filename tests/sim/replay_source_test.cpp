// The board's side of a replay: the plug-in loaded through the host, the settings the
// recording decides, the error line of a recording that cannot be served, and the sensor
// frames its RAW frames turn back into. A recording scripted in the test stands in for the
// plug-in (the plug-in itself, with real bags, is driven by tests/python/test_recording.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/replay_source.h"
#include "sim/tof_sensor.h"
#include "tests/support/fake_host.h"

namespace Zelvo::sim {
namespace {

// The recording the scripted plug-in serves.
struct ScriptedRecording {
    ZelvoReplayInfo info{};
    std::vector<std::vector<int16_t>> frames;
    const char* openError = nullptr;  // open fails with this reason
    int handle = 0;
    int closes = 0;
    std::vector<uint32_t> reads;
};

ScriptedRecording* script = nullptr;

void* scriptedOpen(const char*, ZelvoReplayInfo* info, char* error, size_t size) {
    if (script->openError) {
        std::snprintf(error, size, "%s", script->openError);
        return nullptr;
    }
    *info = script->info;
    return &script->handle;
}

int scriptedRead(void* recording, uint32_t index, int16_t* samples, char*, size_t) {
    EXPECT_EQ(recording, &script->handle);
    script->reads.push_back(index);
    const std::vector<int16_t>& frame = script->frames.at(index);
    std::memcpy(samples, frame.data(), frame.size() * sizeof(int16_t));
    return 0;
}

void scriptedClose(void* recording) {
    EXPECT_EQ(recording, &script->handle);
    ++script->closes;
}

ZelvoReplayInfo infoOf(const char* board, const char* sensor, int rate, uint32_t width,
                       uint32_t rows, uint32_t count) {
    ZelvoReplayInfo info{};
    std::snprintf(info.board, sizeof info.board, "%s", board);
    std::snprintf(info.sensor, sizeof info.sensor, "%s", sensor);
    info.frameRate = rate;
    info.width = width;
    info.rows = rows;
    info.frameCount = count;
    return info;
}

constexpr uint32_t kHqvgaRows = kSensorHeight * kPhasesPerFrame;

class ReplaySourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        script = &recording;
        host->setLibrary(kReplayPluginName,
                        {{"zelvoReplayOpen", reinterpret_cast<void*>(&scriptedOpen)},
                         {"zelvoReplayReadFrame", reinterpret_cast<void*>(&scriptedRead)},
                         {"zelvoReplayClose", reinterpret_cast<void*>(&scriptedClose)}});
    }
    void TearDown() override {
        settings.replaySource.reset();  // closes the recording while the script is there
        script = nullptr;
    }

    // HQVGA RAW frames: sample (row, column) of frame f is 16 times a value that tells all
    // three apart, as the HQVGA device decodes the sensor's 11-bit values.
    void recordHqvga(uint32_t count, const char* board = "rpi4", int rate = 15) {
        recording.info = infoOf(board, "hqvga", rate, kSensorWidth, kHqvgaRows, count);
        for (uint32_t f = 0; f < count; ++f) {
            std::vector<int16_t> raw(size_t{kSensorWidth} * kHqvgaRows);
            for (size_t i = 0; i < raw.size(); ++i)
                raw[i] = static_cast<int16_t>(16 * ((static_cast<int>(i + 97 * f) % 2048) - 1024));
            recording.frames.push_back(raw);
        }
    }

    bool attach(const std::string& text, std::string& error) {
        error.clear();
        EXPECT_TRUE(parseSettings(text.c_str(), settings, error)) << error;
        return ReplaySource::attach(host, settings, error);
    }

    std::shared_ptr<testing::FakeHost> host = std::make_shared<testing::FakeHost>();
    ScriptedRecording recording;
    Settings settings;
};

TEST_F(ReplaySourceTest, TheRecordingDecidesSensorBoardAndRateUnlessTheSettingsSay) {
    struct Case {
        const char* text;
        const char* board;
        int fps;
    };
    const Case cases[] = {
        {"replay=a.bag", "rpi4", 15},
        {"replay=a.bag,board=rock5b", "rock5b", 15},
        {"replay=a.bag,fps=0", "rpi4", 0},
        {"fps=60,board=jetson-nano,replay=a.bag,scene=wall:900", "jetson-nano", 60},
    };
    recordHqvga(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        ASSERT_TRUE(attach(c.text, error)) << error;
        EXPECT_EQ(settings.board, c.board);
        EXPECT_EQ(settings.sensor, "hqvga");
        EXPECT_EQ(settings.fps, c.fps);
        ASSERT_NE(settings.replaySource, nullptr);
        EXPECT_EQ(host->librariesOpen, 1);
        settings.replaySource.reset();  // closes the recording and unloads the plug-in
        EXPECT_EQ(host->librariesOpen, 0);
    }
    EXPECT_EQ(recording.closes, 4);
}

TEST_F(ReplaySourceTest, ARecordingThatCannotBeServedFailsWithOneLineNamingTheSetting) {
    struct Case {
        const char* name;
        const char* text;
        ZelvoReplayInfo info;
        const char* openError;
        bool plugin;
        const char* reason;
    };
    const Case cases[] = {
        {"no plug-in", "replay=a.bag", infoOf("rpi5", "hqvga", 30, 240, 720, 1), nullptr, false,
         "the replay plug-in is not available"},
        {"unreadable bag", "replay=a.bag", {}, "Error opening file: a.bag", true,
         "Error opening file: a.bag"},
        {"HQVGA frame size", "replay=a.bag", infoOf("rpi5", "hqvga", 30, 240, 700, 1), nullptr,
         true, "RAW frames of 240 x 700 samples are no frame of its sensor"},
        {"VGA frame size", "replay=a.bag", infoOf("rpi5", "vga", 30, 640, 2404, 1), nullptr, true,
         "RAW frames of 640 x 2404 samples"},
        {"another sensor", "replay=a.bag,sensor=vga", infoOf("rpi5", "hqvga", 30, 240, 720, 1),
         nullptr, true, "recorded with sensor \"hqvga\", not \"vga\""},
        {"unknown board", "replay=a.bag", infoOf("beagle", "hqvga", 30, 240, 720, 1), nullptr,
         true, "recorded on an unknown board \"beagle\""},
        {"board without the sensor's frames", "replay=a.bag,board=jetson-orin",
         infoOf("rpi5", "vga", 30, 640, 4810, 1), nullptr, true,
         "board \"jetson-orin\" cannot carry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto bare = std::make_shared<testing::FakeHost>();
        recording.info = c.info;
        recording.openError = c.openError;
        Settings parsed;
        std::string error;
        ASSERT_TRUE(parseSettings(c.text, parsed, error)) << error;
        EXPECT_FALSE(ReplaySource::attach(c.plugin ? host : bare, parsed, error));
        EXPECT_EQ(error.rfind("ZELVO_SIM: setting \"replay\": cannot replay \"a.bag\": ", 0), 0u)
            << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
        EXPECT_EQ(parsed.replaySource, nullptr);
        EXPECT_EQ(host->librariesOpen, 0);  // a failed attach unloads the plug-in
    }
}

TEST_F(ReplaySourceTest, HqvgaFramesBecomeTheSensorsPhaseImagesInOrderAndLooping) {
    recordHqvga(3);
    std::string error;
    ASSERT_TRUE(attach("replay=a.bag", error)) << error;
    TofSensor sensor(settings);
    EXPECT_EQ(sensor.frameRate(), 15);
    for (uint32_t served = 0; served < 7; ++served) {
        SCOPED_TRACE(served);
        const std::vector<int16_t>& raw = recording.frames[served % 3];
        const int16_t* phases = sensor.nextFrame();
        // RAW row 4r + k is phase k of sensor row r, at 16 times the sensor's value.
        for (int row : {0, 1, 90, kSensorHeight - 1}) {
            for (int phase = 0; phase < kPhasesPerFrame; ++phase) {
                for (int column : {0, 7, kSensorWidth - 1}) {
                    const int16_t sample =
                        phases[phase * kSamplesPerPhase + row * kSensorWidth + column];
                    ASSERT_EQ(sample * 16,
                              raw[(row * kPhasesPerFrame + phase) * kSensorWidth + column]);
                }
            }
        }
    }
    EXPECT_EQ(recording.reads, (std::vector<uint32_t>{0, 1, 2, 0, 1, 2, 0}));
}

TEST_F(ReplaySourceTest, VgaFramesComeInTheRecordedModeOnlyAndZerosInAnother) {
    const VgaMode& recorded = vgaModes()[1];  // full size, double frequency
    recording.info = infoOf("rock5b", "vga", 23, recorded.width, recorded.rows(), 2);
    for (int f = 0; f < 2; ++f) {
        std::vector<int16_t> raw(recorded.samples());
        for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<int16_t>((i * 7 + f) % 4096);
        recording.frames.push_back(raw);
    }
    std::string error;
    ASSERT_TRUE(attach("replay=a.bag", error)) << error;
    EXPECT_EQ(settings.sensor, "vga");
    EXPECT_EQ(settings.board, "rock5b");
    TofSensor sensor(settings);
    ASSERT_TRUE(sensor.isVga());
    const VgaMode* mode = nullptr;
    for (int served = 0; served < 3; ++served) {
        const uint16_t* frame = sensor.nextVgaFrame(recorded.width, recorded.rows(), mode);
        ASSERT_EQ(mode, &recorded);
        EXPECT_EQ(std::memcmp(frame, recording.frames[served % 2].data(), recorded.samples() * 2),
                  0);
    }
    const VgaMode& single = vgaModes()[0];
    const uint16_t* other = sensor.nextVgaFrame(single.width, single.rows(), mode);
    ASSERT_EQ(mode, &single);
    EXPECT_TRUE(std::all_of(other, other + single.samples(), [](uint16_t w) { return w == 0; }));
    EXPECT_EQ(recording.reads.size(), 3u);  // a frame of another mode reads nothing
}

}  // namespace
}  // namespace Zelvo::sim
