// The VGA device over a depth library double: geometry and controls by frequency mode and
// size, the start-up sequence and its failure paths, calibration hand-over, close, and the
// loading of the library.
#include <gtest/gtest.h>

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/camera.h"
#include "device/vga_device.h"
#include "tests/device/fake_depth_library.h"
#include "tests/support/camera_rig.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_sensor.h"

namespace Zelvo {
namespace {

using testing::CallLog;
using testing::FakeDepthLibrary;
using testing::ScratchDirectory;
using testing::ScriptedSensor;
using testing::SensorScript;
using Calls = std::vector<std::string>;

struct VgaBench {
    VgaBench() : sensor(log, SensorScript{640, 480}) {}

    int init() { return device.init(&sensor, VGA); }
    int control(CameraCtrl ctrl, int preset = -7) {
        int value = preset;
        lastResult = device.getControl(ctrl, &value);
        return value;
    }

    ScratchDirectory scratch;
    FakeDepthLibrary library;
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    ScriptedSensor sensor;
    ZelvoDeviceVGA device{PlatformRaspberryPi5, library};
    int lastResult = 0;
};

void writeFile(const char* name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

// True when a path the kernel reports is this one (a removed file's included).
bool isPath(std::string reported, const std::string& path) {
    const std::string removed = " (deleted)";
    if (reported.size() > removed.size() &&
        reported.compare(reported.size() - removed.size(), removed.size(), removed) == 0) {
        reported.resize(reported.size() - removed.size());
    }
    return reported == path;
}

// Descriptors and mappings of this process that refer to the file at this path.
int descriptorsOn(const std::string& path) {
    int count = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    while (dirent* entry = fds != nullptr ? ::readdir(fds) : nullptr) {
        char target[4096] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) <= 0) continue;
        if (isPath(target, path)) ++count;
    }
    if (fds != nullptr) ::closedir(fds);
    return count;
}

int mappingsOf(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) {
        const size_t name = line.find('/');
        if (name != std::string::npos && isPath(line.substr(name), path)) ++count;
    }
    return count;
}

// ---------------------------------------------------------------- geometry and controls

TEST(VgaDevice, ConstructsWithItsDocumentedSettings) {
    VgaBench bench;
    EXPECT_EQ(bench.device.platform, PlatformRaspberryPi5);
    EXPECT_EQ(bench.device.getDeviceType(), VGA);
    EXPECT_EQ(bench.device.handle, nullptr);
    EXPECT_EQ(bench.device.sensor, nullptr);
    EXPECT_TRUE(bench.device.configDir.empty());
    EXPECT_EQ(bench.device.width, 640);
    EXPECT_EQ(bench.device.height, 480);
    EXPECT_FALSE(bench.device.frameRateSet);
    EXPECT_FALSE(bench.device.readSensorCalibration);
    EXPECT_FALSE(bench.device.saveSensorCalibration);
    EXPECT_TRUE(bench.library.loadedPaths.empty());
}

