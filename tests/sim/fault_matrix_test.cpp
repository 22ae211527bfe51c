// Every fault the simulated board and its evaluation kit can inject, on every board that
// streams the sensor (the faults that cost a second, and the VGA sensor, on fewer; see
// Fault): the call that meets the fault returns its documented code and prints only its
// documented line, nothing hangs (every wait is bounded by a time-out the driver or the
// test passes), nothing of the board stays held after close, and the same camera, opened
// again on a healthy board, delivers a frame.
#include <gtest/gtest.h>

#include <linux/i2c-dev.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <zelvo/camera.h>
#include "core/device.h"
#include "core/retried_request.h"
#include "device/si_sdk_library.h"
#include "sensor/csi/csi_sensor.h"
#include "sim/board.h"
#include "sim/board_profile.h"
#include "tests/csi/counting_host.h"
#include "tests/depth/scoped_variable.h"
#include "tests/support/repeat_count.h"
#include "tests/support/scratch_directory.h"

namespace Zelvo {
namespace {

using sim::Board;
using sim::BoardProfile;
using sim::EvaluationKit;

constexpr short kFrameWaitMs = 5000;  // generous: at fps=0 a frame takes milliseconds

enum class Sensor { Hqvga, Vga };
// The call that meets the fault.
enum class Meets { Open, Start, Read, Control, Stop };

// Standard error of a stretch of the test, given back even when an assertion ends it early.
class StderrCapture {
public:
    StderrCapture() { ::testing::internal::CaptureStderr(); }
    ~StderrCapture() { take(); }
    std::string take() {
        if (taken_) return "";
        taken_ = true;
        return ::testing::internal::GetCapturedStderr();
    }

private:
    bool taken_ = false;
};

const char* sensorKey(Sensor sensor) { return sensor == Sensor::Hqvga ? "hqvga" : "vga"; }

// Where a fault strikes on one board with one sensor.
struct Target {
    const BoardProfile& profile;
    Sensor sensor;

