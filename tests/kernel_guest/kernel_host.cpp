#include "tests/kernel_guest/kernel_host.h"

#include <cstring>

namespace Zelvo::guest {
namespace {

bool isVividCaptureName(const char* text) {
    return std::strncmp(text, "vivid-", 6) == 0 && std::strstr(text, "-vid-cap") != nullptr;
}

// A stream over a copy of the text, in a buffer the stream owns and frees when closed.
FILE* textStream(const std::string& text) {
    FILE* stream = fmemopen(nullptr, text.size() + 1, "w+");
    if (!stream) return nullptr;
    std::fputs(text.c_str(), stream);
    std::rewind(stream);
    return stream;
}

}  // namespace

KernelHost::KernelHost(int i2cBus)
    : kernel(systemHost()), nodeName("vi-output, zelvo " + std::to_string(i2cBus) + "-000c\n") {}

int KernelHost::open(const char* path, int flags, mode_t mode) {
    return kernel->open(path, flags, mode);
}
int KernelHost::close(int fd) { return kernel->close(fd); }
ssize_t KernelHost::read(int fd, void* buffer, size_t count) {
    return kernel->read(fd, buffer, count);
}
ssize_t KernelHost::write(int fd, const void* buffer, size_t count) {
    return kernel->write(fd, buffer, count);
}
int KernelHost::ftruncate(int fd, int64_t length) { return kernel->ftruncate(fd, length); }
int KernelHost::unlink(const char* path) { return kernel->unlink(path); }
int KernelHost::rename(const char* from, const char* to) { return kernel->rename(from, to); }
int KernelHost::ioctl(int fd, unsigned long request, void* argument) {
    return kernel->ioctl(fd, request, argument);
}
int KernelHost::poll(struct pollfd* fds, unsigned long count, int timeoutMs) {
    return kernel->poll(fds, count, timeoutMs);
}
void* KernelHost::mmap(void* address, size_t length, int protection, int flags, int fd,
                       int64_t offset) {
    return kernel->mmap(address, length, protection, flags, fd, offset);
}
int KernelHost::munmap(void* address, size_t length) { return kernel->munmap(address, length); }
int KernelHost::fstat(int fd, struct stat* status) { return kernel->fstat(fd, status); }
ssize_t KernelHost::readlink(const char* path, char* buffer, size_t size) {
    return kernel->readlink(path, buffer, size);
}
int KernelHost::listDirectory(const char* path, std::vector<std::string>& entries) {
    return kernel->listDirectory(path, entries);
}

FILE* KernelHost::openText(const char* path, const char* mode) {
    if (std::strcmp(path, "/sys/firmware/devicetree/base/model") == 0) {
        ++modelAnswers_;
        return textStream(kModel);
    }
    FILE* file = kernel->openText(path, mode);
    const size_t length = std::strlen(path);
    if (!file || std::strncmp(path, "/sys/dev/char/", 14) != 0 || length < 5 ||
        std::strcmp(path + length - 5, "/name") != 0) {
        return file;
    }
    char name[128] = {};
    const bool read = std::fgets(name, sizeof name, file) != nullptr;
    if (!read || !isVividCaptureName(name)) {
        rewind(file);
        return file;
    }
    std::fclose(file);
    ++nodeNameAnswers_;
    return textStream(nodeName);
}

void* KernelHost::dlopen(const char* path, int flags) { return kernel->dlopen(path, flags); }
void* KernelHost::dlsym(void* library, const char* name) { return kernel->dlsym(library, name); }
int KernelHost::dlclose(void* library) { return kernel->dlclose(library); }
const char* KernelHost::dlerror() { return kernel->dlerror(); }

}  // namespace Zelvo::guest
