// A component factory that builds scripted sensors and devices sharing one call log,
// remembers what the camera asked for, and can refuse any component.
#pragma once

#include <memory>
#include <string>

#include "core/component_factory.h"
#include "tests/support/call_log.h"
#include "tests/support/scripted_device.h"
#include "tests/support/scripted_sensor.h"

namespace Zelvo::testing {

class TestComponentFactory : public ComponentFactory {
public:
    TestComponentFactory() : log(std::make_shared<CallLog>()) {}

    std::unique_ptr<ZelvoTOFSensor> createCSISensor(const char* devicePath, Platform platform,
                                                    Host& host) override;
    std::unique_ptr<ZelvoTOFSensor> createUSBSensor(const char* configPath, int index,
                                                    Host& host) override;
    std::unique_ptr<ZelvoDevice> createHQVGADevice(Platform platform, Connection transport,
                                                   Host& host) override;
    std::unique_ptr<ZelvoDevice> createVGADevice(Platform platform, Host& host) override;

    // Scripts given to the next components built.
    SensorScript sensorScript;
    DeviceScript deviceScript;
    bool sensorsAvailable = true;
    bool devicesAvailable = true;

    // The last components built (owned by the camera) and what they were built with.
    ScriptedSensor* sensor = nullptr;
    ScriptedDevice* device = nullptr;
    std::string csiPath;
    std::string usbConfigPath;
    int usbIndex = -1;
    int sensorPlatform = -1;
    int devicePlatform = -1;
    Host* sensorHost = nullptr;
    Host* deviceHost = nullptr;

    std::shared_ptr<CallLog> log;

private:
    std::unique_ptr<ZelvoTOFSensor> makeSensor(Host& host);
    std::unique_ptr<ZelvoDevice> makeDevice(const char* name, Platform platform, Host& host);
};

}  // namespace Zelvo::testing
