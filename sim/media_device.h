// The media controller device (/dev/media0): entities with their device numbers, and the
// links between their pads.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/board_profile.h"

namespace Zelvo::sim {

class MediaDevice {
public:
    explicit MediaDevice(const BoardProfile& profile);

    // 0 or a negative errno. streaming: links cannot change.
    int ioctl(unsigned long request, void* argument, bool streaming);

    // Links the capture needs are enabled.
    bool pipelineLinked() const;

private:
    int enumerateEntity(void* argument) const;
    int enumerateLinks(void* argument) const;
    int setupLink(void* argument, bool streaming);
    bool deviceNumber(const EntityProfile& entity, uint32_t& major, uint32_t& minor) const;

    const BoardProfile& profile_;
    std::vector<LinkProfile> links_;
};

}  // namespace Zelvo::sim
