// The factory that builds this library's own transports and devices.
#include "core/component_factory.h"

#include "device/hqvga_device.h"
#include "device/vga_device.h"
#include "sensor/csi/csi_sensor.h"
#include "sensor/usb/usb_sensor.h"

namespace Zelvo {
namespace {

class DefaultComponentFactory final : public ComponentFactory {
public:
    std::unique_ptr<ZelvoTOFSensor> createCSISensor(const char* devicePath, Platform platform,
                                                    Host& host) override {
        return std::make_unique<ZelvoTOFCSISensor>(devicePath, platform, host);
    }
    std::unique_ptr<ZelvoTOFSensor> createUSBSensor(const char* configPath, int index,
                                                    Host& host) override {
        return std::make_unique<ZelvoTOFUSBSensor>(configPath, index, host);
    }
    std::unique_ptr<ZelvoDevice> createHQVGADevice(Platform platform, Connection transport,
                                                   Host&) override {
        return std::make_unique<ZelvoDeviceHQVGA>(platform, transport);
    }
    std::unique_ptr<ZelvoDevice> createVGADevice(Platform platform, Host& host) override {
        return std::make_unique<ZelvoDeviceVGA>(platform, host);
    }
};

}  // namespace

std::shared_ptr<ComponentFactory> defaultComponentFactory() {
    static const std::shared_ptr<ComponentFactory> factory =
        std::make_shared<DefaultComponentFactory>();
    return factory;
}

}  // namespace Zelvo
