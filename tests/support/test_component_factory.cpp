#include "tests/support/test_component_factory.h"

namespace Zelvo::testing {

std::unique_ptr<ZelvoTOFSensor> TestComponentFactory::makeSensor(Host& host) {
    if (!sensorsAvailable) return nullptr;
    auto made = std::make_unique<ScriptedSensor>(log, sensorScript);
    sensor = made.get();
    sensorHost = &host;
    return made;
}

std::unique_ptr<ZelvoTOFSensor> TestComponentFactory::createCSISensor(const char* devicePath,
                                                                      Platform platform,
                                                                      Host& host) {
    log->add(std::string("factory.csi(") + devicePath + ")");
    csiPath = devicePath;
    sensorPlatform = platform;
    return makeSensor(host);
}

std::unique_ptr<ZelvoTOFSensor> TestComponentFactory::createUSBSensor(const char* configPath,
                                                                      int index, Host& host) {
    log->add(std::string("factory.usb(") + configPath + "," + std::to_string(index) + ")");
    usbConfigPath = configPath;
    usbIndex = index;
    return makeSensor(host);
}

std::unique_ptr<ZelvoDevice> TestComponentFactory::makeDevice(const char* name,
                                                              Platform platform, Host& host) {
    log->add(name);
    if (!devicesAvailable) return nullptr;
    auto made = std::make_unique<ScriptedDevice>(log, deviceScript, platform);
    device = made.get();
    devicePlatform = platform;
    deviceHost = &host;
    return made;
}

std::unique_ptr<ZelvoDevice> TestComponentFactory::createHQVGADevice(Platform platform,
                                                                     Connection,
                                                                     Host& host) {
    return makeDevice("factory.hqvga", platform, host);
}

std::unique_ptr<ZelvoDevice> TestComponentFactory::createVGADevice(Platform platform,
                                                                   Host& host) {
    return makeDevice("factory.vga", platform, host);
}

}  // namespace Zelvo::testing
