// The raw header and calibration encodings: what one side writes the other reads back, and
// damaged bytes are refused rather than misread.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "depth/calibration.h"
#include "depth/raw_header.h"

namespace ZelvoDepth {
namespace {

RawHeader sampleHeader() {
    RawHeader header = expectedSubFrame(7, kDoubleFrequencySubFrames);
    header.frequencyHz = 66620546;
    header.integrationTimeUs = 1000;
    header.temperatureSixteenths = -37;
    header.frameCounter = 0xA1B2C3D4;
    header.width = 640;
    header.height = 480;
    return header;
}

TEST(RawHeader, RoundTripsEveryFieldAndSurvivesAnEightBitTransport) {
    std::vector<uint16_t> row(640, 0xFFFF);
    encodeRawHeader(sampleHeader(), row.data(), row.size());
    for (size_t i = kRawHeaderWords; i < row.size(); ++i) ASSERT_EQ(row[i], 0) << i;
    // An 8-bit transport keeps bits 4..11 only.
    for (uint16_t& word : row) word = static_cast<uint16_t>((word >> 4) << 4);
    RawHeader read;
    ASSERT_TRUE(decodeRawHeader(row.data(), row.size(), read));
    const RawHeader expected = sampleHeader();
    EXPECT_EQ(read.kind, SubFrameKind::Phase);
    EXPECT_EQ(read.subFrameIndex, 7);
    EXPECT_EQ(read.phaseIndex, 2);
    EXPECT_EQ(read.frequencyIndex, 1);
    EXPECT_EQ(read.frequencyHz, expected.frequencyHz);
    EXPECT_EQ(read.integrationTimeUs, 1000u);
    EXPECT_EQ(read.temperatureSixteenths, -37);
    EXPECT_EQ(read.frameCounter, 0xA1B2C3D4u);
    EXPECT_EQ(read.width, 640);
    EXPECT_EQ(read.height, 480);
    EXPECT_EQ(read.subFrameCount, 10);
}

TEST(RawHeader, RefusesDamagedRows) {
    const std::vector<std::pair<const char*, std::function<void(std::vector<uint16_t>&)>>>
        damages = {
            {"magic", [](auto& row) { row[0] = 'Y' << 4; }},
            {"check byte", [](auto& row) { row[19] ^= 0x10; }},
            {"low bits set", [](auto& row) { row[3] |= 0x1; }},
            {"too narrow", [](auto& row) { row.resize(kRawHeaderWords - 1); }},
        };
    for (const auto& [name, damage] : damages) {
        SCOPED_TRACE(name);
        std::vector<uint16_t> row(320);
        encodeRawHeader(sampleHeader(), row.data(), row.size());
        damage(row);
        RawHeader read;
        EXPECT_FALSE(decodeRawHeader(row.data(), row.size(), read));
    }
}

TEST(RawHeader, SubFrameOrderOfBothModes) {
    const char* single = "0123G";
    const char* dual = "0123G0123B";
    for (int count : {kSingleFrequencySubFrames, kDoubleFrequencySubFrames}) {
        const char* order = count == kSingleFrequencySubFrames ? single : dual;
        for (int i = 0; i < count; ++i) {
            const RawHeader header = expectedSubFrame(i, count);
            const char expected = order[i];
            if (expected == 'G') {
                EXPECT_EQ(header.kind, SubFrameKind::Gray);
            } else if (expected == 'B') {
                EXPECT_EQ(header.kind, SubFrameKind::Background);
            } else {
                EXPECT_EQ(header.kind, SubFrameKind::Phase);
                EXPECT_EQ(header.phaseIndex, expected - '0');
            }
            EXPECT_EQ(header.frequencyIndex, i / 5);
        }
    }
}

Calibration sampleCalibration() {
    Calibration calibration;
    calibration.width = 640;
    calibration.height = 480;
    calibration.gridColumns = 17;
    calibration.gridRows = 13;
    calibration.lens = {525.5f, 525.0f, 319.5f, 239.5f, -0.1f, 0.01f, 0.0f, 0.0f};
    calibration.referenceTemperature = 40.0f;
    for (uint32_t hz : {99930819u, 66620546u}) {
        FrequencyCalibration frequency;
        frequency.frequencyHz = hz;
        frequency.globalOffset = 0.25f;
        frequency.temperatureCoefficient = -0.001f;
        for (int i = 0; i < 17 * 13; ++i)
            frequency.grid.push_back(static_cast<int16_t>(i * 37 - 4000));
        calibration.frequencies.push_back(frequency);
    }
    return calibration;
}

TEST(Calibration, EncodesCompactlyAndReadsBack) {
    const std::vector<uint8_t> bytes = encodeCalibration(sampleCalibration());
    ASSERT_EQ(bytes.size(), 52u + 2 * (12 + 2 * 17 * 13) + 4);
    EXPECT_EQ(announcedCalibrationLength(bytes.data(), bytes.size()), bytes.size());
    Calibration read;
    ASSERT_TRUE(parseCalibration(bytes.data(), bytes.size(), read));
    const Calibration expected = sampleCalibration();
    EXPECT_EQ(read.width, 640);
    EXPECT_EQ(read.gridColumns, 17);
    EXPECT_FLOAT_EQ(read.lens.cy, 239.5f);
    EXPECT_FLOAT_EQ(read.referenceTemperature, 40.0f);
    ASSERT_EQ(read.frequencies.size(), 2u);
    EXPECT_EQ(read.frequencies[1].frequencyHz, 66620546u);
    EXPECT_FLOAT_EQ(read.frequencies[1].temperatureCoefficient, -0.001f);
    EXPECT_EQ(read.frequencies[1].grid, expected.frequencies[1].grid);

    // Short contents are padded to one 512-byte block; the known CRC-32 check value.
    Calibration small = sampleCalibration();
    small.gridColumns = small.gridRows = 2;
    small.frequencies.resize(1);
    small.frequencies[0].grid = {1, -1, 2, -2};
    EXPECT_EQ(encodeCalibration(small).size(), kCalibrationMinBytes);
    const uint8_t check[] = "123456789";
    EXPECT_EQ(crc32(check, 9), 0xCBF43926u);
}

TEST(Calibration, RefusesMalformedBytesNamingTheFault) {
    using F = CalibrationFault;
    const std::vector<std::tuple<const char*, std::function<void(std::vector<uint8_t>&)>, F>>
        damages = {
            {"truncated", [](auto& b) { b.resize(b.size() - 1); }, F::WrongSize},
            {"length below a block", [](auto& b) { b[0] = 0xFF; b[1] = 0x01; }, F::WrongSize},
            {"length above the bound", [](auto& b) { b[0] = 0x01; b[1] = 0x41; }, F::WrongSize},
            {"magic", [](auto& b) { b[2] = 'X'; }, F::Magic},
            {"version", [](auto& b) { b[6] = 2; }, F::Version},
            {"check word", [](auto& b) { b[100] ^= 1; }, F::Check},
            {"no frequency", [](auto& b) { b[12] = 0; }, F::Counts},
            {"grid too large to fit", [](auto& b) { b[13] = 64; b[14] = 64; }, F::Counts},
            {"empty", [](auto& b) { b.clear(); }, F::WrongSize},
        };
    for (const auto& [name, damage, expected] : damages) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = encodeCalibration(sampleCalibration());
        damage(bytes);
        // Damage to a counted field is made consistent with the check word, so that the
        // field's own test refuses it.
        const size_t announced = announcedCalibrationLength(bytes.data(), bytes.size());
        if (std::string(name) != "check word" && announced >= 8 && announced <= bytes.size()) {
            const uint32_t crc = crc32(bytes.data(), announced - 4);
            for (int i = 0; i < 4; ++i)
                bytes[announced - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
        }
        Calibration read = sampleCalibration();
        read.width = 1;
        CalibrationFault fault = F::None;
        EXPECT_FALSE(parseCalibration(bytes.data(), bytes.size(), read, &fault));
        EXPECT_EQ(read.width, 1) << "changed by a refused parse";
        EXPECT_EQ(fault, expected) << calibrationFaultName(fault);
    }
    Calibration unfit = sampleCalibration();
    unfit.frequencies[0].grid.pop_back();
    EXPECT_TRUE(encodeCalibration(unfit).empty());
    unfit = sampleCalibration();
    unfit.frequencies[0].globalOffset = NAN;
    const std::vector<uint8_t> notFinite = encodeCalibration(unfit);
    Calibration read;
    CalibrationFault fault = CalibrationFault::None;
    EXPECT_FALSE(parseCalibration(notFinite.data(), notFinite.size(), read, &fault));
    EXPECT_EQ(fault, CalibrationFault::Values);
}

}  // namespace
}  // namespace ZelvoDepth
