// The VGA device over a depth library double: controls and geometry by mode and size, the
// start-up sequence with its failure paths, calibration hand-over, close and loading.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/vga_device.h"
#include "tests/csi/counting_host.h"
#include "tests/device/fake_library/fake_depth_library.h"
#include "tests/support/eventually.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/small_tmpfs.h"
#include "tests/support/scripted_sensor.h"

namespace Zelvo {
namespace {

using testing::call;
using Texts = std::vector<std::string>;

// Where a start leaves "cali.bin": the descriptors and mappings of this process on it.
std::pair<int, int> heldOn(const std::string& path) {
    std::pair<int, int> held{0, 0};
    for (int fd = 0; fd < 1024; ++fd) {
        char target[4096] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0) {
            held.first += std::string(target).rfind(path, 0) == 0;
        }
    }
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        held.second += line.find(path) != std::string::npos;
    }
    return held;
}

// A device on the operating system, loading the library double.
struct VgaBench {
    explicit VgaBench(bool initialise = true) {
        ::setenv("ZELVO_DEPTH_LIBRARY", ZELVO_FAKE_DEPTH_LIBRARY, 1);
        library = {};
        if (initialise) {
            EXPECT_EQ(device.init(&sensor, VGA), 0);
        }
        library.calls.clear();
    }
    ~VgaBench() { ::unsetenv("ZELVO_DEPTH_LIBRARY"); }
    int get(CameraCtrl ctrl) {
        int value = -7;
        result = device.getControl(ctrl, &value);
        return value;
    }
    std::pair<int, int> calibrationHeld() const { return heldOn(scratch.file("cali.bin")); }

    testing::ScratchDirectory scratch;
    testing::FakeDepthLibrary& library = testing::fakeDepthLibrary();
    std::shared_ptr<testing::CallLog> log = std::make_shared<testing::CallLog>();
    // Frames large enough for the raw layout of every size and mode.
    testing::ScriptedSensor sensor{log, testing::SensorScript{640, 4810}};
    testing::CountingHost host{systemHost()};
    ZelvoDeviceVGA device{PlatformRaspberryPi5, host};
    int result = 0;
};

void writeFile(const char* name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(VgaDevice, RangeModeFrameRateAndLayoutsFollowModeAndSize) {
    const struct {
        std::vector<std::pair<CameraCtrl, int>> settings;
        int range, mode, rateResult, rate;
        uint32_t width, rows, height;
    } cases[] = {
        {{}, 1250, 0, 0, 41, 640, 2405, 480},
        {{{MODE, 1}}, 4500, 1, 0, 23, 640, 4810, 480},
        {{{FMT_WIDTH, 320}, {FMT_HEIGHT, 240}}, 1250, 0, 0, 61, 320, 1205, 240},
        {{{FMT_WIDTH, 320}, {FMT_HEIGHT, 240}, {MODE, 1}}, 4500, 1, 0, 36, 320, 2410, 240},
        {{{MODE, 1}, {MODE, 0}}, 1250, 0, 0, 41, 640, 2405, 480},
        {{{FMT_WIDTH, 320}}, 1250, 0, 1, -7, 320, 2405, 480},
        {{{FMT_HEIGHT, 240}}, 1250, 0, 1, -7, 640, 1205, 240},
    };
    for (const auto& c : cases) {
        VgaBench bench;
        for (const auto& [ctrl, value] : c.settings) {
            EXPECT_EQ(bench.device.setControl(ctrl, value), 0);
        }
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " mode " +
                     std::to_string(c.mode));
        EXPECT_EQ(bench.get(RANGE), c.range);
        EXPECT_EQ(bench.get(MODE), c.mode);
        EXPECT_EQ(bench.get(FMT_WIDTH), static_cast<int>(c.width));
        EXPECT_EQ(bench.get(FMT_HEIGHT), static_cast<int>(c.height));
        EXPECT_EQ(bench.get(FRAME_RATE), c.rate);
        EXPECT_EQ(bench.result, c.rateResult);
        int limit = -7;
        EXPECT_EQ(bench.device.getMaxFrameRate(&limit), c.rateResult);
        EXPECT_EQ(limit, c.rate);

        FrameLayout raw{-5, 1, 1}, output{-5, 1, 1};
        bench.device.getFrameLayouts(raw, output);
        EXPECT_EQ(raw.code, 2);
        EXPECT_EQ(raw.width, c.width);
        EXPECT_EQ(raw.height, c.rows);
        EXPECT_EQ(output.code, -5);  // left as it was
        EXPECT_EQ(output.width, c.width);
        EXPECT_EQ(output.height, c.height);

        std::vector<int16_t> source(c.width * c.rows + 4, 9), copy(source.size(), -1);
        EXPECT_TRUE(bench.device.getRawImages(reinterpret_cast<uint8_t*>(source.data()),
                                              copy.data()));
        EXPECT_EQ(std::count(copy.begin(), copy.end(), 9), c.width * c.rows);

        // A pair the sensor does not deliver is refused before the sensor is asked.
        bench.log->clear();
        const bool deliverable = c.rateResult == 0;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.device.configureSensor(), deliverable ? 0 : -1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr().empty(), deliverable);
        EXPECT_EQ(bench.log->entries(),
                  deliverable ? (Texts{call("sensor.setControl", FMT_WIDTH, c.width),
                                       call("sensor.setControl", FMT_HEIGHT, c.rows)})
                              : Texts{});
    }
}

