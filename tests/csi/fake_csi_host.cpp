#include "tests/csi/fake_csi_host.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/media.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <zelvo/types.h>

namespace Zelvo::testing {
namespace {

constexpr int64_t kMapStride = 0x100000;  // offset of buffer i is i * kMapStride

bool multiPlanar(const v4l2_buffer* buffer) {
    return buffer->type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
}

}  // namespace

FakeCsiHost::FakeCsiHost()
    : capabilities(V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING), i2cFunctions(I2C_FUNC_I2C) {}

void FakeCsiHost::addNode(const std::string& path, uint32_t major, uint32_t minor) {
    nodes[path] = Node{major, minor};
}

void FakeCsiHost::addText(const std::string& path, const std::string& content) {
    texts[path] = content;
}

void FakeCsiHost::addDirectory(const std::string& path, std::vector<std::string> entries) {
    directories[path] = std::move(entries);
}

void FakeCsiHost::addLink(const std::string& path, const std::string& target) {
    links[path] = target;
}

void FakeCsiHost::addSubdevEntity(uint32_t id, const std::string& name, int subdevNumber) {
    const uint32_t minor = 100 + subdevNumber;
    entities.push_back({id, name, 81, minor});
    const std::string node = "/dev/v4l-subdev" + std::to_string(subdevNumber);
    addNode(node, 81, minor);
    addLink("/sys/dev/char/81:" + std::to_string(minor),
            "../../devices/platform/camera/video4linux/v4l-subdev" + std::to_string(subdevNumber));
}

void FakeCsiHost::failRequest(unsigned long request, int error, int times) {
    for (int i = 0; i < times; ++i) failures[request].push_back(error);
}

std::string FakeCsiHost::pathOf(int fd) const {
    const auto found = fds.find(fd);
    return found == fds.end() ? std::string() : found->second;
}

int FakeCsiHost::fdOf(const std::string& path) const {
    int result = -1;
    for (const auto& [fd, opened] : fds) {
        if (opened == path) result = fd;
    }
    return result;
}

std::set<int> FakeCsiHost::openFds() const {
    std::set<int> result;
    for (const auto& entry : fds) result.insert(entry.first);
    return result;
}

int FakeCsiHost::count(unsigned long request) const {
    int n = 0;
    for (const LoggedRequest& logged : requests) n += logged.request == request;
    return n;
}

int FakeCsiHost::count(const std::string& path, unsigned long request) const {
    int n = 0;
    for (const LoggedRequest& logged : requests) {
        n += logged.request == request && logged.path == path;
    }
    return n;
}

std::vector<unsigned long> FakeCsiHost::requestsOn(const std::string& path) const {
    std::vector<unsigned long> result;
    for (const LoggedRequest& logged : requests) {
        if (logged.path == path) result.push_back(logged.request);
    }
    return result;
}

int FakeCsiHost::open(const char* path, int, mode_t) {
    const auto error = openErrors.find(path);
    if (error != openErrors.end()) {
        errno = error->second;
        return -1;
    }
    if (!nodes.count(path)) {
        errno = ENOENT;
        return -1;
    }
    openedPaths.push_back(path);
    const int fd = nextFd++;
    fds[fd] = path;
    return fd;
}

int FakeCsiHost::close(int fd) {
    if (!fds.erase(fd)) {
        errno = EBADF;
        return -1;
    }
    closedFds.push_back(fd);
    return 0;
}

ssize_t FakeCsiHost::read(int, void*, size_t) {
    errno = EINVAL;
    return -1;
}

ssize_t FakeCsiHost::write(int, const void*, size_t) {
    errno = EINVAL;
    return -1;
}

int FakeCsiHost::ftruncate(int, int64_t) {
    errno = EINVAL;
    return -1;
}

int FakeCsiHost::unlink(const char*) {
    errno = EACCES;
    return -1;
}

int FakeCsiHost::rename(const char*, const char*) {
    errno = EACCES;
    return -1;
}

int FakeCsiHost::poll(struct pollfd* polled, unsigned long count, int timeoutMs) {
    ++polls;
    int ready = 0;
    for (unsigned long i = 0; i < count; ++i) {
        const auto fd = fds.find(polled[i].fd);
        if (fd == fds.end()) {
            polled[i].revents = POLLNVAL;
        } else if (fd->second != "/dev/video0") {
            polled[i].revents = polled[i].events & (POLLIN | POLLOUT);
        } else if (frames.empty() && stalledWhenEmpty) {
            polled[i].revents = 0;
        } else {
            polled[i].revents = static_cast<short>(
                videoPollEvents & (polled[i].events | POLLERR | POLLHUP));
        }
        ready += polled[i].revents != 0;
    }
    if (ready == 0 && timeoutMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return ready;
}

void* FakeCsiHost::dlopen(const char*, int) { return nullptr; }
void* FakeCsiHost::dlsym(void*, const char*) { return nullptr; }
int FakeCsiHost::dlclose(void*) {
    errno = EINVAL;
    return -1;
}
const char* FakeCsiHost::dlerror() { return "no shared libraries on this host"; }

int FakeCsiHost::ioctl(int fd, unsigned long request, void* argument) {
    if (!fds.count(fd)) {
        errno = EBADF;
        return -1;
    }
    requests.push_back({fds[fd], request});
    auto failure = failures.find(request);
    if (failure != failures.end() && !failure->second.empty()) {
        errno = failure->second.front();
        failure->second.pop_front();
        return -1;
    }
    const auto handler = handlers.find(request);
    if (handler != handlers.end()) return handler->second(fd, argument);
    return emulate(fd, request, argument);
}

int FakeCsiHost::emulate(int fd, unsigned long request, void* argument) {
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* capability = static_cast<v4l2_capability*>(argument);
        memset(capability, 0, sizeof *capability);
        capability->capabilities = capabilities | (deviceCaps ? V4L2_CAP_DEVICE_CAPS : 0);
        capability->device_caps = deviceCaps;
        return 0;
    }
    case VIDIOC_S_INPUT:
    case VIDIOC_STREAMON:
        streaming = request == VIDIOC_STREAMON ? true : streaming;
        return 0;
    case VIDIOC_STREAMOFF:
        streaming = false;
        return 0;
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        auto* format = static_cast<v4l2_format*>(argument);
        if (request == VIDIOC_S_FMT) {
            const auto* bytes = static_cast<const uint8_t*>(argument);
            lastSetFormats.emplace_back(bytes, bytes + sizeof *format);
            if (format->type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
                width = format->fmt.pix_mp.width;
                height = format->fmt.pix_mp.height;
                lastPixelFormat = format->fmt.pix_mp.pixelformat;
            } else {
                width = format->fmt.pix.width;
                height = format->fmt.pix.height;
                lastPixelFormat = format->fmt.pix.pixelformat;
            }
        }
        if (format->type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
            v4l2_plane_pix_format& plane = format->fmt.pix_mp.plane_fmt[0];
            if (reportedStride) plane.bytesperline = reportedStride;
            if (reportedImageBytes) plane.sizeimage = reportedImageBytes;
        } else {
            if (reportedStride) format->fmt.pix.bytesperline = reportedStride;
            if (reportedImageBytes) format->fmt.pix.sizeimage = reportedImageBytes;
        }
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto* format = static_cast<v4l2_format*>(argument);
        format->fmt.pix.width = width;
        format->fmt.pix.height = height;
        return 0;
    }
    case VIDIOC_SUBDEV_S_FMT: {
        auto* format = static_cast<v4l2_subdev_format*>(argument);
        subdevWidth = format->format.width;
        subdevHeight = format->format.height;
        return 0;
    }
    case VIDIOC_SUBDEV_G_FMT: {
        // TRY formats belong to each open file and start from the driver's defaults.
        auto* format = static_cast<v4l2_subdev_format*>(argument);
        const bool active = format->which == V4L2_SUBDEV_FORMAT_ACTIVE;
        format->format.width = active ? subdevWidth : 240;
        format->format.height = active ? subdevHeight : 180;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto* buffers = static_cast<v4l2_requestbuffers*>(argument);
        requestedBuffers = buffers->count < grantedBuffers ? buffers->count : grantedBuffers;
        buffers->count = requestedBuffers;
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        if (buffer->index >= requestedBuffers) {
            errno = EINVAL;
            return -1;
        }
        if (multiPlanar(buffer)) {
            buffer->m.planes[0].length = bufferLength;
            buffer->m.planes[0].m.mem_offset = static_cast<uint32_t>(buffer->index * kMapStride);
            buffer->length = 1;
        } else {
            buffer->length = bufferLength;
            buffer->m.offset = static_cast<uint32_t>(buffer->index * kMapStride);
        }
        return 0;
    }
    case VIDIOC_QBUF:
        return 0;
    case VIDIOC_DQBUF:
        return dequeue(argument);
    case VIDIOC_S_CTRL: {
        auto* control = static_cast<v4l2_control*>(argument);
        controls[{fd, control->id}] = control->value;
        return 0;
    }
    case VIDIOC_G_CTRL: {
        auto* control = static_cast<v4l2_control*>(argument);
        control->value = controls[{fd, control->id}];
        return 0;
    }
    case MEDIA_IOC_ENUM_ENTITIES: {
        auto* entity = static_cast<media_entity_desc*>(argument);
        const uint32_t after = entity->id & ~MEDIA_ENT_ID_FLAG_NEXT;
        for (const MediaEntity& candidate : entities) {
            if (candidate.id <= after) continue;
            memset(entity, 0, sizeof *entity);
            entity->id = candidate.id;
            strncpy(entity->name, candidate.name.c_str(), sizeof entity->name - 1);
            entity->dev.major = candidate.major;
            entity->dev.minor = candidate.minor;
            return 0;
        }
        errno = EINVAL;
        return -1;
    }
    case MEDIA_IOC_SETUP_LINK: {
        auto* link = static_cast<media_link_desc*>(argument);
        enabledLinks.emplace_back(link->source.entity, link->sink.entity);
        return 0;
    }
    case I2C_FUNCS:
        *static_cast<unsigned long*>(argument) = i2cFunctions;
        return 0;
    case I2C_RDWR: {
        auto* transfer = static_cast<i2c_rdwr_ioctl_data*>(argument);
        for (uint32_t i = 0; i < transfer->nmsgs; ++i) {
            const i2c_msg& message = transfer->msgs[i];
            I2cMessageRecord record{message.addr, message.flags, {}};
            if (message.flags & I2C_M_RD) {
                for (uint16_t b = 0; b < message.len; ++b) message.buf[b] = static_cast<uint8_t>(b * 7);
                record.bytes.resize(message.len);
            } else {
                record.bytes.assign(message.buf, message.buf + message.len);
            }
            i2cMessages.push_back(record);
        }
        return static_cast<int>(transfer->nmsgs);
    }
    default:
        return 0;
    }
}

