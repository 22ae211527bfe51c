// A small V4L2 client over a simulated board, doing what the driver does: find the
// pipeline, set formats, map and queue buffers, gather a burst of four sub-frames and
// decode it with the driver's documented routines.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/media.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

#include "sim/board.h"
#include "sim/pixel_format.h"

namespace Zelvo::sim::test {

constexpr int kWidth = 240;
constexpr int kHeight = 180;
constexpr int kPhaseSamples = kWidth * kHeight;

inline std::shared_ptr<Board> makeBoard(const std::string& settings) {
    std::string error;
    auto board = Board::create(settings.c_str(), error);
    if (!board) throw std::runtime_error("board: " + error);
    return board;
}

inline bool isPlatformWithSubdevs(int platform) { return platform >= 5 && platform <= 7; }

// Media entity by exact name: id, or 0.
inline uint32_t findEntity(Board& board, int mediaFd, const std::string& name,
                           media_entity_desc* found = nullptr) {
    media_entity_desc desc{};
    desc.id = MEDIA_ENT_ID_FLAG_NEXT;
    while (board.ioctl(mediaFd, MEDIA_IOC_ENUM_ENTITIES, &desc) == 0) {
        if (name == desc.name) {
            if (found) *found = desc;
            return desc.id;
        }
        desc.id |= MEDIA_ENT_ID_FLAG_NEXT;
    }
    return 0;
}

// Opens the sub-device node of an entity as the driver does, through the sysfs link.
inline int openEntityNode(Board& board, const media_entity_desc& desc) {
    char path[256];
    std::snprintf(path, sizeof(path), "/sys/dev/char/%u:%u", desc.dev.major, desc.dev.minor);
    char target[256] = {};
    if (board.readlink(path, target, sizeof(target) - 1) < 0) return -1;
    const char* last = std::strrchr(target, '/');
    if (!last || std::strncmp(last, "/v4l-subdev", 11) != 0) return -1;
    return board.open((std::string("/dev") + last).c_str(), O_RDWR);
}

struct Client {
    std::shared_ptr<Board> board;
    int video = -1;
    int sensorSubdev = -1;
    std::vector<int> subdevs;
    uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    std::vector<uint8_t*> maps;
    std::vector<size_t> lengths;
    std::vector<uint8_t> staging;
    // The frame size setFormat asks for: an HQVGA phase image unless changed.
    uint32_t width = kWidth;
    uint32_t height = kHeight;
    uint32_t stride = 0;  // bytes per line the driver chose

    explicit Client(std::shared_ptr<Board> b) : board(std::move(b)) {
        const BoardProfile& profile = board->profile();
        video = board->open("/dev/video0", O_RDWR);
        type = profile.multiPlanar ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
                                   : V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (isPlatformWithSubdevs(profile.platform)) {
            int media = board->open("/dev/media0", O_RDWR);
            if (profile.platform == 6) {
                media_link_desc link{};
                link.source.entity = findEntity(*board, media, "csi2");
                link.source.index = 4;
                link.source.flags = MEDIA_PAD_FL_SOURCE;
                link.sink.entity = findEntity(*board, media, "rp1-cfe-csi2_ch0");
                link.sink.flags = MEDIA_PAD_FL_SINK;
                link.flags = MEDIA_LNK_FL_ENABLED;
                board->ioctl(media, MEDIA_IOC_SETUP_LINK, &link);
            }
            media_entity_desc desc{};
            desc.id = MEDIA_ENT_ID_FLAG_NEXT;
            while (board->ioctl(media, MEDIA_IOC_ENUM_ENTITIES, &desc) == 0) {
                std::string name = desc.name;
                bool sensor = name.find("korvane") != std::string::npos;
                bool bridge = name == "csi2" || name == "rockchip-csi2-dphy1";
                if (sensor || bridge) {
                    int fd = openEntityNode(*board, desc);
                    subdevs.push_back(fd);
                    if (sensor) sensorSubdev = fd;
                }
                desc.id |= MEDIA_ENT_ID_FLAG_NEXT;
            }
            board->close(media);
        }
    }

