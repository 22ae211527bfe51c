// The media-controller walk of the Raspberry Pi and Radxa ROCK boards: finds the media
// device beside the video node, enables the receiver link on the Raspberry Pi 5, opens
// the bridge and sensor sub-devices and reads the sensor's I2C bus from its entity name.
#pragma once

#include "core/host.h"
#include "sensor/csi/media_pipeline.h"

namespace Zelvo {

// Entity names given by the boards' kernel drivers.
constexpr const char* kPiSensorEntity = "zelvo-korvane";        // substring
constexpr const char* kRockSensorEntity = "korvane";            // substring
constexpr const char* kPi5BridgeEntity = "csi2";                // exact
constexpr const char* kPi5ChannelEntity = "rp1-cfe-csi2_ch0";   // exact
constexpr const char* kRockBridgeEntity = "rockchip-csi2-dphy1";  // exact

// Fills what it finds into the pipeline and leaves the rest as it was; the media device
// is closed again before it returns. Returns 0 when the sensor's sub-device was found,
// -1 otherwise (the caller may ignore it: later steps fail on their own).
int walkMediaGraph(Host& host, int platform, int videoFd, MediaPipeline& pipeline);

}  // namespace Zelvo
