// The host seam: every operating-system access of the driver goes through Host.
// Each call returns what the system call returns (-1 and errno on failure; the library
// calls return null and leave their text to dlerror, as the dynamic loader does).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct stat;
struct pollfd;

namespace Zelvo {

class Host {
public:
    virtual ~Host() = default;

    // mode: the permissions of a file that O_CREAT creates.
    virtual int open(const char* path, int flags, mode_t mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual ssize_t write(int fd, const void* buffer, size_t count) = 0;
    virtual int ftruncate(int fd, int64_t length) = 0;
    // Removes a name; renames within one file system, replacing what `to` named.
    virtual int unlink(const char* path) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    // Waits up to timeoutMs (negative: without limit) for events on the descriptors;
    // the number of descriptors with events, 0 on time-out, or -1 and errno.
    virtual int poll(struct pollfd* fds, unsigned long count, int timeoutMs) = 0;
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

    // Shared libraries, as the dynamic loader offers them. dlerror describes the last
    // failure of this host's library calls (null when there was none since the last ask).
    virtual void* dlopen(const char* path, int flags) = 0;
    virtual void* dlsym(void* library, const char* name) = 0;
    virtual int dlclose(void* library) = 0;
    virtual const char* dlerror() = 0;
};

// The real operating system. Lives for the whole process.
std::shared_ptr<Host> systemHost();

}  // namespace Zelvo