    std::string i2cNode() const { return "/dev/i2c-" + std::to_string(profile.sensorBus); }
    std::string printed(std::string text) const {
        const size_t at = text.find("{i2c}");
        return at == std::string::npos ? text : text.replace(at, 5, i2cNode());
    }
    // The sensor's sub-device node, "" on boards without one.
    std::string sensorSubdevNode() const {
        for (const auto& entity : profile.entities)
            if (entity.role == sim::EntityRole::Sensor && entity.subdevIndex >= 0)
                return "/dev/v4l-subdev" + std::to_string(entity.subdevIndex);
        return "";
    }
};

struct Fault {
    std::string name;
    Meets meets;
    std::function<void(Board&, const Target&)> arm;
    int expected;          // result of the call that meets it
    std::string printed;   // all it writes to standard error; {i2c}: the sensor's adapter
    // Extra ZELVO_SIM settings of the faulty board (faults armed from the start).
    std::string settings = "";
    // Where it applies; everywhere when null.
    std::function<bool(const Target&)> applies = nullptr;
    // Further checks right after the call.
    std::function<void(Board&, ZelvoTOFCamera&)> check = nullptr;
    // A read that waits polls the node in slices, at least this often.
    int pollsAtLeast = 0;
    // The call waits out the driver's bound on a read (a second, which no board setting
    // shortens): it runs once with each sensor, not on every board.
    bool waits = false;
    // Also with the VGA sensor, on the default board: a VGA camera costs a second or more
    // (its close waits 500 ms, twice a case, and its frames are large), so only the faults
    // whose handling depends on the VGA frame or device run with it. Over USB the kit's
    // faults meet the same code with either sensor: they run with HQVGA.
    bool vgaToo = false;
};

// The board's request faults. An errno the driver retries (EAGAIN, EINTR, ETIMEDOUT)
// fails the call only when every attempt meets it, any other at the first; each request
// below fails with another errno, so every errno meets some call on every board.
struct Errno {
    const char* name;
    int value;
};
constexpr Errno kEAGAIN{"EAGAIN", EAGAIN}, kEINTR{"EINTR", EINTR},
    kETIMEDOUT{"ETIMEDOUT", ETIMEDOUT}, kEIO{"EIO", EIO}, kEBUSY{"EBUSY", EBUSY},
    kENODEV{"ENODEV", ENODEV}, kEINVAL{"EINVAL", EINVAL};

int attemptsFailed(int error) {
    return error == EAGAIN || error == EINTR || error == ETIMEDOUT ? kRequestAttempts : 1;
}

std::function<void(Board&, const Target&)> failRequest(unsigned long request, int error,
                                                       int times) {
    return [=](Board& board, const Target&) { board.faults().failRequest(request, error, times); };
}

Fault requestFails(const std::string& what, unsigned long request, Errno error, Meets meets,
                   int expected, const std::string& printed = "") {
    return {what + "Fails" + error.name, meets,
            failRequest(request, error.value, attemptsFailed(error.value)), expected, printed};
}

// A retried errno that stops before the last attempt is no failure.
Fault requestRetried(const std::string& what, unsigned long request, Errno error, Meets meets) {
    return {what + "RetriedPast" + error.name, meets,
            failRequest(request, error.value, kRequestAttempts - 1), ZelvoSuccess, ""};
}

bool withSensorSubdev(const Target& target) { return !target.sensorSubdevNode().empty(); }

Fault withVgaToo(Fault fault) {
    fault.vgaToo = true;
    return fault;
}

std::vector<Fault> csiFaults() {
    std::vector<Fault> faults;
    // open
    faults.push_back({"VideoNodeFailsToOpen", Meets::Open,
                      [](Board& board, const Target&) {
                          board.faults().failOpen("/dev/video0", EACCES);
                      },
                      ZelvoSystemError, ""});
    faults.push_back(requestFails("CapabilityQuery", VIDIOC_QUERYCAP, kEAGAIN, Meets::Open,
                                  ZelvoSystemError,
                                  "VIDIOC_QUERYCAP: error - " + std::to_string(EAGAIN) + "\n"));
    faults.push_back(requestRetried("CapabilityQuery", VIDIOC_QUERYCAP, kEINTR, Meets::Open));
    Fault input = requestFails("InputSelection", VIDIOC_S_INPUT, kEINVAL, Meets::Open,
                               ZelvoSystemError);
    input.applies = [](const Target& target) {
        return target.profile.platform != PlatformRadxaRock;  // selects no input
    };
    faults.push_back(input);
    // The size is read once at open, not retried: one EAGAIN fails it.
    faults.push_back({"SizeReadFailsOnceEAGAIN", Meets::Open,
                      [](Board& board, const Target& target) {
                          board.faults().failRequest(withSensorSubdev(target)
                                                         ? VIDIOC_SUBDEV_G_FMT
                                                         : VIDIOC_G_FMT,
                                                     EAGAIN, 1);
                      },
                      ZelvoSystemError, ""});
    faults.push_back(requestFails("AdapterQuery", I2C_FUNCS, kEIO, Meets::Open, ZelvoSystemError,
                                  "Error: Could not get adapter functionality: "
                                  "Input/output error\n"));
    faults.push_back({"SensorSubdevFailsToOpen", Meets::Open,
                      [](Board& board, const Target& target) {
                          board.faults().failOpen(target.sensorSubdevNode(), EACCES);
                      },
                      ZelvoSystemError, "Error: I2C bus name doesn't match any bus present!\n",
                      "", withSensorSubdev});
    faults.push_back({"I2cAdapterFailsToOpen", Meets::Open,
                      [](Board& board, const Target& target) {
                          board.faults().failOpen(target.i2cNode(), EACCES);
                      },
                      ZelvoSystemError,
                      "Error: Could not open file `{i2c}': Permission denied\nRun as root?\n"});
    faults.push_back({"AdapterWithoutPlainI2c", Meets::Open,
                      [](Board& board, const Target&) { board.faults().withoutPlainI2c(true); },
                      ZelvoSystemError, "Error: Adapter does not have I2C transfers capability\n"});
    // start: nothing stays mapped or streaming after a refusal
    faults.push_back(requestFails("FormatSet", VIDIOC_S_FMT, kEINTR, Meets::Start,
                                  ZelvoUnkownError));
    faults.push_back(requestFails("BufferRequest", VIDIOC_REQBUFS, kETIMEDOUT, Meets::Start,
                                  ZelvoUnkownError));
    faults.push_back(requestFails("BufferQueue", VIDIOC_QBUF, kEINVAL, Meets::Start,
                                  ZelvoUnkownError));
    faults.push_back(requestFails("StreamOn", VIDIOC_STREAMON, kEBUSY, Meets::Start,
                                  ZelvoSystemError));
    Fault subdevFormat = requestFails("SubdevFormatSet", VIDIOC_SUBDEV_S_FMT, kEINVAL,
                                      Meets::Start, ZelvoUnkownError);
    subdevFormat.applies = withSensorSubdev;
    faults.push_back(subdevFormat);
    Fault formatReadBack = requestFails("SubdevFormatReadBack", VIDIOC_SUBDEV_G_FMT, kEIO,
                                        Meets::Start, ZelvoUnkownError);
    formatReadBack.applies = withSensorSubdev;
    faults.push_back(formatReadBack);
    // The stream runs with the buffers granted, all of them mapped, and none is no stream.
    for (int granted : {0, 1, 3}) {
        Fault grant{"Granted" + std::to_string(granted) + "Buffers", Meets::Start,
                    [granted](Board& board, const Target&) {
                        board.faults().grantAtMost(granted);
                    },
                    granted == 0 ? ZelvoUnkownError : ZelvoSuccess, ""};
        grant.check = [granted](Board& board, ZelvoTOFCamera& camera) {
            auto& sensor = dynamic_cast<ZelvoTOFCSISensor&>(*camera.sensor);
            EXPECT_EQ(sensor.bufferCount, static_cast<uint32_t>(granted));
            EXPECT_EQ(board.mappings(), static_cast<size_t>(granted));
        };
        faults.push_back(grant);
    }
    // read: the sensor's getFrame, after a good read
    faults.push_back(requestFails("Dequeue", VIDIOC_DQBUF, kENODEV, Meets::Read,
                                  ZelvoSystemError));
    faults.push_back(requestRetried("Dequeue", VIDIOC_DQBUF, kETIMEDOUT, Meets::Read));
    faults.push_back(requestFails("Requeue", VIDIOC_QBUF, kEIO, Meets::Read, ZelvoSystemError));
    // The sensor stops sending: the read gives up after its wait (two frame periods, at
    // least a second, which no board setting shortens), looking at the node in slices. A
    // VGA buffer of five sub-frames that the stall cuts short never completes.
    Fault stall{"StallsAfterOneSubFrame", Meets::Read,
                [](Board& board, const Target&) { board.faults().stallAfterSubFrames(1); },
                ZelvoSystemError, ""};
    stall.pollsAtLeast = 3;
    stall.waits = true;
    stall.vgaToo = true;
    faults.push_back(stall);
    // The VGA device groups its sub-frames as the HQVGA one does not: the faults that
    // strike inside a group run with both sensors.
    faults.push_back(withVgaToo(
        {"UnpluggedAfterOneSubFrame", Meets::Read,
         [](Board& board, const Target&) { board.faults().unplugAfterSubFrames(1); },
         ZelvoSystemError, ""}));
    // The flag strikes a dequeued buffer: the second of an HQVGA read, the one buffer of a
    // VGA frame.
    faults.push_back(withVgaToo({"BufferFlaggedWithError", Meets::Read,
                                 [](Board& board, const Target& target) {
                                     board.faults().flagBufferError(
                                         target.sensor == Sensor::Vga ? 0 : 1);
                                 },
                                 ZelvoSystemError, ""}));
    faults.push_back({"BufferIndexOutOfRange", Meets::Read,
                      [](Board& board, const Target&) {
                          board.faults().handOutBufferIndex(ZelvoTOFCSISensor::kBufferSlots);
                      },
                      2, ""});
    // A sub-frame past 5 ms belongs to the next burst: the read starts its group again
    // and still delivers.
    faults.push_back(withVgaToo(
        {"LateSubFrame", Meets::Read,
         [](Board& board, const Target&) { board.faults().delaySubFrame(2, 6000); },
         ZelvoSuccess, ""}));
    // controls: the HQVGA device passes the range on to the sensor as a V4L2 control
    faults.push_back(requestFails("RangeControl", VIDIOC_S_CTRL, kEAGAIN, Meets::Control,
                                  ZelvoUnkownError,
                                  std::string("VIDIOC_S_CTRL: ") + std::strerror(EAGAIN) + "\n"));
    // stop: streaming cannot be switched off, or a buffer not queried; the buffers stay
    // mapped until close
    faults.push_back(requestFails("StreamOff", VIDIOC_STREAMOFF, kEIO, Meets::Stop,
                                  ZelvoSystemError));
    faults.push_back(requestFails("BufferQueryInStop", VIDIOC_QUERYBUF, kEBUSY, Meets::Stop,
                                  ZelvoSystemError));
    // The VGA device sends the frame rate to the sensor over I2C.
    Fault frameRate = requestFails("FrameRateWrite", I2C_RDWR, kEIO, Meets::Control,
                                   ZelvoSystemError);
    frameRate.applies = [](const Target& target) { return target.sensor == Sensor::Vga; };
    frameRate.vgaToo = true;
    faults.push_back(frameRate);
    return faults;
}

std::vector<Fault> kitFaults() {
    using Call = EvaluationKit::Call;
    constexpr int kThird = 2;  // the faulty sub-frame of a burst
    std::vector<Fault> faults = {
        {"KitRefusesOpen", Meets::Open,
         [](Board& board, const Target&) { board.evaluationKit().failCall(Call::Open); },
         ZelvoUnkownError, ""},
        {"KitRefusesInit", Meets::Open,
         [](Board& board, const Target&) { board.evaluationKit().failCall(Call::Init); },
         ZelvoUnkownError, ""},
        {"KitRefusesStart", Meets::Start,
         [](Board& board, const Target&) { board.evaluationKit().failCall(Call::Start); },
         ZelvoUnkownError, ""},
        {"CaptureTimesOut", Meets::Read,
         [](Board& board, const Target&) {
             board.evaluationKit().timeOutCapture(kThird);
         },
         ZelvoUnkownError, ""},
        {"WrongSize", Meets::Read,
         [](Board& board, const Target&) {
             board.evaluationKit().deliverWrongSize(kThird);
         },
         ZelvoUnkownError, ""},
        {"ClockJumpsAhead", Meets::Read,
         [](Board& board, const Target&) {
             board.evaluationKit().jumpClock(40, kThird);
         },
         ZelvoSuccess, ""},
        {"ClockJumpsBack", Meets::Read,
         [](Board& board, const Target&) {
             board.evaluationKit().jumpClock(-40, kThird);
         },
         ZelvoSuccess, ""},
        // Sub-frames 6 ms apart never make a group: the read gives up after its bound.
        {"SubFramesTooFarApart", Meets::Read,
         [](Board& board, const Target&) { board.evaluationKit().spreadSubFrames(6); },
         ZelvoUnkownError, ""},
        // The second read meets a kit that stopped sending, or one that is gone.
        {"KitStallsInTheSecondRead", Meets::Read, nullptr, ZelvoUnkownError, "", "stall"},
        {"KitUnpluggedInTheSecondRead", Meets::Read, nullptr, ZelvoUnkownError, "", "unplug"},
    };
    return faults;
}

struct Case {
    Connection connection;
    std::string board;  // profile key
    Sensor sensor;
    Fault fault;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.fault.name << " on " << (c.connection == USB ? "usb" : c.board) << " with "
         << sensorKey(c.sensor);
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string name = c.fault.name + "_" +
                       (c.connection == USB ? std::string("usb") : c.board) + "_" +
                       sensorKey(c.sensor);
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

// Under an emulator (tests/support/repeat_count.h) and under ThreadSanitizer, both many
// times slower, the matrix runs on one board and without the VGA sensor: the boards are
// crossed in the other builds.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

bool cutDown() { return kThreadSanitizer || testing::repeatCount(2) < 2; }

// Boards whose driver can find the sensor (an unknown board never learns its bus). The
// first three present the three kinds of capture node: a media pipeline with packed
// frames, a multi-planar node, a Jetson node.
std::vector<std::string> streamingBoards() {
    std::vector<std::string> boards = {"rpi5", "rock5b", "jetson-nano"};
    for (const BoardProfile& profile : sim::boardProfiles()) {
        if (!isSubdevPlatform(profile.platform) && !isJetsonPlatform(profile.platform)) continue;
        if (std::find(boards.begin(), boards.end(), profile.key) == boards.end())
            boards.push_back(profile.key);
    }
    if (cutDown()) boards.resize(1);
    return boards;
}

std::vector<Case> csiCases() {
    std::vector<Case> cases;
    const std::vector<std::string> boards = streamingBoards();
    // A fault that waits meets the multi-planar node with HQVGA (the single-planar one
    // with VGA), or the only board when the matrix is cut down.
    const size_t waitingBoard = std::min<size_t>(1, boards.size() - 1);
    for (const Fault& fault : csiFaults()) {
        for (size_t b = 0; b < boards.size(); ++b) {
            const BoardProfile& profile = *sim::findBoardProfile(boards[b]);
            for (Sensor sensor : {Sensor::Hqvga, Sensor::Vga}) {
                if (sensor == Sensor::Vga && (!fault.vgaToo || b > 0 || cutDown())) continue;
                if (sensor == Sensor::Hqvga && fault.waits && b != waitingBoard) continue;
                const Target target{profile, sensor};
                if (fault.applies && !fault.applies(target)) continue;
                cases.push_back({CSI, profile.key, sensor, fault});
            }
        }
    }
    return cases;
}

std::vector<Case> usbCases() {
    std::vector<Case> cases;
    for (const Fault& fault : kitFaults()) cases.push_back({USB, "rpi5", Sensor::Hqvga, fault});
    return cases;
}

class FaultMatrix : public ::testing::TestWithParam<Case> {
protected:
    // A VGA start writes the depth library's texts into the working directory; its device
    // loads the depth library of this build.
    static void SetUpTestSuite() {
        working = new testing::ScratchDirectory;
        depthLibrary = new ZelvoDepth::testing::ScopedVariable(SiSdkLibrary::kPathVariable,
                                                                ZELVO_DEPTH_LIBRARY_FILE);
    }
    static void TearDownTestSuite() {
        delete depthLibrary;
        delete working;
        depthLibrary = nullptr;
        working = nullptr;
    }

