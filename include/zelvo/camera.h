// The camera facade: owns the sensor transport, the depth device, the frame store
// of the current stream and the capture thread. A program includes this header (and
// the types and frame buffers it brings); the components stay the library's own and
// are only named here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <zelvo/frame_buffer.h>
#include <zelvo/types.h>

namespace Zelvo {

class ComponentFactory;
class FrameStore;
class Host;
class ZelvoDevice;
class ZelvoTOFSensor;
struct LinkNode;

class ZelvoTOFCamera {
public:
    // Talks to the simulated board when ZELVO_SIM is set, to the system otherwise.
    ZelvoTOFCamera();
    // Talks to the given host and builds its components with the given factory
    // (the library's own when null).
    explicit ZelvoTOFCamera(std::shared_ptr<Host> host,
                            std::shared_ptr<ComponentFactory> factory = nullptr);
    // Stops a running stream first and closes an opened camera; then destroys frame
    // store, device and sensor.
    ~ZelvoTOFCamera();

    ZelvoTOFCamera(const ZelvoTOFCamera&) = delete;
    ZelvoTOFCamera& operator=(const ZelvoTOFCamera&) = delete;

    // A camera opened before is closed first.
    int open(Connection connect, int index);
    int openWithFile(const char* path, int index);
    int openPostHandle();
    // Stops a running stream, closes device and sensor and then lets go of both: until
    // the next open, every operation answers as on a camera never opened.
    int close();
    int start(FrameType type);
    int stop();
    int setOutputType(FrameType type);
    CameraInfo getCameraInfo() const;

    // Waits only while a stream runs; otherwise returns the oldest frame still ready,
    // or null, at once. A wait in progress ends when another thread stops or closes
    // the camera, or calls wakeRequests.
    ZelvoFrameBuffer* requestFrame(short timeout);
    int releaseFrame(ZelvoFrameBuffer* frame);
    void captureThread();
    int analysisFrame(uint8_t* staging, LinkNode* node);
    void updateFps();
    void adjustFrameRate();

    int setControl(CameraCtrl ctrl, int value);
    int getControl(CameraCtrl ctrl, int* value);
    int setControlExt(CameraCtrl ctrl, const char* value);
    int getControlExt(CameraCtrl ctrl, const char** value);
    bool getPhaseImage(uint8_t* raw, float* depth, float* amplitude, float* confidence);
    bool getRawImages(uint8_t* raw, int16_t* out);

    // Ends every requestFrame waiting right now in another thread (each returns the
    // oldest ready frame, or null); the stream goes on. A caller that is about to
    // start or open the camera uses it to get other threads out of the frame store
    // first: start replaces the store, so no request may be inside it then.
    void wakeRequests();

    // True while a capture thread runs.
    bool isStreaming() const { return !stopped.load(); }
    Platform getPlatform() const { return platform; }
    // True while `frame` is a buffer of the current stream that a caller requested
    // and has not released yet.
    bool isBorrowed(const ZelvoFrameBuffer* frame) const;
    // Grows by one whenever a new frame store replaces the buffers of the previous
    // stream (every setOutputType that succeeds); buffers of an older generation are gone.
    uint64_t bufferGeneration() const { return storeGeneration; }

    // Must stay the first member: the sensor's open receives a reference to it.
    CameraInfo info{};
    FrameLayout rawLayout{};
    FrameLayout outputLayout{};
    std::unique_ptr<ZelvoTOFSensor> sensor;
    std::unique_ptr<ZelvoDevice> device;
    std::unique_ptr<FrameStore> frameStore;
    std::thread thread;
    std::atomic<bool> stopped{true};
    Platform platform = PlatformOther;
    std::atomic<int> skipFrame{0};
    std::atomic<int> skipFrameLoop{1};
    int skipCounter = 0;
    float frameInterval = 0.0f;
    float fpsWeight = 0.1f;
    float fps = 0.0f;
    int fpsSamples = 0;
    int64_t lastFrameTime = 0;
    std::atomic<bool> autoFrameRate{true};

    // Wall clock of the frame-rate estimate and adjustment, nanoseconds. Tests replace
    // it before start to drive the estimate without waiting.
    std::function<int64_t()> wallClock;

private:
    bool hostMissing() const;
    // Replaces the sensor (and the device built on it) with `next` and opens it.
    int openSensor(std::unique_ptr<ZelvoTOFSensor> next);
    void backOff(int& delayMs);

    uint64_t storeGeneration = 0;
    bool readFailed = false;  // the last analysisFrame failed in the sensor read
    std::shared_ptr<Host> host;                  // null when the host could not be made
    std::string hostError;                       // printed by open when host is null
    std::shared_ptr<ComponentFactory> factory;
};

}  // namespace Zelvo
