// The host of the guest suite: the guest's kernel answers every call, except the two
// answers that name the hardware, so that the kernel's virtual capture node (vivid)
// stands in for a Jetson Nano whose sensor sits behind one capture node.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "core/host.h"

namespace Zelvo::guest {

class KernelHost final : public Host {
public:
    // The Jetson node name given to vivid's capture nodes names i2cBus.
    explicit KernelHost(int i2cBus);

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
    // The devicetree model and the sysfs name of a vivid capture node are answered;
    // every other file is the kernel's.
    FILE* openText(const char* path, const char* mode) override;
    void* dlopen(const char* path, int flags) override;
    void* dlsym(void* library, const char* name) override;
    int dlclose(void* library) override;
    const char* dlerror() override;

    // How many answers were ours rather than the kernel's.
    int modelAnswers() const { return modelAnswers_; }
    int nodeNameAnswers() const { return nodeNameAnswers_; }

    static constexpr const char* kModel = "NVIDIA Jetson Nano Developer Kit";

private:
    std::shared_ptr<Host> kernel;
    std::string nodeName;
    std::atomic<int> modelAnswers_{0};
    std::atomic<int> nodeNameAnswers_{0};
};

}  // namespace Zelvo::guest