    std::shared_ptr<Board> makeBoard(const std::string& extra) {
        const Case& c = GetParam();
        std::string settings = "board=" + c.board + ",sensor=" + sensorKey(c.sensor) +
                               ",fps=0,noise=0,scene=wall:1000" + extra;
        std::string error;
        auto board = Board::create(settings.c_str(), error);
        EXPECT_TRUE(board) << error;
        return board;
    }

    // A VGA camera on CSI streams its smaller size, a quarter of the samples to render.
    int open(ZelvoTOFCamera& camera) {
        const Case& c = GetParam();
        const int result = camera.open(c.connection, 0);
        if (result != ZelvoSuccess || c.connection != CSI || c.sensor != Sensor::Vga) return result;
        EXPECT_EQ(camera.setControl(FMT_WIDTH, 320), 0);
        EXPECT_EQ(camera.setControl(FMT_HEIGHT, 240), 0);
        return result;
    }

    // The kit's stall and unplug count sub-frames from the start: the first read (four of
    // them) is whole, the second is cut off after one.
    static std::string kitSettings(const Fault& fault) {
        return fault.settings.empty() ? "" : "," + fault.settings + "=5";
    }

    // Drives the camera's own sensor: one good read, then the read that meets the fault.
    int readThroughTheFault(ZelvoTOFCamera& camera, Board& board, const Target& target,
                            const Fault& fault, const testing::CountingHost& host) {
        ZelvoTOFSensor& sensor = *camera.sensor;
        EXPECT_EQ(camera.device->configureSensor(), 0);
        EXPECT_EQ(sensor.start(), 0);
        const CameraInfo info = sensor.getCameraInfo();
        std::vector<uint8_t> staging(static_cast<size_t>(info.width) * info.height * 2 *
                                     sensor.framesPerRequest);
        int64_t timestamp = 0;
        EXPECT_EQ(sensor.getFrame(staging.data(), &timestamp), 0) << "the read before the fault";
        if (fault.arm) fault.arm(board, target);
        const int pollsBefore = host.polls;
        StderrCapture printed;
        const int result = sensor.getFrame(staging.data(), &timestamp);
        EXPECT_EQ(printed.take(), target.printed(fault.printed));
        EXPECT_GE(host.polls - pollsBefore, fault.pollsAtLeast);
        sensor.stop();  // a removed device cannot switch streaming off: any result
        return result;
    }

