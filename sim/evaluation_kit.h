// The simulated USB evaluation kit: the board's time-of-flight sensor behind the ten calls
// of the kit's SDK library, which the board's loader offers in place of the vendor's.
//
// The calls are plain C functions without a context argument, so each opened camera
// handle must lead to its board by itself. Binding: the board's dlopen of the kit library
// registers the board's kit as the one the calling thread opens next (the driver opens
// the camera on the thread that loaded the library, right after loading it), and
// ZelvoOpenCamera hands out that kit's own address as the camera handle. Every later call
// finds its kit, and so its board, through the handle; a handle of a kit that no longer
// exists is refused.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sensor/usb/evk_sdk.h"
#include "sim/settings.h"
#include "sim/tof_sensor.h"

namespace Zelvo::sim {

// True for the names under which the kit's library is loaded: "libzelvo_evk_sdk.so" and
// the path in ZELVO_EVK_SDK.
bool isEvaluationKitLibrary(const char* path);

// What the kit has received, for tests.
struct KitState {
    int libraryReferences = 0;  // dlopen calls not yet matched by dlclose
    bool cameraOpen = false;
    std::string configFile;     // name given to the last ZelvoOpenCamera ("" for none)
    uint8_t binFile = 0;
    int imagesOut = 0;          // captured and not given back
};

class EvaluationKit {
public:
    // Sub-frames of one burst are this far apart; the kit stamps in milliseconds.
    static constexpr int kSubFrameGapMs = 2;
    // The fastest the kit runs, so that bursts stay well apart from each other.
    static constexpr int kMaxFrameRate = 60;
    // Free-running, bursts are stamped at least this far apart.
    static constexpr int kFreeRunningBurstGapMs = 10;
    static constexpr int kImageBuffers = 4;
    // Register of the modulation clock divider (600 MHz / divider): 0x08 gives 75 MHz,
    // 0x10 gives 37.5 MHz.
    static constexpr uint16_t kModulationDividerRegister = 0x216c;

    enum class Call { Open, Init, Start };

    // sensor and boardMutex are the board's: the kit renders with the board's sensor
    // and holds the board's mutex while it uses it.
    EvaluationKit(const Settings& settings, TofSensor& sensor, std::mutex& boardMutex);
    ~EvaluationKit();

    EvaluationKit(const EvaluationKit&) = delete;
    EvaluationKit& operator=(const EvaluationKit&) = delete;

    // The loader's side, as the board's dl* functions answer for the kit's library.
    void* openLibrary();
    bool isLibrary(const void* library) const { return library == this; }
    void* findCall(const char* name);  // null and a loader error when there is none
    int closeLibrary();
    const char* takeLoaderError();     // the last loader error once, else null

    // Faults for tests. `subFrame` (0 to perBurst - 1) places a fault in a burst:
    // it strikes at the next capture of that sub-frame.
    void failCall(Call call, int times = 1);
    // The capture reports a time-out at once; the sub-frame comes with the next capture.
    void timeOutCapture(int subFrame);
    // The sub-frame reports half its size.
    void deliverWrongSize(int subFrame);
    // The kit's clock jumps by deltaMs (negative: backwards) from that sub-frame on.
    void jumpClock(int64_t deltaMs, int subFrame);
    // From now on the sub-frames of a burst are stamped gapMs apart (at least the kit's own
    // gap, kSubFrameGapMs), as by a kit whose clock runs fast within a burst.
    void spreadSubFrames(int gapMs);

    KitState state();

private:
    using Clock = std::chrono::steady_clock;

    // The kit's calls. Results: 0, or a negative code.
    static int ZelvoDefaultParam(ZelvoOpenParam* param);
    static int ZelvoOpenCamera(ZelvoCameraHandle* handle, ZelvoOpenParam* param);
    static int ZelvoInitCamera(ZelvoCameraHandle handle);
    static int ZelvoGetCameraConfig(ZelvoCameraHandle handle, ZelvoCameraConfig* config);
    static int ZelvoStartCamera(ZelvoCameraHandle handle);
    static int ZelvoCaptureImage(ZelvoCameraHandle handle, ZelvoImage* image, int timeoutMs);
    static int ZelvoFreeImage(ZelvoCameraHandle handle, ZelvoImage image);
    static int ZelvoStopCamera(ZelvoCameraHandle handle);
    static int ZelvoCloseCamera(ZelvoCameraHandle handle);
    static int ZelvoWriteSensorReg(ZelvoCameraHandle handle, uint16_t address, uint16_t value);

    // The live kit a handle names, or null.
    static EvaluationKit* kitOf(ZelvoCameraHandle handle);

    int open(const ZelvoOpenParam& param);
    int init();
    int config(ZelvoCameraConfig& config);
    int start();
    int capture(ZelvoImage& image, int timeoutMs);
    int giveBack(const ZelvoImage& image);
    int stop();
    int close();
    int writeRegister(uint16_t address, uint16_t value);

    bool takeFailure(Call call);
    // The sensor's sub-frames in one image: the VGA raw frame carries several.
    int subFramesPerImage() const;
    bool unplugged() const;
    // The next image would not be whole before the sensor stops sending.
    bool stalled() const;
    Clock::duration framePeriod() const;
    // Waits until the sub-frame due next is ready: 0, or a negative code (time-out, stop).
    int waitForSubFrame(std::unique_lock<std::mutex>& lock, Clock::time_point deadline,
                        Clock::time_point& due);
    uint64_t stampOf(Clock::time_point due);
    // The sensor's image: one phase image of the HQVGA sensor, four of them per burst, or
    // one raw frame of the VGA sensor in the full-size single-frequency layout. Every size
    // the kit uses comes from here.
    struct SubFrameGeometry {
        uint32_t width;
        uint32_t height;
        int perBurst;
        size_t samples() const { return static_cast<size_t>(width) * height; }
    };
    SubFrameGeometry geometry() const;

    void fill(uint8_t* dst) const;
    size_t subFrameBytes() const;

    const int bits_;
    const int64_t stallAfter_;
    const int64_t unplugAfter_;
    // Kits attached to the board (its `cameras` setting); the camera's index picks one
    // (kit_index.h). Each camera builds its own board, so the kit it opens is its own.
    const int kits_;
    TofSensor& sensor_;
    std::mutex& mutex_;
    std::condition_variable wakeup_;

    int libraryReferences_ = 0;
    std::string loaderError_;
    bool loaderErrorPending_ = false;

    bool open_ = false;
    bool initialised_ = false;
    bool streaming_ = false;
    std::string configFile_;
    uint8_t binFile_ = 0;

    std::vector<std::vector<uint8_t>> buffers_;
    std::vector<bool> bufferOut_;

    // The schedule: bursts of geometry().perBurst sub-frames.
    Clock::time_point burstStart_;
    int subFrame_ = 0;
    bool burstReady_ = false;
    const int16_t* frame_ = nullptr;       // HQVGA: the burst's phase images
    const uint16_t* vgaFrame_ = nullptr;   // VGA: the raw frame
    uint64_t lastFreeRunningStamp_ = 0;
    int64_t clockOffsetMs_ = 0;
    int stampGapMs_ = kSubFrameGapMs;
    int64_t delivered_ = 0;  // sub-frames the sensor sent

    // Armed faults: the sub-frame each strikes at, -1 when none is armed.
    int failures_[3] = {};
    int timeOutAt_ = -1;
    int wrongSizeAt_ = -1;
    int jumpAt_ = -1;
    int64_t pendingJumpMs_ = 0;
};

}  // namespace Zelvo::sim
