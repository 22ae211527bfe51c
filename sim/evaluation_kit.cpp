#include "sim/evaluation_kit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sensor/usb/kit_index.h"

namespace Zelvo::sim {
namespace {

constexpr char kLibraryName[] = "libzelvo_evk_sdk.so";

// Results of the kit's calls.
constexpr int kInvalidArgument = -1;
constexpr int kTimedOut = -2;
constexpr int kNotStreaming = -3;
constexpr int kBusy = -4;
constexpr int kNoBuffer = -5;
constexpr int kGone = -6;
constexpr int kRefused = -7;
constexpr int kNoSuchCamera = -8;
constexpr int kUnreadableFile = -9;

constexpr uint16_t kDividerShortRange = 0x08;  // 75 MHz
constexpr uint16_t kDividerLongRange = 0x10;   // 37.5 MHz
constexpr int kSensorBits = 12;

// Kits alive in the process, so that a handle of a destroyed board is refused. Never
// destroyed: boards may outlive the static objects at exit.
struct Registry {
    std::mutex mutex;
    std::vector<const void*> kits;
};

Registry& registry() {
    static Registry* live = new Registry;
    return *live;
}

// The kit whose library this thread loaded last: the one its next ZelvoOpenCamera opens.
thread_local void* openingKit = nullptr;

// The kit reads its configuration file when it opens: a name that is no readable regular
// file (missing, a directory, a FIFO, a device) cannot be read. Opened without blocking,
// so a FIFO is refused instead of waited on.
bool readableRegularFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    return regular;
}

uint64_t millisecondsOf(std::chrono::steady_clock::time_point time) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

}  // namespace

bool isEvaluationKitLibrary(const char* path) {
    if (!path) return false;
    const char* configured = std::getenv("ZELVO_EVK_SDK");
    return std::strcmp(path, kLibraryName) == 0 ||
           (configured && configured[0] != '\0' && std::strcmp(path, configured) == 0);
}

EvaluationKit::EvaluationKit(const Settings& settings, TofSensor& sensor, std::mutex& boardMutex)
    : bits_(settings.usbBits),
      stallAfter_(settings.stallAfterSubFrames),
      unplugAfter_(settings.unplugAfterSubFrames),
      kits_(settings.cameras),
      sensor_(sensor),
      mutex_(boardMutex) {
    Registry& live = registry();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.kits.push_back(this);
}

EvaluationKit::~EvaluationKit() {
    if (openingKit == this) openingKit = nullptr;
    Registry& live = registry();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.kits.erase(std::remove(live.kits.begin(), live.kits.end(), this), live.kits.end());
}

EvaluationKit* EvaluationKit::kitOf(ZelvoCameraHandle handle) {
    Registry& live = registry();
    std::lock_guard<std::mutex> lock(live.mutex);
    const bool known = std::find(live.kits.begin(), live.kits.end(), handle) != live.kits.end();
    return known ? static_cast<EvaluationKit*>(handle) : nullptr;
}

// The loader's side.

void* EvaluationKit::openLibrary() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++libraryReferences_;
    openingKit = this;
    return this;
}

void* EvaluationKit::findCall(const char* name) {
    struct Entry {
        const char* name;
        void* call;
    };
    static const Entry kCalls[] = {
        {"ZelvoDefaultParam", reinterpret_cast<void*>(&ZelvoDefaultParam)},
        {"ZelvoOpenCamera", reinterpret_cast<void*>(&ZelvoOpenCamera)},
        {"ZelvoInitCamera", reinterpret_cast<void*>(&ZelvoInitCamera)},
        {"ZelvoGetCameraConfig", reinterpret_cast<void*>(&ZelvoGetCameraConfig)},
        {"ZelvoStartCamera", reinterpret_cast<void*>(&ZelvoStartCamera)},
        {"ZelvoCaptureImage", reinterpret_cast<void*>(&ZelvoCaptureImage)},
        {"ZelvoFreeImage", reinterpret_cast<void*>(&ZelvoFreeImage)},
        {"ZelvoStopCamera", reinterpret_cast<void*>(&ZelvoStopCamera)},
        {"ZelvoCloseCamera", reinterpret_cast<void*>(&ZelvoCloseCamera)},
        {"ZelvoWriteSensorReg", reinterpret_cast<void*>(&ZelvoWriteSensorReg)},
    };
    for (const Entry& entry : kCalls)
        if (name && std::strcmp(name, entry.name) == 0) return entry.call;
    std::lock_guard<std::mutex> lock(mutex_);
    loaderError_ = std::string(kLibraryName) + ": undefined symbol: " + (name ? name : "");
    loaderErrorPending_ = true;
    return nullptr;
}