int FakeCsiHost::dequeue(void* argument) {
    auto* buffer = static_cast<v4l2_buffer*>(argument);
    if (frames.empty()) {
        errno = EIO;
        return -1;
    }
    ScriptedFrame frame = std::move(frames.front());
    frames.pop_front();
    auto mapping = mappings.find(frame.index);
    if (mapping != mappings.end()) {
        const size_t bytes = std::min(frame.bytes.size(), mapping->second.size());
        memcpy(mapping->second.data(), frame.bytes.data(), bytes);
    }
    buffer->index = frame.index;
    buffer->timestamp = frame.timestamp;
    buffer->flags = frame.flags;
    const uint32_t length = frame.reportedLength ? frame.reportedLength : bufferLength;
    if (multiPlanar(buffer)) {
        buffer->length = 1;
        buffer->m.planes[0].length = length;
        buffer->m.planes[0].bytesused = frame.bytesUsed;
    } else {
        buffer->length = length;
        buffer->bytesused = frame.bytesUsed;
    }
    return 0;
}

void* FakeCsiHost::mmap(void*, size_t length, int, int, int fd, int64_t offset) {
    if (!fds.count(fd) || failMmap) {
        errno = fds.count(fd) ? ENOMEM : EBADF;
        return MAP_FAILED;
    }
    std::vector<uint8_t>& memory = mappings[static_cast<uint32_t>(offset / kMapStride)];
    memory.assign(length, 0);
    ++mappedNow;
    return memory.data();
}

