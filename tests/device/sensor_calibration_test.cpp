// The calibration kept in the camera module's memory, read block by block over the CSI
// sensor's I2C bus, and how the VGA device uses it in place of "cali.bin".
#include <gtest/gtest.h>

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/sensor_calibration.h"
#include "device/vga_device.h"
#include "tests/csi/csi_fixture.h"
#include "tests/device/fake_depth_library.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_sensor.h"

namespace Zelvo {
namespace {

using testing::CsiBench;
using testing::FakeCsiHost;

// The module's memory as the sensor reads it: a request write (0x06 0x31, offset, length)
// selects 512 bytes that the next read of the data window returns.
struct CalibrationMemory {
    explicit CalibrationMemory(size_t announced) {
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 ^ i >> 8);
        bytes[80] = static_cast<uint8_t>(announced);
        bytes[81] = static_cast<uint8_t>(announced >> 8);
    }

    void serve(FakeCsiHost& host) {
        host.handle(I2C_RDWR, [this](int, void* argument) {
            auto* transfer = static_cast<i2c_rdwr_ioctl_data*>(argument);
            const i2c_msg& first = transfer->msgs[0];
            if (transfer->nmsgs == 1 && first.len == 6 && first.buf[0] == 0x06 &&
                first.buf[1] == 0x31) {
                requests.push_back(static_cast<uint16_t>(first.buf[2] << 8 | first.buf[3]));
                return 1;
            }
            if (transfer->nmsgs != 2) return static_cast<int>(transfer->nmsgs);
            if (static_cast<int>(requests.size()) - 1 == failingRead) {
                errno = EIO;
                return -1;
            }
            std::memcpy(transfer->msgs[1].buf, bytes.data() + requests.back(),
                        transfer->msgs[1].len);
            return 2;
        });
    }

    std::string calibration(size_t length) const {
        return std::string(bytes.begin() + 80, bytes.begin() + 80 + static_cast<long>(length));
    }

    std::vector<uint8_t> bytes = std::vector<uint8_t>(0x10000);
    std::vector<uint16_t> requests;  // offsets asked for, in order
    int failingRead = -1;            // the read (from 0) that fails
};

TEST(SensorCalibration, LengthWordBoundsAndBlockReads) {
    const struct {
        size_t announced;
        int failingRead;
        size_t length;
        size_t blocks;
        int failedBlock;
    } cases[] = {
        {0, -1, 0, 1, -1},        {511, -1, 0, 1, -1},     {512, -1, 512, 1, -1},
        {513, -1, 513, 2, -1},    {1000, -1, 1000, 2, -1}, {16384, -1, 16384, 32, -1},
        {16385, -1, 0, 1, -1},    {65535, -1, 0, 1, -1},   {1000, 0, 0, 1, 0},
        {1600, 2, 0, 3, 2},
    };
    for (const auto& c : cases) {
        CsiBench bench(PlatformRaspberryPi5);
        ASSERT_EQ(bench.open(), 0);
        CalibrationMemory memory(c.announced);
        memory.failingRead = c.failingRead;
        memory.serve(bench.host);

        const SensorCalibration read = readSensorCalibration(*bench.sensor);
        EXPECT_EQ(read.length, c.length) << c.announced;
        EXPECT_EQ(read.read(), c.length > 0) << c.announced;
        EXPECT_EQ(read.failedBlock, c.failedBlock) << c.announced;
        EXPECT_EQ(read.announced, c.failingRead == 0 ? 0 : c.announced) << c.announced;
        ASSERT_EQ(memory.requests.size(), c.blocks) << c.announced;
        for (size_t b = 0; b < c.blocks; ++b) EXPECT_EQ(memory.requests[b], 80 + 512 * b);
        const std::string got(reinterpret_cast<const char*>(bench.sensor->calibrationData()),
                              c.length);
        EXPECT_EQ(got, memory.calibration(c.length)) << c.announced;
    }
}

TEST(SensorCalibration, NeedsAnOpenedSensor) {
    CsiBench bench(PlatformRaspberryPi5);
    bench.make();
    EXPECT_FALSE(readSensorCalibration(*bench.sensor).read());
    EXPECT_TRUE(bench.host.i2cMessages.empty());
}

std::string contentsOf(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(SensorCalibration, TheDeviceHandsItOverInPlaceOfTheFileAndCanKeepACopy) {
    const struct {
        const char* name;
        bool csiSensor, readSensor, save;
        size_t announced;
        bool fromSensor;
    } cases[] = {
        {"switched off", true, false, false, 1000, false},
        {"read", true, true, false, 1000, true},
        {"read and saved", true, true, true, 1000, true},
        {"length out of bounds", true, true, true, 100, false},
        {"not a CSI sensor", false, true, true, 1000, false},
    };
    for (const auto& c : cases) {
        testing::ScratchDirectory scratch;
        ASSERT_TRUE(scratch.ready());
        std::ofstream("cali.bin") << "file calibration";
        std::ofstream("cali.out.bin") << std::string(20000, 'x');
        CsiBench bench(PlatformRaspberryPi5);
        ASSERT_EQ(bench.open(), 0);
        CalibrationMemory memory(c.announced);
        memory.serve(bench.host);
        testing::ScriptedSensor other(std::make_shared<testing::CallLog>(),
                                      testing::SensorScript{640, 480});

        testing::FakeDepthLibrary library;
        ZelvoDeviceVGA device(PlatformRaspberryPi5, library);
        device.readSensorCalibration = c.readSensor;
        device.saveSensorCalibration = c.save;
        ASSERT_EQ(device.init(c.csiSensor ? static_cast<ZelvoTOFSensor*>(bench.sensor.get())
                                          : &other,
                              VGA),
                  0);
        ASSERT_EQ(device.start(), 0) << c.name;
        const std::string expected =
            c.fromSensor ? memory.calibration(c.announced) : "file calibration";
        EXPECT_EQ(library.calibrations, (std::vector<std::string>{expected})) << c.name;
        EXPECT_EQ(memory.requests.empty(), !(c.csiSensor && c.readSensor)) << c.name;
        EXPECT_EQ(contentsOf("cali.out.bin"),
                  c.fromSensor && c.save ? expected : std::string(20000, 'x'))
            << c.name;
    }
}

}  // namespace
}  // namespace Zelvo
