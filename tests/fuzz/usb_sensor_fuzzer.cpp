// The USB sensor's getFrame against a kit whose frame size, bit width, sub-frame sizes,
// capture results and timestamps come from the input. The kit answers every capture at
// once; once its script is used up every capture fails.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sensor/usb/usb_sensor.h"
#include "tests/fuzz/byte_reader.h"
#include "tests/support/fake_host.h"

namespace {

using namespace Zelvo;

// A capture of the script: its result and, for 0, its sub-frame.
struct Capture {
    int result = 0;
    uint64_t timestamp = 0;
    std::vector<uint8_t> bytes;  // exactly the size the kit reports
};

// A kit library offered by the host's loader. Its calls carry no context, so they work
// on the one kit that exists.
class ScriptedKit final : public testing::FakeHost {
public:
    ScriptedKit() { active = this; }
    ~ScriptedKit() override { active = nullptr; }

    uint32_t width = 0, height = 0;
    uint8_t bits = 12;
    std::deque<Capture> captures;
    std::set<const uint8_t*> outstanding;  // handed out, not yet freed
    uint64_t lastTimestamp = 0;
    int delivered = 0;

    void* dlopen(const char*, int) override { return this; }
    void* dlsym(void*, const char* name) override {
        const std::pair<const char*, void*> calls[] = {
            {"ZelvoDefaultParam", entry(defaultParam)}, {"ZelvoOpenCamera", entry(open)},
            {"ZelvoInitCamera", entry(ok)},             {"ZelvoGetCameraConfig", entry(config)},
            {"ZelvoStartCamera", entry(ok)},            {"ZelvoCaptureImage", entry(capture)},
            {"ZelvoFreeImage", entry(give)},            {"ZelvoStopCamera", entry(ok)},
            {"ZelvoCloseCamera", entry(ok)},            {"ZelvoWriteSensorReg", entry(write)}};
        for (const auto& [call, address] : calls)
            if (std::strcmp(name, call) == 0) return address;
        return nullptr;
    }
    int dlclose(void*) override { return 0; }

private:
    template <typename Call>
    static void* entry(Call* call) {
        return reinterpret_cast<void*>(call);
    }
    static int defaultParam(ZelvoOpenParam* param) {
        std::memset(param, 0, sizeof *param);
        return 0;
    }
    static int open(ZelvoCameraHandle* handle, ZelvoOpenParam*) {
        *handle = active;
        return 0;
    }
    static int ok(ZelvoCameraHandle) { return 0; }
    static int config(ZelvoCameraHandle, ZelvoCameraConfig* config) {
        config->width = active->width;
        config->height = active->height;
        config->bitWidth = active->bits;
        return 0;
    }
    static int capture(ZelvoCameraHandle, ZelvoImage* image, int) {
        ScriptedKit& kit = *active;
        if (kit.captures.empty()) return -2;
        kit.current.push_back(std::move(kit.captures.front()));
        kit.captures.pop_front();
        Capture& next = kit.current.back();
        if (next.result != 0) return next.result;
        image->timestamp = next.timestamp;
        image->dataSize = static_cast<uint32_t>(next.bytes.size());
        // A kit never hands out a null address, even for an empty sub-frame.
        if (next.bytes.empty()) next.bytes.reserve(1);
        image->data.address = next.bytes.data();
        kit.outstanding.insert(next.bytes.data());
        kit.lastTimestamp = next.timestamp;
        ++kit.delivered;
        return 0;
    }
    static int give(ZelvoCameraHandle, ZelvoImage image) {
        // Only what was handed out, and only once. (The address sits in a packed record.)
        const uint8_t* const address = image.data.address;
        if (active->outstanding.erase(address) != 1) std::abort();
        return 0;
    }
    static int write(ZelvoCameraHandle, uint16_t, uint16_t) { return 0; }

    static inline ScriptedKit* active = nullptr;
    std::deque<Capture> current;  // captured ones, alive while the sensor may read them
};

}  // namespace

// The input: width, height, bit width and places per frame (one byte each), the kit's clock
// at the start (four bytes), then captures: a kind byte (224 and above: the capture fails
// with kind - 240), a signed clock step, for kinds ending in binary 111 a signed size
// change, and the sub-frame's bytes (missing ones read 0x5A).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Zelvo::fuzz::ByteReader input(data, size);
    ScriptedKit kit;
    kit.width = input.u8() % 49;
    kit.height = input.u8() % 49;
    kit.bits = input.u8();
    const int places = 1 + input.u8() % 4;
    const size_t bytesPerSample = kit.bits > 8 ? 2 : 1;
    const size_t expected = static_cast<size_t>(kit.width) * kit.height * bytesPerSample;
    uint64_t timestamp = input.u32();
    while (input.remaining() > 0 && kit.captures.size() < 64) {
        Capture capture;
        const uint8_t kind = input.u8();
        capture.result = kind < 224 ? 0 : kind - 240;  // mostly successes; a few failures
        // Steps of the kit's clock: mostly small, now and then a jump either way.
        const int8_t step = static_cast<int8_t>(input.u8());
        timestamp += static_cast<uint64_t>(static_cast<int64_t>(step));
        capture.timestamp = timestamp;
        // Mostly the right size; sometimes a size off by a few bytes.
        const int8_t sizeChange = (kind & 7) == 7 ? static_cast<int8_t>(input.u8()) : 0;
        const size_t bytes = sizeChange < 0 && static_cast<size_t>(-sizeChange) > expected
                                 ? 0
                                 : expected + sizeChange;
        capture.bytes = input.bytes(bytes);
        capture.bytes.resize(bytes, 0x5A);
        kit.captures.push_back(std::move(capture));
    }

    ZelvoTOFUSBSensor sensor("", 0, kit);
    CameraInfo info{};
    if (sensor.open(info) != 0 || sensor.start() != 0) std::abort();
    sensor.framesPerRequest = places;
    const size_t samples = static_cast<size_t>(info.width) * info.height;
    // Exactly one frame of places sub-frames: a write past it is caught.
    std::unique_ptr<uint16_t[]> frame(new uint16_t[samples * places]);
    while (!kit.captures.empty()) {
        const int delivered = kit.delivered;
        int64_t stamp = -1;
        const int result = sensor.getFrame(frame.get(), &stamp);
        // Every sub-frame handed out is given back within the call.
        if (!kit.outstanding.empty()) std::abort();
        if (result == 0 && (kit.delivered - delivered < places ||
                            static_cast<uint64_t>(stamp) != kit.lastTimestamp)) {
            std::abort();
        }
    }
    sensor.stop();
    sensor.close();
    return 0;
}
