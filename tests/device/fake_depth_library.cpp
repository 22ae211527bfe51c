#include "tests/device/fake_depth_library.h"

#include <map>

namespace Zelvo::testing {
namespace {

FakeDepthLibrary* active = nullptr;
int handleToken = 0;
int libraryToken = 0;

Host& real() { return *systemHost(); }

bool fakeCreate(SiSDKHandle* handle) {
    active->calls.push_back("SiSDKCreate");
    *handle = active->createResult ? &handleToken : nullptr;
    return active->createResult;
}

bool fakeInit(SiSDKHandle, int width, int height) {
    active->calls.push_back("SiSDKInit(" + std::to_string(width) + "," +
                            std::to_string(height) + ")");
    return active->initResult;
}

bool fakeSetConfig(SiSDKHandle, const char* directory) {
    active->calls.push_back(std::string("SiSDKSetConfig(") + directory + ")");
    return true;
}

bool fakeSetCaliData(SiSDKHandle, const void* data, uint32_t length) {
    active->calls.push_back("SiSDKSetCaliData(" + std::to_string(length) + ")");
    active->calibrations.emplace_back(static_cast<const char*>(data), length);
    return true;
}

bool fakeStart(SiSDKHandle) {
    active->calls.push_back("SiSDKStart");
    return active->startResult;
}

bool fakeGetPhaseImage(SiSDKHandle, const uint16_t*, float*, float*, float*) {
    active->calls.push_back("SiSDKGetPhaseImage");
    return active->phaseResult;
}

bool fakeIsSingleFreq(SiSDKHandle) {
    ++active->modeQueries;
    return active->singleFrequency;
}

bool fakeSetSingleFreq(SiSDKHandle, bool single) {
    active->calls.push_back(std::string("SiSDKSetSingleFreq(") + (single ? "1" : "0") + ")");
    active->singleFrequency = single;
    return true;
}

void fakeDestroy(SiSDKHandle* handle) {
    active->calls.push_back("SiSDKDestroy");
    active->destroyedAt.push_back(handle);
    *handle = nullptr;
}

const std::map<std::string, void*>& fakeCalls() {
    static const std::map<std::string, void*> calls = {
        {"SiSDKCreate", reinterpret_cast<void*>(&fakeCreate)},
        {"SiSDKInit", reinterpret_cast<void*>(&fakeInit)},
        {"SiSDKSetConfig", reinterpret_cast<void*>(&fakeSetConfig)},
        {"SiSDKSetCaliData", reinterpret_cast<void*>(&fakeSetCaliData)},
        {"SiSDKStart", reinterpret_cast<void*>(&fakeStart)},
        {"SiSDKGetPhaseImage", reinterpret_cast<void*>(&fakeGetPhaseImage)},
        {"SiSDKIsSingleFreq", reinterpret_cast<void*>(&fakeIsSingleFreq)},
        {"SiSDKSetSingleFreq", reinterpret_cast<void*>(&fakeSetSingleFreq)},
        {"SiSDKDestroy", reinterpret_cast<void*>(&fakeDestroy)},
    };
    return calls;
}

}  // namespace

FakeDepthLibrary::FakeDepthLibrary() { active = this; }

FakeDepthLibrary::~FakeDepthLibrary() {
    if (active == this) active = nullptr;
}

int FakeDepthLibrary::open(const char* path, int flags, mode_t mode) {
    return real().open(path, flags, mode);
}
int FakeDepthLibrary::close(int fd) { return real().close(fd); }
ssize_t FakeDepthLibrary::read(int fd, void* buffer, size_t count) {
    return real().read(fd, buffer, count);
}
ssize_t FakeDepthLibrary::write(int fd, const void* buffer, size_t count) {
    return real().write(fd, buffer, count);
}
int FakeDepthLibrary::ftruncate(int fd, int64_t length) { return real().ftruncate(fd, length); }
int FakeDepthLibrary::ioctl(int fd, unsigned long request, void* argument) {
    return real().ioctl(fd, request, argument);
}
int FakeDepthLibrary::poll(struct pollfd* fds, unsigned long count, int timeoutMs) {
    return real().poll(fds, count, timeoutMs);
}
void* FakeDepthLibrary::mmap(void* address, size_t length, int protection, int flags, int fd,
                             int64_t offset) {
    return real().mmap(address, length, protection, flags, fd, offset);
}
int FakeDepthLibrary::munmap(void* address, size_t length) {
    return real().munmap(address, length);
}
int FakeDepthLibrary::fstat(int fd, struct stat* status) { return real().fstat(fd, status); }
ssize_t FakeDepthLibrary::readlink(const char* path, char* buffer, size_t size) {
    return real().readlink(path, buffer, size);
}
int FakeDepthLibrary::listDirectory(const char* path, std::vector<std::string>& entries) {
    return real().listDirectory(path, entries);
}
FILE* FakeDepthLibrary::openText(const char* path, const char* mode) {
    return real().openText(path, mode);
}

void* FakeDepthLibrary::dlopen(const char* path, int) {
    loadedPaths.emplace_back(path);
    return loadFails ? nullptr : &libraryToken;
}

void* FakeDepthLibrary::dlsym(void* library, const char* name) {
    if (library != &libraryToken || name == missingCall) return nullptr;
    const auto found = fakeCalls().find(name);
    return found == fakeCalls().end() ? nullptr : found->second;
}

int FakeDepthLibrary::dlclose(void*) {
    ++libraryCloses;
    return 0;
}

const char* FakeDepthLibrary::dlerror() { return loadFails ? "no such library here" : nullptr; }

}  // namespace Zelvo::testing
