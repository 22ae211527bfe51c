// Each board presents its model and pipeline the way the driver discovers them: the
// devicetree model, the capture node's sysfs entries, the media graph with its sub-devices,
// the Jetson node name, and the I2C adapter with the sensor.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include "tests/sim/board_client.h"

namespace Zelvo::sim::test {
namespace {

// The board code from a devicetree model text, by the driver's detection rules.
int detectPlatform(Board& board) {
    FILE* model = board.openText("/sys/firmware/devicetree/base/model", "r");
    if (!model) return 0;
    char text[100] = {};
    if (!std::fgets(text, sizeof(text), model)) text[0] = '\0';
    std::fclose(model);
    std::string m(text);
    auto has = [&](const char* word) { return m.find(word) != std::string::npos; };
    if (has("Jetson")) return has("Xavier") ? 3 : (has("TX1") || has("Nano")) ? 2 : 3;
    if (has(" Orin")) return 3;
    if (has("Raspberry")) return has("Pi 5") ? 6 : 5;
    if (has("Radxa ROCK")) return 7;
    return 0;
}

struct Expectation {
    const char* board;
    int platform;
    const char* busName;  // the bus designation the driver derives
    bool multiPlanar;
    uint32_t imageBytes;    // one sub-frame: what a dequeued buffer reports used
    uint32_t bufferLength;  // some drivers round buffers up to whole pages
    uint32_t otherNodeCaps;  // in capabilities beside this node's device_caps
};

constexpr uint32_t kMeta = V4L2_CAP_META_CAPTURE;

// The page-rounded lengths and the capabilities of other nodes fail against the old board.
const Expectation kBoards[] = {
    {"rpi4", 5, "10", false, 92160, 92160, kMeta},
    {"rpi5", 6, "4", false, 66240, 69632, kMeta | V4L2_CAP_META_OUTPUT},
    {"rock5b", 7, "3", true, 86400, 90112, 0},
    {"jetson-nano", 2, "7", false, 86400, 86400, 0},
    {"jetson-orin", 3, "9", false, 86400, 90112, 0},
    {"jetson-xavier", 3, "30", false, 86400, 86400, 0},
    {"other", 0, "", false, 86400, 86400, 0},
};

// The media walk: the sensor's bus designation from its entity name, and the sub-devices
// (bridges before the sensor) it opens. Returns the designation.
std::string walkMedia(Board& board, int platform, int videoFd, std::vector<std::string>& names) {
    struct stat status {};
    if (board.fstat(videoFd, &status) != 0 || !S_ISCHR(status.st_mode)) return "fstat";
    char path[300];
    std::snprintf(path, sizeof(path), "/sys/dev/char/%u:%u/device", major(status.st_rdev),
                  minor(status.st_rdev));
    std::vector<std::string> entries;
    if (board.listDirectory(path, entries) != 0) return "listing";
    int media = -1;
    for (auto it = entries.rbegin(); it != entries.rend() && media < 0; ++it)
        if (it->compare(0, 5, "media") == 0) media = board.open(("/dev/" + *it).c_str(), O_RDWR);
    if (media < 0) return "no media";
    std::string bus;
    media_entity_desc desc{};
    desc.id = MEDIA_ENT_ID_FLAG_NEXT;
    while (board.ioctl(media, MEDIA_IOC_ENUM_ENTITIES, &desc) == 0) {
        std::string name = desc.name;
        bool bridge = (platform == 7 && name == "rockchip-csi2-dphy1") ||
                      (platform == 6 && name == "csi2");
        bool sensor = !bridge && name.find(platform == 7 ? "korvane" : "zelvo-korvane") !=
                                     std::string::npos;
        if (bridge || sensor) {
            int fd = openEntityNode(board, desc);
            EXPECT_GE(fd, 0) << name;
            names.push_back(name);
            board.close(fd);
        }
        if (sensor) {
            bus = name.substr(name.find(' ') + 1);
            bus = bus.substr(0, bus.find('-'));
            break;
        }
        desc.id |= MEDIA_ENT_ID_FLAG_NEXT;
    }
    board.close(media);
    return bus;
}

// The Jetson designation: digits after the space that follows "zelvo" in the node's name.
std::string jetsonBus(Board& board, int videoFd) {
    struct stat status {};
    if (board.fstat(videoFd, &status) != 0) return "fstat";
    char path[64];
    std::snprintf(path, sizeof(path), "/sys/dev/char/%u:%u/name", major(status.st_rdev),
                  minor(status.st_rdev));
    FILE* file = board.openText(path, "r");
    if (!file) return "no name";
    char line[256] = {};
    if (!std::fgets(line, sizeof(line), file)) line[0] = '\0';
    std::fclose(file);
    const char* word = std::strstr(line, "zelvo");
    if (!word) return "no zelvo";
    const char* space = std::strchr(word, ' ');
    std::string bus;
    for (const char* c = space ? space + 1 : ""; *c >= '0' && *c <= '9'; ++c) bus += *c;
    return bus;
}

class Discovery : public ::testing::TestWithParam<Expectation> {};

TEST_P(Discovery, ModelAndPipelineAsTheDriverFindsThem) {
    const Expectation& e = GetParam();
    auto board = makeBoard(std::string("board=") + e.board);
    EXPECT_EQ(detectPlatform(*board), e.platform);

    int video = board->open("/dev/video0", O_RDWR);
    ASSERT_GE(video, 0);
    v4l2_capability capability{};
    ASSERT_EQ(board->ioctl(video, VIDIOC_QUERYCAP, &capability), 0);
    EXPECT_TRUE(capability.device_caps & V4L2_CAP_STREAMING);
    EXPECT_TRUE(capability.device_caps &
                (e.multiPlanar ? V4L2_CAP_VIDEO_CAPTURE_MPLANE : V4L2_CAP_VIDEO_CAPTURE));
    // The whole driver in capabilities, this node in device_caps.
    EXPECT_EQ(capability.capabilities,
              capability.device_caps | e.otherNodeCaps | V4L2_CAP_DEVICE_CAPS);

    std::string bus;
    if (isPlatformWithSubdevs(e.platform)) {
        std::vector<std::string> names;
        bus = walkMedia(*board, e.platform, video, names);
        std::vector<std::string> expected;
        if (e.platform == 5) expected = {"zelvo-korvane 10-000c"};
        if (e.platform == 6) expected = {"csi2", "zelvo-korvane 4-000c"};
        if (e.platform == 7) expected = {"rockchip-csi2-dphy1", "m00_b_korvane 3-000c"};
        EXPECT_EQ(names, expected);
    } else if (e.platform >= 2 && e.platform <= 4) {
        bus = jetsonBus(*board, video);
    } else {
        EXPECT_EQ(jetsonBus(*board, video), "no zelvo");
    }
    EXPECT_EQ(bus, e.busName);

    // The current size: from the sensor sub-device on media boards, else from the node.
    Client client(board);
    if (client.sensorSubdev >= 0) {
        v4l2_subdev_format format{};
        format.which = V4L2_SUBDEV_FORMAT_ACTIVE;
        ASSERT_EQ(board->ioctl(client.sensorSubdev, VIDIOC_SUBDEV_G_FMT, &format), 0);
        EXPECT_EQ(format.format.width, 240u);
        EXPECT_EQ(format.format.height, 180u);
    } else {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ASSERT_EQ(board->ioctl(video, VIDIOC_G_FMT, &format), 0);
        EXPECT_EQ(format.fmt.pix.width, 240u);
        EXPECT_EQ(format.fmt.pix.height, 180u);
    }
    ASSERT_EQ(client.start(), 0);
    ASSERT_FALSE(client.lengths.empty());
    EXPECT_EQ(client.lengths[0], e.bufferLength);
    v4l2_buffer buffer;
    v4l2_plane plane;
    client.describe(buffer, plane);
    ASSERT_EQ(board->ioctl(client.video, VIDIOC_DQBUF, &buffer), 0);
    EXPECT_EQ(e.multiPlanar ? plane.bytesused : buffer.bytesused, e.imageBytes);
    board->close(video);
}

TEST_P(Discovery, SensorAnswersOnTheI2cBus) {
    const Expectation& e = GetParam();
    auto board = makeBoard(std::string("board=") + e.board);
    const int bus = board->profile().sensorBus;
    if (e.busName[0]) {
        EXPECT_EQ(std::to_string(bus), e.busName);
    }
    int fd = board->open(("/dev/i2c-" + std::to_string(bus)).c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    unsigned long functionality = 0;
    ASSERT_EQ(board->ioctl(fd, I2C_FUNCS, &functionality), 0);
    EXPECT_TRUE(functionality & I2C_FUNC_I2C);

    uint8_t write[6] = {0x06, 0x33, 0x00, 0x00, 0x00, 0x0F};
    uint8_t pointer[2] = {0x06, 0x33};
    uint8_t readBack[4] = {};
    i2c_msg set[1] = {{0x0c, 0, 6, write}};
    i2c_rdwr_ioctl_data setData{set, 1};
    EXPECT_EQ(board->ioctl(fd, I2C_RDWR, &setData), 1);
    i2c_msg get[2] = {{0x0c, 0, 2, pointer}, {0x0c, I2C_M_RD, 4, readBack}};
    i2c_rdwr_ioctl_data getData{get, 2};
    EXPECT_EQ(board->ioctl(fd, I2C_RDWR, &getData), 2);
    EXPECT_EQ(readBack[3], 0x0F);
    EXPECT_EQ(board->sensorState().frameRate, 15);
    board->close(fd);
}

TEST_P(Discovery, AdaptersAreListedInSysfsOrProcfs) {
    const Expectation& e = GetParam();
    auto board = makeBoard(std::string("board=") + e.board);
    const std::string sensorBus = "i2c-" + std::to_string(board->profile().sensorBus);
    bool found = false;
    if (FILE* proc = board->openText("/proc/bus/i2c", "r")) {
        char line[120];
        while (std::fgets(line, sizeof(line), proc)) {
            int number = -1;
            std::string text = line;
            EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 3) << text;
            if (std::sscanf(line, "i2c-%d", &number) == 1 &&
                "i2c-" + std::to_string(number) == sensorBus)
                found = true;
        }
        std::fclose(proc);
    } else {
        FILE* mounts = board->openText("/proc/mounts", "r");
        ASSERT_TRUE(mounts);
        char line[255], point[255], type[255];
        std::string sysfs;
        while (std::fgets(line, sizeof(line), mounts))
            if (std::sscanf(line, "%*[^ ] %[^ ] %[^ ] %*s\n", point, type) == 2 &&
                strcasecmp(type, "sysfs") == 0 && sysfs.empty())
                sysfs = point;
        std::fclose(mounts);
        ASSERT_EQ(sysfs, "/sys");
        std::vector<std::string> entries;
        ASSERT_EQ(board->listDirectory((sysfs + "/class/i2c-dev").c_str(), entries), 0);
        for (const std::string& entry : entries) {
            if (entry == "." || entry == "..") continue;
            FILE* name = board->openText((sysfs + "/class/i2c-dev/" + entry + "/name").c_str(), "r");
            EXPECT_TRUE(name) << entry;
            if (name) std::fclose(name);
            if (entry == sensorBus) found = true;
        }
    }
    EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(Boards, Discovery, ::testing::ValuesIn(kBoards),
                         [](const auto& info) {
                             std::string name = info.param.board;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(Discovery, RaspberryPi5RefusesToStreamUntilTheChannelIsLinked) {
    auto board = makeBoard("board=rpi5,fps=0");
    EXPECT_FALSE(board->sensorState().pipelineLinked);
    int video = board->open("/dev/video0", O_RDWR);
    v4l2_requestbuffers request{};
    request.count = 4;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(board->ioctl(video, VIDIOC_REQBUFS, &request), 0);
    uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(board->ioctl(video, VIDIOC_STREAMON, &type), -1);
    EXPECT_EQ(errno, EPIPE);

    int media = board->open("/dev/media0", O_RDWR);
    media_link_desc link{};
    link.source.entity = findEntity(*board, media, "csi2");
    link.source.index = 4;
    link.source.flags = MEDIA_PAD_FL_SOURCE;
    link.sink.entity = findEntity(*board, media, "rp1-cfe-csi2_ch0");
    link.sink.index = 0;
    link.sink.flags = MEDIA_PAD_FL_SINK;
    link.flags = MEDIA_LNK_FL_ENABLED;
    media_link_desc wrongPad = link;
    wrongPad.source.index = 3;
    EXPECT_EQ(board->ioctl(media, MEDIA_IOC_SETUP_LINK, &wrongPad), -1);
    EXPECT_EQ(errno, EINVAL);
    // Only ENABLED may change (fails against the old board, which ignored other flags).
    media_link_desc fixing = link;
    fixing.flags = MEDIA_LNK_FL_ENABLED | MEDIA_LNK_FL_IMMUTABLE;
    EXPECT_EQ(board->ioctl(media, MEDIA_IOC_SETUP_LINK, &fixing), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(board->ioctl(media, MEDIA_IOC_SETUP_LINK, &link), 0);
    EXPECT_TRUE(board->sensorState().pipelineLinked);
    EXPECT_EQ(board->ioctl(video, VIDIOC_STREAMON, &type), 0);
    // The link cannot be taken away while streaming.
    link.flags = 0;
    EXPECT_EQ(board->ioctl(media, MEDIA_IOC_SETUP_LINK, &link), -1);
    EXPECT_EQ(errno, EBUSY);
}

// An immutable link takes only its own flags back (the old board let ENABLED alone pass).
TEST(Discovery, ImmutableLinksRefuseEveryChange) {
    for (const char* name : {"rpi4", "rpi5", "rock5b"}) {
        auto board = makeBoard(std::string("board=") + name);
        int media = board->open("/dev/media0", O_RDWR);
        for (const LinkProfile& fixed : board->profile().links) {
            if (!(fixed.flags & MEDIA_LNK_FL_IMMUTABLE)) continue;
            media_link_desc link{};
            link.source = {fixed.sourceEntity, fixed.sourcePad, MEDIA_PAD_FL_SOURCE, {}};
            link.sink = {fixed.sinkEntity, fixed.sinkPad, MEDIA_PAD_FL_SINK, {}};
            for (uint32_t flags : {0u, 1u << 0, 1u << 1}) {  // none, ENABLED, IMMUTABLE
                link.flags = flags;
                EXPECT_EQ(board->ioctl(media, MEDIA_IOC_SETUP_LINK, &link), -1) << name << flags;
                EXPECT_EQ(errno, EINVAL);
            }
            link.flags = fixed.flags;
            EXPECT_EQ(board->ioctl(media, MEDIA_IOC_SETUP_LINK, &link), 0) << name;
        }
    }
}

TEST(Discovery, EntitiesCarryTheirDeviceNumbers) {
    auto board = makeBoard("board=rpi5");
    int media = board->open("/dev/media0", O_RDWR);
    media_entity_desc sensor{};
    ASSERT_NE(findEntity(*board, media, "zelvo-korvane 4-000c", &sensor), 0u);
    EXPECT_EQ(sensor.type, uint32_t(MEDIA_ENT_F_CAM_SENSOR));
    int fd = openEntityNode(*board, sensor);
    ASSERT_GE(fd, 0);
    struct stat status {};
    ASSERT_EQ(board->fstat(fd, &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    EXPECT_EQ(major(status.st_rdev), sensor.dev.major);
    EXPECT_EQ(minor(status.st_rdev), sensor.dev.minor);
    media_entity_desc exact{};
    exact.id = sensor.id;
    ASSERT_EQ(board->ioctl(media, MEDIA_IOC_ENUM_ENTITIES, &exact), 0);
    EXPECT_STREQ(exact.name, sensor.name);
    exact.id = 999;
    EXPECT_EQ(board->ioctl(media, MEDIA_IOC_ENUM_ENTITIES, &exact), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Discovery, ControlsSitOnTheSensorSubdevOrOnTheVideoNode) {
    for (const char* name : {"rpi5", "jetson-orin"}) {
        SCOPED_TRACE(name);
        auto board = makeBoard(std::string("board=") + name);
        Client client(board);
        v4l2_control range{kRangeControlId, 1};
        EXPECT_EQ(board->ioctl(client.controlFd(), VIDIOC_S_CTRL, &range), 0);
        v4l2_control exposure{V4L2_CID_EXPOSURE, 640};
        EXPECT_EQ(board->ioctl(client.controlFd(), VIDIOC_S_CTRL, &exposure), 0);
        v4l2_control read{kRangeControlId, 0};
        EXPECT_EQ(board->ioctl(client.controlFd(), VIDIOC_G_CTRL, &read), 0);
        EXPECT_EQ(read.value, 1);
        auto state = board->sensorState();
        EXPECT_EQ(state.rangeControl, 1);
        EXPECT_EQ(state.exposure, 640);
        ASSERT_EQ(state.controlWrites.size(), 2u);
        EXPECT_EQ(state.controlWrites[0].id, kRangeControlId);
        EXPECT_EQ(state.controlWrites[1].value, 640);
        if (client.sensorSubdev >= 0) {
            // The capture node of a media board has no controls of its own.
            EXPECT_EQ(board->ioctl(client.video, VIDIOC_G_CTRL, &read), -1);
            EXPECT_EQ(errno, ENOTTY);
        }
        v4l2_control unknown{V4L2_CID_GAIN, 1};
        EXPECT_EQ(board->ioctl(client.controlFd(), VIDIOC_S_CTRL, &unknown), -1);
        EXPECT_EQ(errno, EINVAL);
    }
}

TEST(Discovery, CalibrationMemoryReadsThroughTheWindow) {
    auto board = makeBoard("board=rpi5");
    int fd = board->open("/dev/i2c-4", O_RDWR);
    uint8_t request[6] = {0x06, 0x31, 0x00, 0x50, 0x02, 0x00};
    i2c_msg ask[1] = {{0x0c, 0, 6, request}};
    i2c_rdwr_ioctl_data askData{ask, 1};
    ASSERT_EQ(board->ioctl(fd, I2C_RDWR, &askData), 1);
    EXPECT_EQ(board->sensorState().calibrationRequest, 0x00500200u);
    uint8_t window[2] = {0x06, 0x32};
    std::vector<uint8_t> block(512);
    i2c_msg read[2] = {{0x0c, 0, 2, window}, {0x0c, I2C_M_RD, 512, block.data()}};
    i2c_rdwr_ioctl_data readData{read, 2};
    ASSERT_EQ(board->ioctl(fd, I2C_RDWR, &readData), 2);
    for (uint32_t i = 0; i < 512; ++i)
        ASSERT_EQ(block[i], SensorRegisters::calibrationByte(0x50 + i)) << i;
    // A different offset gives different content.
    EXPECT_NE(SensorRegisters::calibrationByte(0x50), SensorRegisters::calibrationByte(0x250));

    auto state = board->sensorState();
    ASSERT_EQ(state.lastI2cTransfer.size(), 2u);
    EXPECT_EQ(state.lastI2cTransfer[0].bytes, (std::vector<uint8_t>{0x06, 0x32}));
    EXPECT_EQ(state.lastI2cTransfer[1].flags, I2C_M_RD);
    ASSERT_EQ(state.i2cWrites.size(), 2u);
    EXPECT_EQ(state.i2cWrites[0].bytes, std::vector<uint8_t>(request, request + 6));
}

TEST(Discovery, I2cRefusesWhatAnAdapterRefuses) {
    auto board = makeBoard("board=rpi5");
    int fd = board->open("/dev/i2c-4", O_RDWR);
    // The camera's kernel driver owns 0x0c: only a forced claim succeeds.
    EXPECT_EQ(board->ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(0x0cul)), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(board->ioctl(fd, I2C_SLAVE_FORCE, reinterpret_cast<void*>(0x0cul)), 0);
    EXPECT_EQ(board->ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(0x80ul)), -1);
    EXPECT_EQ(errno, EINVAL);
    uint8_t bytes[2] = {0x06, 0x33};
    i2c_msg nobody[1] = {{0x0d, 0, 2, bytes}};
    i2c_rdwr_ioctl_data data{nobody, 1};
    EXPECT_EQ(board->ioctl(fd, I2C_RDWR, &data), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    data.nmsgs = I2C_RDWR_IOCTL_MAX_MSGS + 1;
    EXPECT_EQ(board->ioctl(fd, I2C_RDWR, &data), -1);
    EXPECT_EQ(errno, EINVAL);
    // The other adapter has no camera on it.
    int other = board->open("/dev/i2c-1", O_RDWR);
    ASSERT_GE(other, 0);
    i2c_msg sensor[1] = {{0x0c, 0, 2, bytes}};
    i2c_rdwr_ioctl_data toSensor{sensor, 1};
    EXPECT_EQ(board->ioctl(other, I2C_RDWR, &toSensor), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    EXPECT_EQ(board->open("/dev/i2c-2", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Discovery, FilesystemAnswersLikeOne) {
    auto board = makeBoard("board=rpi5");
    char target[256];
    EXPECT_EQ(board->readlink("/sys/dev/char/81:0/name", target, sizeof(target)), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(board->readlink("/sys/dev/char/1:1", target, sizeof(target)), -1);
    EXPECT_EQ(errno, ENOENT);
    std::vector<std::string> entries;
    EXPECT_EQ(board->listDirectory("/sys/nowhere", entries), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(board->openText("/sys/firmware/devicetree/base/model", "w"), nullptr);
    EXPECT_EQ(errno, EACCES);
    int model = board->open("/sys/firmware/devicetree/base/model", O_RDONLY);
    ASSERT_GE(model, 0);
    char text[64] = {};
    ssize_t got = board->read(model, text, sizeof(text));
    EXPECT_EQ(got, ssize_t(std::strlen("Raspberry Pi 5 Model B Rev 1.0") + 1));
    EXPECT_STREQ(text, "Raspberry Pi 5 Model B Rev 1.0");
    EXPECT_EQ(board->close(model), 0);
    EXPECT_EQ(board->close(model), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(board->open("/dev/video1", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace Zelvo::sim::test

namespace Zelvo::sim::test {
namespace {

// Files outside /dev, /sys and /proc are the real system's: the depth device writes its
// configuration texts and maps its calibration file through the board.
TEST(BoardFiles, PathsOutsideTheBoardReachTheRealFileSystem) {
    std::string error;
    auto board = Board::create("1", error);
    ASSERT_TRUE(board) << error;
    char directory[] = "/tmp/zelvo-board-files-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string path = std::string(directory) + "/cali.bin";

    const int fd = board->open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(board->write(fd, "abcdef", 6), 6);
    EXPECT_EQ(board->ftruncate(fd, 4), 0);
    struct stat status {};
    ASSERT_EQ(board->fstat(fd, &status), 0);
    EXPECT_EQ(status.st_size, 4);
    void* mapping = board->mmap(nullptr, 4, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    EXPECT_EQ(std::string(static_cast<const char*>(mapping), 4), "abcd");
    EXPECT_EQ(board->munmap(mapping, 4), 0);
    EXPECT_EQ(board->close(fd), 0);

    FILE* text = board->openText(path.c_str(), "rb");
    ASSERT_NE(text, nullptr);
    char read[8] = {};
    EXPECT_EQ(std::fread(read, 1, sizeof read, text), 4u);
    std::fclose(text);
    EXPECT_EQ(board->openDescriptors(), 0u);

    // The board's own trees stay emulated: the real /proc/mounts is not served.
    EXPECT_EQ(board->open("/dev/video7", O_RDWR), -1);
    EXPECT_TRUE(Board::isBoardPath("/sys/firmware/devicetree/base/model"));
    EXPECT_FALSE(Board::isBoardPath("/device/cali.bin"));
    std::remove(path.c_str());
    rmdir(directory);
}

}  // namespace
}  // namespace Zelvo::sim::test
