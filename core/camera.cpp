// Camera lifecycle: construction, open, start, stop, close and the frame store of
// each stream.
#include <zelvo/camera.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <system_error>

#include "core/component_factory.h"
#include "core/frame_store.h"
#include "core/host.h"
#include "core/host_selection.h"
#include "core/platform_detection.h"

namespace Zelvo {

namespace {

int64_t systemWallClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ZelvoTOFCamera::ZelvoTOFCamera() : wallClock(systemWallClockNs) {
    HostSelection selection = selectHost();
    host = std::move(selection.host);
    hostError = std::move(selection.error);
    factory = defaultComponentFactory();
    if (host) platform = detectPlatform(*host);
}

ZelvoTOFCamera::ZelvoTOFCamera(std::shared_ptr<Host> host,
                               std::shared_ptr<ComponentFactory> factory)
    : wallClock(systemWallClockNs),
      host(std::move(host)),
      factory(factory ? std::move(factory) : defaultComponentFactory()) {
    if (this->host) platform = detectPlatform(*this->host);
}

ZelvoTOFCamera::~ZelvoTOFCamera() {
    // A stream still running is stopped first: its thread uses everything below.
    if (thread.joinable()) stop();
    // Closed before they go, so nothing they claimed (the evaluation kit, the depth
    // library, a calibration mapping) outlives the camera.
    if (sensor) close();
    frameStore.reset();
    device.reset();
    sensor.reset();
}

bool ZelvoTOFCamera::hostMissing() const {
    if (host) return false;
    if (!hostError.empty()) std::fputs(hostError.c_str(), stderr);
    return true;
}

int ZelvoTOFCamera::openSensor(std::unique_ptr<ZelvoTOFSensor> next) {
    if (!next) return ZelvoUnkownError;
    // What an earlier open holds is closed before it is replaced. The device was
    // initialised with the old sensor and keeps a pointer to it: it goes first, so no
    // device ever outlives its sensor.
    if (sensor) close();
    device.reset();
    sensor = std::move(next);

    const int result = sensor->open(info);
    if (result != ZelvoSuccess) return result;
    return openPostHandle();
}

int ZelvoTOFCamera::open(Connection connect, int index) {
    // The capture thread uses the sensor and device that a new open would replace.
    if (isStreaming()) return ZelvoUnkownError;
    if (hostMissing()) return ZelvoSystemError;

    info.connect = connect;
    info.index = static_cast<uint32_t>(index);

    std::unique_ptr<ZelvoTOFSensor> next;
    if (connect == CSI) {
        char path[80];
        std::snprintf(path, sizeof path, "/dev/video%d", index);
        next = factory->createCSISensor(path, platform, *host);
    } else if (connect == USB) {
        next = factory->createUSBSensor("", index, *host);
    } else {
        return ZelvoUnkownError;
    }
    return openSensor(std::move(next));
}

int ZelvoTOFCamera::openWithFile(const char* path, int index) {
    if (isStreaming() || !path) return ZelvoUnkownError;
    if (hostMissing()) return ZelvoSystemError;

    info.index = static_cast<uint32_t>(index);
    info.connect = USB;

    return openSensor(factory->createUSBSensor(path, index, *host));
}

int ZelvoTOFCamera::openPostHandle() {
    if (!sensor || isStreaming()) return ZelvoUnkownError;

    // Four phase images of 240 x 180 make one depth frame.
    const bool hqvga = info.width == 240 && info.height == 180;
    std::unique_ptr<ZelvoDevice> next = hqvga ? factory->createHQVGADevice(platform, info.connect, *host)
                                              : factory->createVGADevice(platform, *host);
    if (!next) return ZelvoUnkownError;
    if (hqvga) sensor->framesPerRequest = 4;
    // A device installed before is closed first: it may hold the library and a mapping.
    if (device) device->close();
    device = std::move(next);
    info.device_type = hqvga ? HQVGA : VGA;
    return device->init(sensor.get(), info.device_type);
}

int ZelvoTOFCamera::start(FrameType type) {
    if (!sensor || !device) return ZelvoUnkownError;
    // Running the start sequence again under a live capture thread would reconfigure
    // the sensor and device it is using.
    if (isStreaming()) return ZelvoUnkownError;

    // Re-apply the measuring range; both results are of no consequence here.
    int range = 0;
    device->getControl(RANGE, &range);
    device->setControl(RANGE, range);

    int result = device->configureSensor();
    if (result != ZelvoSuccess) return result;
    result = sensor->start();
    if (result != ZelvoSuccess) {
        // A start refused half-way may leave the sensor marked as streaming.
        sensor->stop();
        return result;
    }
    result = device->start();
    if (result != ZelvoSuccess) {
        sensor->stop();
        return result;
    }

    const CameraInfo current = sensor->getCameraInfo();
    info.width = current.width;
    info.height = current.height;
    info.bit_width = current.bit_width;
    info.bpp = current.bpp;

    result = setOutputType(type);
    if (result != ZelvoSuccess) {
        device->stop();
        sensor->stop();
        return result;
    }

    stopped.store(false);
    frameStore->beginStream();
    try {
        thread = std::thread(&ZelvoTOFCamera::captureThread, this);
    } catch (const std::system_error&) {
        stopped.store(true);
        frameStore->endStream();
        device->stop();
        sensor->stop();
        return ZelvoSystemError;
    }
    return ZelvoSuccess;
}

int ZelvoTOFCamera::setOutputType(FrameType type) {
    if (!stopped.load()) return ZelvoUnkownError;
    if (!sensor || !device) return ZelvoUnkownError;

    info.type = type;
    CameraInfo streamInfo = info;
    streamInfo.height = info.height * static_cast<uint32_t>(sensor->framesPerRequest);
    device->getFrameLayouts(rawLayout, outputLayout);

    if (type != DEPTH && type != RAW) return ZelvoUnkownError;
    std::unique_ptr<FrameStore> next;
    try {
        next = std::make_unique<FrameStore>(streamInfo, type == DEPTH ? outputLayout : rawLayout);
    } catch (const std::bad_alloc&) {
        return ZelvoSystemError;
    }
    // Frames still held from the previous stream become invalid here.
    frameStore = std::move(next);
    ++storeGeneration;
    return ZelvoSuccess;
}

int ZelvoTOFCamera::stop() {
    stopped.store(true);
    // Requests waiting in other threads return now instead of after the last read.
    if (frameStore) frameStore->endStream();
    // Without a running thread this throws std::system_error (invalid argument).
    thread.join();
    if (device) device->stop();
    return sensor ? sensor->stop() : ZelvoUnkownError;
}

int ZelvoTOFCamera::close() {
    if (!sensor) return ZelvoUnkownError;
    if (!stopped.load()) stop();
    if (device) device->close();
    const int result = sensor->close();
    // A closed camera answers as one never opened: with no components left, no later
    // call can reach a descriptor that close gave back. The frame store stays, so
    // frames still ready or borrowed remain readable and can be released.
    device.reset();
    sensor.reset();
    return result;
}

void ZelvoTOFCamera::wakeRequests() {
    if (frameStore) frameStore->wakeRequests();
}

CameraInfo ZelvoTOFCamera::getCameraInfo() const { return info; }

bool ZelvoTOFCamera::isBorrowed(const ZelvoFrameBuffer* frame) const {
    return frameStore && frameStore->framePool().isBorrowed(frame);
}

}  // namespace Zelvo
