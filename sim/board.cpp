#include "sim/board.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/media-bus-format.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Zelvo::sim {
namespace {

std::string charDevicePath(int major, int minor) {
    return "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
}

std::string i2cDevicePath(int bus) {
    return "devices/platform/i2c@" + std::to_string(bus) + "/i2c-" + std::to_string(bus);
}

std::string busAddress(int bus) { return std::to_string(bus) + "-000c"; }

size_t wholePages(size_t bytes) { return (bytes + kPageSize - 1) / kPageSize * kPageSize; }

// What files without a poll of their own report: always ready.
constexpr short kAlwaysReady = POLLIN | POLLRDNORM | POLLOUT | POLLWRNORM;

int fail(int error) {
    errno = error;
    return -1;
}

}  // namespace

std::shared_ptr<Board> Board::create(const char* text, std::string& error) {
    Settings settings;
    if (!parseSettings(text, settings, error)) return nullptr;
    if (!settings.replay.empty() && !ReplaySource::attach(systemHost(), settings, error))
        return nullptr;
    return std::make_shared<Board>(settings);
}

std::vector<std::unique_ptr<Board::Pipeline>> Board::makePipelines(const BoardProfile& profile,
                                                                   const Settings& settings) {
    std::vector<std::unique_ptr<Pipeline>> pipelines;
    for (int camera = 0; camera < settings.cameras; ++camera)
        pipelines.push_back(
            std::make_unique<Pipeline>(pipelineProfile(profile, camera), settings));
    return pipelines;
}

void Board::buildPipeline(size_t index) {
    Pipeline& pipeline = *pipelines_[index];
    const BoardProfile& profile = pipeline.profile;
    const bool mediaBoard = !profile.entities.empty();
    if (mediaBoard) {
        pipeline.media = std::make_unique<MediaDevice>(profile);
        std::vector<const EntityProfile*> withNodes;
        for (const EntityProfile& entity : profile.entities)
            if (entity.subdevIndex >= 0) withNodes.push_back(&entity);
        std::sort(withNodes.begin(), withNodes.end(),
                  [](auto a, auto b) { return a->subdevIndex < b->subdevIndex; });
        for (const EntityProfile* entity : withNodes)
            pipeline.subdevs.emplace_back(
                *entity, entity->role == EntityRole::Sensor ? &pipeline.controls : nullptr,
                pipeline.sensor);
    }
    CaptureNode::PipelineCheck check;
    if (mediaBoard)
        check = [this, &pipeline](const PixelLayout& layout) {
            return pipelineCheck(pipeline, layout);
        };
    pipeline.capture = std::make_unique<CaptureNode>(
        profile, pipeline.sensor, faults_, mediaBoard ? nullptr : &pipeline.controls, check);
    for (const AdapterProfile& adapter : profile.adapters) {
        if (index > 0 && adapter.bus != profile.sensorBus) continue;  // the board's own buses
        adapters_.push_back(std::make_unique<I2cAdapter>(
            adapter.bus, adapter.name,
            adapter.bus == profile.sensorBus ? &pipeline.registers : nullptr, faults_));
    }
}

Board::Board(const Settings& settings)
    : profile_(*findBoardProfile(settings.board)),
      pipelines_(makePipelines(profile_, settings)),
      kit_(settings, pipelines_.front()->sensor, mutex_) {
    for (size_t index = 0; index < pipelines_.size(); ++index) buildPipeline(index);
    buildFiles();
    if (settings.stallAfterSubFrames >= 0)
        faults_.stallAfterSubFrames(settings.stallAfterSubFrames);
    if (settings.unplugAfterSubFrames >= 0)
        faults_.unplugAfterSubFrames(settings.unplugAfterSubFrames);
}

Board::~Board() {
    // Real files a program left open or mapped go with the board that opened them.
    for (auto& entry : descriptors_)
        if (entry.second->kind == NodeKind::RealFile) ::close(entry.second->realFd);
    for (auto& mapping : realMappings_) ::munmap(mapping.first, mapping.second);
}