int FakeCsiHost::munmap(void* address, size_t) {
    if (failUnmaps > 0) {
        --failUnmaps;
        errno = EINVAL;
        return -1;
    }
    for (auto it = mappings.begin(); it != mappings.end(); ++it) {
        if (it->second.data() == address) {
            mappings.erase(it);
            --mappedNow;
            ++unmapped;
            return 0;
        }
    }
    errno = EINVAL;
    return -1;
}

int FakeCsiHost::fstat(int fd, struct stat* status) {
    const auto opened = fds.find(fd);
    if (opened == fds.end()) {
        errno = EBADF;
        return -1;
    }
    memset(status, 0, sizeof *status);
    const Node& node = nodes[opened->second];
    status->st_mode = S_IFCHR | 0660;
    status->st_rdev = makedev(node.major, node.minor);
    return 0;
}

ssize_t FakeCsiHost::readlink(const char* path, char* buffer, size_t size) {
    const auto link = links.find(path);
    if (link == links.end()) {
        errno = ENOENT;
        return -1;
    }
    const size_t length = std::min(size, link->second.size());
    memcpy(buffer, link->second.data(), length);
    return static_cast<ssize_t>(length);
}

int FakeCsiHost::listDirectory(const char* path, std::vector<std::string>& entries) {
    const auto directory = directories.find(path);
    if (directory == directories.end()) {
        errno = ENOENT;
        return -1;
    }
    entries = directory->second;
    return 0;
}