int EvaluationKit::closeLibrary() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (libraryReferences_ == 0) {
        loaderError_ = std::string(kLibraryName) + ": not loaded";
        loaderErrorPending_ = true;
        return -1;
    }
    if (--libraryReferences_ == 0 && openingKit == this) openingKit = nullptr;
    return 0;
}

const char* EvaluationKit::takeLoaderError() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!loaderErrorPending_) return nullptr;
    loaderErrorPending_ = false;
    return loaderError_.c_str();
}

// Faults and observations.

void EvaluationKit::failCall(Call call, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_[static_cast<int>(call)] += times;
}

void EvaluationKit::timeOutCapture(int subFrame) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeOutAt_ = subFrame;
}

void EvaluationKit::deliverWrongSize(int subFrame) {
    std::lock_guard<std::mutex> lock(mutex_);
    wrongSizeAt_ = subFrame;
}

void EvaluationKit::jumpClock(int64_t deltaMs, int subFrame) {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingJumpMs_ = deltaMs;
    jumpAt_ = subFrame;
}

void EvaluationKit::spreadSubFrames(int gapMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    stampGapMs_ = std::max(gapMs, static_cast<int>(kSubFrameGapMs));
}

KitState EvaluationKit::state() {
    std::lock_guard<std::mutex> lock(mutex_);
    KitState state;
    state.libraryReferences = libraryReferences_;
    state.cameraOpen = open_;
    state.configFile = configFile_;
    state.binFile = binFile_;
    state.imagesOut = static_cast<int>(std::count(bufferOut_.begin(), bufferOut_.end(), true));
    return state;
}

bool EvaluationKit::takeFailure(Call call) {
    int& remaining = failures_[static_cast<int>(call)];
    if (remaining == 0) return false;
    --remaining;
    return true;
}

int EvaluationKit::subFramesPerImage() const {
    return sensor_.isVga() ? vgaModes().front().subFrames : 1;
}

bool EvaluationKit::unplugged() const { return unplugAfter_ >= 0 && delivered_ >= unplugAfter_; }

bool EvaluationKit::stalled() const {
    return stallAfter_ >= 0 && delivered_ + subFramesPerImage() > stallAfter_;
}

// The calls, each finding its kit through the handle.

int EvaluationKit::ZelvoDefaultParam(ZelvoOpenParam* param) {
    if (!param) return kInvalidArgument;
    std::memset(param, 0, sizeof *param);
    param->configFile = nullptr;
    return 0;
}

int EvaluationKit::ZelvoOpenCamera(ZelvoCameraHandle* handle, ZelvoOpenParam* param) {
    EvaluationKit* kit = kitOf(openingKit);
    if (!kit || !handle || !param) return kInvalidArgument;
    const int32_t index = openingKitIndex();
    if (index < 0 || index >= kit->kits_) return kNoSuchCamera;
    const int result = kit->open(*param);
    if (result == 0) *handle = kit;
    return result;
}

int EvaluationKit::ZelvoInitCamera(ZelvoCameraHandle handle) {
    EvaluationKit* kit = kitOf(handle);
    return kit ? kit->init() : kInvalidArgument;
}

int EvaluationKit::ZelvoGetCameraConfig(ZelvoCameraHandle handle, ZelvoCameraConfig* config) {
    EvaluationKit* kit = kitOf(handle);
    return kit && config ? kit->config(*config) : kInvalidArgument;
}

int EvaluationKit::ZelvoStartCamera(ZelvoCameraHandle handle) {
    EvaluationKit* kit = kitOf(handle);
    return kit ? kit->start() : kInvalidArgument;
}

int EvaluationKit::ZelvoCaptureImage(ZelvoCameraHandle handle, ZelvoImage* image, int timeoutMs) {
    EvaluationKit* kit = kitOf(handle);
    return kit && image ? kit->capture(*image, timeoutMs) : kInvalidArgument;
}

int EvaluationKit::ZelvoFreeImage(ZelvoCameraHandle handle, ZelvoImage image) {
    EvaluationKit* kit = kitOf(handle);
    return kit ? kit->giveBack(image) : kInvalidArgument;
}

int EvaluationKit::ZelvoStopCamera(ZelvoCameraHandle handle) {
    EvaluationKit* kit = kitOf(handle);
    return kit ? kit->stop() : kInvalidArgument;
}

