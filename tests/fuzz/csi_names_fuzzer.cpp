// The names the CSI transport reads to find its sensor, as its open walks them: the board
// from the devicetree model, the I2C bus designation from the media entity names (with the
// media device found in sysfs) or from the Jetson video node's sysfs name, the bus from
// that designation, and the chip address text.
#include <cstdlib>
#include <cstring>

#include "core/platform_detection.h"
#include "sensor/csi/chip_address.h"
#include "sensor/csi/i2c_bus_resolution.h"
#include "sensor/csi/jetson_bus_designation.h"
#include "sensor/csi/media_walk.h"
#include "tests/fuzz/fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Zelvo::fuzz::FuzzHost host(data, size);
    const int platform = Zelvo::detectPlatform(host);
    Zelvo::MediaPipeline pipeline;
    const int videoFd = host.open("/dev/video0", 0);
    if (Zelvo::isSubdevPlatform(platform)) {
        Zelvo::walkMediaGraph(host, platform, videoFd, pipeline);
    } else if (Zelvo::isJetsonPlatform(platform)) {
        Zelvo::readJetsonBusDesignation(host, videoFd, pipeline.busName);
    }
    // The designation is a terminated text inside its array.
    if (strnlen(pipeline.busName, sizeof pipeline.busName) == sizeof pipeline.busName) std::abort();
    if (pipeline.subdevCount > Zelvo::MediaPipeline::kMaxSubdevs) std::abort();
    Zelvo::resolveI2cBus(host, pipeline.busName);

    const std::string chip = host.parameter("chip");
    const int address = Zelvo::parseChipAddress(chip.c_str());
    if (address >= 0 && (address < Zelvo::kFirstChipAddress || address > Zelvo::kLastChipAddress))
        std::abort();

    // Nothing stays open but what the pipeline keeps.
    for (int i = 0; i < pipeline.subdevCount; ++i) host.close(pipeline.subdevFds[i]);
    if (videoFd >= 0) host.close(videoFd);
    if (!host.openFds().empty()) std::abort();
    return 0;
}
