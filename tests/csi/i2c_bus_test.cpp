#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <linux/i2c-dev.h>
#include <string>

#include "sensor/csi/i2c_bus.h"
#include "tests/csi/fake_csi_host.h"

namespace Zelvo {
namespace {

using testing::FakeCsiHost;

std::string errorText(int error) { return strerror(error); }

TEST(I2cBus, ExportsThePlainFunctionNames) {
    for (const char* name : {"i2c_open_i2c_dev", "i2c_set_slave_addr", "i2c_set_adapter_timeout",
                             "i2c_set_adapter_retries", "i2c_get_functionality"}) {
        EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
    }
}

TEST(I2cBus, ExportedFunctionsTalkToTheSystem) {
    char path[20];
    ::testing::internal::CaptureStderr();
    const int fd = i2c_open_i2c_dev(1048575, path, sizeof path, 0);
    const int address = i2c_set_slave_addr(-1, 0x0c, 0);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(fd, -1);
    EXPECT_STREQ(path, "/dev/i2c-1048575");
    // The system's own error for a request on no descriptor (EBADF on Linux; an emulator
    // may answer ENOSYS) comes back negated and ends the message.
    ASSERT_LT(address, 0);
    EXPECT_EQ(printed, "Error: Could not open file `/dev/i2c-1048575': " + errorText(ENOENT) +
                           "\nError: Could not set address to 0x0c: " + errorText(-address) + "\n");
}

TEST(I2cBus, OpenFormatsThePathAndOpensIt) {
    FakeCsiHost host;
    testing::addI2cBus(host, 3);
    char path[20];
    const int fd = i2cOpenDev(host, 3, path, sizeof path, 0);
    EXPECT_GE(fd, 0);
    EXPECT_STREQ(path, "/dev/i2c-3");
    EXPECT_EQ(host.pathOf(fd), "/dev/i2c-3");
}

TEST(I2cBus, OpenFailuresExplainThemselvesUnlessQuiet) {
    const struct {
        int error;
        int quiet;
        std::string expected;
    } cases[] = {
        {ENOENT, 0, "Error: Could not open file `/dev/i2c-7': " + errorText(ENOENT) + "\n"},
        {EACCES, 0,
         "Error: Could not open file `/dev/i2c-7': " + errorText(EACCES) + "\nRun as root?\n"},
        {EBUSY, 0, "Error: Could not open file `/dev/i2c-7': " + errorText(EBUSY) + "\n"},
        {ENOENT, 1, ""},
        {EACCES, 1, ""},
    };
    for (const auto& c : cases) {
        FakeCsiHost host;
        host.failOpen("/dev/i2c-7", c.error);
        char path[20];
        ::testing::internal::CaptureStderr();
        const int fd = i2cOpenDev(host, 7, path, sizeof path, c.quiet);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected) << c.error;
        EXPECT_EQ(fd, -1);
        EXPECT_EQ(errno, c.error);
    }
}

TEST(I2cBus, SettingsSendTheirValuesAndDefaults) {
    FakeCsiHost host;
    testing::addI2cBus(host, 1);
    const int fd = host.open("/dev/i2c-1", 0);
    std::map<unsigned long, long> sent;
    for (unsigned long request : {I2C_TIMEOUT, I2C_RETRIES, I2C_SLAVE, I2C_SLAVE_FORCE}) {
        host.handle(request, [&sent, request](int, void* argument) {
            sent[request] = reinterpret_cast<long>(argument);
            return 0;
        });
    }
    EXPECT_EQ(i2cSetAdapterTimeout(host, fd, 0), 0);
    EXPECT_EQ(sent[I2C_TIMEOUT], 3);
    EXPECT_EQ(i2cSetAdapterTimeout(host, fd, 25), 0);
    EXPECT_EQ(sent[I2C_TIMEOUT], 25);
    EXPECT_EQ(i2cSetAdapterRetries(host, fd, 0), 0);
    EXPECT_EQ(sent[I2C_RETRIES], 2);
    EXPECT_EQ(i2cSetAdapterRetries(host, fd, 5), 0);
    EXPECT_EQ(sent[I2C_RETRIES], 5);
    EXPECT_EQ(i2cSetSlaveAddr(host, fd, 0x0c, 0), 0);
    EXPECT_EQ(sent[I2C_SLAVE], 0x0c);
    EXPECT_EQ(sent.count(I2C_SLAVE_FORCE), 0u);
    EXPECT_EQ(i2cSetSlaveAddr(host, fd, 0x1d, 1), 0);
    EXPECT_EQ(sent[I2C_SLAVE_FORCE], 0x1d);
    unsigned long functions = 0;
    EXPECT_EQ(i2cGetFunctionality(host, fd, &functions), 0);
    EXPECT_EQ(functions, host.i2cFunctions);
}

TEST(I2cBus, FailedSettingsPrintTheValuePassedAndReturnTheNegatedError) {
    const struct {
        unsigned long request;
        int error;
        std::function<int(FakeCsiHost&, int)> call;
        std::string expected;
    } cases[] = {
        {I2C_TIMEOUT, EIO, [](FakeCsiHost& h, int fd) { return i2cSetAdapterTimeout(h, fd, 0); },
         "Error: Could not set timeout to 0: " + errorText(EIO) + "\n"},
        {I2C_RETRIES, EINVAL, [](FakeCsiHost& h, int fd) { return i2cSetAdapterRetries(h, fd, 0); },
         "Error: Could not set retries to 0: " + errorText(EINVAL) + "\n"},
        {I2C_SLAVE, EBUSY, [](FakeCsiHost& h, int fd) { return i2cSetSlaveAddr(h, fd, 0x0c, 0); },
         "Error: Could not set address to 0x0c: " + errorText(EBUSY) + "\n"},
        {I2C_SLAVE_FORCE, EPERM,
         [](FakeCsiHost& h, int fd) { return i2cSetSlaveAddr(h, fd, 0x5, 1); },
         "Error: Could not set address to 0x05: " + errorText(EPERM) + "\n"},
        {I2C_FUNCS, ENOTTY,
         [](FakeCsiHost& h, int fd) {
             unsigned long functions = 0;
             return i2cGetFunctionality(h, fd, &functions);
         },
         "Error: Could not get adapter functionality: " + errorText(ENOTTY) + "\n"},
    };
    for (const auto& c : cases) {
        FakeCsiHost host;
        testing::addI2cBus(host, 1);
        const int fd = host.open("/dev/i2c-1", 0);
        host.failRequest(c.request, c.error);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(c.call(host, fd), -c.error) << c.expected;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected);
    }
}

}  // namespace
}  // namespace Zelvo
