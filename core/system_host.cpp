// Host that forwards every call to the operating system.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "core/host.h"

namespace Zelvo {
namespace {

class SystemHost final : public Host {
public:
    int open(const char* path, int flags, mode_t mode = 0) override {
        return ::open(path, flags, mode);
    }
    int close(int fd) override { return ::close(fd); }
    ssize_t read(int fd, void* buffer, size_t count) override { return ::read(fd, buffer, count); }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        return ::write(fd, buffer, count);
    }
    int ftruncate(int fd, int64_t length) override {
        return ::ftruncate(fd, static_cast<off_t>(length));
    }
    int unlink(const char* path) override { return ::unlink(path); }
    int rename(const char* from, const char* to) override { return ::rename(from, to); }
    int ioctl(int fd, unsigned long request, void* argument) override {
        return ::ioctl(fd, request, argument);
    }
    int poll(struct pollfd* fds, unsigned long count, int timeoutMs) override {
        return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    }
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               int64_t offset) override {
        return ::mmap(address, length, protection, flags, fd, static_cast<off_t>(offset));
    }
    int munmap(void* address, size_t length) override { return ::munmap(address, length); }
    int fstat(int fd, struct stat* status) override { return ::fstat(fd, status); }
    ssize_t readlink(const char* path, char* buffer, size_t size) override {
        return ::readlink(path, buffer, size);
    }
    int listDirectory(const char* path, std::vector<std::string>& entries) override {
        DIR* dir = ::opendir(path);
        if (!dir) return -1;
        entries.clear();
        while (struct dirent* entry = ::readdir(dir)) entries.emplace_back(entry->d_name);
        ::closedir(dir);
        return 0;
    }
    FILE* openText(const char* path, const char* mode) override { return ::fopen(path, mode); }
    void* dlopen(const char* path, int flags) override { return ::dlopen(path, flags); }
    void* dlsym(void* library, const char* name) override { return ::dlsym(library, name); }
    int dlclose(void* library) override { return ::dlclose(library); }
    const char* dlerror() override { return ::dlerror(); }
};

}  // namespace

std::shared_ptr<Host> systemHost() {
    static const std::shared_ptr<Host> host = std::make_shared<SystemHost>();
    return host;
}

}  // namespace Zelvo
