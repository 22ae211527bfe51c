// Files opened by name in a directory that others may write to (the working directory's
// configuration texts and calibration files, the calibration tool's files). A symbolic
// link at the name is never followed, the name is opened without blocking (a FIFO would
// otherwise hold the open for ever) and only a regular file is used: a FIFO, device,
// directory or link there counts as a file that cannot be opened. Every write is checked.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/host.h"

namespace Zelvo {

// What opening or writing a file by name came to.
struct NamedFile {
    int fd = -1;     // the regular file, open, when `error` is 0 and the call keeps it open
    int error = 0;   // errno of the step that failed, 0 on success
    mode_t type = 0;  // the file type found at the name when it is not a regular file

    bool failed() const { return error != 0; }
    // Why the file cannot be used, for a line on standard error: "it is a FIFO, not a
    // regular file", "it is a symbolic link, which is not followed", or the system's message.
    std::string reason() const;
};

// Opens `path` with `flags` (O_RDONLY or O_RDWR, with O_CREAT and `mode` as wanted) plus
// O_NOFOLLOW, O_NONBLOCK, O_NOCTTY and O_CLOEXEC, and keeps it only when fstat shows a
// regular file. The caller closes `fd`.
NamedFile openRegularFile(Host& host, const char* path, int flags, mode_t mode = 0);

// Writes all `length` bytes, resuming after short writes and interrupted calls; false with
// errno on failure (ENOSPC when the system accepts no byte more).
bool writeWhole(Host& host, int fd, const void* bytes, size_t length);

// Creates or empties the regular file `path` (created with `mode`) and writes `bytes` into it.
// A write or close that fails removes the partial file. `fd` is -1 afterwards.
NamedFile writeRegularFile(Host& host, const char* path, const void* bytes, size_t length,
                           mode_t mode = 0666);

// Writes `bytes` to a new file beside `path` and renames it into place, so a failure leaves
// the previous file or none, never a partial one. A name that holds something other than a
// regular file (a link, a directory, a device) is refused and left alone.
NamedFile replaceRegularFile(Host& host, const char* path, const void* bytes, size_t length,
                             mode_t mode = 0666);

// Reads at most `maximum` bytes of the regular file `path` into `bytes`; `fileSize` is the
// file's whole size, which may be larger.
NamedFile readRegularFile(Host& host, const char* path, size_t maximum,
                          std::vector<uint8_t>& bytes, uint64_t& fileSize);

}  // namespace Zelvo
