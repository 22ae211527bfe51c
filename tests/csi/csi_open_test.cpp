#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/media.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <string>

#include "tests/csi/csi_fixture.h"

namespace Zelvo {
namespace {

using testing::CsiBench;

// How each board's pipeline is found and addressed.
struct PlatformRow {
    int platform;
    int result;
    uint32_t bufType;
    bool mediaWalk;
    int subdevs;          // sub-devices kept open
    int sensorIndex;
    bool setsInput;
    const char* busName;
};

constexpr PlatformRow kPlatforms[] = {
    {PlatformOther, -2, 1, false, 0, 0, true, ""},
    {PlatformJetsonNano, 0, 1, false, 0, 0, true, "10"},
    {PlatformJetson, 0, 1, false, 0, 0, true, "10"},
    {4, 0, 1, false, 0, 0, true, "10"},
    {PlatformRaspberryPi, 0, 1, true, 1, 0, true, "10"},
    {PlatformRaspberryPi5, 0, 1, true, 2, 1, true, "10"},
    {PlatformRadxaRock, 0, 9, true, 2, 1, false, "10"},
};

TEST(CsiOpen, EachPlatformFindsItsPipeline) {
    for (const PlatformRow& row : kPlatforms) {
        SCOPED_TRACE(row.platform);
        CsiBench bench(row.platform);
        bench.info.index = 3;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.open(), row.result);
        const std::string printed = ::testing::internal::GetCapturedStderr();
        ZelvoTOFCSISensor& sensor = *bench.sensor;
        EXPECT_EQ(sensor.bufType, row.bufType);
        EXPECT_EQ(bench.host.count("/dev/media0", MEDIA_IOC_ENUM_ENTITIES) > 0, row.mediaWalk);
        EXPECT_EQ(sensor.pipeline.subdevCount, row.subdevs);
        EXPECT_EQ(sensor.pipeline.sensorSubdevIndex, row.sensorIndex);
        EXPECT_EQ(bench.host.count("/dev/video0", VIDIOC_S_INPUT), row.setsInput ? 1 : 0);
        EXPECT_STREQ(sensor.pipeline.busName, row.busName);
        EXPECT_EQ(bench.host.enabledLinks.size(), row.platform == PlatformRaspberryPi5 ? 1u : 0u);
        // The media device is never kept.
        EXPECT_EQ(bench.host.fdOf("/dev/media0"), -1);
        if (row.result != 0) {
            EXPECT_EQ(printed, "Error: I2C bus name doesn't match any bus present!\n");
            continue;
        }
        EXPECT_EQ(printed, "");
        EXPECT_EQ(bench.host.pathOf(sensor.i2cFd), "/dev/i2c-10");
        EXPECT_EQ(sensor.chipAddress, 0x0c);
        EXPECT_NE(sensor.calibrationData(), nullptr);
        EXPECT_EQ(bench.info.width, 240u);
        EXPECT_EQ(bench.info.height, 180u);
        EXPECT_EQ(bench.info.bit_width, 12u);
        EXPECT_EQ(bench.info.bpp, 2u);
        const CameraInfo kept = sensor.getCameraInfo();
        EXPECT_EQ(kept.index, 3u);
        EXPECT_EQ(kept.width, 240u);
        // The size comes from the sensor's sub-device on the media-controller boards.
        const bool subdevRead = bench.host.count(VIDIOC_SUBDEV_G_FMT) == 1;
        EXPECT_EQ(subdevRead, isSubdevPlatform(row.platform));
        EXPECT_EQ(bench.host.count("/dev/video0", VIDIOC_G_FMT), subdevRead ? 0 : 1);
        EXPECT_EQ(sensor.close(), 0);
        EXPECT_TRUE(bench.host.openFds().empty());
    }
}

// The ACTIVE format: a TRY read would give the driver's defaults (240 x 180 here).
TEST(CsiOpen, SizeComesFromTheSensorSubdevice) {
    CsiBench bench(PlatformRaspberryPi5);
    bench.host.subdevWidth = 640;
    bench.host.subdevHeight = 480;
    ASSERT_EQ(bench.open(), 0);
    EXPECT_EQ(bench.info.width, 640u);
    EXPECT_EQ(bench.info.height, 480u);
}

// The node's own capabilities count when the driver reports them apart from its whole
// set (a metadata node of a capture driver is no camera: fails with the old driver).
TEST(CsiOpen, CapabilitiesDecideTheBufferType) {
    constexpr uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    const struct {
        uint32_t capabilities;
        uint32_t deviceCaps;
        int result;
        uint32_t bufType;
    } cases[] = {
        {kCapture, 0, 0, 1},
        {V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_STREAMING, 0, 0, 1},  // other boards: type 1
        {V4L2_CAP_VIDEO_CAPTURE, 0, -2, 1},
        {V4L2_CAP_VIDEO_CAPTURE_MPLANE, 0, -2, 9},
        {V4L2_CAP_STREAMING, 0, -2, 1},
        {kCapture | V4L2_CAP_META_CAPTURE, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING, -2, 1},
        {kCapture | V4L2_CAP_META_CAPTURE, kCapture, 0, 1},
        {kCapture, V4L2_CAP_VIDEO_CAPTURE, -2, 1},  // this node cannot stream
    };
    for (const auto& c : cases) {
        CsiBench bench(PlatformJetson);
        bench.host.capabilities = c.capabilities;
        bench.host.deviceCaps = c.deviceCaps;
        EXPECT_EQ(bench.open(), c.result) << c.capabilities;
        if (c.result != 0) {
            // Nothing past the capability check was touched.
            EXPECT_EQ(bench.host.count(VIDIOC_S_INPUT), 0);
            EXPECT_EQ(bench.host.fdOf("/dev/i2c-10"), -1);
            EXPECT_EQ(bench.sensor->bufType, c.bufType);
        }
    }
    CsiBench rock(PlatformRadxaRock);
    rock.host.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    EXPECT_EQ(rock.open(), 0);
    EXPECT_EQ(rock.sensor->bufType, 9u);
}

// Names the board presents that the driver cannot use (the simulated board's faults are
// crossed with every board in the fault matrix).
TEST(CsiOpen, EachFailureGivesMinusTwo) {
    const struct {
        const char* name;
        int platform;
        std::function<void(testing::FakeCsiHost&)> arrange;
        const char* printed;
    } cases[] = {
        {"jetson name without the word", PlatformJetson,
         [](testing::FakeCsiHost& h) { h.addText("/sys/dev/char/81:0/name", "vi-output, imx 30-0010\n"); },
         ""},
        {"jetson name unreadable", PlatformJetsonNano,
         [](testing::FakeCsiHost& h) { h.addText("/sys/dev/char/81:0/name", ""); }, ""},
        {"sensor entity missing", PlatformRaspberryPi,
         [](testing::FakeCsiHost& h) { h.handle(MEDIA_IOC_ENUM_ENTITIES, [](int, void*) { errno = EINVAL; return -1; }); },
         "Error: I2C bus name doesn't match any bus present!\n"},
    };
    for (const auto& c : cases) {
        CsiBench bench(c.platform);
        c.arrange(bench.host);
        bench.info.width = 7;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.open(), -2) << c.name;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.printed) << c.name;
        EXPECT_EQ(bench.info.width, 7u) << c.name;  // left as it was
        EXPECT_EQ(bench.sensor->close(), 0);
        EXPECT_TRUE(bench.host.openFds().empty()) << c.name;
    }
}