void Board::addCharDevice(const std::string& node, int major, int minor, const std::string& name,
                          const std::string& sysfsPath, const std::string& withMedia) {
    const std::string base = charDevicePath(major, minor);
    files_.addLink(base, "../../" + sysfsPath);
    if (!name.empty()) files_.addFile(base + "/name", name + "\n");
    files_.addFile(base + "/dev", std::to_string(major) + ":" + std::to_string(minor) + "\n");
    files_.addFile(base + "/uevent", "MAJOR=" + std::to_string(major) + "\nMINOR=" +
                                         std::to_string(minor) + "\nDEVNAME=" + node + "\n");
    const std::string device = base + "/device";
    for (const char* entry : {"driver", "driver_override", "modalias", "of_node", "power",
                              "subsystem", "uevent"})
        files_.addDirectoryEntry(device, entry);
    if (!withMedia.empty()) files_.addDirectoryEntry(device, withMedia);
    files_.addDirectoryEntry(device, "video4linux");
    files_.addDirectoryEntry("/dev", node);
}

void Board::buildFiles() {
    std::string model = profile_.model;
    model.push_back('\0');  // devicetree strings end in a NUL
    files_.addFile("/sys/firmware/devicetree/base/model", model);
    files_.addFile("/proc/mounts",
                   "/dev/root / ext4 rw,noatime 0 0\n"
                   "devtmpfs /dev devtmpfs rw,relatime,size=1878516k,mode=755 0 0\n"
                   "proc /proc proc rw,relatime 0 0\n"
                   "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
                   "tmpfs /run tmpfs rw,nosuid,nodev,size=805888k,mode=755 0 0\n");

    for (const auto& pipeline : pipelines_) {
        const BoardProfile& profile = pipeline->profile;
        const std::string media =
            pipeline->media ? "media" + std::to_string(profile.mediaIndex) : "";
        const std::string video = "video" + std::to_string(profile.videoIndex);
        addCharDevice(video, kVideoMajor, static_cast<int>(profile.videoMinor),
                      profile.captureName, profile.platformDevice + "/video4linux/" + video,
                      media);
        for (const SubDevice& subdev : pipeline->subdevs) {
            const EntityProfile& entity = subdev.entity();
            const std::string node = "v4l-subdev" + std::to_string(entity.subdevIndex);
            const std::string owner = subdev.isSensor()
                                          ? i2cDevicePath(profile.sensorBus) + "/" +
                                                busAddress(profile.sensorBus)
                                          : profile.platformDevice;
            addCharDevice(node, kVideoMajor, subdevMinor(entity.subdevIndex), entity.name,
                          owner + "/video4linux/" + node, media);
        }
        if (!media.empty())
            addCharDevice(media, kMediaMajor, profile.mediaIndex, "",
                          profile.platformDevice + "/" + media, "");
    }

    std::string procBus;
    for (const auto& adapter : adapters_) {
        const std::string node = "i2c-" + std::to_string(adapter->bus());
        addCharDevice(node, kI2cMajor, adapter->bus(), adapter->name(),
                      i2cDevicePath(adapter->bus()) + "/i2c-dev/" + node, "");
        files_.addDirectoryEntry("/sys/class/i2c-dev", node);
        files_.addFile("/sys/class/i2c-dev/" + node + "/name", adapter->name() + "\n");
        char line[160];
        std::snprintf(line, sizeof(line), "%s\t%-10s\t%-32s\t%s\n", node.c_str(), "i2c",
                      adapter->name().c_str(), "I2C adapter");
        procBus += line;
    }
    if (profile_.procBusI2c) files_.addFile("/proc/bus/i2c", procBus);
}

int Board::pipelineCheck(const Pipeline& pipeline, const PixelLayout& layout) const {
    return pipeline.media->validatePipeline([this, &pipeline, &layout](
                                                const EntityProfile& entity, uint16_t pad,
                                                v4l2_mbus_framefmt& format) {
        return padFormat(pipeline, entity, pad, layout, format);
    });
}

