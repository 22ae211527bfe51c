// The I2C layer against the guest kernel's i2c-stub, an SMBus adapter with a chip at 0x0c
// (loaded on x86-64 only; the Debian kernel for 32-bit ARM does not build it).
#include <gtest/gtest.h>

#include <algorithm>
#include <linux/i2c.h>
#include <memory>

#include "core/camera.h"
#include "sensor/csi/i2c_adapters.h"
#include "sensor/csi/i2c_bus.h"
#include "sensor/csi/i2c_bus_resolution.h"
#include "tests/kernel_guest/guest_kernel.h"
#include "tests/kernel_guest/kernel_host.h"

namespace Zelvo::guest {
namespace {

constexpr const char* kStubName = "SMBus stub driver";

class KernelI2c : public testing::Test {
protected:
    void SetUp() override {
        if (kernelArgument("zelvo_arch") != "x86_64") GTEST_SKIP() << "i2c-stub on x86-64 only";
        for (const AdapterFunctions& adapter : i2cAdapters()) {
            if (adapter.name == kStubName) stub = adapter;
        }
        ASSERT_GE(stub.bus, 0) << "i2c-stub is not loaded";
    }
    AdapterFunctions stub;
};

TEST_F(KernelI2c, AdaptersAreFoundAsTheKernelListsThem) {
    auto adapters = collectI2cAdapters(*systemHost());
    ASSERT_TRUE(adapters);
    // The driver keeps the kernel's listing order; the suite's own list is by bus number.
    std::sort(adapters->begin(), adapters->end(),
              [](const I2cAdapter& a, const I2cAdapter& b) { return a.busNumber < b.busNumber; });
    const std::vector<AdapterFunctions> listed = i2cAdapters();
    ASSERT_EQ(adapters->size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE(listed[i].name);
        EXPECT_EQ((*adapters)[i].busNumber, listed[i].bus);
        EXPECT_EQ((*adapters)[i].name, listed[i].name);
        const bool plain = listed[i].functions & I2C_FUNC_I2C;
        EXPECT_EQ((*adapters)[i].kindText, plain ? "i2c" : "smbus");
    }
    EXPECT_EQ(findI2cBusByName(*systemHost(), kStubName), stub.bus);
}

TEST_F(KernelI2c, FunctionalityOfTheStubIsSmbusWithoutPlainTransfers) {
    char path[kI2cPathBytes];
    const int fd = i2cOpenDev(*systemHost(), stub.bus, path, sizeof path, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(std::string(path), "/dev/i2c-" + std::to_string(stub.bus));
    unsigned long functions = 0;
    EXPECT_EQ(i2cGetFunctionality(*systemHost(), fd, &functions), 0);
    EXPECT_EQ(functions, stub.functions);
    EXPECT_TRUE(functions & I2C_FUNC_SMBUS_BYTE_DATA);
    EXPECT_FALSE(functions & I2C_FUNC_I2C);
    EXPECT_EQ(i2cSetSlaveAddr(*systemHost(), fd, 0x0c, 0), 0);
    systemHost()->close(fd);
}

TEST_F(KernelI2c, CameraRefusesAnAdapterWithoutPlainTransfers) {
    const std::vector<int> nodes = vividCaptureNodes();
    ASSERT_FALSE(nodes.empty());
    const int descriptors = openDescriptors();
    auto host = std::make_shared<KernelHost>(stub.bus);
    ZelvoTOFCamera camera(host);
    testing::internal::CaptureStderr();
    EXPECT_EQ(camera.open(CSI, nodes[0]), ZelvoSystemError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Adapter does not have I2C transfers capability\n");
    camera.close();
    EXPECT_EQ(openDescriptors(), descriptors);
}

}  // namespace
}  // namespace Zelvo::guest
