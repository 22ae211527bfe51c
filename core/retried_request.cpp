#include "core/retried_request.h"

#include <cerrno>

namespace Zelvo {

int retryIoctl(Host& host, int fd, unsigned long request, void* argument) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    int result = -1;
    for (int attempt = 0; attempt < kRequestAttempts; ++attempt) {
        result = host.ioctl(fd, request, argument);
        if (result != -1) return result;
        if (errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT) return result;
    }
    return result;
}

}  // namespace Zelvo