TEST(VgaDevice, GeometryRangeModeAndFrameRateFollowModeAndSize) {
    const struct {
        const char* name;
        std::vector<std::pair<CameraCtrl, int>> settings;
        int range, mode, frameRateResult, frameRate;
        uint32_t rawWidth, rawRows, outputWidth, outputHeight;
    } cases[] = {
        {"fresh", {}, 1250, 0, 0, 41, 640, 2405, 640, 480},
        {"double frequency", {{MODE, 1}}, 4500, 1, 0, 23, 640, 4810, 640, 480},
        {"320 x 240", {{FMT_WIDTH, 320}, {FMT_HEIGHT, 240}}, 1250, 0, 0, 61, 320, 1205, 320, 240},
        {"320 x 240 double", {{FMT_WIDTH, 320}, {FMT_HEIGHT, 240}, {MODE, 1}},
         4500, 1, 0, 36, 320, 2410, 320, 240},
        {"back to single", {{MODE, 1}, {MODE, 0}}, 1250, 0, 0, 41, 640, 2405, 640, 480},
        {"320 x 480", {{FMT_WIDTH, 320}}, 1250, 0, 1, -7, 320, 2405, 320, 480},
        {"640 x 240", {{FMT_HEIGHT, 240}}, 1250, 0, 1, -7, 640, 1205, 640, 240},
    };
    for (const auto& c : cases) {
        VgaBench bench;
        ASSERT_EQ(bench.init(), 0) << c.name;
        for (const auto& [ctrl, value] : c.settings) {
            EXPECT_EQ(bench.device.setControl(ctrl, value), 0) << c.name;
        }
        EXPECT_EQ(bench.control(RANGE), c.range) << c.name;
        EXPECT_EQ(bench.control(MODE), c.mode) << c.name;
        EXPECT_EQ(bench.control(FRAME_RATE), c.frameRate) << c.name;
        EXPECT_EQ(bench.lastResult, c.frameRateResult) << c.name;
        int limit = -7;
        EXPECT_EQ(bench.device.getMaxFrameRate(&limit), c.frameRateResult) << c.name;
        EXPECT_EQ(limit, c.frameRate) << c.name;

        FrameLayout raw{-5, 1, 1};
        FrameLayout output{-5, 1, 1};
        bench.device.getFrameLayouts(raw, output);
        EXPECT_EQ(raw.code, 2) << c.name;
        EXPECT_EQ(raw.width, c.rawWidth) << c.name;
        EXPECT_EQ(raw.height, c.rawRows) << c.name;
        EXPECT_EQ(output.code, -5) << c.name;  // left as it was
        EXPECT_EQ(output.width, c.outputWidth) << c.name;
        EXPECT_EQ(output.height, c.outputHeight) << c.name;

        bench.log->clear();
        EXPECT_EQ(bench.device.configureSensor(), 0) << c.name;
        EXPECT_EQ(bench.log->entries(),
                  (Calls{testing::call("sensor.setControl", FMT_WIDTH, c.rawWidth),
                         testing::call("sensor.setControl", FMT_HEIGHT, c.rawRows)}))
            << c.name;
    }
}

TEST(VgaDevice, RefusedSettingsChangeNothing) {
    const struct {
        CameraCtrl ctrl;
        int value;
        int result;
    } cases[] = {
        {FMT_WIDTH, 321, 1}, {FMT_WIDTH, 0, 1},   {FMT_HEIGHT, 479, 1},  {FMT_HEIGHT, 640, 1},
        {MODE, 2, 1},        {MODE, -1, 1},       {FRAME_MODE, 1, 4},    {RANGE, 4500, 1},
        {RANGE, 1250, 1},    {EXPOSURE, 100, 1},  {SKIP_FRAME, 1, 1},    {CONFIG_DIR_EXT, 1, 1},
        {AUTO_FRAME_RATE, 1, 1},
    };
    for (const auto& c : cases) {
        VgaBench bench;
        ASSERT_EQ(bench.init(), 0);
        bench.library.calls.clear();
        EXPECT_EQ(bench.device.setControl(c.ctrl, c.value), c.result) << c.ctrl << "=" << c.value;
        EXPECT_EQ(bench.device.width, 640);
        EXPECT_EQ(bench.device.height, 480);
        EXPECT_EQ(bench.control(MODE), 0);
        EXPECT_TRUE(bench.library.calls.empty()) << c.ctrl;
        EXPECT_FALSE(bench.log->contains(testing::call("sensor.setControl", c.ctrl, c.value)));
    }
}

TEST(VgaDevice, OtherReadsGoToTheSensor) {
    for (const int ctrl : {int{EXPOSURE}, int{SKIP_FRAME}, int{SKIP_FRAME_LOOP},
                           int{CONFIG_DIR_EXT}, int{AUTO_FRAME_RATE}, -1, 7}) {
        VgaBench bench;
        bench.sensor.script.getControlResult = 3;
        ASSERT_EQ(bench.init(), 0);
        bench.control(static_cast<CameraCtrl>(ctrl));
        EXPECT_EQ(bench.lastResult, 3) << ctrl;
        EXPECT_TRUE(bench.log->contains(testing::call("sensor.getControl", ctrl))) << ctrl;
    }
    VgaBench bench;
    ASSERT_EQ(bench.init(), 0);
    EXPECT_EQ(bench.control(FRAME_MODE), -7);
    EXPECT_EQ(bench.lastResult, 4);
    EXPECT_TRUE(bench.log->entries().empty());
}