int EvaluationKit::ZelvoCloseCamera(ZelvoCameraHandle handle) {
    EvaluationKit* kit = kitOf(handle);
    return kit ? kit->close() : kInvalidArgument;
}

int EvaluationKit::ZelvoWriteSensorReg(ZelvoCameraHandle handle, uint16_t address,
                                       uint16_t value) {
    EvaluationKit* kit = kitOf(handle);
    return kit ? kit->writeRegister(address, value) : kInvalidArgument;
}

// The kit itself.

EvaluationKit::SubFrameGeometry EvaluationKit::geometry() const {
    if (sensor_.isVga()) {
        const VgaMode& mode = vgaModes().front();
        return {mode.width, mode.rows(), 1};
    }
    return {kSensorWidth, kSensorHeight, kPhasesPerFrame};
}

size_t EvaluationKit::subFrameBytes() const {
    return geometry().samples() * (bits_ <= 8 ? 1 : 2);
}

int EvaluationKit::open(const ZelvoOpenParam& param) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged()) return kGone;
    if (takeFailure(Call::Open)) return kRefused;
    if (open_) return kBusy;
    if (param.configFile && param.configFile[0] != '\0' &&
        !readableRegularFile(param.configFile))
        return kUnreadableFile;
    configFile_ = param.configFile ? param.configFile : "";
    binFile_ = param.binFile;
    open_ = true;
    return 0;
}

int EvaluationKit::init() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kInvalidArgument;
    if (takeFailure(Call::Init)) return kRefused;
    if (buffers_.empty()) {
        buffers_.assign(kImageBuffers, std::vector<uint8_t>(subFrameBytes()));
        bufferOut_.assign(kImageBuffers, false);
    }
    initialised_ = true;
    return 0;
}

int EvaluationKit::config(ZelvoCameraConfig& config) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kInvalidArgument;
    config = ZelvoCameraConfig{};
    config.width = geometry().width;
    config.height = geometry().height;
    config.bitWidth = static_cast<uint8_t>(bits_);
    return 0;
}

int EvaluationKit::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) return kInvalidArgument;
    if (takeFailure(Call::Start)) return kRefused;
    if (streaming_) return 0;
    streaming_ = true;
    subFrame_ = 0;
    burstReady_ = false;
    // The first burst follows one frame period after the start.
    burstStart_ = Clock::now();
    if (sensor_.frameRate() != 0) burstStart_ += framePeriod();
    return 0;
}

int EvaluationKit::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kInvalidArgument;
    streaming_ = false;
    wakeup_.notify_all();
    return 0;
}

int EvaluationKit::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kInvalidArgument;
    streaming_ = false;
    open_ = false;
    initialised_ = false;
    // Images still out go with the camera.
    std::fill(bufferOut_.begin(), bufferOut_.end(), false);
    wakeup_.notify_all();
    return 0;
}

int EvaluationKit::writeRegister(uint16_t address, uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kInvalidArgument;
    if (address == kModulationDividerRegister) {
        if (value == kDividerShortRange) sensor_.setRangeControl(1);
        if (value == kDividerLongRange) sensor_.setRangeControl(0);
    }
    return 0;
}

EvaluationKit::Clock::duration EvaluationKit::framePeriod() const {
    const int rate = std::min(std::max(sensor_.frameRate(), 1), kMaxFrameRate);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
        1000000000LL / rate));
}

int EvaluationKit::waitForSubFrame(std::unique_lock<std::mutex>& lock,
                                   Clock::time_point deadline, Clock::time_point& due) {
    const auto gap = std::chrono::milliseconds(kSubFrameGapMs);
    while (true) {
        if (!streaming_) return kNotStreaming;
        const bool freeRunning = sensor_.frameRate() == 0;
        const Clock::time_point now = Clock::now();
        if (subFrame_ == 0 && !burstReady_) {
            if (freeRunning) {
                burstStart_ = now;
            } else {
                // Bursts nobody was waiting for are gone; the newest one that began counts.
                const auto period = framePeriod();
                if (now - burstStart_ >= period)
                    burstStart_ += ((now - burstStart_) / period) * period;
            }
            if (now >= burstStart_) {
                if (sensor_.isVga()) {
                    const SubFrameGeometry image = geometry();
                    const VgaMode* mode = nullptr;
                    vgaFrame_ = sensor_.nextVgaFrame(image.width, image.height, mode);
                } else {
                    frame_ = sensor_.nextFrame();
                }
                burstReady_ = true;
            }
        }
        due = freeRunning ? now : burstStart_ + subFrame_ * gap;
        if (burstReady_ && now >= due) return 0;
        if (now >= deadline) return kTimedOut;
        wakeup_.wait_until(lock, std::min(due, deadline));
    }
}

