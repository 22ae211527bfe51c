#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/videodev2.h>
#include <string>
#include <vector>

#include "tests/csi/csi_fixture.h"

namespace Zelvo {
namespace {

using testing::CsiBench;

constexpr uint32_t kRangeControl = 0x00981901;
constexpr uint32_t kExposureControl = 0x00980911;

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> result;
    for (int v : values) result.push_back(static_cast<uint8_t>(v));
    return result;
}

// Where range and exposure requests go: the sensor's sub-device, or the video node on
// boards without sub-devices.
struct ControlTarget {
    int platform;
    const char* node;
};

constexpr ControlTarget kTargets[] = {
    {PlatformJetsonNano, "/dev/video0"},      {PlatformJetson, "/dev/video0"},
    {PlatformRaspberryPi, "/dev/v4l-subdev0"}, {PlatformRaspberryPi5, "/dev/v4l-subdev1"},
    {PlatformRadxaRock, "/dev/v4l-subdev1"},
};

TEST(CsiControls, RangeSelectsTheModulationOnTheSensor) {
    const struct {
        int value;
        int result;
        int sent;  // -1: nothing sent
    } cases[] = {
        {2, 0, 1}, {4, 0, 0}, {2000, 0, 1}, {4000, 0, 0},
        {3, 1, -1}, {0, 1, -1}, {6, 1, -1}, {1000, 1, -1}, {-2, 1, -1},
    };
    for (const ControlTarget& target : kTargets) {
        for (const auto& c : cases) {
            CsiBench bench(target.platform);
            ASSERT_EQ(bench.open(), 0);
            EXPECT_EQ(bench.sensor->setControl(RANGE, c.value), c.result) << c.value;
            const int fd = bench.host.fdOf(target.node);
            if (c.sent < 0) {
                EXPECT_EQ(bench.host.count(VIDIOC_S_CTRL), 0) << c.value;
                continue;
            }
            EXPECT_EQ(bench.host.count(target.node, VIDIOC_S_CTRL), 1) << target.node;
            EXPECT_EQ((bench.host.controls[{fd, kRangeControl}]), c.sent) << c.value;
        }
    }
}

TEST(CsiControls, RangeReadsAsTwoOrFour) {
    const struct {
        int control;
        int reported;
    } cases[] = {{1, 2}, {7, 2}, {-1, 2}, {0, 4}};
    for (const ControlTarget& target : kTargets) {
        for (const auto& c : cases) {
            CsiBench bench(target.platform);
            ASSERT_EQ(bench.open(), 0);
            bench.host.controls[{bench.host.fdOf(target.node), kRangeControl}] = c.control;
            int value = -99;
            EXPECT_EQ(bench.sensor->getControl(RANGE, &value), 0);
            EXPECT_EQ(value, c.reported) << target.node << " " << c.control;
        }
    }
}

TEST(CsiControls, ExposurePassesThroughUnchanged) {
    for (const ControlTarget& target : kTargets) {
        CsiBench bench(target.platform);
        ASSERT_EQ(bench.open(), 0);
        EXPECT_EQ(bench.sensor->setControl(EXPOSURE, 1234), 0);
        EXPECT_EQ((bench.host.controls[{bench.host.fdOf(target.node), kExposureControl}]), 1234);
        int value = 0;
        EXPECT_EQ(bench.sensor->getControl(EXPOSURE, &value), 0);
        EXPECT_EQ(value, 1234) << target.node;
    }
}

TEST(CsiControls, FailedControlRequestsArePrintedAndGiveMinusOne) {
    const std::string ioError = strerror(EIO);
    const struct {
        unsigned long request;
        int error;
        int times;
        bool set;
        CameraCtrl ctrl;
        int result;
        std::string printed;
    } cases[] = {
        {VIDIOC_S_CTRL, EIO, 1, true, RANGE, -1, "VIDIOC_S_CTRL: " + ioError + "\n"},
        {VIDIOC_S_CTRL, EIO, 1, true, EXPOSURE, -1, "VIDIOC_S_CTRL: " + ioError + "\n"},
        {VIDIOC_G_CTRL, EIO, 1, false, RANGE, -1, "VIDIOC_G_CTRL: " + ioError + "\n"},
        {VIDIOC_G_CTRL, EIO, 1, false, EXPOSURE, -1, "VIDIOC_G_CTRL: " + ioError + "\n"},
        {VIDIOC_S_CTRL, EAGAIN, 4, true, RANGE, 0, ""},
        {VIDIOC_G_CTRL, ETIMEDOUT, 4, false, EXPOSURE, 0, ""},
        {VIDIOC_S_CTRL, EINTR, 5, true, EXPOSURE, -1, "VIDIOC_S_CTRL: " + std::string(strerror(EINTR)) + "\n"},
    };
    for (const auto& c : cases) {
        CsiBench bench(PlatformRaspberryPi5);
        ASSERT_EQ(bench.open(), 0);
        bench.host.failRequest(c.request, c.error, c.times);
        int value = 777;
        ::testing::internal::CaptureStderr();
        const int result = c.set ? bench.sensor->setControl(c.ctrl, 2) : bench.sensor->getControl(c.ctrl, &value);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.printed);
        EXPECT_EQ(result, c.result);
        if (!c.set && c.result != 0) {
            EXPECT_EQ(value, 777);
        }
    }
}

