// The USB sensor over a scripted kit library that a fake host's loader offers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "core/read_deadline.h"
#include "sensor/usb/usb_sensor.h"
#include "tests/support/call_log.h"
#include "tests/support/fake_host.h"

namespace Zelvo {
namespace {

using testing::call;

constexpr uint16_t kUntouched = 0x7777;

// A capture's result and, for 0, its sub-frame: every sample `sample`, in the kit's width.
struct Capture {
    int result;
    uint64_t timestamp;
    uint16_t sample;
    int sizeChange = 0;  // bytes off the right size
};

// A scripted kit library offered by the fake host's loader. Its calls carry no context,
// so they work on the one fake that exists.
class FakeSdk final : public testing::FakeHost {
public:
    FakeSdk() { active = this; }
    ~FakeSdk() override { active = nullptr; }

    static ZelvoOpenParam defaults() {
        ZelvoOpenParam param;
        std::memset(&param, 0xA5, sizeof param);
        param.configFile = "sdk-default.cfg";
        return param;
    }
    int count(const std::string& entry) const {
        return static_cast<int>(std::count(log.begin(), log.end(), entry));
    }

    uint32_t width = 4, height = 2;
    uint8_t bits = 12;
    int openResult = 0, initResult = 0, startResult = 0;
    std::deque<Capture> captures;  // once empty, every capture fails
    bool waitsOutTimeOuts = false;  // a failing capture first waits its time-out, as a kit does
    std::vector<int> timeouts;      // of every capture
    bool loadable = true;
    std::string missingCall;
    std::vector<std::string> log;  // open, start, close and register writes
    ZelvoOpenParam param{};
    std::vector<const uint8_t*> delivered, freed;
    int captureCalls = 0, references = 0;

    void* dlopen(const char* path, int) override {
        error = std::string(path) + ": cannot open shared object file";
        references += loadable;
        return loadable ? this : nullptr;
    }
    void* dlsym(void*, const char* name) override {
        const std::pair<const char*, void*> calls[] = {
            {"ZelvoDefaultParam", entry(defaultParam)}, {"ZelvoOpenCamera", entry(open)},
            {"ZelvoInitCamera", entry(init)},           {"ZelvoGetCameraConfig", entry(config)},
            {"ZelvoStartCamera", entry(start)},         {"ZelvoCaptureImage", entry(capture)},
            {"ZelvoFreeImage", entry(give)},            {"ZelvoStopCamera", entry(stop)},
            {"ZelvoCloseCamera", entry(close)},         {"ZelvoWriteSensorReg", entry(write)}};
        for (const auto& [call, address] : calls)
            if (name == std::string(call) && name != missingCall) return address;
        return nullptr;
    }
    int dlclose(void*) override {
        --references;
        return 0;
    }
    const char* dlerror() override { return error.c_str(); }

private:
    template <typename Call>
    static void* entry(Call* call) {
        return reinterpret_cast<void*>(call);
    }
    static int defaultParam(ZelvoOpenParam* param) {
        *param = defaults();
        return 0;
    }
    static int open(ZelvoCameraHandle* handle, ZelvoOpenParam* param) {
        active->log.push_back("open");
        active->param = *param;
        *handle = active;
        return active->openResult;
    }
    static int init(ZelvoCameraHandle) { return active->initResult; }
    static int config(ZelvoCameraHandle, ZelvoCameraConfig* config) {
        config->width = active->width;
        config->height = active->height;
        config->bitWidth = active->bits;
        return 0;
    }
    static int start(ZelvoCameraHandle) {
        active->log.push_back("start");
        return active->startResult;
    }
    static int capture(ZelvoCameraHandle, ZelvoImage* image, int timeoutMs) {
        FakeSdk& kit = *active;
        ++kit.captureCalls;
        kit.timeouts.push_back(timeoutMs);
        if (timeoutMs <= 0 || timeoutMs > ZelvoTOFUSBSensor::kCaptureTimeout) return -3;
        if (kit.captures.empty()) {
            if (kit.waitsOutTimeOuts)
                std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return -2;
        }
        const Capture next = kit.captures.front();
        kit.captures.pop_front();
        if (next.result != 0) return next.result;
        const size_t bytes = kit.bits > 8 ? 2 : 1;
        auto& data = kit.images.emplace_back(kit.width * kit.height * bytes);
        for (size_t i = 0; i < data.size(); i += bytes) {
            data[i] = static_cast<uint8_t>(next.sample);
            if (bytes == 2) data[i + 1] = static_cast<uint8_t>(next.sample >> 8);
        }
        image->timestamp = next.timestamp;
        image->dataSize = static_cast<uint32_t>(static_cast<int>(data.size()) + next.sizeChange);
        image->data.address = data.data();
        kit.delivered.push_back(data.data());
        return 0;
    }
    static int give(ZelvoCameraHandle, ZelvoImage image) {
        active->freed.push_back(image.data.address);
        return 0;
    }
    static int stop(ZelvoCameraHandle) { return 0; }
    static int close(ZelvoCameraHandle) {
        active->log.push_back("close");
        return 0;
    }
    static int write(ZelvoCameraHandle, uint16_t address, uint16_t value) {
        active->log.push_back(call("write", address, value));
        return 0;
    }