TEST(VgaDevice, RefusedSettingsChangeNothing) {
    const struct {
        CameraCtrl ctrl;
        int value, result;
        bool streaming;
    } cases[] = {
        {FMT_WIDTH, 321, 1, false}, {FMT_HEIGHT, 479, 1, false}, {MODE, 2, 1, false},
        {MODE, -1, 1, false},       {FRAME_MODE, 1, 4, false},   {RANGE, 4500, 1, false},
        {EXPOSURE, 100, 1, false},  {SKIP_FRAME, 1, 1, false},   {CONFIG_DIR_EXT, 1, 1, false},
        // While a stream runs the raw buffers keep their size.
        {FMT_WIDTH, 320, 1, true},  {FMT_HEIGHT, 240, 1, true},  {MODE, 1, 1, true},
        {MODE, 0, 1, true},
    };
    for (const auto& c : cases) {
        VgaBench bench;
        if (c.streaming) {
            ASSERT_EQ(bench.device.start(), 0);
        }
        bench.library.calls.clear();
        EXPECT_EQ(bench.device.setControl(c.ctrl, c.value), c.result) << c.ctrl << "=" << c.value;
        EXPECT_EQ(bench.get(FMT_WIDTH) * 1000 + bench.get(FMT_HEIGHT), 640480);
        EXPECT_EQ(bench.get(MODE), 0);
        EXPECT_TRUE(bench.library.calls.empty()) << c.ctrl;
        EXPECT_TRUE(bench.log->entries().empty()) << c.ctrl;
        if (!c.streaming) continue;
        EXPECT_EQ(bench.device.stop(), 0);
        EXPECT_EQ(bench.device.setControl(c.ctrl, c.value), 0) << c.ctrl << " after stop";
    }
}

TEST(VgaDevice, FrameRateAndOtherControlsGoThroughTheSensor) {
    for (const int ctrl : {5, 7, 8, 9, 256, -1}) {
        VgaBench bench;
        bench.sensor.script.getControlResult = 3;
        bench.get(static_cast<CameraCtrl>(ctrl));
        EXPECT_EQ(bench.result, 3) << ctrl;
        EXPECT_EQ(bench.log->entries(), Texts{call("sensor.getControl", ctrl)});
    }
    VgaBench bench;
    EXPECT_EQ(bench.get(FRAME_MODE), -7);
    EXPECT_EQ(bench.result, 4);
    bench.sensor.script.setControlResult = -2;
    EXPECT_EQ(bench.device.setControl(FRAME_RATE, 10), -2);
    EXPECT_EQ(bench.get(FRAME_RATE), 41);  // not set: the maximum
    bench.sensor.script = {640, 480};
    bench.sensor.script.writesControlValue = true;
    bench.sensor.script.controlValue = 10;
    EXPECT_EQ(bench.device.setControl(FRAME_RATE, 10), 0);
    EXPECT_TRUE(bench.device.frameRateSet);
    EXPECT_EQ(bench.get(FRAME_RATE), 10);
    EXPECT_TRUE(bench.log->contains(call("sensor.getControl", FRAME_RATE)));
    int limit = 0;  // the camera's bound stays the maximum, so 10 can be raised again
    EXPECT_EQ(bench.device.getMaxFrameRate(&limit), 0);
    EXPECT_EQ(limit, 41);
}