    // The call that meets the fault, on a camera opened before unless it is open itself.
    void meetTheFault(ZelvoTOFCamera& camera, Board& board, const Target& target,
                      const testing::CountingHost& host) {
        const Fault& fault = GetParam().fault;
        if (fault.meets != Meets::Open) {
            ASSERT_EQ(open(camera), 0);
        }
        if (fault.meets == Meets::Stop) {
            ASSERT_EQ(camera.start(RAW), 0);
        }
        if (fault.meets == Meets::Read) {
            EXPECT_EQ(readThroughTheFault(camera, board, target, fault, host), fault.expected);
            return;
        }
        if (fault.arm) fault.arm(board, target);
        StderrCapture capture;
        int result = 0;
        switch (fault.meets) {
        case Meets::Open:
            result = open(camera);
            break;
        case Meets::Start:
            result = camera.start(RAW);
            break;
        case Meets::Stop:
            result = camera.stop();
            break;
        default:
            result = target.sensor == Sensor::Hqvga ? camera.setControl(RANGE, 2000)
                                                    : camera.setControl(FRAME_RATE, 10);
            break;
        }
        const std::string printed = capture.take();
        EXPECT_EQ(result, fault.expected);
        EXPECT_EQ(printed, target.printed(fault.printed));
        if (fault.check) fault.check(board, camera);
        // A stop that failed leaves the buffers to close.
        if (fault.meets == Meets::Stop && result != ZelvoSuccess) {
            EXPECT_GT(board.mappings(), 0u);
        }
        if (fault.meets != Meets::Start) return;
        if (result == ZelvoSuccess) {
            expectAFrame(camera);  // a start that works with what the board granted streams
        } else {
            EXPECT_EQ(board.mappings(), 0u) << "a failed start keeps no buffer mapped";
            if (auto* csi = dynamic_cast<ZelvoTOFCSISensor*>(camera.sensor.get())) {
                EXPECT_EQ(csi->bufferCount, 0u);
            }
            EXPECT_FALSE(board.sensorState().streaming);
        }
    }