TEST(CsiControls, NoSensorSubdeviceMeansNoControl) {
    CsiBench bench(PlatformRaspberryPi);
    bench.make();  // never opened: no sub-device
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(bench.sensor->setControl(RANGE, 2), -1);
    int value = 0;
    EXPECT_EQ(bench.sensor->getControl(EXPOSURE, &value), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "VIDIOC_S_CTRL: " + std::string(strerror(EBADF)) + "\nVIDIOC_G_CTRL: " +
                  strerror(EBADF) + "\n");
    EXPECT_TRUE(bench.host.requests.empty());
}

TEST(CsiControls, SizeIsRememberedForTheNextStart) {
    CsiBench bench(PlatformJetson);
    ASSERT_EQ(bench.open(), 0);
    EXPECT_EQ(bench.sensor->setControl(FMT_WIDTH, 640), 0);
    EXPECT_EQ(bench.sensor->getCameraInfo().width, 640u);
    EXPECT_EQ(bench.sensor->setControl(FMT_HEIGHT, 480), 0);
    int width = 0;
    int height = 0;
    EXPECT_EQ(bench.sensor->getControl(FMT_WIDTH, &width), 0);
    EXPECT_EQ(bench.sensor->getControl(FMT_HEIGHT, &height), 0);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(bench.host.count(VIDIOC_S_FMT), 0);
    EXPECT_EQ(bench.sensor->start(), 0);
    EXPECT_EQ(bench.host.width, 640u);
    EXPECT_EQ(bench.host.height, 480u);
}

TEST(CsiControls, FrameRateIsWrittenToItsRegister) {
    CsiBench bench(PlatformRaspberryPi5);
    ASSERT_EQ(bench.open(), 0);
    int rate = 0;
    EXPECT_EQ(bench.sensor->getControl(FRAME_RATE, &rate), 0);
    EXPECT_EQ(rate, 30);  // the default before any write
    EXPECT_TRUE(bench.host.i2cMessages.empty());

    const struct {
        int value;
        std::vector<uint8_t> sent;
    } cases[] = {
        {30, bytes({0x06, 0x33, 0x00, 0x00, 0x00, 0x1E})},
        {15, bytes({0x06, 0x33, 0x00, 0x00, 0x00, 0x0F})},
        {0x12345678, bytes({0x06, 0x33, 0x12, 0x34, 0x56, 0x78})},
        {-1, bytes({0x06, 0x33, 0xFF, 0xFF, 0xFF, 0xFF})},
    };
    for (const auto& c : cases) {
        bench.host.i2cMessages.clear();
        EXPECT_EQ(bench.sensor->setControl(FRAME_RATE, c.value), 0);
        ASSERT_EQ(bench.host.i2cMessages.size(), 1u);
        EXPECT_EQ(bench.host.i2cMessages[0].address, 0x0c);
        EXPECT_EQ(bench.host.i2cMessages[0].flags, 0);
        EXPECT_EQ(bench.host.i2cMessages[0].bytes, c.sent);
        EXPECT_EQ(bench.sensor->getControl(FRAME_RATE, &rate), 0);
        EXPECT_EQ(rate, c.value);
    }
    EXPECT_EQ(bench.host.count("/dev/i2c-10", I2C_RDWR), 4);
}

TEST(CsiControls, FailedFrameRateWriteKeepsTheNewRate) {
    const struct {
        const char* name;
        std::function<void(testing::FakeCsiHost&)> arrange;
    } cases[] = {
        {"request fails", [](testing::FakeCsiHost& h) { h.failRequest(I2C_RDWR, EREMOTEIO); }},
        {"nothing transferred", [](testing::FakeCsiHost& h) {
             h.handle(I2C_RDWR, [](int, void*) { return 0; });
         }},
    };
    for (const auto& c : cases) {
        CsiBench bench(PlatformJetson);
        ASSERT_EQ(bench.open(), 0);
        c.arrange(bench.host);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.sensor->setControl(FRAME_RATE, 10), -2) << c.name;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << c.name;
        int rate = 0;
        EXPECT_EQ(bench.sensor->getControl(FRAME_RATE, &rate), 0);
        EXPECT_EQ(rate, 10);
        EXPECT_EQ(bench.host.count(I2C_RDWR), 1);  // not retried
    }
}

