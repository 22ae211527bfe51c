// A host that forwards to another and counts the dequeue requests and polls: how often
// the driver asked for a buffer. It can refuse opens of one path, as a file the process
// may not read is refused even to root, and it can be moved to another host between a
// camera's close and its next open, as a camera unplugged and plugged in again.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "core/host.h"

namespace Zelvo::testing {

class CountingHost final : public Host {
public:
    explicit CountingHost(std::shared_ptr<Host> inner) : inner(std::move(inner)) {}
    // Forwards to `next` from now on; only while nothing uses the host.
    void retarget(std::shared_ptr<Host> next) { inner = std::move(next); }
    int open(const char* path, int flags, mode_t mode = 0) override {
        if (refusedPath == path) {
            errno = refusedError;
            return -1;
        }
        return inner->open(path, flags, mode);
    }
    int close(int fd) override { return inner->close(fd); }
    ssize_t read(int fd, void* buffer, size_t count) override {
        return inner->read(fd, buffer, count);
    }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        return inner->write(fd, buffer, count);
    }
    int ftruncate(int fd, int64_t length) override { return inner->ftruncate(fd, length); }
    int unlink(const char* path) override { return inner->unlink(path); }
    int rename(const char* from, const char* to) override { return inner->rename(from, to); }
    int poll(struct pollfd* fds, unsigned long count, int timeoutMs) override {
        ++polls;
        return inner->poll(fds, count, timeoutMs);
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        if (request == VIDIOC_DQBUF) ++dequeues;
        return inner->ioctl(fd, request, argument);
    }
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               int64_t offset) override {
        return inner->mmap(address, length, protection, flags, fd, offset);
    }
    int munmap(void* address, size_t length) override { return inner->munmap(address, length); }
    int fstat(int fd, struct stat* status) override { return inner->fstat(fd, status); }
    ssize_t readlink(const char* path, char* buffer, size_t size) override {
        return inner->readlink(path, buffer, size);
    }
    int listDirectory(const char* path, std::vector<std::string>& entries) override {
        return inner->listDirectory(path, entries);
    }
    FILE* openText(const char* path, const char* mode) override {
        return inner->openText(path, mode);
    }
    void* dlopen(const char* path, int flags) override { return inner->dlopen(path, flags); }
    void* dlsym(void* library, const char* name) override { return inner->dlsym(library, name); }
    int dlclose(void* library) override { return inner->dlclose(library); }
    const char* dlerror() override { return inner->dlerror(); }

    std::string refusedPath;  // opens of this path fail with refusedError
    int refusedError = EACCES;
    std::atomic<int> dequeues{0};
    std::atomic<int> polls{0};

private:
    std::shared_ptr<Host> inner;
};

}  // namespace Zelvo::testing