    void expectAFrame(ZelvoTOFCamera& camera) {
        ZelvoFrameBuffer* frame = camera.requestFrame(kFrameWaitMs);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(camera.releaseFrame(frame), 0);
        EXPECT_EQ(camera.stop(), 0);
    }

    static testing::ScratchDirectory* working;
    static ZelvoDepth::testing::ScopedVariable* depthLibrary;
};

testing::ScratchDirectory* FaultMatrix::working = nullptr;
ZelvoDepth::testing::ScopedVariable* FaultMatrix::depthLibrary = nullptr;

TEST_P(FaultMatrix, CallMeetsItsCodeAndTheCameraRecovers) {
    const Case& c = GetParam();
    const Target target{*sim::findBoardProfile(c.board), c.sensor};
    auto faulty = makeBoard(c.connection == USB ? kitSettings(c.fault) : c.fault.settings);
    ASSERT_TRUE(faulty);
    auto host = std::make_shared<testing::CountingHost>(faulty);
    ZelvoTOFCamera camera(host);

    meetTheFault(camera, *faulty, target, *host);
    camera.close();
    // Whatever the fault, nothing of the board stays held.
    EXPECT_EQ(faulty->openDescriptors(), 0u);
    EXPECT_EQ(faulty->mappings(), 0u);
    EXPECT_EQ(faulty->evaluationKit().state().libraryReferences, 0);

    // The same camera on a healthy board, as after plugging it in again.
    host->retarget(makeBoard(""));
    StderrCapture printed;
    ASSERT_EQ(open(camera), 0);
    ASSERT_EQ(camera.start(RAW), 0);
    expectAFrame(camera);
    EXPECT_EQ(camera.close(), 0);
    EXPECT_EQ(printed.take(), "");
}

INSTANTIATE_TEST_SUITE_P(Csi, FaultMatrix, ::testing::ValuesIn(csiCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Kit, FaultMatrix, ::testing::ValuesIn(usbCases()), caseName);

}  // namespace
}  // namespace Zelvo