TEST(CsiControls, OtherControlsAreNotHandled) {
    for (CameraCtrl ctrl : {MODE, FRAME_MODE, SKIP_FRAME, SKIP_FRAME_LOOP, AUTO_FRAME_RATE,
                            CONFIG_DIR_EXT, static_cast<CameraCtrl>(42)}) {
        CsiBench bench(PlatformRaspberryPi5);
        ASSERT_EQ(bench.open(), 0);
        const size_t before = bench.host.requests.size();
        EXPECT_EQ(bench.sensor->setControl(ctrl, 1), 1) << ctrl;
        int value = -5;
        EXPECT_EQ(bench.sensor->getControl(ctrl, &value), 1) << ctrl;
        EXPECT_EQ(value, -5);
        EXPECT_EQ(bench.host.requests.size(), before);
    }
}

TEST(CsiControls, CalibrationBlockIsRequestedThenRead) {
    CsiBench bench(PlatformRaspberryPi5);
    ASSERT_EQ(bench.open(), 0);
    std::vector<int> transfers;
    bench.host.handle(I2C_RDWR, [&bench, &transfers](int, void* argument) {
        auto* transfer = static_cast<i2c_rdwr_ioctl_data*>(argument);
        transfers.push_back(static_cast<int>(transfer->nmsgs));
        for (uint32_t i = 0; i < transfer->nmsgs; ++i) {
            const i2c_msg& m = transfer->msgs[i];
            testing::I2cMessageRecord record{m.addr, m.flags, {}};
            if (m.flags & I2C_M_RD) {
                for (int b = 0; b < m.len; ++b) m.buf[b] = static_cast<uint8_t>(b ^ 0x5A);
                record.bytes.resize(m.len);
            } else {
                record.bytes.assign(m.buf, m.buf + m.len);
            }
            bench.host.i2cMessages.push_back(record);
        }
        return static_cast<int>(transfer->nmsgs);
    });
    uint8_t* block = bench.sensor->calibrationData() + 512;
    EXPECT_EQ(bench.sensor->readCalibrationBlock(80, block), 0);
    EXPECT_EQ(transfers, (std::vector<int>{1, 2}));
    ASSERT_EQ(bench.host.i2cMessages.size(), 3u);
    EXPECT_EQ(bench.host.i2cMessages[0].bytes, bytes({0x06, 0x31, 0x00, 0x50, 0x02, 0x00}));
    EXPECT_EQ(bench.host.i2cMessages[0].flags, 0);
    EXPECT_EQ(bench.host.i2cMessages[1].bytes, bytes({0x06, 0x32}));
    EXPECT_EQ(bench.host.i2cMessages[1].flags, 0);
    EXPECT_EQ(bench.host.i2cMessages[2].flags, I2C_M_RD);
    EXPECT_EQ(bench.host.i2cMessages[2].bytes.size(), 512u);
    for (const auto& message : bench.host.i2cMessages) EXPECT_EQ(message.address, 0x0c);
    for (int b = 0; b < 512; ++b) ASSERT_EQ(block[b], static_cast<uint8_t>(b ^ 0x5A)) << b;
    EXPECT_EQ(bench.sensor->calibrationData()[0], 0);  // nothing outside the block

    bench.host.i2cMessages.clear();
    EXPECT_EQ(bench.sensor->readCalibrationBlock(0x1234 + 512, block), 0);
    EXPECT_EQ(bench.host.i2cMessages[0].bytes, bytes({0x06, 0x31, 0x14, 0x34, 0x02, 0x00}));
}

TEST(CsiControls, FailedCalibrationTransfersGiveMinusTwo) {
    const struct {
        const char* name;
        std::vector<int> answers;  // result of each I2C_RDWR, -1 failing with EIO
        int transfers;
    } cases[] = {
        {"request fails", {-1}, 1},
        {"request not transferred", {0}, 1},
        {"read fails", {1, -1}, 2},
        {"read only half done", {1, 1}, 2},
    };
    for (const auto& c : cases) {
        CsiBench bench(PlatformJetson);
        ASSERT_EQ(bench.open(), 0);
        size_t next = 0;
        bench.host.handle(I2C_RDWR, [&c, &next](int, void*) {
            const int answer = c.answers.at(next++);
            if (answer < 0) errno = EIO;
            return answer;
        });
        uint8_t block[512];
        EXPECT_EQ(bench.sensor->readCalibrationBlock(80, block), -2) << c.name;
        EXPECT_EQ(static_cast<int>(next), c.transfers) << c.name;
    }
}

}  // namespace
}  // namespace Zelvo
