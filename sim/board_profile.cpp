#include "sim/board_profile.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include <linux/media.h>
#include <linux/videodev2.h>

namespace Zelvo::sim {
namespace {

constexpr uint32_t kFixedLink = MEDIA_LNK_FL_ENABLED | MEDIA_LNK_FL_IMMUTABLE;

std::vector<BoardProfile> buildProfiles() {
    std::vector<BoardProfile> profiles;

    BoardProfile rpi5;
    rpi5.key = "rpi5";
    rpi5.model = "Raspberry Pi 5 Model B Rev 1.0";
    rpi5.platform = 6;
    rpi5.captureName = "rp1-cfe-csi2_ch0";
    rpi5.driverName = "rp1-cfe";
    rpi5.cardName = "rp1-cfe";
    rpi5.platformDevice = "devices/platform/axi/1000120000.pcie/1f00128000.csi";
    rpi5.multiPlanar = false;
    rpi5.packedFormat = true;
    rpi5.shiftedReorder = false;
    rpi5.strideAlignment = 16;
    rpi5.pageRoundedBuffers = true;
    // Its front end's statistics and configuration nodes.
    rpi5.otherNodeCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_META_OUTPUT;
    rpi5.mediaModel = "rp1-cfe";
    rpi5.entities = {
        {1, "csi2", MEDIA_ENT_F_VID_IF_BRIDGE, EntityRole::Bridge, 0, 5},
        {7, "pisp-fe", MEDIA_ENT_F_PROC_VIDEO_ISP, EntityRole::Other, -1, 5},
        {14, "rp1-cfe-csi2_ch0", MEDIA_ENT_F_IO_V4L, EntityRole::Capture, -1, 1},
        {20, "zelvo-korvane 4-000c", MEDIA_ENT_F_CAM_SENSOR, EntityRole::Sensor, 1, 1},
    };
    rpi5.links = {
        {20, 0, 1, 0, kFixedLink},
        {1, 4, 14, 0, 0},
        {1, 1, 7, 0, 0},
    };
    rpi5.adapters = {{1, "Synopsys DesignWare I2C adapter"}, {4, "Synopsys DesignWare I2C adapter"}};
    rpi5.sensorBus = 4;
    rpi5.procBusI2c = false;
    profiles.push_back(rpi5);

    BoardProfile rpi4;
    rpi4.key = "rpi4";
    rpi4.model = "Raspberry Pi 4 Model B Rev 1.5";
    rpi4.platform = 5;
    rpi4.captureName = "unicam-image";
    rpi4.driverName = "unicam";
    rpi4.cardName = "unicam";
    rpi4.platformDevice = "devices/platform/soc/fe801000.csi";
    rpi4.multiPlanar = false;
    rpi4.packedFormat = false;
    rpi4.shiftedReorder = false;
    rpi4.strideAlignment = 256;
    // Exact lengths: a page-rounded 92160-byte image would no longer take the row copy.
    rpi4.pageRoundedBuffers = false;
    rpi4.otherNodeCaps = V4L2_CAP_META_CAPTURE;  // its embedded-data node
    rpi4.mediaModel = "unicam";
    rpi4.entities = {
        {1, "zelvo-korvane 10-000c", MEDIA_ENT_F_CAM_SENSOR, EntityRole::Sensor, 0, 1},
        {3, "unicam-image", MEDIA_ENT_F_IO_V4L, EntityRole::Capture, -1, 1},
    };
    rpi4.links = {{1, 0, 3, 0, kFixedLink}};
    rpi4.adapters = {{1, "bcm2835 (i2c@7e804000)"}, {10, "i2c-22-mux (chan_id 1)"}};
    rpi4.sensorBus = 10;
    rpi4.procBusI2c = true;
    profiles.push_back(rpi4);

    BoardProfile rock;
    rock.key = "rock5b";
    rock.model = "Radxa ROCK 5B";
    rock.platform = 7;
    rock.captureName = "stream_cif_mipi_id0";
    rock.driverName = "rkcif";
    rock.cardName = "rkcif";
    rock.platformDevice = "devices/platform/rkcif-mipi-lvds2";
    rock.multiPlanar = true;
    rock.packedFormat = false;
    rock.shiftedReorder = false;
    rock.strideAlignment = 16;
    rock.pageRoundedBuffers = true;
    rock.otherNodeCaps = 0;  // its other stream nodes capture as this one does
    rock.mediaModel = "rkcif-mipi-lvds2";
    rock.entities = {
        {1, "rockchip-csi2-dphy1", MEDIA_ENT_F_VID_IF_BRIDGE, EntityRole::Bridge, 0, 2},
        {4, "rockchip-mipi-csi2", MEDIA_ENT_F_VID_IF_BRIDGE, EntityRole::Other, -1, 2},
        {7, "stream_cif_mipi_id0", MEDIA_ENT_F_IO_V4L, EntityRole::Capture, -1, 1},
        {12, "m00_b_korvane 3-000c", MEDIA_ENT_F_CAM_SENSOR, EntityRole::Sensor, 1, 1},
    };
    rock.links = {
        {12, 0, 1, 0, kFixedLink},
        {1, 1, 4, 0, kFixedLink},
        {4, 1, 7, 0, kFixedLink},
    };
    rock.adapters = {{0, "rk3x-i2c"}, {3, "rk3x-i2c"}};
    rock.sensorBus = 3;
    rock.procBusI2c = false;
    profiles.push_back(rock);

    BoardProfile nano;
    nano.key = "jetson-nano";
    nano.model = "NVIDIA Jetson Nano Developer Kit";
    nano.platform = 2;
    nano.captureName = "vi-output, zelvo 7-000c";
    nano.driverName = "tegra-video";
    nano.cardName = "vi-output, zelvo 7-000c";
    nano.platformDevice = "devices/platform/host1x/vi";
    nano.multiPlanar = false;
    nano.packedFormat = false;
    nano.shiftedReorder = false;
    nano.strideAlignment = 32;
    nano.pageRoundedBuffers = false;
    nano.otherNodeCaps = 0;
    nano.adapters = {{1, "Tegra I2C adapter"}, {7, "i2c-6-mux (chan_id 1)"}};
    nano.sensorBus = 7;
    nano.procBusI2c = false;
    profiles.push_back(nano);

    BoardProfile orin = nano;
    orin.key = "jetson-orin";
    orin.model = "NVIDIA Jetson AGX Orin Developer Kit";
    orin.platform = 3;
    orin.captureName = "vi-output, zelvo 9-000c";
    orin.cardName = orin.captureName;
    orin.shiftedReorder = true;
    orin.pageRoundedBuffers = true;
    orin.adapters = {{1, "3160000.i2c"}, {9, "i2c-2-mux (chan_id 0)"}};
    orin.sensorBus = 9;
    profiles.push_back(orin);

    BoardProfile xavier = orin;
    xavier.key = "jetson-xavier";
    xavier.model = "NVIDIA Jetson Xavier NX Developer Kit";
    xavier.captureName = "vi-output, zelvo 30-000c";
    xavier.cardName = xavier.captureName;
    xavier.adapters = {{1, "3160000.i2c"}, {30, "i2c-2-mux (chan_id 0)"}};
    xavier.sensorBus = 30;
    xavier.pageRoundedBuffers = false;
    profiles.push_back(xavier);

    BoardProfile other;
    other.key = "other";
    other.model = "Generic ARMv7 development board";
    other.platform = 0;
    other.captureName = "csi-capture";
    other.driverName = "csi-capture";
    other.cardName = "csi-capture";
    other.platformDevice = "devices/platform/soc/capture";
    other.multiPlanar = false;
    other.packedFormat = false;
    other.shiftedReorder = false;
    other.strideAlignment = 16;
    other.pageRoundedBuffers = false;
    other.otherNodeCaps = 0;
    other.adapters = {{1, "i2c-gpio"}};
    other.sensorBus = 1;
    other.procBusI2c = false;
    profiles.push_back(other);

    return profiles;
}

}  // namespace

const std::vector<BoardProfile>& boardProfiles() {
    static const std::vector<BoardProfile> profiles = buildProfiles();
    return profiles;
}

const BoardProfile* findBoardProfile(const std::string& key) {
    for (const BoardProfile& profile : boardProfiles())
        if (profile.key == key) return &profile;
    return nullptr;
}

bool boardCarriesSensor(const BoardProfile& profile, const std::string& sensor) {
    return sensor != "vga" || !profile.shiftedReorder;
}

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

BoardProfile secondPipeline(const BoardProfile& first) {
    BoardProfile second = first;
    int bus = first.sensorBus + 1;
    while (std::any_of(first.adapters.begin(), first.adapters.end(),
                       [bus](const AdapterProfile& adapter) { return adapter.bus == bus; }))
        ++bus;
    const std::string oldAddress = std::to_string(first.sensorBus) + "-000c";
    const std::string newAddress = std::to_string(bus) + "-000c";
    replaceAll(second.captureName, oldAddress, newAddress);
    replaceAll(second.cardName, oldAddress, newAddress);
    int subdevs = 0;
    for (const EntityProfile& entity : first.entities)
        if (entity.subdevIndex >= 0) ++subdevs;
    for (EntityProfile& entity : second.entities) {
        replaceAll(entity.name, oldAddress, newAddress);
        if (entity.subdevIndex >= 0) entity.subdevIndex += subdevs;
    }
    second.adapters.clear();
    for (const AdapterProfile& adapter : first.adapters)
        if (adapter.bus == first.sensorBus) second.adapters.push_back({bus, adapter.name});
    second.sensorBus = bus;
    second.videoIndex = first.videoIndex + 1;
    second.videoMinor = 64;  // clear of the sub-devices' minors (1 + their index)
    second.mediaIndex = first.mediaIndex + 1;
    return second;
}

}  // namespace

const BoardProfile& pipelineProfile(const BoardProfile& first, int pipeline) {
    if (pipeline == 0) return first;
    // Built once per board kind and kept: pipelines hold references to their profile.
    static std::mutex mutex;
    static std::deque<std::pair<const BoardProfile*, BoardProfile>>* built =
        new std::deque<std::pair<const BoardProfile*, BoardProfile>>;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& entry : *built)
        if (entry.first == &first) return entry.second;
    built->emplace_back(&first, secondPipeline(first));
    return built->back().second;
}

int subdevMinor(int subdevIndex) { return subdevIndex < 0 ? -1 : 1 + subdevIndex; }

}  // namespace Zelvo::sim
