// A V4L2 request issued once, for the reads that are not retried.
#pragma once

#include <cerrno>

#include "core/host.h"

namespace Zelvo {

// Like retryIoctl, a negative descriptor fails at once with EBADF, without a call.
inline int requestOnce(Host& host, int fd, unsigned long request, void* argument) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return host.ioctl(fd, request, argument);
}

}  // namespace Zelvo
