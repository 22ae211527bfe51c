// Builds the camera's sensor transports and depth devices. The camera uses the
// default factory; tests hand it one that builds doubles.
#pragma once

#include <memory>

#include "core/device.h"
#include "core/host.h"
#include "core/sensor.h"
#include <zelvo/types.h>

namespace Zelvo {

class ComponentFactory {
public:
    virtual ~ComponentFactory() = default;
    // Each returns null when that component is not available in this build.
    virtual std::unique_ptr<ZelvoTOFSensor> createCSISensor(const char* devicePath,
                                                            Platform platform, Host& host) = 0;
    virtual std::unique_ptr<ZelvoTOFSensor> createUSBSensor(const char* configPath, int index,
                                                            Host& host) = 0;
    // transport: how the sensor's frames arrive (the sample packing depends on it).
    virtual std::unique_ptr<ZelvoDevice> createHQVGADevice(Platform platform,
                                                           Connection transport,
                                                           Host& host) = 0;
    virtual std::unique_ptr<ZelvoDevice> createVGADevice(Platform platform, Host& host) = 0;
};

// The concrete transports and devices of this library.
std::shared_ptr<ComponentFactory> defaultComponentFactory();

}  // namespace Zelvo
