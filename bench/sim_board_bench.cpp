// Cost of one depth frame from a free-running simulated board (fps=0): four dequeues
// and queues through the host, with the sub-frames packed as each board delivers them.
// The counter "vs_copy" is the time per frame divided by the time of copying the same
// four sub-frames with memcpy, measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/media.h>
#include <linux/videodev2.h>
#include <string>
#include <sys/mman.h>
#include <vector>

#include "sim/board.h"

namespace {

using Zelvo::sim::Board;

constexpr int kSubFrames = 4;

double copySeconds(size_t bytes) {
    std::vector<uint8_t> source(bytes, 1), destination(bytes);
    constexpr int kRounds = 200;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        std::memcpy(destination.data(), source.data(), bytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
           kRounds;
}

void enableRaspberryPi5Link(Board& board) {
    int media = board.open("/dev/media0", O_RDWR);
    media_link_desc link{};
    link.source = {1, 4, MEDIA_PAD_FL_SOURCE, {}};
    link.sink = {14, 0, MEDIA_PAD_FL_SINK, {}};
    link.flags = MEDIA_LNK_FL_ENABLED;
    board.ioctl(media, MEDIA_IOC_SETUP_LINK, &link);
    board.close(media);
}

void freeRunningFrame(benchmark::State& state, const std::string& boardKey) {
    std::string error;
    auto board = Board::create(("board=" + boardKey + ",fps=0").c_str(), error);
    if (!board) {
        state.SkipWithError(error.c_str());
        return;
    }
    if (boardKey == "rpi5") enableRaspberryPi5Link(*board);
    const bool planar = board->profile().multiPlanar;
    uint32_t type = planar ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE : V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int fd = board->open("/dev/video0", O_RDWR);
    v4l2_requestbuffers request{};
    request.count = 8;
    request.type = type;
    request.memory = V4L2_MEMORY_MMAP;
    board->ioctl(fd, VIDIOC_REQBUFS, &request);
    size_t length = 0;
    std::vector<std::pair<void*, size_t>> maps;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_plane plane{};
        v4l2_buffer buffer{};
        buffer.index = i;
        buffer.type = type;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (planar) {
            buffer.length = 1;
            buffer.m.planes = &plane;
        }
        board->ioctl(fd, VIDIOC_QUERYBUF, &buffer);
        length = planar ? plane.length : buffer.length;
        void* map = board->mmap(nullptr, length, PROT_READ, MAP_SHARED, fd,
                                planar ? plane.m.mem_offset : buffer.m.offset);
        maps.emplace_back(map, length);
        board->ioctl(fd, VIDIOC_QBUF, &buffer);
    }
    if (board->ioctl(fd, VIDIOC_STREAMON, &type) != 0) {
        state.SkipWithError("stream on failed");
        return;
    }
    v4l2_plane plane{};
    v4l2_buffer buffer{};
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int k = 0; k < kSubFrames; ++k) {
            std::memset(&buffer, 0, sizeof(buffer));
            buffer.type = type;
            buffer.memory = V4L2_MEMORY_MMAP;
            if (planar) {
                buffer.length = 1;
                buffer.m.planes = &plane;
            }
            board->ioctl(fd, VIDIOC_DQBUF, &buffer);
            board->ioctl(fd, VIDIOC_QBUF, &buffer);
        }
    }
    const double perFrame =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
    state.counters["vs_copy"] = perFrame / copySeconds(kSubFrames * length);
    board->ioctl(fd, VIDIOC_STREAMOFF, &type);
    for (auto& map : maps) board->munmap(map.first, map.second);
    board->close(fd);
}

}  // namespace

BENCHMARK_CAPTURE(freeRunningFrame, rpi5, std::string("rpi5"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(freeRunningFrame, rpi4, std::string("rpi4"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(freeRunningFrame, jetson_orin, std::string("jetson-orin"))
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
