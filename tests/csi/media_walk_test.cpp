#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <linux/media.h>
#include <string>

#include <zelvo/types.h>
#include "sensor/csi/media_walk.h"
#include "tests/csi/fake_csi_host.h"

namespace Zelvo {
namespace {

using testing::FakeCsiHost;

// A board with the video node and its media device but no entities yet.
struct WalkBench {
    explicit WalkBench(int platform) : platform(platform) {
        host.addNode("/dev/video0", 81, 0);
        host.addNode("/dev/media0", 250, 0);
        host.addDirectory("/sys/dev/char/81:0/device", {".", "..", "media0", "video4linux"});
        videoFd = host.open("/dev/video0", 0);
    }
    int walk() { return walkMediaGraph(host, platform, videoFd, pipeline); }
    std::string pathAt(int index) const { return host.pathOf(pipeline.subdevFds[index]); }

    int platform;
    FakeCsiHost host;
    int videoFd;
    MediaPipeline pipeline;
};

TEST(MediaWalk, TheMediaDeviceListedLastThatOpensIsUsed) {
    WalkBench bench(PlatformRaspberryPi);
    bench.host.addDirectory("/sys/dev/char/81:0/device",
                            {"media0", "driver", "media1", "media2", "video4linux"});
    bench.host.addNode("/dev/media1", 250, 1);
    bench.host.failOpen("/dev/media2", EACCES);
    bench.host.addSubdevEntity(1, "zelvo-korvane 4-000c", 0);
    EXPECT_EQ(bench.walk(), 0);
    EXPECT_STREQ(bench.pipeline.mediaPath, "/dev/media1");
    EXPECT_EQ(bench.host.count("/dev/media1", MEDIA_IOC_ENUM_ENTITIES), 1);
    EXPECT_EQ(bench.host.count("/dev/media0", MEDIA_IOC_ENUM_ENTITIES), 0);
    EXPECT_EQ(bench.host.openFds().size(), 2u);  // video node and sensor sub-device
}

TEST(MediaWalk, NoMediaDeviceLeavesThePipelineEmpty) {
    WalkBench bench(PlatformRaspberryPi5);
    bench.host.addDirectory("/sys/dev/char/81:0/device", {".", "..", "video4linux"});
    EXPECT_NE(bench.walk(), 0);
    EXPECT_EQ(bench.pipeline.subdevCount, 0);
    EXPECT_STREQ(bench.pipeline.busName, "");
    EXPECT_TRUE(bench.host.requests.empty());
}

TEST(MediaWalk, Pi5EnablesTheReceiverLinkBeforeTheWalk) {
    WalkBench bench(PlatformRaspberryPi5);
    bench.host.addEntity(1, "rp1-cfe-fe_image0");
    bench.host.addSubdevEntity(5, "csi2", 0);
    bench.host.addSubdevEntity(9, "zelvo-korvane 10-000c", 1);
    bench.host.addEntity(12, "rp1-cfe-csi2_ch0");
    media_link_desc sent;
    memset(&sent, 0xFF, sizeof sent);
    bench.host.handle(MEDIA_IOC_SETUP_LINK, [&sent](int, void* argument) {
        memcpy(&sent, argument, sizeof sent);
        return 0;
    });
    EXPECT_EQ(bench.walk(), 0);
    EXPECT_EQ(sent.source.entity, 5u);
    EXPECT_EQ(sent.source.index, 4u);
    EXPECT_EQ(sent.source.flags, static_cast<uint32_t>(MEDIA_PAD_FL_SOURCE));
    EXPECT_EQ(sent.sink.entity, 12u);
    EXPECT_EQ(sent.sink.index, 0u);
    EXPECT_EQ(sent.sink.flags, static_cast<uint32_t>(MEDIA_PAD_FL_SINK));
    EXPECT_EQ(sent.flags, static_cast<uint32_t>(MEDIA_LNK_FL_ENABLED));
    const media_link_desc zero{};
    EXPECT_EQ(memcmp(sent.reserved, zero.reserved, sizeof sent.reserved), 0);
    EXPECT_EQ(memcmp(sent.source.reserved, zero.source.reserved, sizeof sent.source.reserved), 0);
    // The bridge met first is entry 0, the sensor entry 1.
    EXPECT_EQ(bench.pipeline.subdevCount, 2);
    EXPECT_EQ(bench.pipeline.sensorSubdevIndex, 1);
    EXPECT_EQ(bench.pathAt(0), "/dev/v4l-subdev0");
    EXPECT_EQ(bench.pathAt(1), "/dev/v4l-subdev1");
    EXPECT_STREQ(bench.pipeline.busName, "10");
    EXPECT_EQ(bench.host.fdOf("/dev/media0"), -1);
}

TEST(MediaWalk, SensorBeforeTheBridgeIsTheOnlyEntry) {
    WalkBench bench(PlatformRaspberryPi5);
    bench.host.addSubdevEntity(2, "zelvo-korvane 11-000c", 1);
    bench.host.addSubdevEntity(3, "csi2", 0);
    bench.host.addEntity(4, "rp1-cfe-csi2_ch0");
    EXPECT_EQ(bench.walk(), 0);
    EXPECT_EQ(bench.pipeline.subdevCount, 1);
    EXPECT_EQ(bench.pipeline.sensorSubdevIndex, 0);
    EXPECT_EQ(bench.pathAt(0), "/dev/v4l-subdev1");
    EXPECT_STREQ(bench.pipeline.busName, "11");
}

TEST(MediaWalk, AMissingLinkEntityIsReportedAndTheLinkStillRequested) {
    WalkBench bench(PlatformRaspberryPi5);
    bench.host.addSubdevEntity(1, "csi2", 0);
    bench.host.addSubdevEntity(2, "zelvo-korvane 10-000c", 1);
    ::testing::internal::CaptureStderr();
    bench.walk();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string("Query entity failed: ") + strerror(EINVAL) + "\n");
    ASSERT_EQ(bench.host.enabledLinks.size(), 1u);
    EXPECT_EQ(bench.host.enabledLinks[0].first, 1u);
    EXPECT_EQ(bench.host.enabledLinks[0].second, 0xFFFFFFFFu);
}

TEST(MediaWalk, FailedLinkSetUpEndsTheWalk) {
    WalkBench bench(PlatformRaspberryPi5);
    bench.host.addSubdevEntity(1, "csi2", 0);
    bench.host.addSubdevEntity(2, "zelvo-korvane 10-000c", 1);
    bench.host.addEntity(3, "rp1-cfe-csi2_ch0");
    bench.host.failRequest(MEDIA_IOC_SETUP_LINK, EBUSY);
    EXPECT_NE(bench.walk(), 0);
    EXPECT_EQ(bench.pipeline.subdevCount, 0);
    EXPECT_STREQ(bench.pipeline.busName, "");
    EXPECT_EQ(bench.host.openFds().size(), 1u);  // the video node only
}

TEST(MediaWalk, EachBoardRecognisesItsOwnEntities) {
    const struct {
        int platform;
        std::vector<std::string> names;  // entity i+1, each with sub-device i
        int subdevs;
        int sensorIndex;
        const char* busName;
    } cases[] = {
        {PlatformRaspberryPi, {"csi2", "zelvo-korvane 1-000c"}, 1, 0, "1"},
        {PlatformRaspberryPi, {"korvane 2-000c", "zelvo-korvane 3-000c"}, 1, 0, "3"},
        {PlatformRadxaRock, {"rockchip-csi2-dphy1", "m00_b_korvane 4-000c"}, 2, 1, "4"},
        {PlatformRadxaRock, {"csi2", "rockchip-csi2-dphy10", "korvane 5-000c"}, 1, 0, "5"},
        {PlatformRaspberryPi5, {"rockchip-csi2-dphy1", "csi2", "zelvo-korvane 6-000c"}, 2, 1, "6"},
        {PlatformRaspberryPi5, {"korvane 7-000c", "zelvo-korvane 12345678-000c"}, 1, 0, "1234567"},
        {PlatformRaspberryPi, {"zelvo-korvane 9", "zelvo-korvane 8-000c"}, 1, 0, "9"},
    };
    for (const auto& c : cases) {
        WalkBench bench(c.platform);
        for (size_t i = 0; i < c.names.size(); ++i) {
            bench.host.addSubdevEntity(static_cast<uint32_t>(i + 1), c.names[i], static_cast<int>(i));
        }
        bench.host.addEntity(50, "rp1-cfe-csi2_ch0");
        ::testing::internal::CaptureStderr();  // a Pi 5 graph without "csi2" says so
        EXPECT_EQ(bench.walk(), 0) << c.names.back();
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(bench.pipeline.subdevCount, c.subdevs) << c.names.back();
        EXPECT_EQ(bench.pipeline.sensorSubdevIndex, c.sensorIndex) << c.names.back();
        EXPECT_STREQ(bench.pipeline.busName, c.busName) << c.names.back();
    }
}

TEST(MediaWalk, SensorWithoutABusPartEndsTheWalkWithoutASubdevice) {
    WalkBench bench(PlatformRaspberryPi);
    bench.host.addSubdevEntity(1, "zelvo-korvane", 0);
    bench.host.addSubdevEntity(2, "zelvo-korvane 3-000c", 1);
    EXPECT_NE(bench.walk(), 0);
    EXPECT_EQ(bench.pipeline.subdevCount, 0);
    EXPECT_STREQ(bench.pipeline.busName, "");
    EXPECT_EQ(bench.host.openFds().size(), 1u);
}

TEST(MediaWalk, SubdeviceNodeMustBeAV4l2Subdevice) {
    WalkBench bench(PlatformRaspberryPi);
    bench.host.addSubdevEntity(1, "zelvo-korvane 3-000c", 0);
    bench.host.addLink("/sys/dev/char/81:100", "../../devices/platform/camera/video4linux/video3");
    EXPECT_NE(bench.walk(), 0);
    EXPECT_EQ(bench.pipeline.subdevCount, 0);
    EXPECT_STREQ(bench.pipeline.busName, "3");
    EXPECT_EQ(bench.host.openFds().size(), 1u);
}

TEST(MediaWalk, EnumerationIsRetriedAndAFinalFailureEndsTheWalk) {
    {
        WalkBench bench(PlatformRaspberryPi);
        bench.host.addSubdevEntity(1, "zelvo-korvane 3-000c", 0);
        bench.host.failRequest(MEDIA_IOC_ENUM_ENTITIES, EINTR, 4);
        EXPECT_EQ(bench.walk(), 0);
        EXPECT_EQ(bench.host.count(MEDIA_IOC_ENUM_ENTITIES), 5);
    }
    {
        WalkBench bench(PlatformRaspberryPi);
        bench.host.addSubdevEntity(1, "zelvo-korvane 3-000c", 0);
        bench.host.failRequest(MEDIA_IOC_ENUM_ENTITIES, EIO);
        EXPECT_NE(bench.walk(), 0);
        EXPECT_EQ(bench.host.count(MEDIA_IOC_ENUM_ENTITIES), 1);
        EXPECT_EQ(bench.host.openFds().size(), 1u);
    }
}

TEST(MediaWalk, FullTableKeepsNoMoreDescriptors) {
    // Four bridges fill the table: the sensor's sub-device is opened, then closed again.
    WalkBench bench(PlatformRaspberryPi5);
    for (int i = 0; i < 4; ++i) bench.host.addSubdevEntity(i + 1, "csi2", i);
    bench.host.addSubdevEntity(5, "zelvo-korvane 10-000c", 4);
    bench.host.addEntity(6, "rp1-cfe-csi2_ch0");
    EXPECT_NE(bench.walk(), 0);
    EXPECT_EQ(bench.pipeline.subdevCount, 4);
    EXPECT_EQ(bench.pipeline.sensorSubdevIndex, 0);
    EXPECT_EQ(bench.host.fdOf("/dev/v4l-subdev4"), -1);
    EXPECT_EQ(bench.host.openFds().size(), 5u);  // video node and the four bridges

    // A fifth bridge is not opened at all.
    WalkBench more(PlatformRaspberryPi5);
    for (int i = 0; i < 5; ++i) more.host.addSubdevEntity(i + 1, "csi2", i);
    more.host.addEntity(6, "rp1-cfe-csi2_ch0");
    more.walk();
    EXPECT_EQ(more.pipeline.subdevCount, 4);
    EXPECT_EQ(std::count(more.host.openedPaths.begin(), more.host.openedPaths.end(),
                         "/dev/v4l-subdev4"), 0);
    EXPECT_EQ(more.host.openFds().size(), 5u);
}

}  // namespace
}  // namespace Zelvo