// The capture node's pad carries its own format; an entity without a node keeps none.
bool Board::padFormat(const Pipeline& pipeline, const EntityProfile& entity, uint16_t pad,
                      const PixelLayout& layout, v4l2_mbus_framefmt& format) const {
    if (entity.role == EntityRole::Capture) {
        std::memset(&format, 0, sizeof(format));
        format.width = layout.width;
        format.height = layout.height;
        format.code = MEDIA_BUS_FMT_Y12_1X12;  // what both 12-bit pixel formats receive
        format.field = V4L2_FIELD_NONE;
        return true;
    }
    for (const SubDevice& subdev : pipeline.subdevs) {
        if (subdev.entity().id != entity.id) continue;
        if (pad >= std::max<uint16_t>(entity.pads, 1)) return false;
        format = subdev.activeFormat(pad);
        return true;
    }
    return false;
}

int Board::allocateDescriptor() const {
    int fd = 3;
    for (const auto& entry : descriptors_) {
        if (entry.first > fd) break;
        if (entry.first == fd) ++fd;
    }
    return fd;
}

std::shared_ptr<Board::Handle> Board::find(int fd) const {
    auto it = descriptors_.find(fd);
    return it == descriptors_.end() ? nullptr : it->second;
}

bool Board::isBoardPath(const std::string& path) {
    for (const char* root : {"/dev", "/sys", "/proc"}) {
        const size_t length = std::strlen(root);
        if (path.compare(0, length, root) == 0 && (path.size() == length || path[length] == '/'))
            return true;
    }
    return false;
}

int Board::open(const char* path, int flags, mode_t mode) {
    if (!path) return fail(EFAULT);
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string name = path;
    int error = 0;
    if (faults_.takeOpenFailure(name, error)) return fail(error);
    auto handle = std::make_shared<Handle>();
    handle->flags = flags;
    if (!isBoardPath(name)) {
        handle->kind = NodeKind::RealFile;
        handle->realFd = ::open(path, flags | O_CLOEXEC, mode);
        if (handle->realFd < 0) return -1;
        const int fd = allocateDescriptor();
        descriptors_[fd] = handle;
        return fd;
    }
    const bool isDevice = name.compare(0, 5, "/dev/") == 0;
    if (isDevice && faults_.unplugged()) return fail(ENODEV);
    bool found = false;
    for (size_t p = 0; p < pipelines_.size() && !found; ++p) {
        Pipeline& pipeline = *pipelines_[p];
        handle->pipeline = p;
        if (name == "/dev/video" + std::to_string(pipeline.profile.videoIndex)) {
            handle->kind = NodeKind::Capture;
            handle->major = kVideoMajor;
            handle->minor = pipeline.profile.videoMinor;
            found = true;
        } else if (pipeline.media &&
                   name == "/dev/media" + std::to_string(pipeline.profile.mediaIndex)) {
            handle->kind = NodeKind::Media;
            handle->major = kMediaMajor;
            handle->minor = static_cast<uint32_t>(pipeline.profile.mediaIndex);
            found = true;
        }
        for (size_t i = 0; i < pipeline.subdevs.size() && !found; ++i) {
            const EntityProfile& entity = pipeline.subdevs[i].entity();
            if (name != "/dev/v4l-subdev" + std::to_string(entity.subdevIndex)) continue;
            handle->kind = NodeKind::Subdev;
            handle->index = i;
            handle->subdev = pipeline.subdevs[i].newClient();
            handle->major = kVideoMajor;
            handle->minor = static_cast<uint32_t>(subdevMinor(entity.subdevIndex));
            found = true;
        }
    }
    if (found || name.compare(0, 15, "/dev/v4l-subdev") == 0) {
        if (!found) return fail(ENOENT);  // a node of one of the pipelines, or none
    } else if (name.compare(0, 9, "/dev/i2c-") == 0) {
        for (size_t i = 0; i < adapters_.size(); ++i) {
            if (name != "/dev/i2c-" + std::to_string(adapters_[i]->bus())) continue;
            handle->kind = NodeKind::I2c;
            handle->index = i;
            handle->major = kI2cMajor;
            handle->minor = static_cast<uint32_t>(adapters_[i]->bus());
            found = true;
        }
        if (!found) return fail(ENOENT);
    } else if (const std::string* content = files_.file(name)) {
        if ((flags & O_ACCMODE) != O_RDONLY) return fail(EACCES);
        handle->kind = NodeKind::Text;
        handle->content = *content;
    } else if (files_.directory(name)) {
        return fail(EISDIR);
    } else {
        return fail(ENOENT);
    }
    const int fd = allocateDescriptor();
    descriptors_[fd] = handle;
    return fd;
}

