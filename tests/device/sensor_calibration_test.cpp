// The calibration kept in the camera module's memory, read block by block over the CSI
// sensor's I2C bus, and the VGA device using it in place of "cali.bin".
#include <gtest/gtest.h>

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/sensor_calibration.h"
#include "device/vga_device.h"
#include "tests/csi/csi_fixture.h"
#include "tests/device/fake_library/fake_depth_library.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_sensor.h"

namespace Zelvo {
namespace {

// An opened CSI sensor whose module memory announces a length at offset 80. A request
// write (0x06 0x31, offset, length) selects the 512 bytes the next two-message read gets.
struct ModuleBench {
    ModuleBench(size_t announced, int failingRead = -1) {
        for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<uint8_t>(i * 7 ^ i >> 8);
        memory[80] = static_cast<uint8_t>(announced);
        memory[81] = static_cast<uint8_t>(announced >> 8);
        EXPECT_EQ(bench.open(), 0);
        bench.host.handle(I2C_RDWR, [this, failingRead](int, void* argument) {
            auto* transfer = static_cast<i2c_rdwr_ioctl_data*>(argument);
            if (transfer->nmsgs == 1 && transfer->msgs[0].buf[1] == 0x31) {
                const uint8_t* request = transfer->msgs[0].buf;
                requests.push_back(static_cast<uint16_t>(request[2] << 8 | request[3]));
                return 1;
            }
            if (static_cast<int>(requests.size()) - 1 == failingRead) {
                errno = EIO;
                return -1;
            }
            std::memcpy(transfer->msgs[1].buf, &memory[requests.back()], transfer->msgs[1].len);
            return 2;
        });
    }
    std::string held(size_t length) const {
        return std::string(memory.begin() + 80, memory.begin() + 80 + static_cast<long>(length));
    }

    testing::CsiBench bench{PlatformRaspberryPi5};
    std::vector<uint8_t> memory = std::vector<uint8_t>(0x10000);
    std::vector<uint16_t> requests;  // offsets asked for, in order
};

TEST(SensorCalibration, LengthWordBoundsAndBlockReads) {
    const struct {
        size_t announced;
        int failingRead;
        size_t length, blocks;
    } cases[] = {
        {0, -1, 0, 1},     {511, -1, 0, 1},   {512, -1, 512, 1},     {513, -1, 513, 2},
        {1000, -1, 1000, 2}, {16384, -1, 16384, 32}, {16385, -1, 0, 1}, {1000, 0, 0, 1},
        {1600, 2, 0, 3},
    };
    for (const auto& c : cases) {
        ModuleBench module(c.announced, c.failingRead);
        const SensorCalibration read = readSensorCalibration(*module.bench.sensor);
        SCOPED_TRACE(std::to_string(c.announced) + " failing " + std::to_string(c.failingRead));
        EXPECT_EQ(read.length, c.length);
        EXPECT_EQ(read.failedBlock, c.failingRead);
        EXPECT_EQ(read.announced, c.failingRead == 0 ? 0 : c.announced);
        ASSERT_EQ(module.requests.size(), c.blocks);
        for (size_t b = 0; b < c.blocks; ++b) EXPECT_EQ(module.requests[b], 80 + 512 * b);
        const auto* bytes = reinterpret_cast<const char*>(module.bench.sensor->calibrationData());
        EXPECT_EQ(std::string(bytes, c.length), module.held(c.length));
    }
}

std::string contentsOf(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(SensorCalibration, TheDeviceHandsItOverInPlaceOfTheFileAndCanKeepACopy) {
    const struct {
        bool csiSensor, readSensor, save;
        size_t announced;
        bool fromSensor;
    } cases[] = {
        {true, false, true, 1000, false}, {true, true, false, 1000, true},
        {true, true, true, 1000, true},   {true, true, true, 100, false},
        {false, true, true, 1000, false},
    };
    for (const auto& c : cases) {
        testing::ScratchDirectory scratch;
        std::ofstream("cali.bin") << "file calibration";
        std::ofstream("cali.out.bin") << std::string(20000, 'x');
        ModuleBench module(c.announced);
        testing::ScriptedSensor other(std::make_shared<testing::CallLog>(), {640, 480});
        ::setenv("ZELVO_DEPTH_LIBRARY", ZELVO_FAKE_DEPTH_LIBRARY, 1);
        testing::fakeDepthLibrary() = {};
        ZelvoDeviceVGA device(PlatformRaspberryPi5, *systemHost());
        device.readSensorCalibration = c.readSensor;
        device.saveSensorCalibration = c.save;
        ZelvoTOFSensor* sensor = &other;
        if (c.csiSensor) sensor = module.bench.sensor.get();
        ASSERT_EQ(device.init(sensor, VGA), 0);
        ASSERT_EQ(device.configureSensor(), 0);  // the frame size the raw layout needs
        ASSERT_EQ(device.start(), 0);
        ::unsetenv("ZELVO_DEPTH_LIBRARY");

        const std::string expected = c.fromSensor ? module.held(c.announced) : "file calibration";
        SCOPED_TRACE(std::to_string(c.csiSensor) + std::to_string(c.readSensor) +
                     std::to_string(c.save) + " " + std::to_string(c.announced));
        EXPECT_EQ(testing::fakeDepthLibrary().calibrations, std::vector<std::string>{expected});
        EXPECT_EQ(module.requests.empty(), !(c.csiSensor && c.readSensor));
        EXPECT_EQ(contentsOf("cali.out.bin"),
                  c.fromSensor && c.save ? expected : std::string(20000, 'x'));
        device.close();
    }
}

}  // namespace
}  // namespace Zelvo
