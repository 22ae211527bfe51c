// Calibration files of the working directory: "cali.bin" mapped for the depth library to
// read, and the copy stored of a calibration read from the sensor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/host.h"
#include "core/named_file.h"

namespace Zelvo {

constexpr const char* kCalibrationFileName = "cali.bin";
constexpr const char* kSensorCalibrationCopyName = "cali.out.bin";

// A whole file mapped read-only and shared, with its descriptor held open while the
// mapping is in use. Released by its owner's close, not by the destructor.
class CalibrationFileMapping {
public:
    // Maps the regular file (a link at the name is not followed); false, with nothing held,
    // when it is missing, empty or cannot be used. `problem` then says why it cannot be
    // used, and stays empty for a missing or empty file, which is no error.
    bool map(Host& host, const char* path, std::string& problem);
    // Unmaps and closes; nothing happens when nothing is mapped.
    void release(Host& host);

    bool mapped() const { return bytes != nullptr; }
    const void* data() const { return bytes; }
    size_t size() const { return length; }

private:
    int fd = -1;
    void* bytes = nullptr;
    size_t length = 0;
};

// Stores `length` bytes as the regular file `path` (created with permissions 0666): written
// beside it, every write checked, and renamed into place, so a failure leaves the previous
// file or none. A link, directory or device at the name is refused and left alone.
NamedFile saveCalibrationFile(Host& host, const char* path, const uint8_t* data, size_t length);

}  // namespace Zelvo
