#include <gtest/gtest.h>

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <string>

#include "sensor/csi/chip_address.h"
#include "sensor/csi/i2c_adapters.h"
#include "sensor/csi/i2c_bus_resolution.h"
#include "tests/csi/fake_csi_host.h"

namespace Zelvo {
namespace {

using testing::FakeCsiHost;

constexpr const char* kNoMatch = "Error: I2C bus name doesn't match any bus present!\n";
constexpr const char* kNotUnique = "Error: I2C bus name is not unique!\n";

// Adapters as procfs lists them: number, kind, name and algorithm, separated by tabs.
void listInProcfs(FakeCsiHost& host, const std::string& lines) {
    host.addText("/proc/bus/i2c", lines);
}

// A sysfs tree with adapters found in each of the three places a name file can be.
void presentSysfsAdapters(FakeCsiHost& host) {
    host.addText("/proc/mounts",
                 "proc /proc proc rw,nosuid 0 0\n"
                 "sys /sys SysFs rw,nosuid,nodev 0 0\n"
                 "sysfs /other sysfs rw 0 0\n");
    host.addDirectory("/sys/class/i2c-dev",
                      {".", "..", "i2c-1", "i2c-3", "i2c-4", "i2c-5", "i2c-6", "i2c-8", "misc"});
    host.addText("/sys/class/i2c-dev/i2c-1/name", "bcm2835 I2C adapter\n");
    host.addText("/sys/class/i2c-dev/i2c-3/device/name", "smbus-only\n");
    host.addDirectory("/sys/class/i2c-dev/i2c-4/device", {".", "..", "power", "i2c-4"});
    host.addText("/sys/class/i2c-dev/i2c-4/device/i2c-4/name", "plain\n");
    host.addText("/sys/class/i2c-dev/i2c-5/name", "ISA main\n");
    host.addText("/sys/class/i2c-dev/i2c-6/name", "unplugged\n");
    host.addText("/sys/class/i2c-dev/i2c-8/name", "");
    host.addText("/sys/class/i2c-dev/misc/name", "not an adapter\n");
    for (int bus : {1, 3, 4, 5}) testing::addI2cBus(host, bus);
    host.handle(I2C_FUNCS, [&host](int fd, void* argument) {
        const std::string path = host.pathOf(fd);
        unsigned long functions = 0;
        if (path == "/dev/i2c-1") functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_BYTE;
        if (path == "/dev/i2c-3") functions = I2C_FUNC_SMBUS_BYTE_DATA;
        *static_cast<unsigned long*>(argument) = functions;
        return 0;
    });
}

TEST(I2cAdapters, ProcfsIsTheOnlySourceWhenItExists) {
    FakeCsiHost host;
    listInProcfs(host,
                 "i2c-0\ti2c       \tbcm2835 I2C adapter     \tI2C adapter\n"
                 "i2c-10\tsmbus\tzelvo bus  \tSMBus adapter  \n"
                 "garbage line without tabs\n");
    presentSysfsAdapters(host);
    const auto adapters = collectI2cAdapters(host);
    ASSERT_TRUE(adapters);
    ASSERT_EQ(adapters->size(), 2u);
    EXPECT_EQ((*adapters)[0].busNumber, 0);
    EXPECT_EQ((*adapters)[0].name, "bcm2835 I2C adapter");
    EXPECT_EQ((*adapters)[0].kindText, "i2c");
    EXPECT_EQ((*adapters)[0].descriptionText, "I2C adapter");
    EXPECT_EQ((*adapters)[1].busNumber, 10);
    EXPECT_EQ((*adapters)[1].name, "zelvo bus");
    EXPECT_EQ((*adapters)[1].kindText, "smbus");
    EXPECT_EQ((*adapters)[1].descriptionText, "SMBus adapter");
    EXPECT_EQ(host.textsOpened, std::vector<std::string>{"/proc/bus/i2c"});
}

TEST(I2cAdapters, SysfsGivesNameAndKindOfEveryAdapter) {
    FakeCsiHost host;
    presentSysfsAdapters(host);
    ::testing::internal::CaptureStderr();
    const auto adapters = collectI2cAdapters(host);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "/sys/class/i2c-dev/i2c-8/name: read error\n");
    ASSERT_TRUE(adapters);
    const struct {
        int bus;
        const char* name;
        const char* kind;
        const char* description;
    } expected[] = {
        {1, "bcm2835 I2C adapter", "i2c", "I2C adapter"},
        {3, "smbus-only", "smbus", "SMBus adapter"},
        {4, "plain", "dummy", "Dummy bus"},
        {5, "ISA main", "isa", "ISA bus"},
        {6, "unplugged", "unknown", "N/A"},
    };
    ASSERT_EQ(adapters->size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ((*adapters)[i].busNumber, expected[i].bus);
        EXPECT_EQ((*adapters)[i].name, expected[i].name);
        EXPECT_EQ((*adapters)[i].kindText, expected[i].kind);
        EXPECT_EQ((*adapters)[i].descriptionText, expected[i].description);
    }
    // The ISA adapter is never opened; every probe descriptor is closed again.
    for (const std::string& path : host.openedPaths) EXPECT_NE(path, "/dev/i2c-5");
    EXPECT_TRUE(host.openFds().empty());
}

TEST(I2cAdapters, NoSourceGivesAnEmptyList) {
    FakeCsiHost host;
    auto adapters = collectI2cAdapters(host);
    ASSERT_TRUE(adapters);
    EXPECT_TRUE(adapters->empty());

    host.addText("/proc/mounts", "proc /proc proc rw 0 0\n");
    adapters = collectI2cAdapters(host);
    ASSERT_TRUE(adapters);
    EXPECT_TRUE(adapters->empty());
}

TEST(I2cBusResolution, NumbersResolveWithoutLookingAtAdapters) {
    const struct {
        const char* text;
        int bus;
    } cases[] = {{"10", 10}, {"0x0a", 10}, {"012", 10}, {"0", 0}, {"1048575", 0xFFFFF},
                 {"0xFFFFF", 0xFFFFF}};
    for (const auto& c : cases) {
        FakeCsiHost host;
        presentSysfsAdapters(host);
        EXPECT_EQ(resolveI2cBus(host, c.text), c.bus) << c.text;
        EXPECT_TRUE(host.textsOpened.empty()) << c.text;
    }
}

TEST(I2cBusResolution, NumbersAboveTheLastBusAreOutOfRange) {
    for (const char* text : {"1048576", "0x100000", "-1"}) {
        FakeCsiHost host;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(resolveI2cBus(host, text), -2) << text;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: I2C bus out of range!\n");
    }
}

TEST(I2cBusResolution, NamesAreLookedUp) {
    const struct {
        const char* text;
        int result;
        const char* printed;
    } cases[] = {
        {"bcm2835 I2C adapter", 1, ""},
        {"ISA main", 5, ""},
        {"", -1, kNoMatch},
        {"10x", -1, kNoMatch},
        {"bcm2835", -1, kNoMatch},
    };
    for (const auto& c : cases) {
        FakeCsiHost host;
        presentSysfsAdapters(host);
        host.addText("/sys/class/i2c-dev/i2c-8/name", "x\n");
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(resolveI2cBus(host, c.text), c.result) << c.text;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.printed) << c.text;
    }
}

