// The media controller device (/dev/media0): entities with their device numbers, and the
// links between their pads.
#pragma once

#include <cstdint>
#include <functional>
#include <linux/v4l2-subdev.h>
#include <set>
#include <vector>

#include "sim/board_profile.h"

namespace Zelvo::sim {

class MediaDevice {
public:
    explicit MediaDevice(const BoardProfile& profile);

    // 0 or a negative errno. streaming: links cannot change.
    int ioctl(unsigned long request, void* argument, bool streaming);

    // The format on a pad of an entity; false for an entity that keeps none (it passes on
    // what enters it).
    using PadFormat = std::function<bool(const EntityProfile&, uint16_t pad,
                                         v4l2_mbus_framefmt& format)>;

    // Enabled links join the capture node to the sensor.
    bool pipelineLinked() const;
    // What stream on checks, as the media core does: every enabled link of the pipeline
    // (the entities joined to the capture node by enabled links) joins pads of the same
    // size and bus code, and the pipeline holds the sensor. 0 or -EPIPE.
    int validatePipeline(const PadFormat& padFormat) const;

private:
    const EntityProfile* entity(uint32_t id) const;
    std::set<uint32_t> pipeline() const;
    bool formatAt(uint32_t entityId, uint16_t pad, const PadFormat& padFormat,
                  v4l2_mbus_framefmt& format, size_t depth = 0) const;
    int enumerateEntity(void* argument) const;
    int enumerateLinks(void* argument) const;
    int setupLink(void* argument, bool streaming);
    bool deviceNumber(const EntityProfile& entity, uint32_t& major, uint32_t& minor) const;

    const BoardProfile& profile_;
    std::vector<LinkProfile> links_;
};

}  // namespace Zelvo::sim