FILE* FakeCsiHost::openText(const char* path, const char*) {
    textsOpened.push_back(path);
    const auto text = texts.find(path);
    if (text == texts.end()) {
        errno = ENOENT;
        return nullptr;
    }
    FILE* file = tmpfile();
    if (!file) return nullptr;
    fputs(text->second.c_str(), file);
    rewind(file);
    return file;
}

void addI2cBus(FakeCsiHost& host, int bus) {
    host.addNode("/dev/i2c-" + std::to_string(bus), 89, static_cast<uint32_t>(bus));
}

void presentBoard(FakeCsiHost& host, int platform) {
    host.addNode("/dev/video0", 81, 0);
    addI2cBus(host, 10);
    switch (platform) {
    case PlatformJetsonNano:
    case PlatformJetson:
    case 4:
        host.addText("/sys/dev/char/81:0/name", "vi-output, zelvo 10-000c\n");
        break;
    case PlatformRaspberryPi:
    case PlatformRaspberryPi5:
    case PlatformRadxaRock:
        host.addDirectory("/sys/dev/char/81:0/device",
                          {".", "..", "driver", "media0", "video4linux"});
        host.addNode("/dev/media0", 250, 0);
        break;
    default:
        break;
    }
    if (platform == PlatformRaspberryPi) {
        host.addEntity(1, "unicam");
        host.addSubdevEntity(2, "zelvo-korvane 10-000c", 0);
        host.addEntity(3, "unicam-image");
    } else if (platform == PlatformRaspberryPi5) {
        host.addSubdevEntity(1, "csi2", 0);
        host.addSubdevEntity(2, "zelvo-korvane 10-000c", 1);
        host.addEntity(3, "rp1-cfe-csi2_ch0");
        host.addEntity(4, "rp1-cfe-fe_image0");
        host.bufferLength = 368 * 180;
    } else if (platform == PlatformRadxaRock) {
        host.capabilities = V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_STREAMING;
        host.addSubdevEntity(1, "rockchip-csi2-dphy1", 0);
        host.addSubdevEntity(2, "m00_b_korvane 10-000c", 1);
        host.addEntity(3, "rkcif-mipi-lvds");
    }
}

}  // namespace Zelvo::testing