    static inline FakeSdk* active = nullptr;
    std::deque<std::vector<uint8_t>> images;
    std::string error;
};

struct UsbBench {
    FakeSdk sdk;
    CameraInfo info{};
    std::unique_ptr<ZelvoTOFUSBSensor> sensor;

    int open(const char* path = "") {
        sensor = std::make_unique<ZelvoTOFUSBSensor>(path, 3, sdk);
        return sensor->open(info);
    }
    size_t samples() const { return static_cast<size_t>(sdk.width) * sdk.height; }
    // Opens, starts, and reads `places` sub-frames into a frame of kUntouched samples.
    int read(int places, std::vector<uint16_t>& frame, int64_t& timestamp) {
        if (open() != 0 || sensor->start() != 0) return -100;
        sensor->framesPerRequest = places;
        frame.assign(samples() * static_cast<size_t>(places), kUntouched);
        return sensor->getFrame(frame.data(), &timestamp);
    }
};

TEST(UsbSensor, ConfigurationPathAndItsBinFlag) {
    const std::pair<const char*, uint8_t> cases[] = {
        {"kit.bin", 1}, {"/etc/.bin", 1}, {".bin", 1}, {"kit.BIN", 0},
        {"kit.bin.json", 0}, {"ab", 0}, {"bin", 0}};
    for (const auto& [path, flag] : cases) {
        UsbBench bench;
        ASSERT_EQ(bench.open(path), 0);
        EXPECT_STREQ(bench.sdk.param.configFile, path);
        EXPECT_EQ(bench.sdk.param.binFile, flag) << path;
    }
    // Without a path the record stays as the SDK filled it; the index is not handed on.
    UsbBench bench;
    ASSERT_EQ(bench.open(""), 0);
    const ZelvoOpenParam defaults = FakeSdk::defaults();
    EXPECT_EQ(std::memcmp(&bench.sdk.param, &defaults, sizeof defaults), 0);
}

TEST(UsbSensor, OpenFillsTheFrameSizeOrKeepsNothing) {
    struct Case {
        uint8_t bits;
        int openResult, initResult;
        uint32_t bpp;
    };
    for (const Case& c : {Case{12, 0, 0, 2}, Case{8, 0, 0, 1}, Case{9, 0, 0, 2}, Case{16, 0, 0, 2},
                          Case{12, 5, 0, 0}, Case{12, 0, 5, 0}}) {
        UsbBench bench;
        bench.sdk.bits = c.bits;
        bench.sdk.openResult = c.openResult;
        bench.sdk.initResult = c.initResult;
        bench.info.index = 7;
        const bool opens = c.openResult == 0 && c.initResult == 0;
        EXPECT_EQ(bench.open(), opens ? 0 : -1);
        const CameraInfo kept = bench.sensor->getCameraInfo();
        EXPECT_EQ(bench.info.index, 7u);
        EXPECT_EQ(kept.index, opens ? 7u : 0u);
        for (const CameraInfo& info : {bench.info, kept}) {
            EXPECT_EQ(info.width * info.height, opens ? 8u : 0u);
            EXPECT_EQ(info.bit_width, opens ? c.bits : 0u);
            EXPECT_EQ(info.bpp, c.bpp) << int(c.bits);
        }
        // A kit opened but not initialised is closed again; the library goes back.
        EXPECT_EQ(bench.sdk.count("close"), c.initResult ? 1 : 0);
        EXPECT_EQ(bench.sdk.references, opens ? 1 : 0);
    }
}

TEST(UsbSensor, SubFramesGroupByTimestamp) {
    struct Case {
        const char* name;
        std::vector<int64_t> stamps;  // -1: a failed capture; sub-frame k holds sample k + 1
        int wrongSize;                // index of a sub-frame of the wrong size, or -1
        int result;
        int64_t timestamp;
        std::vector<uint16_t> places;
    };
    const uint16_t u = kUntouched;
    const Case cases[] = {
        {"one burst", {100, 102, 104, 106}, -1, 0, 106, {1, 2, 3, 4}},
        {"a gap restarts", {100, 102, 110, 112, 114, 116}, -1, 0, 116, {3, 4, 5, 6}},
        {"backwards restarts", {100, 102, 90, 92, 94, 96}, -1, 0, 96, {3, 4, 5, 6}},
        {"restart after a failed first", {-1, 110, 112, 114, 116}, -1, 0, 116, {2, 3, 4, 5}},
        {"failed inside: a stale place", {100, -1, 102, 104}, -1, -1, 104, {1, 3, 4, u}},
        {"nothing captured", {-1, -1, -1, -1}, -1, -1, 0, {u, u, u, u}},
        {"wrong size", {100, 102, 104}, 1, -1, 100, {1, u, u, u}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsbBench bench;
        for (size_t k = 0; k < c.stamps.size(); ++k)
            bench.sdk.captures.push_back({c.stamps[k] < 0 ? -2 : 0,
                                          static_cast<uint64_t>(c.stamps[k]),
                                          static_cast<uint16_t>(k + 1),
                                          int(k) == c.wrongSize ? -1 : 0});
        std::vector<uint16_t> frame;
        int64_t timestamp = -5;
        EXPECT_EQ(bench.read(4, frame, timestamp), c.result);
        EXPECT_EQ(timestamp, c.timestamp);
        for (size_t place = 0; place < 4; ++place) {
            EXPECT_EQ(frame[place * bench.samples()], c.places[place]) << place;
            EXPECT_EQ(frame[(place + 1) * bench.samples() - 1], c.places[place]) << place;
        }
        // Every sub-frame goes back to the kit, the wrong-sized one too.
        EXPECT_EQ(bench.sdk.freed, bench.sdk.delivered);
        EXPECT_EQ(bench.sdk.captures.size(), c.wrongSize < 0 ? 0u : 1u);
    }
}

// A kit that stopped sending holds a read for two frame periods (learnt from the stamps
// of whole groups), at least a second; never for four whole capture time-outs.
TEST(UsbSensor, AReadWaitsTwoFramePeriodsAtMost) {
    for (const uint64_t periodMs : {0, 33, 1000}) {  // 0: no group read before
        SCOPED_TRACE(periodMs);
        UsbBench bench;
        for (uint64_t group = 0; periodMs && group < 3; ++group)
            for (uint64_t k = 0; k < 4; ++k)
                bench.sdk.captures.push_back({0, 1000 + group * periodMs + k, 7});
        std::vector<uint16_t> frame;
        int64_t timestamp = 0;
        EXPECT_EQ(bench.read(4, frame, timestamp), periodMs ? 0 : -1);
        while (!bench.sdk.captures.empty()) bench.sensor->getFrame(frame.data(), &timestamp);
        bench.sdk.waitsOutTimeOuts = true;
        bench.sdk.timeouts.clear();
        EXPECT_EQ(bench.sensor->getFrame(frame.data(), &timestamp), -1);
        const std::vector<int>& asked = bench.sdk.timeouts;
        const int64_t total = std::accumulate(asked.begin(), asked.end(), int64_t{0});
        const int64_t waitMs = ReadDeadline::waitMs(static_cast<int64_t>(periodMs));
        // Each capture asks for what is left of the read, rounded up to a millisecond.
        EXPECT_LE(total, waitMs + static_cast<int64_t>(asked.size()));
        EXPECT_GT(total, waitMs / 2);
    }
}

TEST(UsbSensor, SamplesBecomeTwelveBits) {
    struct Case {
        uint8_t bits;
        uint16_t sample, expected;
    };
    for (const Case& c : {Case{10, 0x03FF, 0x0FFC}, Case{16, 0xFFFF, 0x0FFF}, Case{8, 0xFF, 0x0FF0},
                          Case{12, 0x0ABC, 0x0ABC}, Case{9, 0x0101, 0x0808},
                          Case{14, 0x2004, 0x0801}, Case{7, 0x7F, kUntouched}}) {
        UsbBench bench;
        bench.sdk.bits = c.bits;
        bench.sdk.captures = {{0, 100, c.sample}};
        std::vector<uint16_t> frame;
        int64_t timestamp = 0;
        // A 1-byte kit of another width than 8 has nothing to deliver.
        EXPECT_EQ(bench.read(1, frame, timestamp), c.expected == kUntouched ? -1 : 0);
        EXPECT_EQ(std::count(frame.begin(), frame.end(), c.expected), 8) << int(c.bits);
    }
}

TEST(UsbSensor, ControlsAndTheLifecycle) {
    UsbBench bench;
    bench.sdk.startResult = 3;
    ASSERT_EQ(bench.open(), 0);
    ZelvoTOFUSBSensor& sensor = *bench.sensor;
    for (int value : {2000, 4000, 1}) EXPECT_EQ(sensor.setControl(RANGE, value), 0);
    int value = 123;
    for (CameraCtrl ctrl : {FMT_WIDTH, FRAME_RATE, EXPOSURE}) EXPECT_EQ(sensor.setControl(ctrl, 9), 1);
    for (CameraCtrl ctrl : {RANGE, EXPOSURE}) EXPECT_EQ(sensor.getControl(ctrl, &value), 4);
    EXPECT_EQ(value, 123);
    struct Write {
        int address, shortRange, longRange;
    };
    const Write table[] = {
        {0x216c, 0x08, 0x10}, {0x2179, 0x0a, 0x0e}, {0x217a, 0x0e, 0x16}, {0x217b, 0x12, 0x1e}};
    std::vector<std::string> writes;
    for (int value : {2000, 4000, 1})
        for (const Write& w : table)
            writes.push_back(call("write", w.address, value == 2000 ? w.shortRange : w.longRange));
    const std::vector<std::string>& log = bench.sdk.log;
    EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()), writes);

