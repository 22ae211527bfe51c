#include "sim/media_device.h"

#include <cerrno>
#include <cstring>
#include <linux/media.h>

namespace Zelvo::sim {
namespace {

bool isSourcePad(const EntityProfile& entity, uint16_t pad) {
    if (entity.role == EntityRole::Sensor) return true;
    if (entity.role == EntityRole::Capture) return false;
    return pad > 0;
}

}  // namespace

MediaDevice::MediaDevice(const BoardProfile& profile) : profile_(profile), links_(profile.links) {}

const EntityProfile* MediaDevice::entity(uint32_t id) const {
    for (const EntityProfile& candidate : profile_.entities)
        if (candidate.id == id) return &candidate;
    return nullptr;
}

std::set<uint32_t> MediaDevice::pipeline() const {
    std::set<uint32_t> joined;
    std::vector<uint32_t> pending;
    for (const EntityProfile& candidate : profile_.entities)
        if (candidate.role == EntityRole::Capture) pending.push_back(candidate.id);
    while (!pending.empty()) {
        const uint32_t id = pending.back();
        pending.pop_back();
        if (!joined.insert(id).second) continue;
        for (const LinkProfile& link : links_) {
            if (!(link.flags & MEDIA_LNK_FL_ENABLED)) continue;
            if (link.sinkEntity == id) pending.push_back(link.sourceEntity);
            if (link.sourceEntity == id) pending.push_back(link.sinkEntity);
        }
    }
    return joined;
}

bool MediaDevice::pipelineLinked() const {
    for (uint32_t id : pipeline()) {
        const EntityProfile* joined = entity(id);
        if (joined && joined->role == EntityRole::Sensor) return true;
    }
    return false;
}

bool MediaDevice::formatAt(uint32_t entityId, uint16_t pad, const PadFormat& padFormat,
                           v4l2_mbus_framefmt& format, size_t depth) const {
    const EntityProfile* found = entity(entityId);
    if (!found || depth > links_.size()) return false;
    if (padFormat(*found, pad, format)) return true;
    for (const LinkProfile& link : links_)
        if (link.sinkEntity == entityId && (link.flags & MEDIA_LNK_FL_ENABLED))
            return formatAt(link.sourceEntity, link.sourcePad, padFormat, format, depth + 1);
    return false;
}

int MediaDevice::validatePipeline(const PadFormat& padFormat) const {
    if (!pipelineLinked()) return -EPIPE;
    const std::set<uint32_t> joined = pipeline();
    for (const LinkProfile& link : links_) {
        if (!(link.flags & MEDIA_LNK_FL_ENABLED) || !joined.count(link.sinkEntity)) continue;
        v4l2_mbus_framefmt source{}, sink{};
        if (!formatAt(link.sourceEntity, link.sourcePad, padFormat, source) ||
            !formatAt(link.sinkEntity, link.sinkPad, padFormat, sink))
            return -EPIPE;
        if (source.width != sink.width || source.height != sink.height || source.code != sink.code)
            return -EPIPE;
    }
    return 0;
}

bool MediaDevice::deviceNumber(const EntityProfile& entity, uint32_t& major,
                               uint32_t& minor) const {
    if (entity.role == EntityRole::Capture) {
        major = kVideoMajor;
        minor = profile_.videoMinor;
        return true;
    }
    if (entity.subdevIndex >= 0) {
        major = kVideoMajor;
        minor = static_cast<uint32_t>(subdevMinor(entity.subdevIndex));
        return true;
    }
    major = minor = 0;
    return false;
}

int MediaDevice::enumerateEntity(void* argument) const {
    auto* desc = static_cast<media_entity_desc*>(argument);
    const uint32_t wanted = desc->id;
    const EntityProfile* found = nullptr;
    if (wanted & MEDIA_ENT_ID_FLAG_NEXT) {
        uint32_t after = wanted & ~MEDIA_ENT_ID_FLAG_NEXT;
        for (const EntityProfile& entity : profile_.entities)
            if (entity.id > after && (!found || entity.id < found->id)) found = &entity;
    } else {
        for (const EntityProfile& entity : profile_.entities)
            if (entity.id == wanted) found = &entity;
    }
    if (!found) return -EINVAL;
    std::memset(desc, 0, sizeof(*desc));
    desc->id = found->id;
    std::strncpy(desc->name, found->name.c_str(), sizeof(desc->name) - 1);
    desc->type = found->function;
    desc->flags = found->role == EntityRole::Capture ? MEDIA_ENT_FL_DEFAULT : 0;
    desc->pads = found->pads;
    for (const LinkProfile& link : links_)
        if (link.sourceEntity == found->id) ++desc->links;
    deviceNumber(*found, desc->dev.major, desc->dev.minor);
    return 0;
}

int MediaDevice::enumerateLinks(void* argument) const {
    auto* request = static_cast<media_links_enum*>(argument);
    const EntityProfile* entity = nullptr;
    for (const EntityProfile& candidate : profile_.entities)
        if (candidate.id == request->entity) entity = &candidate;
    if (!entity) return -EINVAL;
    if (request->pads) {
        for (uint16_t pad = 0; pad < entity->pads; ++pad) {
            media_pad_desc& desc = request->pads[pad];
            std::memset(&desc, 0, sizeof(desc));
            desc.entity = entity->id;
            desc.index = pad;
            desc.flags = isSourcePad(*entity, pad) ? MEDIA_PAD_FL_SOURCE : MEDIA_PAD_FL_SINK;
        }
    }
    if (request->links) {
        size_t out = 0;
        for (const LinkProfile& link : links_) {
            if (link.sourceEntity != entity->id) continue;
            media_link_desc& desc = request->links[out++];
            std::memset(&desc, 0, sizeof(desc));
            desc.source = {link.sourceEntity, link.sourcePad, MEDIA_PAD_FL_SOURCE, {}};
            desc.sink = {link.sinkEntity, link.sinkPad, MEDIA_PAD_FL_SINK, {}};
            desc.flags = link.flags;
        }
    }
    return 0;
}

int MediaDevice::setupLink(void* argument, bool streaming) {
    auto* desc = static_cast<media_link_desc*>(argument);
    for (LinkProfile& link : links_) {
        if (link.sourceEntity != desc->source.entity || link.sourcePad != desc->source.index ||
            link.sinkEntity != desc->sink.entity || link.sinkPad != desc->sink.index)
            continue;
        // Only ENABLED may change, and on an immutable link not even that: the request
        // must carry the link's other flags as they are.
        if ((link.flags & ~MEDIA_LNK_FL_ENABLED) != (desc->flags & ~MEDIA_LNK_FL_ENABLED))
            return -EINVAL;
        if (link.flags & MEDIA_LNK_FL_IMMUTABLE) return link.flags == desc->flags ? 0 : -EINVAL;
        if (link.flags == desc->flags) return 0;
        if (streaming) return -EBUSY;
        link.flags = desc->flags;
        return 0;
    }
    return -EINVAL;
}

int MediaDevice::ioctl(unsigned long request, void* argument, bool streaming) {
    if (!argument) return -EFAULT;
    switch (request) {
    case MEDIA_IOC_DEVICE_INFO: {
        auto* info = static_cast<media_device_info*>(argument);
        std::memset(info, 0, sizeof(*info));
        std::strncpy(info->driver, profile_.driverName.c_str(), sizeof(info->driver) - 1);
        std::strncpy(info->model, profile_.mediaModel.c_str(), sizeof(info->model) - 1);
        std::strncpy(info->bus_info, ("platform:" + profile_.mediaModel).c_str(),
                     sizeof(info->bus_info) - 1);
        info->media_version = kKernelVersion;
        info->driver_version = info->media_version;
        return 0;
    }
    case MEDIA_IOC_ENUM_ENTITIES:
        return enumerateEntity(argument);
    case MEDIA_IOC_ENUM_LINKS:
        return enumerateLinks(argument);
    case MEDIA_IOC_SETUP_LINK:
        return setupLink(argument, streaming);
    default:
        return -ENOTTY;
    }
}

}  // namespace Zelvo::sim
