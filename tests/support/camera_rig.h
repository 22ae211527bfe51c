// A camera wired to a fake host and a test factory, with shortcuts to its doubles.
#pragma once

#include <memory>

#include <zelvo/camera.h>
#include "tests/support/fake_host.h"
#include "tests/support/test_component_factory.h"

namespace Zelvo::testing {

struct CameraRig {
    explicit CameraRig(const char* model = "Raspberry Pi 4 Model B Rev 1.4")
        : host(std::make_shared<FakeHost>()),
          factory(std::make_shared<TestComponentFactory>()) {
        host->setModel(std::string(model) + '\0');
        camera = std::make_unique<ZelvoTOFCamera>(host, factory);
    }

    ScriptedSensor& sensor() { return *factory->sensor; }
    ScriptedDevice& device() { return *factory->device; }
    CallLog& log() { return *factory->log; }

    std::shared_ptr<FakeHost> host;
    std::shared_ptr<TestComponentFactory> factory;
    std::unique_ptr<ZelvoTOFCamera> camera;
};

}  // namespace Zelvo::testing