uint64_t EvaluationKit::stampOf(Clock::time_point due) {
    // A spread clock stamps each sub-frame of the burst further from the one before.
    uint64_t stamp = millisecondsOf(due) +
                     static_cast<uint64_t>(subFrame_) * (stampGapMs_ - kSubFrameGapMs);
    if (sensor_.frameRate() == 0) {
        // Free-running bursts follow each other at once; their stamps still keep apart.
        stamp = subFrame_ == 0
                    ? std::max<uint64_t>(stamp, lastFreeRunningStamp_ + kFreeRunningBurstGapMs)
                    : lastFreeRunningStamp_ + static_cast<uint64_t>(stampGapMs_);
        lastFreeRunningStamp_ = stamp;
    }
    return stamp + static_cast<uint64_t>(clockOffsetMs_);
}

void EvaluationKit::fill(uint8_t* dst) const {
    const size_t count = geometry().samples();
    const int16_t* samples = frame_ ? frame_ + static_cast<size_t>(subFrame_) * count : nullptr;
    for (size_t i = 0; i < count; ++i) {
        // The sensor's 12-bit word (the HQVGA sensor's signed 11-bit sample, the VGA
        // sensor's word), in the kit's bit width.
        const uint32_t word = vgaFrame_ ? vgaFrame_[i] & 0xFFFu
                                        : static_cast<uint16_t>(samples[i]) & 0x7FFu;
        const uint32_t value =
            bits_ < kSensorBits ? word >> (kSensorBits - bits_) : word << (bits_ - kSensorBits);
        if (bits_ <= 8) {
            dst[i] = static_cast<uint8_t>(value);
        } else {
            dst[2 * i] = static_cast<uint8_t>(value & 0xFF);
            dst[2 * i + 1] = static_cast<uint8_t>(value >> 8);
        }
    }
}

int EvaluationKit::capture(ZelvoImage& image, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_) return kInvalidArgument;
    if (unplugAfter_ >= 0 && delivered_ + subFramesPerImage() > unplugAfter_) {
        // The kit goes away within the next image: what was sent of it is lost.
        delivered_ = std::max(delivered_, unplugAfter_);
    }
    if (unplugged()) return kGone;
    if (!streaming_) return kNotStreaming;
    if (timeOutAt_ == subFrame_) {
        timeOutAt_ = -1;
        return kTimedOut;
    }
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (stalled()) {
        // The sensor sends nothing more: the capture waits out its time-out.
        wakeup_.wait_until(lock, deadline, [this] { return !streaming_; });
        return kTimedOut;
    }
    auto freeSlot = std::find(bufferOut_.begin(), bufferOut_.end(), false);
    if (freeSlot == bufferOut_.end()) return kNoBuffer;
    const size_t slot = static_cast<size_t>(freeSlot - bufferOut_.begin());

    Clock::time_point due;
    if (int result = waitForSubFrame(lock, deadline, due)) return result;
    uint8_t* data = buffers_[slot].data();
    fill(data);
    bufferOut_[slot] = true;
    if (jumpAt_ == subFrame_) {
        jumpAt_ = -1;
        clockOffsetMs_ += pendingJumpMs_;
    }
    image = ZelvoImage{};
    image.timestamp = stampOf(due);
    image.dataSize = static_cast<uint32_t>(subFrameBytes());
    if (wrongSizeAt_ == subFrame_) {
        wrongSizeAt_ = -1;
        image.dataSize /= 2;
    }
    image.data.address = data;

    if (++subFrame_ == geometry().perBurst) {
        subFrame_ = 0;
        burstReady_ = false;
        if (sensor_.frameRate() != 0) burstStart_ += framePeriod();
    }
    delivered_ += subFramesPerImage();
    return 0;
}

int EvaluationKit::giveBack(const ZelvoImage& image) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t slot = 0; slot < buffers_.size(); ++slot) {
        if (bufferOut_[slot] && buffers_[slot].data() == image.data.address) {
            bufferOut_[slot] = false;
            return 0;
        }
    }
    return kInvalidArgument;
}

}  // namespace Zelvo::sim
