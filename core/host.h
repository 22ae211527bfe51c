// The host seam: every operating-system access of the driver goes through Host.
// Each call returns what the system call returns (-1 and errno on failure).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct stat;

namespace Zelvo {

class Host {
public:
    virtual ~Host() = default;

    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* mmap(void* address, size_t length, int protection, int flags, int fd,
                       int64_t offset) = 0;
    virtual int munmap(void* address, size_t length) = 0;
    virtual int fstat(int fd, struct stat* status) = 0;
    virtual ssize_t readlink(const char* path, char* buffer, size_t size) = 0;
    // Entry names of a directory in the order the system lists them ("." and ".."
    // included, as readdir gives them). 0, or -1 and errno.
    virtual int listDirectory(const char* path, std::vector<std::string>& entries) = 0;
    // A text file as a stdio stream, closed by the caller with fclose; null and errno.
    virtual FILE* openText(const char* path, const char* mode) = 0;
};

// The real operating system. Lives for the whole process.
std::shared_ptr<Host> systemHost();

}  // namespace Zelvo