int Board::close(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = descriptors_.find(fd);
    if (it == descriptors_.end()) return fail(EBADF);
    std::shared_ptr<Handle> handle = it->second;
    descriptors_.erase(it);
    handle->closed = true;
    if (handle->kind == NodeKind::RealFile) return ::close(handle->realFd);
    if (handle->kind == NodeKind::Capture) {
        CaptureNode& capture = *pipelines_[handle->pipeline]->capture;
        capture.release(handle.get());
        capture.wake();
    }
    return 0;
}

ssize_t Board::read(int fd, void* buffer, size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::shared_ptr<Handle> handle = find(fd);
    if (!handle) return fail(EBADF);
    if (handle->kind == NodeKind::RealFile) return ::read(handle->realFd, buffer, count);
    if (handle->kind != NodeKind::Text && faults_.unplugged()) return fail(ENODEV);
    if (!buffer && count > 0) return fail(EFAULT);
    switch (handle->kind) {
    case NodeKind::Text: {
        size_t available = handle->content.size() - std::min(handle->position, handle->content.size());
        size_t taken = std::min(count, available);
        std::memcpy(buffer, handle->content.data() + handle->position, taken);
        handle->position += taken;
        return static_cast<ssize_t>(taken);
    }
    case NodeKind::I2c: {
        long result = adapters_[handle->index]->read(handle->i2c, buffer, count);
        if (result < 0) return fail(static_cast<int>(-result));
        return result;
    }
    default:
        return fail(EINVAL);  // no read() I/O on video, sub-device and media nodes
    }
}

ssize_t Board::write(int fd, const void* buffer, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Handle> handle = find(fd);
    if (!handle) return fail(EBADF);
    if (handle->kind == NodeKind::RealFile) return ::write(handle->realFd, buffer, count);
    return fail(EINVAL);  // the board's nodes and files take no write() I/O
}

int Board::ftruncate(int fd, int64_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Handle> handle = find(fd);
    if (!handle) return fail(EBADF);
    if (handle->kind == NodeKind::RealFile)
        return ::ftruncate(handle->realFd, static_cast<off_t>(length));
    return fail(EINVAL);
}

// The board's own paths cannot be removed or renamed; every other path is the real one's.
int Board::unlink(const char* path) {
    if (!path) return fail(EFAULT);
    return isBoardPath(path) ? fail(EACCES) : systemHost()->unlink(path);
}

int Board::rename(const char* from, const char* to) {
    if (!from || !to) return fail(EFAULT);
    return isBoardPath(from) || isBoardPath(to) ? fail(EACCES) : systemHost()->rename(from, to);
}

int Board::poll(struct pollfd* fds, unsigned long count, int timeoutMs) {
    if (!fds && count > 0) return fail(EFAULT);
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = timeoutMs < 0
                              ? MonotonicClock::time_point::max()
                              : MonotonicClock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        auto recheck = deadline;
        int ready = 0;
        size_t waitOn = 0;  // the pipeline of the first capture node polled
        bool captureFound = false;
        for (unsigned long i = 0; i < count; ++i) {
            fds[i].revents = pollEvents(fds[i], recheck);
            if (fds[i].revents) ++ready;
            std::shared_ptr<Handle> handle = fds[i].fd >= 0 ? find(fds[i].fd) : nullptr;
            if (!captureFound && handle && handle->kind == NodeKind::Capture) {
                waitOn = handle->pipeline;
                captureFound = true;
            }
        }
        if (ready > 0 || MonotonicClock::now() >= deadline) return ready;
        // Stream off, a queued buffer, close and unplug wake the wait.
        pipelines_[waitOn]->capture->waitUntil(lock, recheck);
    }
}

