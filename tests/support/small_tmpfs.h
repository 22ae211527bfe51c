// A small file system in memory, mounted for one test: a disk that is full after a few pages,
// or a read-only directory that even root cannot write to. Mounting needs root; without a
// mount, `skipReason` says why.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace Zelvo::testing {

struct SmallTmpfs {
    // options: tmpfs mount options, e.g. "size=16k".
    explicit SmallTmpfs(const char* options, bool readOnly = false) {
        char pattern[] = "/tmp/zelvo-tmpfs-XXXXXX";
        if (::geteuid() != 0) {
            skipReason = "mounting a tmpfs needs root";
        } else if (::mkdtemp(pattern) == nullptr ||
                   ::mount("tmpfs", (path = pattern).c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
                           options) != 0) {
            skipReason = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        } else {
            mounted = true;
        }
    }
    ~SmallTmpfs() {
        if (mounted) ::umount2(path.c_str(), MNT_DETACH);
        if (!path.empty()) ::rmdir(path.c_str());
    }

    std::string path;
    bool mounted = false;
    std::string skipReason;
};

}  // namespace Zelvo::testing
