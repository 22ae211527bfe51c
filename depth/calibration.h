// The calibration of one camera module (docs/calibration-format.md): phase offsets per
// modulation frequency, a coarse grid of per-pixel offsets, their temperature drift and
// the lens, in a compact little-endian encoding of 512 to 16384 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ZelvoDepth {

constexpr size_t kCalibrationMinBytes = 512;
constexpr size_t kCalibrationMaxBytes = 16384;
constexpr int kCalibrationMaxFrequencies = 4;
constexpr int kCalibrationMinGrid = 2;
constexpr int kCalibrationMaxGrid = 64;
// Grid offsets are stored in units of 1/8192 radian.
constexpr float kGridOffsetUnit = 1.0f / 8192.0f;

struct FrequencyCalibration {
    uint32_t frequencyHz = 0;
    float globalOffset = 0.0f;            // radians
    float temperatureCoefficient = 0.0f;  // radians per degree Celsius
    std::vector<int16_t> grid;            // gridRows x gridColumns, row by row
};

struct LensIntrinsics {
    float fx = 0, fy = 0, cx = 0, cy = 0;  // pixels of the width x height sensor
    float k1 = 0, k2 = 0, p1 = 0, p2 = 0;
};

struct Calibration {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t gridColumns = 0;
    uint8_t gridRows = 0;
    LensIntrinsics lens;
    float referenceTemperature = 0.0f;  // degrees Celsius
    std::vector<FrequencyCalibration> frequencies;
};

// The encoded bytes (length as the first word, CRC-32 last), or an empty vector when the
// calibration does not fit the format (counts out of bounds, grids of the wrong size).
std::vector<uint8_t> encodeCalibration(const Calibration& calibration);

// Why bytes are not a calibration.
enum class CalibrationFault {
    None,
    WrongSize,  // length field outside 512..16384 or beyond the bytes given
    Magic,
    Version,
    Check,      // the CRC-32 does not match
    Counts,     // a count outside its bounds, or records and grids beyond the length
    Values,     // a float that is not finite
};

// The fault's name in a message: "wrong size", "magic", "version", "CRC-32", "counts",
// "values" ("" for None).
const char* calibrationFaultName(CalibrationFault fault);

// Parses `length` bytes: false, leaving `calibration` unchanged, when they are malformed,
// with the reason in *fault when given.
bool parseCalibration(const uint8_t* data, size_t length, Calibration& calibration,
                      CalibrationFault* fault = nullptr);

// Whether a calibration of a W x H module serves a width x height output: the module's own
// size, or that size divided by one whole number (640 x 480 serves 320 x 240).
bool calibrationServesOutput(const Calibration& calibration, int width, int height);

// The encoded length a calibration's first word announces, or 0 for fewer than 2 bytes.
size_t announcedCalibrationLength(const uint8_t* data, size_t length);

// CRC-32 with the polynomial of zlib and Ethernet.
uint32_t crc32(const uint8_t* data, size_t length);

}  // namespace ZelvoDepth