short Board::pollEvents(const struct pollfd& polled, MonotonicClock::time_point& recheck) {
    if (polled.fd < 0) return 0;  // ignored, as poll(2) does
    std::shared_ptr<Handle> handle = find(polled.fd);
    if (!handle) return POLLNVAL;
    if (handle->kind == NodeKind::Text || handle->kind == NodeKind::RealFile)
        return static_cast<short>(polled.events & kAlwaysReady);
    if (faults_.unplugged()) return POLLERR | POLLHUP;
    switch (handle->kind) {
    case NodeKind::Capture:
        return pipelines_[handle->pipeline]->capture->poll(handle.get(), polled.events,
                                                           recheck);
    case NodeKind::Subdev:
        return 0;  // ready only for events, and none is ever pending
    default:
        return static_cast<short>(polled.events & kAlwaysReady);
    }
}

int Board::ioctl(int fd, unsigned long request, void* argument) {
    int result = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        std::shared_ptr<Handle> handle = find(fd);
        int error = 0;
        if (!handle) {
            result = -EBADF;
        } else if (handle->kind == NodeKind::RealFile) {
            const int real = ::ioctl(handle->realFd, request, argument);
            result = real < 0 ? -errno : real;
        } else if (handle->kind != NodeKind::Text && faults_.unplugged()) {
            result = -ENODEV;
        } else if (faults_.takeRequestFailure(request, error)) {
            result = -error;
        } else {
            Pipeline& pipeline = *pipelines_[handle->pipeline];
            switch (handle->kind) {
            case NodeKind::Capture:
                result = pipeline.capture->ioctl(handle.get(), (handle->flags & O_NONBLOCK) != 0,
                                                 request, argument, lock, handle->closed);
                break;
            case NodeKind::Subdev:
                result = pipeline.subdevs[handle->index].ioctl(handle->subdev, request, argument,
                                                               pipeline.capture->streaming());
                break;
            case NodeKind::Media:
                result = pipeline.media->ioctl(request, argument, pipeline.capture->streaming());
                break;
            case NodeKind::I2c:
                result = adapters_[handle->index]->ioctl(handle->i2c, request, argument);
                break;
            case NodeKind::Text:
            case NodeKind::RealFile:
                result = -ENOTTY;
                break;
            }
        }
    }
    if (result < 0) return fail(-result);
    return result;
}

void* Board::mmap(void* address, size_t length, int protection, int flags, int fd,
                  int64_t offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Handle> handle = find(fd);
    if (!handle) {
        errno = EBADF;
        return MAP_FAILED;
    }
    if (handle->kind == NodeKind::RealFile) {
        void* mapping = ::mmap(address, length, protection, flags, handle->realFd,
                               static_cast<off_t>(offset));
        if (mapping != MAP_FAILED) realMappings_.emplace_back(mapping, length);
        return mapping;
    }
    if (handle->kind != NodeKind::Capture) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    // As the kernel checks before asking the driver: a mapping needs a descriptor open for
    // reading, and a shared writable one a descriptor open for writing too.
    const int access = handle->flags & O_ACCMODE;
    if (access == O_WRONLY ||
        (access == O_RDONLY && (protection & PROT_WRITE) && (flags & MAP_SHARED))) {
        errno = EACCES;
        return MAP_FAILED;
    }
    if (faults_.unplugged()) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    std::shared_ptr<BufferMemory> memory;
    if (int result = pipelines_[handle->pipeline]->capture->map(length, flags, offset, memory)) {
        errno = -result;
        return MAP_FAILED;
    }
    mappings_.push_back({memory->data, length, memory});
    return memory->data;
}

int Board::munmap(void* address, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t start = reinterpret_cast<uintptr_t>(address);
    if (start % kPageSize != 0 || length == 0) return fail(EINVAL);
    for (auto it = realMappings_.begin(); it != realMappings_.end(); ++it) {
        if (it->first != address) continue;
        const int result = ::munmap(address, length);
        if (result == 0) realMappings_.erase(it);
        return result;
    }
    // Every mapping inside the range goes. Linux would also cut one the range only
    // partly covers; the board does not split mappings and refuses that.
    const uintptr_t end = start + wholePages(length);
    for (const Mapping& mapping : mappings_) {
        const uintptr_t first = reinterpret_cast<uintptr_t>(mapping.address);
        const uintptr_t last = first + wholePages(mapping.length);
        const bool overlaps = first < end && start < last;
        if (overlaps && (first < start || last > end)) return fail(EINVAL);
    }
    mappings_.erase(std::remove_if(mappings_.begin(), mappings_.end(),
                                   [start, end](const Mapping& mapping) {
                                       const auto first =
                                           reinterpret_cast<uintptr_t>(mapping.address);
                                       return first >= start && first < end;
                                   }),
                    mappings_.end());
    return 0;  // nothing mapped there: success, as on Linux
}

