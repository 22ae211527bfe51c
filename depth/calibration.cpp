#include "depth/calibration.h"

#include <cmath>
#include <cstring>

namespace ZelvoDepth {
namespace {

constexpr uint8_t kMagic[4] = {'Z', 'C', 'A', 'L'};
constexpr uint16_t kVersion = 1;
constexpr size_t kFixedBytes = 52;
constexpr size_t kFrequencyRecordBytes = 12;
constexpr size_t kCheckBytes = 4;

void put16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    put16(out, at, static_cast<uint16_t>(value));
    put16(out, at + 2, static_cast<uint16_t>(value >> 16));
}

void putFloat(std::vector<uint8_t>& out, size_t at, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put32(out, at, bits);
}

uint16_t get16(const uint8_t* data) { return static_cast<uint16_t>(data[0] | data[1] << 8); }

uint32_t get32(const uint8_t* data) {
    return get16(data) | static_cast<uint32_t>(get16(data + 2)) << 16;
}

float getFloat(const uint8_t* data) {
    const uint32_t bits = get32(data);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool countsInBounds(size_t frequencies, size_t columns, size_t rows) {
    return frequencies >= 1 && frequencies <= kCalibrationMaxFrequencies &&
           columns >= kCalibrationMinGrid && columns <= kCalibrationMaxGrid &&
           rows >= kCalibrationMinGrid && rows <= kCalibrationMaxGrid;
}

size_t contentBytes(size_t frequencies, size_t columns, size_t rows) {
    return kFixedBytes + frequencies * (kFrequencyRecordBytes + 2 * columns * rows);
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length) {
    static const auto table = [] {
        std::vector<uint32_t> entries(256);
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::vector<uint8_t> encodeCalibration(const Calibration& calibration) {
    const size_t count = calibration.frequencies.size();
    const size_t cells = static_cast<size_t>(calibration.gridColumns) * calibration.gridRows;
    if (!countsInBounds(count, calibration.gridColumns, calibration.gridRows)) return {};
    for (const FrequencyCalibration& frequency : calibration.frequencies)
        if (frequency.grid.size() != cells) return {};
    size_t length = contentBytes(count, calibration.gridColumns, calibration.gridRows) +
                    kCheckBytes;
    if (length < kCalibrationMinBytes) length = kCalibrationMinBytes;
    if (length > kCalibrationMaxBytes) return {};

    std::vector<uint8_t> out(length, 0);
    put16(out, 0, static_cast<uint16_t>(length));
    std::memcpy(&out[2], kMagic, sizeof kMagic);
    put16(out, 6, kVersion);
    put16(out, 8, calibration.width);
    put16(out, 10, calibration.height);
    out[12] = static_cast<uint8_t>(count);
    out[13] = calibration.gridColumns;
    out[14] = calibration.gridRows;
    const LensIntrinsics& lens = calibration.lens;
    const float lensValues[8] = {lens.fx, lens.fy, lens.cx, lens.cy,
                                 lens.k1, lens.k2, lens.p1, lens.p2};
    for (size_t i = 0; i < 8; ++i) putFloat(out, 16 + 4 * i, lensValues[i]);
    putFloat(out, 48, calibration.referenceTemperature);
    size_t at = kFixedBytes;
    for (const FrequencyCalibration& frequency : calibration.frequencies) {
        put32(out, at, frequency.frequencyHz);
        putFloat(out, at + 4, frequency.globalOffset);
        putFloat(out, at + 8, frequency.temperatureCoefficient);
        at += kFrequencyRecordBytes;
    }
    for (const FrequencyCalibration& frequency : calibration.frequencies) {
        for (int16_t offset : frequency.grid) {
            put16(out, at, static_cast<uint16_t>(offset));
            at += 2;
        }
    }
    put32(out, length - kCheckBytes, crc32(out.data(), length - kCheckBytes));
    return out;
}

size_t announcedCalibrationLength(const uint8_t* data, size_t length) {
    return data && length >= 2 ? get16(data) : 0;
}

const char* calibrationFaultName(CalibrationFault fault) {
    switch (fault) {
    case CalibrationFault::None: return "";
    case CalibrationFault::WrongSize: return "wrong size";
    case CalibrationFault::Magic: return "magic";
    case CalibrationFault::Version: return "version";
    case CalibrationFault::Check: return "CRC-32";
    case CalibrationFault::Counts: return "counts";
    case CalibrationFault::Values: return "values";
    }
    return "";
}

bool parseCalibration(const uint8_t* data, size_t length, Calibration& calibration,
                      CalibrationFault* fault) {
    CalibrationFault ignored;
    CalibrationFault& found = fault != nullptr ? *fault : ignored;
    found = CalibrationFault::WrongSize;
    const size_t announced = announcedCalibrationLength(data, length);
    if (announced < kCalibrationMinBytes || announced > kCalibrationMaxBytes ||
        announced > length) {
        return false;
    }
    found = CalibrationFault::Magic;
    if (std::memcmp(data + 2, kMagic, sizeof kMagic) != 0) return false;
    found = CalibrationFault::Version;
    if (get16(data + 6) != kVersion) return false;
    found = CalibrationFault::Check;
    if (get32(data + announced - kCheckBytes) != crc32(data, announced - kCheckBytes))
        return false;
    const size_t count = data[12];
    const size_t columns = data[13];
    const size_t rows = data[14];
    found = CalibrationFault::Counts;
    if (!countsInBounds(count, columns, rows)) return false;
    if (contentBytes(count, columns, rows) > announced - kCheckBytes) return false;

    Calibration read;
    read.width = get16(data + 8);
    read.height = get16(data + 10);
    read.gridColumns = static_cast<uint8_t>(columns);
    read.gridRows = static_cast<uint8_t>(rows);
    float lensValues[8];
    for (size_t i = 0; i < 8; ++i) lensValues[i] = getFloat(data + 16 + 4 * i);
    read.lens = {lensValues[0], lensValues[1], lensValues[2], lensValues[3],
                 lensValues[4], lensValues[5], lensValues[6], lensValues[7]};
    read.referenceTemperature = getFloat(data + 48);
    bool finite = std::isfinite(read.referenceTemperature);
    for (float value : lensValues) finite = finite && std::isfinite(value);
    size_t at = kFixedBytes;
    read.frequencies.resize(count);
    for (FrequencyCalibration& frequency : read.frequencies) {
        frequency.frequencyHz = get32(data + at);
        frequency.globalOffset = getFloat(data + at + 4);
        frequency.temperatureCoefficient = getFloat(data + at + 8);
        finite = finite && std::isfinite(frequency.globalOffset) &&
                 std::isfinite(frequency.temperatureCoefficient);
        at += kFrequencyRecordBytes;
    }
    found = CalibrationFault::Values;
    if (!finite) return false;
    for (FrequencyCalibration& frequency : read.frequencies) {
        frequency.grid.resize(columns * rows);
        for (int16_t& offset : frequency.grid) {
            offset = static_cast<int16_t>(get16(data + at));
            at += 2;
        }
    }
    calibration = std::move(read);
    found = CalibrationFault::None;
    return true;
}

bool calibrationServesOutput(const Calibration& calibration, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    const int factor = calibration.width / width;
    return factor >= 1 && factor * width == calibration.width &&
           factor * height == calibration.height;
}

}  // namespace ZelvoDepth