TEST(VgaDevice, AFrameRateTheSensorTakesIsReadBackFromTheSensor) {
    VgaBench bench;
    ASSERT_EQ(bench.init(), 0);
    bench.sensor.script.setControlResult = -2;
    EXPECT_EQ(bench.device.setControl(FRAME_RATE, 10), -2);
    EXPECT_FALSE(bench.device.frameRateSet);
    EXPECT_EQ(bench.control(FRAME_RATE), 41);

    bench.sensor.script.setControlResult = 0;
    bench.sensor.script.writesControlValue = true;
    bench.sensor.script.controlValue = 10;
    EXPECT_EQ(bench.device.setControl(FRAME_RATE, 10), 0);
    EXPECT_TRUE(bench.device.frameRateSet);
    EXPECT_TRUE(bench.log->contains(testing::call("sensor.setControl", FRAME_RATE, 10)));
    EXPECT_EQ(bench.control(FRAME_RATE), 10);
    EXPECT_TRUE(bench.log->contains(testing::call("sensor.getControl", FRAME_RATE)));
    // The bound the camera checks a new rate against stays the device's maximum.
    int limit = 0;
    EXPECT_EQ(bench.device.getMaxFrameRate(&limit), 0);
    EXPECT_EQ(limit, 41);
}

TEST(VgaDevice, CameraBoundsTheFrameRateByTheMaximumSoALoweredRateCanBeRaised) {
    struct VgaFactory : testing::TestComponentFactory {
        explicit VgaFactory(Host& library) : library(library) {}
        std::unique_ptr<ZelvoDevice> createVGADevice(Platform platform, Host&) override {
            return std::make_unique<ZelvoDeviceVGA>(platform, library);
        }
        Host& library;
    };
    ScratchDirectory scratch;
    FakeDepthLibrary library;
    auto host = std::make_shared<testing::FakeHost>();
    auto factory = std::make_shared<VgaFactory>(library);
    factory->sensorScript.width = 640;
    factory->sensorScript.height = 480;
    ZelvoTOFCamera camera(host, factory);
    ASSERT_EQ(camera.open(CSI, 0), 0);
    EXPECT_EQ(camera.getCameraInfo().device_type, VGA);
    EXPECT_EQ(camera.setControl(FRAME_RATE, 42), 1);
    EXPECT_EQ(camera.setControl(FRAME_RATE, 10), 0);
    EXPECT_EQ(camera.setControl(FRAME_RATE, 41), 0);
    EXPECT_TRUE(factory->log->contains(testing::call("sensor.setControl", FRAME_RATE, 41)));
    EXPECT_EQ(camera.setControl(FRAME_RATE, 0), 1);
}

TEST(VgaDevice, ConfigurationDirectoryIsKeptAndHandedToTheLibraryWhenSet) {
    for (const std::string directory : {"/etc/zelvo", ""}) {
        VgaBench bench;
        ASSERT_EQ(bench.init(), 0);
        EXPECT_EQ(bench.device.setControlExt(CONFIG_DIR_EXT, directory.c_str()), 0);
        const char* text = nullptr;
        EXPECT_EQ(bench.device.getControlExt(CONFIG_DIR_EXT, &text), 0);
        EXPECT_EQ(std::string(text), directory);
        const char* untouched = "x";
        EXPECT_EQ(bench.device.setControlExt(RANGE, "/tmp"), 1);
        EXPECT_EQ(bench.device.getControlExt(RANGE, &untouched), 1);
        EXPECT_STREQ(untouched, "x");

        bench.library.calls.clear();
        ASSERT_EQ(bench.device.start(), 0);
        Calls expected{"SiSDKInit(640,480)"};
        if (!directory.empty()) expected.push_back("SiSDKSetConfig(/etc/zelvo)");
        expected.push_back("SiSDKStart");
        EXPECT_EQ(bench.library.calls, expected) << directory;
    }
}