int Board::fstat(int fd, struct stat* status) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Handle> handle = find(fd);
    if (!handle) return fail(EBADF);
    if (!status) return fail(EFAULT);
    if (handle->kind == NodeKind::RealFile) return ::fstat(handle->realFd, status);
    std::memset(status, 0, sizeof(*status));
    if (handle->kind == NodeKind::Text) {
        status->st_mode = S_IFREG | 0444;
        status->st_size = static_cast<off_t>(handle->content.size());
    } else {
        status->st_mode = S_IFCHR | 0660;
        status->st_rdev = makedev(handle->major, handle->minor);
    }
    status->st_nlink = 1;
    return 0;
}

ssize_t Board::readlink(const char* path, char* buffer, size_t size) {
    if (!path || !buffer) return fail(EFAULT);
    if (!isBoardPath(path)) return ::readlink(path, buffer, size);
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string* target = files_.link(path);
    if (!target) {
        bool exists = files_.file(path) || files_.directory(path);
        return fail(exists ? EINVAL : ENOENT);
    }
    if (size == 0) return fail(EINVAL);
    size_t copied = std::min(size, target->size());
    std::memcpy(buffer, target->data(), copied);
    return static_cast<ssize_t>(copied);
}

int Board::listDirectory(const char* path, std::vector<std::string>& entries) {
    if (!path) return fail(EFAULT);
    if (!isBoardPath(path)) return systemHost()->listDirectory(path, entries);
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<std::string>* listing = files_.directory(path);
    if (!listing) return fail(files_.file(path) ? ENOTDIR : ENOENT);
    entries = *listing;
    return 0;
}

FILE* Board::openText(const char* path, const char* mode) {
    if (!path) {
        errno = EFAULT;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    int error = 0;
    if (faults_.takeOpenFailure(path, error)) {
        errno = error;
        return nullptr;
    }
    if (!isBoardPath(path)) return ::fopen(path, mode);
    return files_.openText(path, mode);
}

void* Board::dlopen(const char* path, int flags) {
    if (isEvaluationKitLibrary(path)) return kit_.openLibrary();
    return ::dlopen(path, flags);
}

void* Board::dlsym(void* library, const char* name) {
    if (kit_.isLibrary(library)) return kit_.findCall(name);
    return ::dlsym(library, name);
}

int Board::dlclose(void* library) {
    if (kit_.isLibrary(library)) return kit_.closeLibrary();
    return ::dlclose(library);
}

const char* Board::dlerror() {
    if (const char* error = kit_.takeLoaderError()) return error;
    return ::dlerror();
}

void Board::unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.unplugAfterFrames(0);
    for (const auto& pipeline : pipelines_) pipeline->capture->wake();
}

SensorState Board::sensorState(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    SensorState state;
    if (index >= pipelines_.size()) return state;
    Pipeline& pipeline = *pipelines_[index];
    state.rangeControl = pipeline.sensor.rangeControl();
    state.exposure = pipeline.sensor.exposure();
    state.frameRate = pipeline.sensor.frameRate();
    state.frameRateRegister = pipeline.sensor.frameRateRegister();
    state.calibrationRequest = pipeline.registers.calibrationRequest();
    state.controlWrites = pipeline.controls.writes();
    for (const auto& adapter : adapters_) {
        if (adapter->bus() != pipeline.profile.sensorBus) continue;
        state.lastI2cTransfer = adapter->lastTransfer();
        state.i2cWrites = adapter->sensorWrites();
    }
    state.pipelineLinked = !pipeline.media || pipeline.media->pipelineLinked();
    state.streaming = pipeline.capture->streaming();
    return state;
}

size_t Board::openDescriptors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return descriptors_.size();
}

size_t Board::mappings() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mappings_.size();
}

}  // namespace Zelvo::sim
