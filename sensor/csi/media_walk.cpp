#include "sensor/csi/media_walk.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/media.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

#include "core/retried_request.h"
#include <zelvo/types.h>

namespace Zelvo {
namespace {

constexpr uint32_t kPi5BridgeSourcePad = 4;
constexpr uint32_t kPi5ChannelSinkPad = 0;

enum class EntityRole { None, Bridge, Sensor };

EntityRole roleOf(int platform, const char* name) {
    switch (platform) {
    case PlatformRadxaRock:
        if (strcmp(name, kRockBridgeEntity) == 0) return EntityRole::Bridge;
        return strstr(name, kRockSensorEntity) ? EntityRole::Sensor : EntityRole::None;
    case PlatformRaspberryPi5:
        if (strcmp(name, kPi5BridgeEntity) == 0) return EntityRole::Bridge;
        return strstr(name, kPiSensorEntity) ? EntityRole::Sensor : EntityRole::None;
    case PlatformRaspberryPi:
        return strstr(name, kPiSensorEntity) ? EntityRole::Sensor : EntityRole::None;
    default:
        return EntityRole::None;
    }
}

// Opens the media device listed last beside the video node; -1 when none opens.
int openMediaDevice(Host& host, int videoFd, MediaPipeline& pipeline) {
    struct stat status {};
    if (host.fstat(videoFd, &status) != 0 || !S_ISCHR(status.st_mode)) return -1;
    char directory[300];
    snprintf(directory, sizeof directory, "/sys/dev/char/%u:%u/device", major(status.st_rdev),
             minor(status.st_rdev));
    std::vector<std::string> entries;
    if (host.listDirectory(directory, entries) != 0 || entries.empty()) return -1;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->compare(0, 5, "media") != 0) continue;
        const int length = snprintf(pipeline.mediaPath, sizeof pipeline.mediaPath, "/dev/%s",
                                    entry->c_str());
        if (length < 0 || static_cast<size_t>(length) >= sizeof pipeline.mediaPath) return -1;
        const int mediaFd = host.open(pipeline.mediaPath, O_RDWR);
        if (mediaFd >= 0) return mediaFd;
    }
    return -1;
}

// Id of the entity with exactly this name, one request per entity; -1 after a failed
// request (the end of the graph included), explained on standard error.
uint32_t findEntityByName(Host& host, int mediaFd, const char* name) {
    media_entity_desc entity{};
    entity.id = MEDIA_ENT_ID_FLAG_NEXT;
    while (true) {
        if (host.ioctl(mediaFd, MEDIA_IOC_ENUM_ENTITIES, &entity) < 0) {
            perror("Query entity failed");
            return static_cast<uint32_t>(-1);
        }
        entity.name[sizeof entity.name - 1] = '\0';
        if (strcmp(entity.name, name) == 0) return entity.id;
        entity.id |= MEDIA_ENT_ID_FLAG_NEXT;
    }
}

int enablePi5ReceiverLink(Host& host, int mediaFd) {
    media_link_desc link;
    memset(&link, 0, sizeof link);
    link.source.entity = findEntityByName(host, mediaFd, kPi5BridgeEntity);
    link.source.index = kPi5BridgeSourcePad;
    link.source.flags = MEDIA_PAD_FL_SOURCE;
    link.sink.entity = findEntityByName(host, mediaFd, kPi5ChannelEntity);
    link.sink.index = kPi5ChannelSinkPad;
    link.sink.flags = MEDIA_PAD_FL_SINK;
    link.flags = MEDIA_LNK_FL_ENABLED;
    return host.ioctl(mediaFd, MEDIA_IOC_SETUP_LINK, &link);
}

// Opens "/dev/v4l-subdevN" of an entity through its "/sys/dev/char/M:m" link; -1 on failure.
int openEntitySubdev(Host& host, const media_entity_desc& entity) {
    char path[256];
    snprintf(path, sizeof path, "/sys/dev/char/%u:%u", entity.dev.major, entity.dev.minor);
    char target[256];
    const ssize_t length = host.readlink(path, target, sizeof target - 1);
    if (length < 0) return -1;
    target[length] = '\0';
    const char* component = strrchr(target, '/');
    if (!component || strncmp(component, "/v4l-subdev", 11) != 0) return -1;
    char node[sizeof target + 4];
    snprintf(node, sizeof node, "/dev%s", component);
    return host.open(node, O_RDWR);
}

// The bus designation is the text after the first space of the sensor's entity name,
// up to the '-' before the chip address ("... 10-000c" gives "10"), at most 7 characters.
bool readBusDesignation(const char* entityName, char (&busName)[10]) {
    const char* space = strchr(entityName, ' ');
    if (!space) return false;
    strncpy(busName, space + 1, 8);
    busName[7] = '\0';
    if (char* dash = strchr(busName, '-')) *dash = '\0';
    return true;
}

int walkEntities(Host& host, int platform, int mediaFd, MediaPipeline& pipeline) {
    media_entity_desc entity{};
    entity.id = MEDIA_ENT_ID_FLAG_NEXT;
    while (retryIoctl(host, mediaFd, MEDIA_IOC_ENUM_ENTITIES, &entity) >= 0) {
        entity.name[sizeof entity.name - 1] = '\0';
        const EntityRole role = roleOf(platform, entity.name);
        if (role == EntityRole::Bridge) {
            if (pipeline.subdevCount >= MediaPipeline::kMaxSubdevs) return -1;
            const int fd = openEntitySubdev(host, entity);
            if (fd < 0) return -1;
            pipeline.subdevFds[pipeline.subdevCount++] = fd;
        } else if (role == EntityRole::Sensor) {
            if (!readBusDesignation(entity.name, pipeline.busName)) return -1;
            const int fd = openEntitySubdev(host, entity);
            if (fd < 0) return -1;
            if (pipeline.subdevCount >= MediaPipeline::kMaxSubdevs) {
                host.close(fd);  // no room to keep it: do not leak it
                return -1;
            }
            pipeline.sensorSubdevIndex = pipeline.subdevCount;
            pipeline.subdevFds[pipeline.subdevCount++] = fd;
            return 0;  // the first sensor ends the walk
        }
        entity.id |= MEDIA_ENT_ID_FLAG_NEXT;
    }
    return -1;  // end of the graph (EINVAL) or a failed request: no sensor
}

}  // namespace

int walkMediaGraph(Host& host, int platform, int videoFd, MediaPipeline& pipeline) {
    const int mediaFd = openMediaDevice(host, videoFd, pipeline);
    if (mediaFd < 0) return -1;
    if (platform == PlatformRaspberryPi5 && enablePi5ReceiverLink(host, mediaFd) < 0) {
        host.close(mediaFd);
        return -1;
    }
    const int result = walkEntities(host, platform, mediaFd, pipeline);
    host.close(mediaFd);
    return result;
}

}  // namespace Zelvo