TEST(VgaDevice, InitLoadsTheLibraryAndCreatesAHandle) {
    VgaBench bench(false);
    EXPECT_EQ(bench.device.init(nullptr, VGA), 1);
    EXPECT_EQ(bench.device.sensor, nullptr);
    EXPECT_TRUE(bench.library.calls.empty());
    float plane = 0;
    EXPECT_FALSE(bench.device.getPhaseImage(reinterpret_cast<uint8_t*>(&plane), &plane, &plane,
                                            &plane));
    bench.library.createResult = false;
    EXPECT_EQ(bench.device.init(&bench.sensor, VGA), -1);
    EXPECT_EQ(bench.device.sensor, &bench.sensor);
    bench.library.createResult = true;
    EXPECT_EQ(bench.device.init(&bench.sensor, VGA), 0);
    EXPECT_NE(bench.device.handle, nullptr);
    for (const bool result : {true, false}) {
        bench.library.phaseResult = result;
        EXPECT_EQ(bench.device.getPhaseImage(reinterpret_cast<uint8_t*>(&plane), &plane, &plane,
                                             &plane),
                  result);
    }
}

TEST(VgaDevice, StartRunsTheSequenceAndDestroysTheHandleWhenTheLibraryFails) {
    const struct {
        const char* directory;
        bool blockTexts, init, start;
        int result;
        Texts calls;
        int sensorRows = 4810;  // rows of the sensor's frame
        int mode = SINGLE_FREQ;
    } cases[] = {
        {"", false, true, true, 0, {"SiSDKInit(640,480)", "SiSDKSetCaliData(5)", "SiSDKStart"}},
        {"", false, true, true, 0, {"SiSDKInit(640,480)", "SiSDKSetCaliData(5)", "SiSDKStart"},
         2405},
        // A frame that cannot hold the double-frequency layout: refused before anything.
        {"", false, true, true, -1, {}, 2405, DOUBLE_FREQ},
        {"/etc/zelvo", false, true, true, 0,
         {"SiSDKInit(640,480)", "SiSDKSetCaliData(5)", "SiSDKSetConfig(/etc/zelvo)",
          "SiSDKStart"}},
        {"", true, true, true, -1, {}},
        {"", false, false, true, -1, {"SiSDKInit(640,480)", "SiSDKDestroy"}},
        {"", false, true, false, -1,
         {"SiSDKInit(640,480)", "SiSDKSetCaliData(5)", "SiSDKStart", "SiSDKDestroy"}},
    };
    for (const auto& c : cases) {
        VgaBench bench;
        writeFile("cali.bin", "bytes");
        if (c.blockTexts) {
            ASSERT_EQ(::mkdir("ConfigAlgorithm.json", 0755), 0);
        }
        EXPECT_EQ(bench.device.setControlExt(CONFIG_DIR_EXT, c.directory), 0);
        const char* directory = nullptr;
        EXPECT_EQ(bench.device.getControlExt(CONFIG_DIR_EXT, &directory), 0);
        EXPECT_STREQ(directory, c.directory);
        bench.library.initResult = c.init;
        bench.library.startResult = c.start;
        ASSERT_EQ(bench.sensor.setControl(FMT_HEIGHT, c.sensorRows), 0);
        ASSERT_EQ(bench.device.setControl(MODE, c.mode), 0);
        bench.library.calls.clear();
        const bool tooSmall = c.sensorRows < 4810 && c.mode == DOUBLE_FREQ;
        SCOPED_TRACE(std::to_string(c.calls.size()) + " rows " + std::to_string(c.sensorRows));

        EXPECT_EQ(bench.device.start(), c.result);
        EXPECT_EQ(bench.library.calls, c.calls);
        EXPECT_EQ(bench.device.streaming(), c.result == 0);
        // The handle survives only texts that cannot be written; a destroyed handle reads
        // no calibration, so its mapping goes too.
        EXPECT_EQ(bench.device.handle != nullptr, c.result == 0 || c.blockTexts || tooSmall);
        EXPECT_EQ(::access("ConfigAlgorithm.json", F_OK) == 0, !tooSmall);
        EXPECT_EQ(bench.calibrationHeld().second, c.result == 0 ? 1 : 0);
        EXPECT_EQ(bench.device.close(), 0);
        for (SiSDKHandle* at : bench.library.destroyedAt) EXPECT_EQ(at, &bench.device.handle);
        EXPECT_EQ(bench.calibrationHeld(), std::make_pair(0, 0));
    }
}

void ignoreSignal(int) {}