    ~Client() {
        unmapAll();
        for (int fd : subdevs) board->close(fd);
        if (video >= 0) board->close(video);
    }

    // The fd carrying the sensor's controls.
    int controlFd() const { return sensorSubdev >= 0 ? sensorSubdev : video; }

    int setControl(uint32_t id, int32_t value) {
        v4l2_control control{id, value};
        return board->ioctl(controlFd(), VIDIOC_S_CTRL, &control);
    }

    int setFormat() {
        v4l2_format format{};
        format.type = type;
        if (type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
            format.fmt.pix_mp.width = width;
            format.fmt.pix_mp.height = height;
            format.fmt.pix_mp.pixelformat = V4L2_PIX_FMT_Y12;
            format.fmt.pix_mp.num_planes = 1;
        } else {
            format.fmt.pix.width = width;
            format.fmt.pix.height = height;
            format.fmt.pix.pixelformat =
                board->profile().platform == 6 ? V4L2_PIX_FMT_Y12P : V4L2_PIX_FMT_Y12;
        }
        if (board->ioctl(video, VIDIOC_S_FMT, &format) != 0) return -1;
        stride = type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
                     ? format.fmt.pix_mp.plane_fmt[0].bytesperline
                     : format.fmt.pix.bytesperline;
        for (int fd : subdevs) {
            v4l2_subdev_format subdev{};
            subdev.which = V4L2_SUBDEV_FORMAT_ACTIVE;
            subdev.format.width = width;
            subdev.format.height = height;
            subdev.format.code = 0x2013;
            if (board->ioctl(fd, VIDIOC_SUBDEV_S_FMT, &subdev) != 0) return -1;
        }
        return 0;
    }

    void describe(v4l2_buffer& buffer, v4l2_plane& plane, uint32_t index = 0) {
        std::memset(&buffer, 0, sizeof(buffer));
        std::memset(&plane, 0, sizeof(plane));
        buffer.index = index;
        buffer.type = type;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
            buffer.length = 1;
            buffer.m.planes = &plane;
        }
    }

