#include "device/calibration_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace Zelvo {

bool CalibrationFileMapping::map(Host& host, const char* path, std::string& problem) {
    release(host);
    problem.clear();
    const NamedFile file = openRegularFile(host, path, O_RDONLY);
    if (file.failed()) {
        if (file.error != ENOENT) problem = file.reason();
        return false;
    }
    struct stat status {};
    if (host.fstat(file.fd, &status) != 0) {
        problem = std::strerror(errno);
        host.close(file.fd);
        return false;
    }
    if (status.st_size <= 0) {
        host.close(file.fd);
        return false;
    }
    const size_t size = static_cast<size_t>(status.st_size);
    void* mapping = host.mmap(nullptr, size, PROT_READ, MAP_SHARED, file.fd, 0);
    if (mapping == MAP_FAILED) {
        problem = std::string("it cannot be mapped: ") + std::strerror(errno);
        host.close(file.fd);
        return false;
    }
    fd = file.fd;
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

NamedFile saveCalibrationFile(Host& host, const char* path, const uint8_t* data, size_t length) {
    return replaceRegularFile(host, path, data, length);
}

}  // namespace Zelvo
