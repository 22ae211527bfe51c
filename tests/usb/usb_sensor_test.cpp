#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sensor/usb/usb_sensor.h"
#include "tests/usb/fake_evk_sdk.h"

namespace Zelvo {
namespace {

using testing::FakeEvkSdk;
using testing::ScriptedCapture;

constexpr uint16_t kUntouched = 0x7777;

struct UsbBench {
    FakeEvkSdk sdk;
    CameraInfo info{};
    std::unique_ptr<ZelvoTOFUSBSensor> sensor;

    int open(const char* path = "") {
        sensor = std::make_unique<ZelvoTOFUSBSensor>(path, 3, sdk);
        return sensor->open(info);
    }
    size_t samples() const { return static_cast<size_t>(sdk.width) * sdk.height; }
    // Opens, starts and reads one raw frame of `places` sub-frames into a buffer that
    // starts out holding kUntouched everywhere.
    int read(int places, std::vector<uint16_t>& frame, int64_t& timestamp) {
        if (!sensor && (open() != 0 || sensor->start() != 0)) return -100;
        sensor->framesPerRequest = places;
        frame.assign(samples() * static_cast<size_t>(places), kUntouched);
        return sensor->getFrame(frame.data(), &timestamp);
    }
};

TEST(UsbSensor, ConfigurationPathAndItsBinFlag) {
    struct Case {
        const char* path;
        uint8_t flag;
    };
    const Case cases[] = {{"kit.bin", 1}, {"/etc/zelvo/.bin", 1}, {".bin", 1},
                          {"kit.BIN", 0}, {"kit.bin.json", 0}, {"kit.json", 0},
                          {"ab", 0},      {"bin", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        UsbBench bench;
        ASSERT_EQ(bench.open(c.path), 0);
        EXPECT_EQ(bench.sdk.openConfigFile, c.path);
        EXPECT_EQ(bench.sdk.openParam.binFile, c.flag);
    }
    // Without a path the record stays exactly as the SDK filled it; the index is not given.
    UsbBench bench;
    ASSERT_EQ(bench.open(""), 0);
    const ZelvoOpenParam defaults = FakeEvkSdk::defaultParam();
    EXPECT_EQ(std::memcmp(&bench.sdk.openParam, &defaults, sizeof defaults), 0);
    EXPECT_EQ(bench.sensor->deviceIndex, 3);
}

TEST(UsbSensor, OpenFillsTheFrameSizeFromTheKit) {
    struct Case {
        uint8_t bits;
        uint32_t bpp;
    };
    for (const Case& c : {Case{12, 2}, Case{8, 1}, Case{9, 2}, Case{16, 2}, Case{6, 1}}) {
        SCOPED_TRACE(int(c.bits));
        UsbBench bench;
        bench.sdk.width = 240;
        bench.sdk.height = 180;
        bench.sdk.bitWidth = c.bits;
        bench.info.index = 7;
        bench.info.connect = USB;
        ASSERT_EQ(bench.open(), 0);
        EXPECT_EQ(bench.sdk.log.entries(),
                  (std::vector<std::string>{"ZelvoDefaultParam", "ZelvoOpenCamera",
                                            "ZelvoInitCamera", "ZelvoGetCameraConfig"}));
        for (const CameraInfo& info : {bench.info, bench.sensor->getCameraInfo()}) {
            EXPECT_EQ(info.index, 7u);
            EXPECT_EQ(info.connect, USB);
            EXPECT_EQ(info.width, 240u);
            EXPECT_EQ(info.height, 180u);
            EXPECT_EQ(info.bit_width, c.bits);
            EXPECT_EQ(info.bpp, c.bpp);
        }
    }
}

TEST(UsbSensor, AFailedOpenKeepsNothing) {
    for (bool initFails : {false, true}) {
        SCOPED_TRACE(initFails);
        UsbBench bench;
        (initFails ? bench.sdk.initResult : bench.sdk.openResult) = 5;
        bench.info.width = 11;
        EXPECT_EQ(bench.open(), -1);
        EXPECT_EQ(bench.info.width, 11u);
        EXPECT_EQ(bench.sensor->handle, nullptr);
        EXPECT_EQ(bench.sdk.count("ZelvoCloseCamera"), initFails ? 1 : 0);
        EXPECT_EQ(bench.sdk.libraryReferences, 0);
        EXPECT_EQ(bench.sensor->start(), -1);
    }
}

TEST(UsbSensor, SubFramesGroupByTimestamp) {
    struct Case {
        const char* name;
        std::vector<ScriptedCapture> captures;  // sub-frame k holds sample k + 1
        int result;
        int64_t timestamp;
        std::vector<uint16_t> places;  // what each place holds afterwards
    };
    auto at = [](std::vector<int64_t> stamps) {
        std::vector<ScriptedCapture> captures;
        for (int64_t stamp : stamps) {
            ScriptedCapture capture;
            capture.result = stamp < 0 ? -2 : 0;
            capture.timestamp = static_cast<uint64_t>(stamp);
            capture.sample = static_cast<uint16_t>(captures.size() + 1);
            captures.push_back(capture);
        }
        return captures;
    };
    const Case cases[] = {
        {"one burst", at({100, 102, 104, 106}), 0, 106, {1, 2, 3, 4}},
        {"a gap restarts", at({100, 102, 110, 112, 114, 116}), 0, 116, {3, 4, 5, 6}},
        {"backwards restarts", at({100, 102, 90, 92, 94, 96}), 0, 96, {3, 4, 5, 6}},
        {"restart after a failed first", at({-1, 110, 112, 114, 116}), 0, 116, {2, 3, 4, 5}},
        // A failed capture leaves the last place stale: no frame.
        {"failed inside", at({100, -1, 102, 104}), -1, 104, {1, 3, 4, kUntouched}},
        {"nothing captured", at({-1, -1, -1, -1}), -1, 0,
         {kUntouched, kUntouched, kUntouched, kUntouched}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsbBench bench;
        bench.sdk.captures.assign(c.captures.begin(), c.captures.end());
        std::vector<uint16_t> frame;
        int64_t timestamp = -5;
        EXPECT_EQ(bench.read(4, frame, timestamp), c.result);
        EXPECT_EQ(timestamp, c.timestamp);
        for (size_t place = 0; place < 4; ++place)
            EXPECT_EQ(frame[place * bench.samples()], c.places[place]) << place;
        EXPECT_EQ(frame.back(), c.places.back());
        EXPECT_EQ(bench.sdk.freed, bench.sdk.delivered);
        EXPECT_TRUE(bench.sdk.captures.empty());
        for (int timeout : bench.sdk.timeouts) EXPECT_EQ(timeout, 2000);
    }
}

TEST(UsbSensor, WrongSizeSubFrameGoesBackToTheKit) {
    UsbBench bench;
    bench.sdk.captures = {{0, 100, 1, 0}, {0, 102, 2, -1}, {0, 104, 3, 0}};
    std::vector<uint16_t> frame;
    int64_t timestamp = 0;
    EXPECT_EQ(bench.read(4, frame, timestamp), -1);
    ASSERT_EQ(bench.sdk.delivered.size(), 2u);
    EXPECT_EQ(bench.sdk.freed, bench.sdk.delivered);
    EXPECT_EQ(bench.sdk.captures.size(), 1u);
    EXPECT_EQ(frame[bench.samples()], kUntouched);
}

TEST(UsbSensor, SamplesBecomeTwelveBits) {
    struct Case {
        uint8_t bits;
        uint16_t sample;
        int result;
        uint16_t expected;
    };
    const Case cases[] = {{10, 0x03FF, 0, 0x0FFC}, {16, 0xFFFF, 0, 0x0FFF}, {8, 0xFF, 0, 0x0FF0},
                          {12, 0x0ABC, 0, 0x0ABC}, {9, 0x0101, 0, 0x0808}, {14, 0x2004, 0, 0x0801},
                          {7, 0x7F, -1, kUntouched}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.bits));
        UsbBench bench;
        bench.sdk.bitWidth = c.bits;
        bench.sdk.captures = {{0, 100, c.sample, 0}};
        std::vector<uint16_t> frame;
        int64_t timestamp = 0;
        EXPECT_EQ(bench.read(1, frame, timestamp), c.result);
        EXPECT_EQ(frame.front(), c.expected);
        EXPECT_EQ(frame.back(), c.expected);
        EXPECT_EQ(bench.sdk.freed.size(), 1u);
    }
}

TEST(UsbSensor, RangeWritesTheSensorTiming) {
    using testing::call;
    const std::vector<std::string> shortRange = {
        call("ZelvoWriteSensorReg", 0x216c, 0x08), call("ZelvoWriteSensorReg", 0x2179, 0x0a),
        call("ZelvoWriteSensorReg", 0x217a, 0x0e), call("ZelvoWriteSensorReg", 0x217b, 0x12)};
    const std::vector<std::string> longRange = {
        call("ZelvoWriteSensorReg", 0x216c, 0x10), call("ZelvoWriteSensorReg", 0x2179, 0x0e),
        call("ZelvoWriteSensorReg", 0x217a, 0x16), call("ZelvoWriteSensorReg", 0x217b, 0x1e)};
    UsbBench bench;
    ASSERT_EQ(bench.open(), 0);
    for (int value : {2000, 4000, 1}) {
        const size_t mark = bench.sdk.log.mark();
        EXPECT_EQ(bench.sensor->setControl(RANGE, value), 0);
        EXPECT_EQ(bench.sdk.log.since(mark), value == 2000 ? shortRange : longRange) << value;
    }
    const size_t mark = bench.sdk.log.mark();
    int value = 123;
    for (CameraCtrl ctrl : {FMT_WIDTH, FMT_HEIGHT, FRAME_RATE, EXPOSURE, MODE}) {
        EXPECT_EQ(bench.sensor->setControl(ctrl, 30), 1);
        EXPECT_EQ(bench.sensor->getControl(ctrl, &value), 4);
    }
    EXPECT_EQ(bench.sensor->getControl(RANGE, &value), 4);
    EXPECT_EQ(value, 123);
    EXPECT_TRUE(bench.sdk.log.since(mark).empty());
}

TEST(UsbSensor, StartStopAndCloseTwice) {
    UsbBench bench;
    bench.sdk.startResult = 3;
    ASSERT_EQ(bench.open(), 0);
    ZelvoTOFUSBSensor& sensor = *bench.sensor;
    EXPECT_EQ(sensor.start(), -1);  // refused by the kit: streaming stays set
    EXPECT_EQ(sensor.start(), -1);
    EXPECT_EQ(bench.sdk.count("ZelvoStartCamera"), 1);
    EXPECT_EQ(sensor.stop(), 0);
    EXPECT_FALSE(sensor.streaming);
    bench.sdk.startResult = 0;
    EXPECT_EQ(sensor.start(), 0);
    EXPECT_EQ(sensor.start(), -1);
    EXPECT_EQ(bench.sdk.count("ZelvoStartCamera"), 2);
    EXPECT_TRUE(sensor.streaming);

    // Not streaming: nothing captured, nothing written, no frame.
    EXPECT_EQ(sensor.stop(), 0);
    bench.sdk.captures = {{0, 100, 1, 0}};
    std::vector<uint16_t> frame(bench.samples(), kUntouched);
    int64_t timestamp = 42;
    EXPECT_EQ(sensor.getFrame(frame.data(), &timestamp), -1);
    EXPECT_EQ(timestamp, 42);
    EXPECT_EQ(frame.front(), kUntouched);
    EXPECT_EQ(bench.sdk.count("ZelvoCaptureImage"), 0);

    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(bench.sdk.count("ZelvoCloseCamera"), 1);
    EXPECT_EQ(bench.sdk.libraryReferences, 0);
    EXPECT_EQ(sensor.handle, nullptr);
    EXPECT_EQ(sensor.setControl(RANGE, 2000), -1);

    ZelvoTOFUSBSensor neverOpened("", 0, bench.sdk);
    EXPECT_EQ(neverOpened.close(), 0);
    EXPECT_EQ(bench.sdk.libraryReferences, 0);
}

TEST(UsbSensor, LibraryThatCannotServeNamesItselfOnOneLine) {
    struct Case {
        const char* environment;  // ZELVO_EVK_SDK, or null
        bool loadable;
        const char* missingCall;
        std::string line;
    };
    const Case cases[] = {
        {nullptr, false, "",
         "Error: cannot load the USB evaluation-kit SDK \"libzelvo_evk_sdk.so\" "
         "(libzelvo_evk_sdk.so: cannot open shared object file)\n"},
        {"/opt/kit/libkit.so", false, "",
         "Error: cannot load the USB evaluation-kit SDK \"/opt/kit/libkit.so\" "
         "(/opt/kit/libkit.so: cannot open shared object file)\n"},
        {"/opt/kit/libkit.so", true, "ZelvoWriteSensorReg",
         "Error: the USB evaluation-kit SDK \"/opt/kit/libkit.so\" lacks the call "
         "ZelvoWriteSensorReg\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        if (c.environment)
            setenv("ZELVO_EVK_SDK", c.environment, 1);
        else
            unsetenv("ZELVO_EVK_SDK");
        UsbBench bench;
        bench.sdk.loadable = c.loadable;
        bench.sdk.missingCall = c.missingCall;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.open(), -1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
        EXPECT_EQ(bench.sdk.loadedPaths.size(), 1u);
        EXPECT_EQ(bench.sdk.libraryReferences, 0);
        EXPECT_TRUE(bench.sdk.log.entries().empty());
        EXPECT_EQ(bench.sensor->close(), 0);
    }
    unsetenv("ZELVO_EVK_SDK");
}

}  // namespace
}  // namespace Zelvo