TEST(CsiOpen, FormatReadFailureStillFillsTheSampleLayout) {
    CsiBench bench(PlatformJetson);
    bench.host.failRequest(VIDIOC_G_FMT, EIO);
    EXPECT_EQ(bench.open(), -2);
    EXPECT_EQ(bench.info.bit_width, 12u);
    EXPECT_EQ(bench.info.bpp, 2u);
    EXPECT_EQ(bench.host.count(VIDIOC_G_FMT), 1);  // read once, not retried
    EXPECT_NE(bench.sensor->calibrationData(), nullptr);
}

TEST(CsiOpen, JetsonBusDesignationIsTheNumberAfterTheWord) {
    const struct {
        const char* name;
        int result;
        const char* busName;
    } cases[] = {
        {"vi-output, zelvo 30-000c\n", 0, "30"},
        {"zelvo 7\n", 0, "7"},
        {"vi-output, zelvo-tof 123456789-000c\n", -2, "12345678"},  // above the last bus
        {"vi-output, zelvo", -2, ""},        // the scan stops at the end of the text
        {"vi-output, zelvo\n", -2, ""},
        {"vi-output, zelvo x-000c\n", -2, ""},
    };
    for (const auto& c : cases) {
        CsiBench bench(PlatformJetson);
        bench.host.addText("/sys/dev/char/81:0/name", c.name);
        testing::addI2cBus(bench.host, 7);
        testing::addI2cBus(bench.host, 30);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(bench.open(), c.result) << c.name;
        ::testing::internal::GetCapturedStderr();
        EXPECT_STREQ(bench.sensor->pipeline.busName, c.busName) << c.name;
    }
}

TEST(CsiOpen, CloseReleasesOnlyWhatOpenAcquired) {
    {
        CsiBench bench(PlatformRaspberryPi5);
        bench.make();
        EXPECT_EQ(bench.sensor->videoFd, -1);
        EXPECT_EQ(bench.sensor->i2cFd, -1);
        EXPECT_EQ(bench.sensor->close(), 0);  // never opened
        EXPECT_TRUE(bench.host.closedFds.empty());
    }
    {
        CsiBench bench(PlatformRaspberryPi5);
        bench.host.failRequest(VIDIOC_S_INPUT, EINVAL);
        EXPECT_EQ(bench.open(), -2);
        const std::set<int> acquired = bench.host.openFds();
        EXPECT_EQ(acquired.size(), 3u);  // video node and two sub-devices, no bus
        bench.host.closedFds.clear();
        EXPECT_EQ(bench.sensor->close(), 0);
        EXPECT_EQ(std::set<int>(bench.host.closedFds.begin(), bench.host.closedFds.end()),
                  acquired);
        EXPECT_EQ(bench.host.closedFds.size(), 3u);
        EXPECT_EQ(bench.sensor->calibrationData(), nullptr);
        // A second close has nothing left to release.
        EXPECT_EQ(bench.sensor->close(), 0);
        EXPECT_EQ(bench.host.closedFds.size(), 3u);
    }
    {
        CsiBench bench(PlatformJetson);
        ASSERT_EQ(bench.open(), 0);
        EXPECT_EQ(bench.host.openFds().size(), 2u);
        EXPECT_EQ(bench.sensor->close(), 0);
        EXPECT_EQ(bench.host.closedFds.size(), 2u);
    }
}

}  // namespace
}  // namespace Zelvo
