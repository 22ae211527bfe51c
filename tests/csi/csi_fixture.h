// A CSI sensor on a scripted board of a chosen platform.
#pragma once

#include <memory>

#include "sensor/csi/csi_sensor.h"
#include "tests/csi/fake_csi_host.h"

namespace Zelvo::testing {

struct CsiBench {
    explicit CsiBench(int platform) : platform(platform) { presentBoard(host, platform); }

    ZelvoTOFCSISensor& make() {
        sensor = std::make_unique<ZelvoTOFCSISensor>("/dev/video0", platform, host);
        return *sensor;
    }
    int open() {
        if (!sensor) make();
        return sensor->open(info);
    }

    int platform;
    FakeCsiHost host;
    std::unique_ptr<ZelvoTOFCSISensor> sensor;
    CameraInfo info{};
};

}  // namespace Zelvo::testing
