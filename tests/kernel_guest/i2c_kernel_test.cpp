// The I2C layer against the guest kernel's adapters: a bit-banged one with plain transfers,
// and on x86-64 i2c-stub, an SMBus adapter with a chip at 0x0c (the Debian kernel for
// 32-bit ARM does not build it).
#include <gtest/gtest.h>

#include <algorithm>
#include <linux/i2c.h>
#include <memory>

#include <zelvo/camera.h>
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
        adapters = i2cAdapters();
        for (const AdapterFunctions& adapter : adapters) {
            if (adapter.name == kStubName) stub = adapter;
        }
    }
    // The stub's tests need it loaded on x86-64, and are skipped elsewhere.
    bool stubMissing() {
        if (kernelArgument("zelvo_arch") != "x86_64") return true;
        EXPECT_GE(stub.bus, 0) << "i2c-stub is not loaded";
        return stub.bus < 0;
    }
    std::vector<AdapterFunctions> adapters;
    AdapterFunctions stub;
};

// Every adapter as sysfs and I2C_FUNCS describe it: the bit-banged one with plain
// transfers on both architectures, and on x86-64 the SMBus stub.
TEST_F(KernelI2c, AdaptersAreFoundAndQueriedAsTheKernelListsThem) {
    ASSERT_GE(plainI2cBus(), 0);
    auto found = collectI2cAdapters(*systemHost());
    ASSERT_TRUE(found);
    // The driver keeps the kernel's listing order; the suite's own list is by bus number.
    std::sort(found->begin(), found->end(),
              [](const I2cAdapter& a, const I2cAdapter& b) { return a.busNumber < b.busNumber; });
    ASSERT_EQ(found->size(), adapters.size());
    for (size_t i = 0; i < adapters.size(); ++i) {
        const AdapterFunctions& adapter = adapters[i];
        SCOPED_TRACE(adapter.name);
        EXPECT_EQ((*found)[i].busNumber, adapter.bus);
        EXPECT_EQ((*found)[i].name, adapter.name);
        const bool plain = adapter.functions & I2C_FUNC_I2C;
        EXPECT_EQ((*found)[i].kindText, plain ? "i2c" : "smbus");
        // A name two adapters share (the ARM board's two Versatile controllers) names none.
        const auto sameName =
            std::count_if(adapters.begin(), adapters.end(),
                          [&](const AdapterFunctions& other) { return other.name == adapter.name; });
        testing::internal::CaptureStderr();
        EXPECT_EQ(findI2cBusByName(*systemHost(), adapter.name.c_str()),
                  sameName == 1 ? adapter.bus : kI2cBusNotUnique);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  sameName == 1 ? "" : "Error: I2C bus name is not unique!\n");

        char path[kI2cPathBytes];
        const int fd = i2cOpenDev(*systemHost(), adapter.bus, path, sizeof path, 0);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(std::string(path), "/dev/i2c-" + std::to_string(adapter.bus));
        unsigned long functions = 0;
        EXPECT_EQ(i2cGetFunctionality(*systemHost(), fd, &functions), 0);
        EXPECT_EQ(functions, adapter.functions);
        EXPECT_EQ(i2cSetSlaveAddr(*systemHost(), fd, 0x0c, 0), 0);
        systemHost()->close(fd);
    }
}

TEST_F(KernelI2c, TheStubIsAnSmbusAdapterWithoutPlainTransfers) {
    if (stubMissing()) GTEST_SKIP() << "i2c-stub on x86-64 only";
    EXPECT_TRUE(stub.functions & I2C_FUNC_SMBUS_BYTE_DATA);
    EXPECT_TRUE(stub.functions & I2C_FUNC_SMBUS_WORD_DATA);
    EXPECT_FALSE(stub.functions & I2C_FUNC_I2C);
}

TEST_F(KernelI2c, CameraRefusesAnAdapterWithoutPlainTransfers) {
    if (stubMissing()) GTEST_SKIP() << "i2c-stub on x86-64 only";
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
