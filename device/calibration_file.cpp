#include "device/calibration_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace Zelvo {

bool CalibrationFileMapping::map(Host& host, const char* path) {
    release(host);
    const int opened = host.open(path, O_RDONLY | O_CLOEXEC);
    if (opened < 0) return false;
    struct stat status {};
    if (host.fstat(opened, &status) != 0 || status.st_size <= 0) {
        host.close(opened);
        return false;
    }
    const size_t size = static_cast<size_t>(status.st_size);
    void* mapping = host.mmap(nullptr, size, PROT_READ, MAP_SHARED, opened, 0);
    if (mapping == MAP_FAILED) {
        host.close(opened);
        return false;
    }
    fd = opened;
    bytes = mapping;
    length = size;
    return true;
}

void CalibrationFileMapping::release(Host& host) {
    if (bytes != nullptr) host.munmap(bytes, length);
    if (fd >= 0) host.close(fd);
    fd = -1;
    bytes = nullptr;
    length = 0;
}

bool saveCalibrationFile(Host& host, const char* path, const uint8_t* data, size_t length) {
    const int fd = host.open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool saved = false;
    if (host.ftruncate(fd, static_cast<int64_t>(length)) == 0) {
        void* mapping = host.mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapping != MAP_FAILED) {
            std::memcpy(mapping, data, length);
            saved = host.munmap(mapping, length) == 0;
        }
    }
    const int error = errno;
    host.close(fd);
    errno = error;
    return saved;
}

}  // namespace Zelvo
