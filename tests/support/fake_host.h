// A host with a few text files in memory (served through fmemopen) and shared libraries
// made of the test's own functions, and nothing else: every other call fails with ENOSYS.
#pragma once

#include <map>
#include <string>

#include "core/host.h"

namespace Zelvo::testing {

class FakeHost : public Host {
public:
    // Serves `contents` (NULs included) at `path`.
    void setText(const std::string& path, const std::string& contents);
    void setModel(const std::string& contents);
    // Offers a library under `name` whose symbols are the given functions or objects.
    void setLibrary(const std::string& name, const std::map<std::string, void*>& symbols);

    int open(const char* path, int flags, mode_t mode = 0) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    int ftruncate(int fd, int64_t length) override;
    int unlink(const char* path) override;
    int rename(const char* from, const char* to) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
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

    int textOpens = 0;
    int librariesOpen = 0;  // dlopen calls not yet matched by dlclose

private:
    std::map<std::string, std::string> texts;
    std::map<std::string, std::map<std::string, void*>> libraries;
};

}  // namespace Zelvo::testing
