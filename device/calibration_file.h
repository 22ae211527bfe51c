// Calibration files of the working directory: "cali.bin" mapped for the depth library to
// read, and the copy stored of a calibration read from the sensor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/host.h"

namespace Zelvo {

constexpr const char* kCalibrationFileName = "cali.bin";
constexpr const char* kSensorCalibrationCopyName = "cali.out.bin";

// A whole file mapped read-only and shared, with its descriptor held open while the
// mapping is in use. Released by its owner's close, not by the destructor.
class CalibrationFileMapping {
public:
    // Maps the file; false, with nothing held, when it cannot be opened, is empty or
    // cannot be mapped.
    bool map(Host& host, const char* path);
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

// Stores `length` bytes as the file `path`: opened read-write (created with permissions
// 0666), truncated to the length, mapped shared, copied, unmapped and closed. false on
// the first step that fails, with errno telling why.
bool saveCalibrationFile(Host& host, const char* path, const uint8_t* data, size_t length);

}  // namespace Zelvo