    EXPECT_EQ(sensor.start(), -1);  // refused by the kit: streaming stays set until stop
    EXPECT_EQ(sensor.start(), -1);
    EXPECT_EQ(sensor.stop(), 0);
    bench.sdk.startResult = 0;
    EXPECT_EQ(sensor.start(), 0);
    EXPECT_EQ(sensor.start(), -1);
    EXPECT_EQ(bench.sdk.count("start"), 2);

    // Not streaming: nothing captured or written, and no frame.
    EXPECT_EQ(sensor.stop(), 0);
    std::vector<uint16_t> frame(bench.samples(), kUntouched);
    int64_t timestamp = 42;
    EXPECT_EQ(sensor.getFrame(frame.data(), &timestamp), -1);
    EXPECT_EQ(timestamp, 42);
    EXPECT_EQ(bench.sdk.captureCalls, 0);

    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(bench.sdk.count("close"), 1);
    EXPECT_EQ(bench.sdk.references, 0);
    EXPECT_EQ(sensor.setControl(RANGE, 2000), -1);
}

TEST(UsbSensor, ALibraryThatCannotServeIsNamedOnOneLine) {
    struct Case {
        const char* environment;  // ZELVO_EVK_SDK, or null
        bool loadable;
        const char* missingCall;
        const char* line;
    };
    const Case cases[] = {
        {nullptr, false, "",
         "Error: cannot load the USB evaluation-kit SDK \"libzelvo_evk_sdk.so\" "
         "(libzelvo_evk_sdk.so: cannot open shared object file)\n"},
        {"/opt/kit/libkit.so", true, "ZelvoWriteSensorReg",
         "Error: the USB evaluation-kit SDK \"/opt/kit/libkit.so\" lacks the call "
         "ZelvoWriteSensorReg\n"},
    };
    for (const Case& c : cases) {
        c.environment ? setenv("ZELVO_EVK_SDK", c.environment, 1) : unsetenv("ZELVO_EVK_SDK");
        UsbBench bench;
        bench.sdk.loadable = c.loadable;
        bench.sdk.missingCall = c.missingCall;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.open(), -1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
        EXPECT_EQ(bench.sdk.references, 0);
        EXPECT_TRUE(bench.sdk.log.empty());
    }
    unsetenv("ZELVO_EVK_SDK");
}

}  // namespace
}  // namespace Zelvo