TEST(VgaDevice, RawFramesAreCopiedAtTheSizeOfModeAndOutputSize) {
    for (const bool single : {true, false}) {
        VgaBench bench;
        ASSERT_EQ(bench.init(), 0);
        ASSERT_EQ(bench.device.setControl(FMT_WIDTH, 320), 0);
        ASSERT_EQ(bench.device.setControl(FMT_HEIGHT, 240), 0);
        ASSERT_EQ(bench.device.setControl(MODE, single ? 0 : 1), 0);
        const size_t samples = 320u * 241u * (single ? 5u : 10u);
        std::vector<int16_t> source(samples + 8);
        for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<int16_t>(i * 3);
        std::vector<int16_t> copy(source.size(), -1);
        EXPECT_TRUE(bench.device.getRawImages(reinterpret_cast<const uint8_t*>(source.data()),
                                              copy.data()));
        for (size_t i = 0; i < copy.size(); ++i) {
            ASSERT_EQ(copy[i], i < samples ? source[i] : -1) << i;
        }
    }
}

TEST(VgaDevice, PhaseImagesComeFromTheLibrary) {
    VgaBench bench;
    std::vector<uint8_t> raw(8);
    float depth = 0, amplitude = 0, confidence = 0;
    EXPECT_FALSE(bench.device.getPhaseImage(raw.data(), &depth, &amplitude, &confidence));
    ASSERT_EQ(bench.init(), 0);
    for (const bool result : {true, false}) {
        bench.library.phaseResult = result;
        EXPECT_EQ(bench.device.getPhaseImage(raw.data(), &depth, &amplitude, &confidence),
                  result);
    }
    EXPECT_EQ(bench.library.calls, (Calls{"SiSDKCreate", "SiSDKGetPhaseImage",
                                          "SiSDKGetPhaseImage"}));
}

// ---------------------------------------------------------------- init, start and close

TEST(VgaDevice, InitLoadsTheLibraryAndCreatesAHandle) {
    {
        VgaBench bench;
        EXPECT_EQ(bench.device.init(nullptr, VGA), 1);
        EXPECT_EQ(bench.device.sensor, nullptr);
        EXPECT_TRUE(bench.library.loadedPaths.empty());
    }
    for (const bool created : {true, false}) {
        VgaBench bench;
        bench.library.createResult = created;
        EXPECT_EQ(bench.init(), created ? 0 : -1);
        EXPECT_EQ(bench.device.sensor, &bench.sensor);
        EXPECT_EQ(bench.device.handle != nullptr, created);
        EXPECT_EQ(bench.library.loadedPaths, (Calls{"libzelvo_depth.so"}));
    }
}

TEST(VgaDevice, StartRunsTheSequenceAndDestroysTheHandleWhenTheLibraryFails) {
    const struct {
        const char* name;
        bool blockTexts, initResult, startResult;
        int result;
        Calls calls;
        bool handleKept;
    } cases[] = {
        {"success", false, true, true, 0,
         {"SiSDKInit(640,480)", "SiSDKSetCaliData(5)", "SiSDKStart"}, true},
        {"texts cannot be written", true, true, true, -1, {}, true},
        {"init fails", false, false, true, -1, {"SiSDKInit(640,480)", "SiSDKDestroy"}, false},
        {"start fails", false, true, false, -1,
         {"SiSDKInit(640,480)", "SiSDKSetCaliData(5)", "SiSDKStart", "SiSDKDestroy"}, false},
    };
    for (const auto& c : cases) {
        VgaBench bench;
        ASSERT_EQ(bench.init(), 0);
        writeFile("cali.bin", "bytes");
        if (c.blockTexts) {
            ASSERT_EQ(::mkdir("ConfigAlgorithm.json", 0755), 0);
        }
        bench.library.initResult = c.initResult;
        bench.library.startResult = c.startResult;
        bench.library.calls.clear();
        EXPECT_EQ(bench.device.start(), c.result) << c.name;
        EXPECT_EQ(bench.library.calls, c.calls) << c.name;
        EXPECT_EQ(bench.device.handle != nullptr, c.handleKept) << c.name;
        EXPECT_EQ(bench.device.streaming(), c.result == 0) << c.name;
        // A destroyed handle reads no calibration: its mapping is gone.
        EXPECT_EQ(mappingsOf(bench.scratch.file("cali.bin")), c.result == 0 ? 1 : 0) << c.name;
        ASSERT_EQ(bench.device.close(), 0);
    }
}