TEST(VgaDevice, CloseWaitsHalfASecondEvenWhenASignalArrives) {
    VgaBench bench;
    struct sigaction action {}, previous {};
    action.sa_handler = ignoreSignal;
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t closer = ::pthread_self();
    std::thread interrupter([closer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::pthread_kill(closer, SIGUSR1);
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(bench.device.close(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(500));
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(bench.library.calls, Texts{"SiSDKDestroy"});
}

TEST(VgaDevice, CalibrationFileIsHandedOverWholeOrNotAtAll) {
    // Content "/" makes cali.bin a directory, which opens but cannot be mapped.
    for (const char* content : {"", "z", "/", "calibration\n\r\x01"}) {
        VgaBench bench;
        if (std::string(content) == "/") {
            ASSERT_EQ(::mkdir("cali.bin", 0755), 0);
        } else {
            writeFile("cali.bin", content);
        }
        EXPECT_EQ(bench.device.start(), 0);
        const bool handed = std::string(content).size() > 0 && std::string(content) != "/";
        EXPECT_EQ(bench.library.calibrations, handed ? Texts{content} : Texts{}) << content;
        EXPECT_EQ(bench.calibrationHeld(), handed ? std::make_pair(1, 1) : std::make_pair(0, 0));
    }
}

TEST(VgaDevice, EveryStartMapsTheCalibrationAnewAndHoldsOnlyTheLatest) {
    VgaBench bench;
    for (const char* content : {"first", "second", "third", static_cast<const char*>(nullptr)}) {
        if (content != nullptr) {
            writeFile("cali.bin", content);
        } else {
            ASSERT_EQ(::unlink("cali.bin"), 0);  // the library keeps what it had
        }
        ASSERT_EQ(bench.device.start(), 0);
        ASSERT_EQ(bench.device.stop(), 0);
        EXPECT_EQ(bench.library.calibrations.back(), content ? content : "third");
        EXPECT_EQ(bench.calibrationHeld(), std::make_pair(1, 1)) << (content ? content : "-");
    }
    EXPECT_EQ(bench.library.calibrations.size(), 3u);
    EXPECT_EQ(bench.device.close(), 0);
    EXPECT_EQ(bench.calibrationHeld(), std::make_pair(0, 0));
}

TEST(VgaDevice, ALibraryThatCannotBeLoadedOrLacksACallFailsInitWithOneLine) {
    for (const auto& [path, line] :
         {std::pair{"/nonexistent/libsi4c.so",
                    "Error: cannot load the depth library /nonexistent/libsi4c.so: "},
          std::pair{"libm.so.6", "Error: the depth library libm.so.6 has no call SiSDKCreate\n"}}) {
        VgaBench bench(false);
        ::setenv("ZELVO_DEPTH_LIBRARY", path, 1);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.device.init(&bench.sensor, VGA), -1);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind(line, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(bench.device.start(), -1);  // nothing loaded, nothing called
        EXPECT_EQ(bench.device.setControl(MODE, 1), -1);
        EXPECT_TRUE(bench.library.calls.empty());
    }
}

// What the start finds at the name of a configuration text or of "cali.bin".
enum class Kind { Fifo, Directory, LinkToAnotherFile, Device, Oversized, Truncated, Unreadable };

mode_t typeAt(const char* name) {
    struct stat status {};
    return ::lstat(name, &status) == 0 ? status.st_mode & S_IFMT : 0;
}

TEST(VgaDevice, FilesOfEveryKindAtTheNamesItWritesAndReads) {
    const char* const texts[] = {"ConfigAlgorithm.json", "ConfigCamera.json", "register.json"};
    const std::string text = "Error: cannot write the configuration file ";
    const std::string cali = "Error: cannot use the calibration file cali.bin: ";
    const std::string notRegular = ", not a regular file\n", link = "it is a symbolic link, which "
                                                                    "is not followed\n";
    const struct {
        const char* name;
        Kind kind;
        std::string line;  // a text's line fails the start
        size_t handed;     // bytes of "cali.bin" handed over
    } cases[] = {
        {texts[0], Kind::Fifo, text + texts[0] + ": it is a FIFO" + notRegular, 0},
        {texts[1], Kind::Directory, text + texts[1] + ": Is a directory\n", 0},
        {texts[2], Kind::LinkToAnotherFile, text + texts[2] + ": " + link, 0},
        {texts[2], Kind::Device, text + texts[2] + ": it is a character device" + notRegular, 0},
        {texts[1], Kind::Oversized, "", 0},
        {texts[2], Kind::Truncated, "", 0},
        {texts[0], Kind::Unreadable, text + texts[0] + ": Permission denied\n", 0},
        {"cali.bin", Kind::Fifo, cali + "it is a FIFO" + notRegular, 0},
        {"cali.bin", Kind::Directory, cali + "it is a directory" + notRegular, 0},
        {"cali.bin", Kind::LinkToAnotherFile, cali + link, 0},
        {"cali.bin", Kind::Device, cali + "it is a character device" + notRegular, 0},
        // Whatever a regular file holds is handed over whole: judging it is the library's part.
        {"cali.bin", Kind::Oversized, "", 20000},
        {"cali.bin", Kind::Truncated, "", 100},
        {"cali.bin", Kind::Unreadable, cali + "Permission denied\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(static_cast<int>(c.kind)));
        VgaBench bench;
        writeFile("other.txt", "another file");
        const std::string bytes(c.kind == Kind::Oversized ? 20000 : 100, 'b');
        switch (c.kind) {
        case Kind::Fifo: ASSERT_EQ(::mkfifo(c.name, 0644), 0); break;
        case Kind::Directory: ASSERT_EQ(::mkdir(c.name, 0755), 0); break;
        case Kind::LinkToAnotherFile: ASSERT_EQ(::symlink("other.txt", c.name), 0); break;
        case Kind::Device:  // a null device; making one needs root
            if (::mknod(c.name, S_IFCHR | 0644, makedev(1, 3)) != 0) continue;
            break;
        case Kind::Unreadable: bench.host.refusedPath = c.name; [[fallthrough]];
        default: writeFile(c.name, bytes);
        }
        const mode_t typeBefore = typeAt(c.name);
        // A start blocked on the FIFO is let go by a peer opened from here, and fails.
        std::atomic<bool> done{false};
        std::thread starter([&] {
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(bench.device.start(), c.line.rfind(text, 0) == 0 ? -1 : 0);
            EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
            done.store(true);
        });
        if (!testing::eventually([&] { return done.load(); })) {
            ADD_FAILURE() << "the start waits on the FIFO";
            ::close(::open(c.name, O_RDWR | O_NONBLOCK));
        }
        starter.join();
        // Texts before a refused one are written whole, none after it; the refused name
        // keeps what it was, and the file a link points to is untouched.
        const bool textRefused = c.line.rfind(text, 0) == 0;
        const auto refused = textRefused ? std::find(std::begin(texts), std::end(texts),
                                                     std::string(c.name))
                                         : std::end(texts);
        for (auto name = std::begin(texts); name != std::end(texts); ++name) {
            if (name != refused) {
                EXPECT_EQ(typeAt(*name) == S_IFREG, name < refused) << *name;
            }
        }
        EXPECT_EQ(typeAt(c.name), typeBefore);
        std::ifstream other("other.txt");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(other), {}), "another file");
        EXPECT_EQ(bench.library.calibrations, c.handed ? Texts{bytes} : Texts{});
        EXPECT_EQ(bench.device.close(), 0);
    }
}

// A working directory the system keeps from being written: read-only, or full after 16 KiB,
// which hold the first two texts (one page and three) and no more.
TEST(VgaDevice, ReadOnlyOrFullWorkingDirectoryFailsTheStartWithOneLine) {
    const char* const texts[] = {"ConfigAlgorithm.json", "ConfigCamera.json", "register.json"};
    for (const bool readOnly : {true, false}) {
        VgaBench bench;
        testing::SmallTmpfs disk("size=16k", readOnly);
        if (!disk.mounted) GTEST_SKIP() << disk.skipReason;
        ASSERT_EQ(::chdir(disk.path.c_str()), 0);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.device.start(), -1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  readOnly ? "Error: cannot write the configuration file ConfigAlgorithm.json: "
                             "Read-only file system\n"
                           : "Error: cannot write the configuration file register.json: No "
                             "space left on device\n");
        // Whole or absent: never a file cut short.
        for (int i = 0; i < 3; ++i) EXPECT_EQ(typeAt(texts[i]) == S_IFREG, !readOnly && i < 2);
        if (!readOnly) {
            EXPECT_EQ(testing::runProgram("wc -c < ConfigCamera.json").printed, "9476\n");
        }
        ASSERT_EQ(::chdir(bench.scratch.file("").c_str()), 0);
    }
}

}  // namespace
}  // namespace Zelvo
