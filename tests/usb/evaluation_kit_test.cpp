// The camera and the USB sensor over the simulated evaluation kit of a simulated board.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zelvo/camera.h>
#include "sensor/usb/usb_sensor.h"
#include "sim/board.h"

namespace Zelvo {
namespace {

using sim::EvaluationKit;

constexpr short kFrameWaitMs = 5000;
constexpr size_t kFrameSamples = 240 * 180 * 4;

// Opens the kit's sensor and starts it, four sub-frames a read, as the HQVGA camera does.
void startHqvga(ZelvoTOFUSBSensor& sensor) {
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    sensor.framesPerRequest = 4;
    ASSERT_EQ(sensor.start(), 0);
}

std::shared_ptr<sim::Board> makeBoard(const std::string& settings) {
    std::string error;
    auto board = sim::Board::create(settings.c_str(), error);
    EXPECT_TRUE(board) << error;
    return board;
}

// A configuration file the kit can read.
std::string kitFile() {
    const std::string path = ::testing::TempDir() + "kit.bin";
    if (FILE* file = std::fopen(path.c_str(), "w")) std::fclose(file);
    return path;
}

// Two kits at once: each camera's handle leads to the kit of its own board.
TEST(EvaluationKit, EachOpenReachesTheKitOfItsOwnBoard) {
    auto eightBit = makeBoard("usb_bits=8");
    auto sixteenBit = makeBoard("usb_bits=16");
    ZelvoTOFCamera first(eightBit), second(sixteenBit);
    const std::string file = kitFile();
    ASSERT_EQ(first.open(USB, 0), 0);
    ASSERT_EQ(second.openWithFile(file.c_str(), 0), 0);
    EXPECT_EQ(first.getCameraInfo().bit_width, 8u);
    EXPECT_EQ(second.getCameraInfo().bit_width, 16u);
    EXPECT_EQ(eightBit->evaluationKit().state().configFile, "");
    EXPECT_EQ(sixteenBit->evaluationKit().state().configFile, file);
    EXPECT_EQ(sixteenBit->evaluationKit().state().binFile, 1);
    for (ZelvoTOFCamera* camera : {&first, &second}) {
        ASSERT_EQ(camera->start(RAW), 0);
        ZelvoFrameBuffer* frame = camera->requestFrame(kFrameWaitMs);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(camera->releaseFrame(frame), 0);
        EXPECT_EQ(camera->close(), 0);
    }
    for (auto* board : {eightBit.get(), sixteenBit.get()}) {
        const sim::KitState closed = board->evaluationKit().state();
        EXPECT_FALSE(closed.cameraOpen);
        EXPECT_EQ(closed.libraryReferences, 0);
        EXPECT_EQ(closed.imagesOut, 0);
    }
}

TEST(EvaluationKit, AKitThatRefusesFailsTheCamera) {
    auto board = makeBoard("fps=0");
    EvaluationKit& kit = board->evaluationKit();
    ZelvoTOFCamera camera(board);
    kit.failCall(EvaluationKit::Call::Open);
    EXPECT_EQ(camera.open(USB, 0), -1);
    kit.failCall(EvaluationKit::Call::Init);
    EXPECT_EQ(camera.openWithFile(kitFile().c_str(), 0), -1);
    EXPECT_EQ(kit.state().libraryReferences, 0);
    ASSERT_EQ(camera.open(USB, 0), 0);
    kit.failCall(EvaluationKit::Call::Start);
    EXPECT_EQ(camera.start(DEPTH), -1);
    EXPECT_FALSE(camera.isStreaming());
    EXPECT_EQ(camera.close(), 0);
}

// Each fault, in the middle of a burst, spoils one read at most; the next read is a whole
// burst again, in order.
TEST(EvaluationKit, FaultsSpoilOneReadAtMost) {
    struct Case {
        const char* name;
        std::function<void(EvaluationKit&)> arm;
        int firstRead;
    };
    const Case cases[] = {
        {"capture times out", [](EvaluationKit& kit) { kit.timeOutCapture(2); }, -1},
        {"wrong size", [](EvaluationKit& kit) { kit.deliverWrongSize(2); }, -1},
        {"clock jumps", [](EvaluationKit& kit) { kit.jumpClock(40, 2); }, 0},
        {"clock goes back", [](EvaluationKit& kit) { kit.jumpClock(-40, 2); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto board = makeBoard("scene=wall:1200,noise=0");
        ZelvoTOFUSBSensor sensor("", 0, *board);
        ASSERT_NO_FATAL_FAILURE(startHqvga(sensor));
        std::vector<uint16_t> reference(kFrameSamples), frame(kFrameSamples);
        int64_t before = 0, after = 0;
        ASSERT_EQ(sensor.getFrame(reference.data(), &before), 0);

        c.arm(board->evaluationKit());
        EXPECT_EQ(sensor.getFrame(frame.data(), &after), c.firstRead);
        if (c.firstRead == 0) {
            EXPECT_EQ(frame, reference);
        }
        EXPECT_EQ(sensor.getFrame(frame.data(), &after), 0);
        EXPECT_EQ(frame, reference);
        EXPECT_GT(after, before);
        EXPECT_EQ(board->evaluationKit().state().imagesOut, 0);
        EXPECT_EQ(sensor.stop(), 0);
        EXPECT_EQ(sensor.close(), 0);
    }
}

// Sub-frames 6 ms or more apart never make a group: the read gives up after its wait (a
// second) instead of holding the capture thread for ever. 5 ms apart still make one.
TEST(EvaluationKit, SubFramesTooFarApartEndTheReadInTime) {
    for (const int gapMs : {5, 6}) {
        SCOPED_TRACE(gapMs);
        auto board = makeBoard("scene=wall:1200,noise=0");
        ZelvoTOFUSBSensor sensor("", 0, *board);
        ASSERT_NO_FATAL_FAILURE(startHqvga(sensor));
        board->evaluationKit().spreadSubFrames(gapMs);
        std::vector<uint16_t> frame(kFrameSamples);
        int64_t timestamp = 0;
        for (int read = 0; read < 2; ++read) {
            const auto began = std::chrono::steady_clock::now();
            EXPECT_EQ(sensor.getFrame(frame.data(), &timestamp), gapMs < 6 ? 0 : -1);
            // A bound on a hang, not a timing.
            EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
        }
        EXPECT_EQ(board->evaluationKit().state().imagesOut, 0);
        EXPECT_EQ(sensor.close(), 0);
    }
}

TEST(EvaluationKit, CaptureHonoursItsTimeOut) {
    for (const char* settings : {"fps=1", "stall=1"}) {
        SCOPED_TRACE(settings);
        auto board = makeBoard(settings);
        ZelvoTOFUSBSensor sensor("", 0, *board);
        CameraInfo info{};
        ASSERT_EQ(sensor.open(info), 0);
        ASSERT_EQ(sensor.start(), 0);
        void* library = board->dlopen("libzelvo_evk_sdk.so", 0);
        auto capture =
            reinterpret_cast<ZelvoCaptureImageCall*>(board->dlsym(library, "ZelvoCaptureImage"));
        ASSERT_NE(capture, nullptr);
        // A 1 fps kit sends its first burst a second after the start; a stalled one never
        // sends the sub-frame after its last.
        ZelvoImage image{};
        if (std::string(settings) == "stall=1") {
            ASSERT_EQ(capture(sensor.handle, &image, 5000), 0);
            auto giveBack =
                reinterpret_cast<ZelvoFreeImageCall*>(board->dlsym(library, "ZelvoFreeImage"));
            EXPECT_EQ(giveBack(sensor.handle, image), 0);
        }
        EXPECT_NE(capture(sensor.handle, &image, 20), 0);
        EXPECT_EQ(board->dlsym(library, "ZelvoNoSuchCall"), nullptr);
        EXPECT_NE(std::string(board->dlerror()).find("ZelvoNoSuchCall"), std::string::npos);
        EXPECT_EQ(board->dlclose(library), 0);
        EXPECT_EQ(sensor.close(), 0);
        EXPECT_EQ(board->evaluationKit().state().libraryReferences, 0);
    }
}

}  // namespace
}  // namespace Zelvo