TEST(VgaDevice, CloseAfterAFailedStartDestroysTheSameHandleAgain) {
    VgaBench bench;
    ASSERT_EQ(bench.init(), 0);
    bench.library.startResult = false;
    EXPECT_EQ(bench.device.start(), -1);
    EXPECT_EQ(bench.device.close(), 0);
    ASSERT_EQ(bench.library.destroyedAt.size(), 2u);
    EXPECT_EQ(bench.library.destroyedAt[0], &bench.device.handle);
    EXPECT_EQ(bench.library.destroyedAt[1], &bench.device.handle);
    EXPECT_EQ(bench.library.libraryCloses, 1);
}

void ignoreSignal(int) {}

TEST(VgaDevice, CloseWaitsHalfASecondEvenWhenASignalArrives) {
    VgaBench bench;
    ASSERT_EQ(bench.init(), 0);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = ignoreSignal;
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t closer = ::pthread_self();
    std::thread interrupter([closer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::pthread_kill(closer, SIGUSR1);
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(bench.device.close(), 0);
    const auto waited = std::chrono::steady_clock::now() - began;
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GE(waited, std::chrono::milliseconds(500));
    EXPECT_EQ(bench.library.calls, (Calls{"SiSDKCreate", "SiSDKDestroy"}));
}

TEST(VgaDevice, SizeAndModeAreRefusedWhileAStreamRuns) {
    VgaBench bench;
    ASSERT_EQ(bench.init(), 0);
    ASSERT_EQ(bench.device.start(), 0);
    bench.library.calls.clear();
    for (const auto& [ctrl, value] : {std::pair{FMT_WIDTH, 320}, std::pair{FMT_HEIGHT, 240},
                                      std::pair{MODE, 1}, std::pair{MODE, 0}}) {
        EXPECT_EQ(bench.device.setControl(ctrl, value), 1) << ctrl;
    }
    EXPECT_EQ(bench.device.width, 640);
    EXPECT_EQ(bench.device.height, 480);
    EXPECT_TRUE(bench.library.calls.empty());
    FrameLayout raw{}, output{};
    bench.device.getFrameLayouts(raw, output);
    EXPECT_EQ(raw.height, 2405u);

    EXPECT_EQ(bench.device.stop(), 0);
    EXPECT_EQ(bench.device.setControl(FMT_WIDTH, 320), 0);
    EXPECT_EQ(bench.device.setControl(MODE, 1), 0);
    EXPECT_EQ(bench.library.calls, (Calls{"SiSDKSetSingleFreq(0)"}));
}

// ---------------------------------------------------------------- calibration file

TEST(VgaDevice, CalibrationFileIsHandedOverWholeOrNotAtAll) {
    const struct {
        const char* name;
        const char* content;  // null: no file; "/": a directory
        Calls calibrations;
    } cases[] = {
        {"missing", nullptr, {}},
        {"empty", "", {}},
        {"one byte", "z", {"z"}},
        {"unmappable", "/", {}},
        {"several bytes", "calibration\n\r\x01", {"calibration\n\r\x01"}},
    };
    for (const auto& c : cases) {
        VgaBench bench;
        ASSERT_EQ(bench.init(), 0);
        if (c.content != nullptr && std::string(c.content) == "/") {
            ASSERT_EQ(::mkdir("cali.bin", 0755), 0);
        } else if (c.content != nullptr) {
            writeFile("cali.bin", c.content);
        }
        EXPECT_EQ(bench.device.start(), 0) << c.name;
        EXPECT_EQ(bench.library.calibrations, c.calibrations) << c.name;
        const int held = c.calibrations.empty() ? 0 : 1;
        EXPECT_EQ(descriptorsOn(bench.scratch.file("cali.bin")), held) << c.name;
        EXPECT_EQ(mappingsOf(bench.scratch.file("cali.bin")), held) << c.name;
    }
}

TEST(VgaDevice, EveryStartMapsTheCalibrationAnewAndHoldsOnlyTheLatest) {
    VgaBench bench;
    ASSERT_EQ(bench.init(), 0);
    for (const char* content : {"first", "second", "third"}) {
        writeFile("cali.bin", content);
        ASSERT_EQ(bench.device.start(), 0);
        ASSERT_EQ(bench.device.stop(), 0);
        EXPECT_EQ(bench.library.calibrations.back(), content);
        EXPECT_EQ(descriptorsOn(bench.scratch.file("cali.bin")), 1) << content;
        EXPECT_EQ(mappingsOf(bench.scratch.file("cali.bin")), 1) << content;
    }
    // A start without the file keeps what the library was given before.
    ASSERT_EQ(::unlink("cali.bin"), 0);
    ASSERT_EQ(bench.device.start(), 0);
    EXPECT_EQ(bench.library.calibrations.size(), 3u);
    EXPECT_EQ(mappingsOf(bench.scratch.file("cali.bin")), 1);

    EXPECT_EQ(bench.device.close(), 0);
    EXPECT_EQ(descriptorsOn(bench.scratch.file("cali.bin")), 0);
    EXPECT_EQ(mappingsOf(bench.scratch.file("cali.bin")), 0);
}

// ---------------------------------------------------------------- loading the library

TEST(VgaDevice, ALibraryWithoutOneOfItsCallsFailsInitWithOneLine) {
    for (const char* call : {"SiSDKCreate", "SiSDKInit", "SiSDKSetConfig", "SiSDKSetCaliData",
                             "SiSDKStart", "SiSDKGetPhaseImage", "SiSDKIsSingleFreq",
                             "SiSDKSetSingleFreq", "SiSDKDestroy"}) {
        VgaBench bench;
        bench.library.missingCall = call;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.init(), -1) << call;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  std::string("Error: the depth library libzelvo_depth.so has no call ") + call +
                      "\n");
        EXPECT_EQ(bench.library.libraryCloses, 1) << call;
        EXPECT_TRUE(bench.library.calls.empty()) << call;
        // Nothing is loaded, so nothing is called later either.
        EXPECT_EQ(bench.device.start(), -1);
        EXPECT_TRUE(bench.library.calls.empty()) << call;
    }
}

