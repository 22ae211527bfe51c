// A depth library double behind a host: dlopen of any path gives the double, dlsym its
// nine calls (or null for a call left out); every other call goes to the operating
// system, so files land in the real working directory. One double is active at a time.
#pragma once

#include <string>
#include <vector>

#include "core/host.h"
#include "depth/si_sdk.h"

namespace Zelvo::testing {

class FakeDepthLibrary : public Host {
public:
    FakeDepthLibrary();
    ~FakeDepthLibrary() override;

    // --- script ---
    bool loadFails = false;
    std::string missingCall;  // the call dlsym does not find
    bool createResult = true;
    bool initResult = true;
    bool startResult = true;
    bool phaseResult = true;
    bool singleFrequency = true;  // the mode SiSDKSetSingleFreq changes

    // --- what the device did ---
    // Calls in order, with their arguments: "SiSDKInit(640,480)", "SiSDKSetCaliData(12)",
    // "SiSDKSetConfig(dir)", "SiSDKSetSingleFreq(0)", ... (mode queries are only counted).
    std::vector<std::string> calls;
    std::vector<std::string> calibrations;   // the bytes of each SiSDKSetCaliData
    std::vector<SiSDKHandle*> destroyedAt;   // the addresses given to SiSDKDestroy
    std::vector<std::string> loadedPaths;    // paths given to dlopen
    int modeQueries = 0;
    int libraryCloses = 0;

    int open(const char* path, int flags, mode_t mode = 0) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    int ftruncate(int fd, int64_t length) override;
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
};

}  // namespace Zelvo::testing
