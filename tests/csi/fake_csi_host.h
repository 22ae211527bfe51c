// A scripted host for the CSI transport tests: a small emulation of a video node, its
// sub-devices, a media device and an I2C adapter, with every request logged and any
// request made to fail a chosen number of times.
#pragma once

#include <poll.h>
#include <sys/time.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/host.h"

namespace Zelvo::testing {

struct LoggedRequest {
    std::string path;  // node the descriptor was opened on
    unsigned long request;
};

struct I2cMessageRecord {
    uint16_t address;
    uint16_t flags;
    std::vector<uint8_t> bytes;  // written bytes; for reads, the length only
};

struct MediaEntity {
    uint32_t id;
    std::string name;
    uint32_t major;
    uint32_t minor;
};

// One buffer the driver hands out on DQBUF.
struct ScriptedFrame {
    uint32_t index = 0;
    timeval timestamp{};
    std::vector<uint8_t> bytes;   // written into the buffer's mapping before it is handed out
    uint32_t reportedLength = 0;  // length reported on DQBUF; 0 for the queried length
    uint32_t bytesUsed = 0;       // payload reported on DQBUF; 0: none reported
    uint32_t flags = 0;           // V4L2_BUF_FLAG_* reported on DQBUF
};

class FakeCsiHost : public Host {
public:
    FakeCsiHost();

    // --- what the board presents ---
    void addNode(const std::string& path, uint32_t major, uint32_t minor);
    void addText(const std::string& path, const std::string& content);
    void addDirectory(const std::string& path, std::vector<std::string> entries);
    void addLink(const std::string& path, const std::string& target);
    void failOpen(const std::string& path, int error) { openErrors[path] = error; }
    // Adds a media entity with its sub-device node "/dev/v4l-subdevN".
    void addSubdevEntity(uint32_t id, const std::string& name, int subdevNumber);
    void addEntity(uint32_t id, const std::string& name) { entities.push_back({id, name, 0, 0}); }

    // Fails the next `times` issues of a request with errno `error`.
    void failRequest(unsigned long request, int error, int times = 1);
    // Replaces the emulation of one request.
    using Handler = std::function<int(int fd, void* argument)>;
    void handle(unsigned long request, Handler handler) { handlers[request] = std::move(handler); }

    // --- state of the emulation ---
    uint32_t capabilities;
    uint32_t deviceCaps = 0;  // this node's own; non-zero: reported with V4L2_CAP_DEVICE_CAPS
    uint32_t width = 240, height = 180;       // video node format
    uint32_t subdevWidth = 240, subdevHeight = 180;  // ACTIVE; TRY reads give 240 x 180
    uint32_t reportedStride = 0;      // bytesperline S_FMT answers; 0 leaves the request's
    uint32_t reportedImageBytes = 0;  // sizeimage S_FMT answers; 0 leaves the request's
    uint32_t grantedBuffers = 8;
    uint32_t bufferLength = 240 * 180 * 2;
    unsigned long i2cFunctions;
    std::deque<ScriptedFrame> frames;
    std::map<std::pair<int, uint32_t>, int> controls;  // (fd, id) -> value
    bool streaming = false;
    // What poll reports on the video node (DQBUF with no frame scripted fails with EIO).
    short videoPollEvents = POLLIN;
    int polls = 0;
    int failUnmaps = 0;    // the next munmap calls that fail
    bool failMmap = false;

    // --- what the driver did ---
    std::vector<LoggedRequest> requests;
    std::vector<I2cMessageRecord> i2cMessages;
    std::vector<std::string> openedPaths;
    std::vector<std::string> textsOpened;
    std::vector<int> closedFds;
    std::vector<std::vector<uint8_t>> lastSetFormats;  // raw v4l2_format of S_FMT
    uint32_t lastPixelFormat = 0;
    std::vector<std::pair<uint32_t, uint32_t>> enabledLinks;  // (source, sink) entity ids
    int mappedNow = 0;
    int unmapped = 0;

    std::string pathOf(int fd) const;
    int fdOf(const std::string& path) const;  // the last descriptor opened on it, or -1
    std::set<int> openFds() const;
    int count(unsigned long request) const;
    int count(const std::string& path, unsigned long request) const;
    std::vector<unsigned long> requestsOn(const std::string& path) const;

    // Host
    int open(const char* path, int flags, mode_t mode = 0) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    int ftruncate(int fd, int64_t length) override;
    int unlink(const char* path) override;
    int rename(const char* from, const char* to) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    // Any other descriptor is ready at once.
    int poll(struct pollfd* fds, unsigned long count, int timeoutMs) override;
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               int64_t offset) override;
    int munmap(void* address, size_t length) override;
    int fstat(int fd, struct stat* status) override;
    ssize_t readlink(const char* path, char* buffer, size_t size) override;
    int listDirectory(const char* path, std::vector<std::string>& entries) override;
    FILE* openText(const char* path, const char* mode) override;
    void* dlopen(const char* path, int flags) override;
    void* dlsym(void* library, const char* name) override;
    int dlclose(void* library) override;
    const char* dlerror() override;

private:
    int emulate(int fd, unsigned long request, void* argument);
    int dequeue(void* argument);

    struct Node {
        uint32_t major, minor;
    };
    std::map<std::string, Node> nodes;
    std::map<std::string, int> openErrors;
    std::map<std::string, std::string> texts;
    std::map<std::string, std::vector<std::string>> directories;
    std::map<std::string, std::string> links;
    std::vector<MediaEntity> entities;
    std::map<unsigned long, std::deque<int>> failures;
    std::map<unsigned long, Handler> handlers;
    std::map<int, std::string> fds;
    int nextFd = 10;
    std::map<uint32_t, std::vector<uint8_t>> mappings;  // buffer index -> memory
    uint32_t requestedBuffers = 0;
};

// A board as the CSI sensor sees it on one platform: video node /dev/video0 (81:0),
// media device, sub-devices and I2C bus 10 with the sensor, as each board presents them.
void presentBoard(FakeCsiHost& host, int platform);

// Adds the I2C adapter "/dev/i2c-<bus>" with its character node.
void addI2cBus(FakeCsiHost& host, int bus);

}  // namespace Zelvo::testing