TEST(I2cBusResolution, AmbiguousNamesFail) {
    FakeCsiHost host;
    listInProcfs(host,
                 "i2c-1\ti2c\tcam\tI2C adapter\n"
                 "i2c-2\ti2c\tother\tI2C adapter\n"
                 "i2c-3\ti2c\tcam\tI2C adapter\n"
                 "i2c-4\ti2c\tcam\tI2C adapter\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(resolveI2cBus(host, "cam"), -4);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), kNotUnique);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(findI2cBusByName(host, "other"), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(I2cBusResolution, AdaptersWithANegativeNumberAreSkipped) {
    // The kernel numbers buses from 0; a negative number came back as if it were one of
    // the lookup's failure codes (-2: out of range), with nothing printed.
    FakeCsiHost host;
    listInProcfs(host,
                 "i2c--4\ti2c\tcam\tI2C adapter\n"
                 "i2c-7\ti2c\tcam\tI2C adapter\n"
                 "i2c--2\ti2c\tlone\tI2C adapter\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(resolveI2cBus(host, "cam"), 7);
    EXPECT_EQ(resolveI2cBus(host, "lone"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), kNoMatch);
}

TEST(ChipAddress, ParsesAddressesOfSevenBitChips) {
    const struct {
        const char* text;
        int result;
        const char* printed;
    } cases[] = {
        {"0x03", 0x03, ""},
        {"0x77", 0x77, ""},
        {"0x0c", 0x0c, ""},
        {"12", 12, ""},
        {"014", 12, ""},
        {"0x02", -2, "Error: Chip address out of range (0x03-0x77)!\n"},
        {"0x78", -2, "Error: Chip address out of range (0x03-0x77)!\n"},
        {"-12", -2, "Error: Chip address out of range (0x03-0x77)!\n"},
        {"0x0c1z", -1, "Error: Chip address is not a number!\n"},
        {"chip", -1, "Error: Chip address is not a number!\n"},
    };
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(parseChipAddress(c.text), c.result) << c.text;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.printed) << c.text;
    }
}

}  // namespace
}  // namespace Zelvo