class LibraryPath {
public:
    explicit LibraryPath(const char* path) {
        if (const char* before = std::getenv("ZELVO_DEPTH_LIBRARY")) previous = before;
        ::setenv("ZELVO_DEPTH_LIBRARY", path, 1);
    }
    ~LibraryPath() {
        if (previous.empty()) ::unsetenv("ZELVO_DEPTH_LIBRARY");
        else ::setenv("ZELVO_DEPTH_LIBRARY", previous.c_str(), 1);
    }

private:
    std::string previous;
};

TEST(VgaDevice, TheLibraryNamedByTheEnvironmentIsLoadedInstead) {
    {
        LibraryPath path("/opt/vendor/libsi4c.so");
        VgaBench bench;
        bench.library.loadFails = true;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.init(), -1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "Error: cannot load the depth library /opt/vendor/libsi4c.so: "
                  "no such library here\n");
        EXPECT_EQ(bench.library.loadedPaths, (Calls{"/opt/vendor/libsi4c.so"}));
    }
    // The real loader: a library that is not there, and one without the calls.
    const struct {
        const char* path;
        const char* line;
    } cases[] = {
        {"/nonexistent/libzelvo_depth.so",
         "Error: cannot load the depth library /nonexistent/libzelvo_depth.so: "},
        {"libm.so.6", "Error: the depth library libm.so.6 has no call SiSDKCreate\n"},
    };
    for (const auto& c : cases) {
        LibraryPath path(c.path);
        auto log = std::make_shared<CallLog>();
        ScriptedSensor sensor(log, SensorScript{640, 480});
        ZelvoDeviceVGA device(PlatformOther, *systemHost());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(device.init(&sensor, VGA), -1) << c.path;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind(c.line, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.back(), '\n');
    }
}

}  // namespace
}  // namespace Zelvo
