// What each simulated board presents: devicetree model, capture node, media graph and
// I2C adapters, as the boards' own kernel drivers present them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Zelvo::sim {

constexpr int kVideoMajor = 81;
constexpr int kMediaMajor = 237;
constexpr int kI2cMajor = 89;
// The kernel version (6.6) the simulated drivers report.
constexpr uint32_t kKernelVersion = (6 << 16) | (6 << 8);

// Role of a media entity for the simulation.
enum class EntityRole { Sensor, Bridge, Capture, Other };

struct EntityProfile {
    uint32_t id;
    std::string name;
    uint32_t function;   // MEDIA_ENT_F_*
    EntityRole role;
    int subdevIndex;     // v4l-subdevN for sensor and bridges with a node, -1 otherwise
    uint16_t pads;
};

struct LinkProfile {
    uint32_t sourceEntity;
    uint16_t sourcePad;
    uint32_t sinkEntity;
    uint16_t sinkPad;
    uint32_t flags;      // MEDIA_LNK_FL_*
};

struct AdapterProfile {
    int bus;
    std::string name;
};

struct BoardProfile {
    std::string key;
    std::string model;         // devicetree model text
    int platform;              // the board code the driver derives from the model

    // Capture node /dev/video<videoIndex>; its media device is /dev/media<mediaIndex>.
    int videoIndex = 0;
    uint32_t videoMinor = 0;
    int mediaIndex = 0;
    std::string captureName;   // sysfs "name" of the node
    std::string driverName;
    std::string cardName;
    std::string platformDevice;  // sysfs path of the capture hardware below /sys
    bool multiPlanar;
    bool packedFormat;         // offers V4L2_PIX_FMT_Y12P and defaults to it
    bool shiftedReorder;       // samples shifted left by 4, row pairs in 960-byte blocks
    uint32_t strideAlignment;  // bytes per line rounded up to this
    bool pageRoundedBuffers;   // buffers are whole pages long, longer than the image
    uint32_t otherNodeCaps;    // V4L2_CAP_* of the driver's other video nodes

    // Media graph; empty entities: the board has no media device.
    std::string mediaModel;
    std::vector<EntityProfile> entities;
    std::vector<LinkProfile> links;

    // I2C.
    std::vector<AdapterProfile> adapters;
    int sensorBus;
    bool procBusI2c;           // adapters listed in /proc/bus/i2c (else sysfs only)
};

const BoardProfile* findBoardProfile(const std::string& key);

// Whether the board's capture path carries the sensor's frames ("hqvga" or "vga"). The
// Orin and Xavier deliver row pairs in 960-byte blocks, the layout of two 240-sample rows,
// which the driver's block copy restores; a VGA frame is no whole number of such blocks.
bool boardCarriesSensor(const BoardProfile& profile, const std::string& sensor);
const std::vector<BoardProfile>& boardProfiles();

// Pipeline `pipeline` (0 or 1) of a board: the profile itself for 0; for 1, a second
// sensor of the same kind on its own pipeline: the next video node, media device and
// sub-device numbers, and the sensor on the next free I2C bus (its own adapter).
const BoardProfile& pipelineProfile(const BoardProfile& first, int pipeline);

// The sensor sub-device's device number on a media board (-1 without one).
int subdevMinor(int subdevIndex);

}  // namespace Zelvo::sim
