#include "core/named_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace Zelvo {
namespace {

constexpr int kSafeFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Attempts at a temporary name nobody else holds.
constexpr int kTemporaryNameAttempts = 16;

const char* typeName(mode_t type) {
    switch (type) {
    case S_IFIFO: return "a FIFO";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFDIR: return "a directory";
    case S_IFSOCK: return "a socket";
    default: return "not a regular file";
    }
}

NamedFile failure(int error, mode_t type = 0) {
    NamedFile result;
    result.error = error;
    result.type = type;
    return result;
}

// Closes `fd`, keeping the errno of the failure being reported.
void closeQuietly(Host& host, int fd) {
    const int error = errno;
    host.close(fd);
    errno = error;
}

NamedFile writeOpened(Host& host, const char* path, NamedFile file, const void* bytes,
                      size_t length) {
    if (file.failed()) return file;
    const bool written =
        host.ftruncate(file.fd, 0) == 0 && writeWhole(host, file.fd, bytes, length);
    const int error = written ? 0 : errno;
    // A delayed write error (a full disk on a network file system) shows up at close.
    const bool closed = host.close(file.fd) == 0;
    NamedFile result;
    if (written && closed) return result;
    result.error = written ? errno : error;
    host.unlink(path);
    return result;
}

}  // namespace

std::string NamedFile::reason() const {
    if (type == S_IFLNK) return "it is a symbolic link, which is not followed";
    if (type != 0) return std::string("it is ") + typeName(type) + ", not a regular file";
    return std::strerror(error);
}

NamedFile openRegularFile(Host& host, const char* path, int flags, mode_t mode) {
    const int fd = host.open(path, flags | kSafeFlags, mode);
    if (fd < 0) {
        // O_NOFOLLOW refuses a link at the name with ELOOP.
        return failure(errno, errno == ELOOP ? S_IFLNK : 0);
    }
    struct stat status {};
    if (host.fstat(fd, &status) != 0) {
        const int error = errno;
        host.close(fd);
        return failure(error);
    }
    if (!S_ISREG(status.st_mode)) {
        host.close(fd);
        return failure(EINVAL, status.st_mode & S_IFMT);
    }
    NamedFile result;
    result.fd = fd;
    return result;
}

bool writeWhole(Host& host, int fd, const void* bytes, size_t length) {
    const auto* next = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        const ssize_t written = host.write(fd, next, length);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return false;
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        next += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

NamedFile writeRegularFile(Host& host, const char* path, const void* bytes, size_t length,
                           mode_t mode) {
    // Read-write: a FIFO then opens without a reader and shows what it is.
    return writeOpened(host, path, openRegularFile(host, path, O_RDWR | O_CREAT, mode), bytes,
                       length);
}

NamedFile replaceRegularFile(Host& host, const char* path, const void* bytes, size_t length,
                             mode_t mode) {
    // O_PATH looks at the name without reading it, whatever its permissions or type.
    const NamedFile present = openRegularFile(host, path, O_PATH);
    if (!present.failed()) host.close(present.fd);
    if (present.failed() && present.error != ENOENT) return present;

    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::string temporary = std::string(path) + ".partial-" +
                                      std::to_string(stamp % 1000000007) + "-" +
                                      std::to_string(attempt);
        NamedFile opened =
            openRegularFile(host, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
        if (opened.error == EEXIST) continue;
        NamedFile written = writeOpened(host, temporary.c_str(), opened, bytes, length);
        if (written.failed()) return written;
        if (host.rename(temporary.c_str(), path) != 0) {
            written.error = errno;
            host.unlink(temporary.c_str());
        }
        return written;
    }
    return failure(EEXIST);
}

NamedFile readRegularFile(Host& host, const char* path, size_t maximum,
                          std::vector<uint8_t>& bytes, uint64_t& fileSize) {
    bytes.clear();
    fileSize = 0;
    NamedFile file = openRegularFile(host, path, O_RDONLY);
    if (file.failed()) return file;
    struct stat status {};
    if (host.fstat(file.fd, &status) != 0) {
        closeQuietly(host, file.fd);
        return failure(errno);
    }
    fileSize = static_cast<uint64_t>(status.st_size);
    bytes.resize(static_cast<size_t>(std::min<uint64_t>(fileSize, maximum)));
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = host.read(file.fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            closeQuietly(host, file.fd);
            bytes.clear();
            return failure(errno);
        }
        if (got == 0) break;  // the file shrank since fstat
        filled += static_cast<size_t>(got);
    }
    bytes.resize(filled);
    host.close(file.fd);
    return NamedFile{};
}

}  // namespace Zelvo