    // Requests, maps and queues buffers and starts streaming. 0 or -1.
    int start(uint32_t count = 8) {
        if (setFormat() != 0) return -1;
        v4l2_requestbuffers request{};
        request.count = count;
        request.type = type;
        request.memory = V4L2_MEMORY_MMAP;
        if (board->ioctl(video, VIDIOC_REQBUFS, &request) != 0) return -1;
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer;
            v4l2_plane plane;
            describe(buffer, plane, i);
            if (board->ioctl(video, VIDIOC_QUERYBUF, &buffer) != 0) return -1;
            size_t length = type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE ? plane.length : buffer.length;
            int64_t offset = type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE ? plane.m.mem_offset
                                                                        : buffer.m.offset;
            void* map = board->mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, video,
                                    offset);
            if (map == MAP_FAILED) return -1;
            maps.push_back(static_cast<uint8_t*>(map));
            lengths.push_back(length);
            if (board->ioctl(video, VIDIOC_QBUF, &buffer) != 0) return -1;
        }
        return board->ioctl(video, VIDIOC_STREAMON, &type);
    }

    void unmapAll() {
        for (size_t i = 0; i < maps.size(); ++i) board->munmap(maps[i], lengths[i]);
        maps.clear();
        lengths.clear();
    }

    // Dequeues one sub-frame, widened to 16-bit samples with the driver's copy routine for
    // the board, and queues the buffer again. Returns the timestamp in microseconds or -1.
    int64_t subFrame(uint16_t* samples) {
        v4l2_buffer buffer;
        v4l2_plane plane;
        describe(buffer, plane);
        if (board->ioctl(video, VIDIOC_DQBUF, &buffer) != 0) return -1;
        if (buffer.index >= maps.size()) return -1;
        const uint8_t* source = maps[buffer.index];
        // The image, not the whole buffer: some boards round buffers up to whole pages.
        size_t length = type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE ? plane.bytesused
                                                                   : buffer.bytesused;
        widen(source, length, samples);
        int64_t stamp = int64_t(buffer.timestamp.tv_sec) * 1000000 + buffer.timestamp.tv_usec;
        if (board->ioctl(video, VIDIOC_QBUF, &buffer) != 0) return -1;
        return stamp;
    }

    void widen(const uint8_t* source, size_t length, uint16_t* samples) const {
        uint8_t* out = reinterpret_cast<uint8_t*>(samples);
        const int platform = board->profile().platform;
        if (type == V4L2_BUF_TYPE_VIDEO_CAPTURE && length == 92160) {
            for (size_t at = 0; at < length; at += 512, out += 480) std::memcpy(out, source + at, 480);
        } else if (platform == 3) {
            // Row pairs: the even row's head, its 16-sample tail, then the odd row.
            for (size_t at = 0; at < length; at += 960) {
                std::memcpy(out, source + at, 448);
                std::memcpy(out + 448, source + at + 928, 32);
                std::memcpy(out + 480, source + at + 448, 480);
                out += 960;
            }
        } else if (platform == 6) {
            const size_t rowBytes = width * 3 / 2, stride = (rowBytes + 15) / 16 * 16;
            size_t pos = 0, at = 0;
            while (at + 8 < length) {
                samples[pos] = uint16_t((source[at] << 4) | (source[at + 2] & 0x0F));
                samples[pos + 1] = uint16_t((source[at + 1] << 4) | (source[at + 2] >> 4));
                pos += 2;
                at += 3;
                if (at >= length - 8) break;
                if (pos % width == 0) at += stride - rowBytes;
            }
        } else if (stride > 2 * width) {
            // Padded rows: the samples of each.
            for (size_t at = 0; at + 2 * width <= length; at += stride, out += 2 * width)
                std::memcpy(out, source + at, 2 * width);
        } else {
            std::memcpy(out, source, length);
        }
    }

    // One depth frame: four sub-frames with their timestamps (microseconds).
    bool burst(std::vector<uint16_t>& raw, int64_t stamps[4]) {
        raw.assign(4 * kPhaseSamples, 0);
        for (int k = 0; k < 4; ++k) {
            stamps[k] = subFrame(raw.data() + k * kPhaseSamples);
            if (stamps[k] < 0) return false;
        }
        return true;
    }
};

// The HQVGA arithmetic: sample decoding and the depth of one pixel.
inline int decodeSample(uint16_t word, int shift) {
    int s = (word >> shift) & 0x7FF;
    if (s & 0x400) s -= 0x800;
    return 16 * s;
}

inline float hqvgaDepth(const std::vector<uint16_t>& raw, int pixel, int rangeMm, int shift,
                        float* amplitude = nullptr) {
    int p[4];
    for (int k = 0; k < 4; ++k) p[k] = decodeSample(raw[k * kPhaseSamples + pixel], shift);
    int y, x;
    if (rangeMm == 2000) {
        y = p[1] - p[3];
        x = p[2] - p[0];
    } else {
        y = p[2] - p[0];
        x = p[3] - p[1];
    }
    float theta = static_cast<float>(std::atan2(double(y), double(x)));
    if (theta < 0) theta += 6.2831855f;
    float frequency = rangeMm == 2000 ? 75000000.0f : 37500000.0f;
    if (amplitude) *amplitude = static_cast<float>(0.5 * std::sqrt(double(x) * x + double(y) * y));
    return ((300000000.0f / (frequency * 12.566371f)) * theta) * 1000.0f;
}

// The radial distance of a wall at `wallMm` seen through a pixel, from the field of view.
inline double radialDistance(double wallMm, int row, int column) {
    const double focal = (kWidth / 2.0) / std::tan(70.0 * M_PI / 360.0);
    const double x = (column - (kWidth - 1) / 2.0) / focal;
    const double y = (row - (kHeight - 1) / 2.0) / focal;
    return wallMm * std::sqrt(1.0 + x * x + y * y);
}

// Boards with the reordered layout deliver each sample shifted left by 4.
inline int sampleShift(const Board& board) { return board.profile().shiftedReorder ? 4 : 0; }

}  // namespace Zelvo::sim::test
