// Host that forwards every call to the operating system.
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/host.h"

namespace Zelvo {
namespace {

class SystemHost final : public Host {
public:
    int open(const char* path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    ssize_t read(int fd, void* buffer, size_t count) override { return ::read(fd, buffer, count); }
    int ioctl(int fd, unsigned long request, void* argument) override {
        return ::ioctl(fd, request, argument);
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
};

}  // namespace

std::shared_ptr<Host> systemHost() {
    static const std::shared_ptr<Host> host = std::make_shared<SystemHost>();
    return host;
}

}  // namespace Zelvo
