// A small file system in memory, mounted for one test on a fresh folder: a disk that fills
// up after a few pages, or a read-only directory that even root cannot write to. Mounting
// needs root; otherwise `skipReason` says why there is none.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace Zelvo::testing {

class SmallTmpfs {
public:
    // options: the tmpfs mount options, e.g. "size=16k"; readOnly mounts it read-only.
    explicit SmallTmpfs(const char* options, bool readOnly = false) {
        if (::geteuid() != 0) {
            skipReason = "mounting a tmpfs needs root";
            return;
        }
        char pattern[] = "/tmp/zelvo-tmpfs-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            skipReason = std::string("no folder to mount on: ") + std::strerror(errno);
            return;
        }
        path = pattern;
        if (::mount("tmpfs", pattern, "tmpfs", readOnly ? MS_RDONLY : 0, options) != 0) {
            skipReason = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted = true;
    }
    ~SmallTmpfs() {
        if (mounted) ::umount2(path.c_str(), MNT_DETACH);
        if (!path.empty()) ::rmdir(path.c_str());
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    std::string path;
    bool mounted = false;
    std::string skipReason;
};

}  // namespace Zelvo::testing
