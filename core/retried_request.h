// The retried request: a V4L2 or media ioctl reissued at once, up to 5 attempts in all,
// while it fails with EAGAIN, EINTR or ETIMEDOUT.
#pragma once

#include "core/host.h"

namespace Zelvo {

constexpr int kRequestAttempts = 5;

// A negative descriptor fails at once with EBADF, without a call.
int retryIoctl(Host& host, int fd, unsigned long request, void* argument);

}  // namespace Zelvo
