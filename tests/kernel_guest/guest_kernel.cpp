#include "tests/kernel_guest/guest_kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Zelvo::guest {
namespace {

std::vector<std::string> directory(const char* path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path)) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

struct Descriptor {
    explicit Descriptor(int index) {
        const std::string path = "/dev/video" + std::to_string(index);
        fd = ::open(path.c_str(), O_RDWR);
    }
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

std::string failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Timings of the reduced-blanking coordinated video timing standard, which the kernel
// derives again from the line frequency, the frame height and the sync width, for
// 240 x 180 (4:3, vsync 4) at a line frequency of 250 kHz: 296 lines, about 845 frames
// a second, so that vivid completes queued buffers in bursts, as the sensor sends them.
v4l2_dv_timings sensorTimings() {
    v4l2_dv_timings timings{};
    timings.type = V4L2_DV_BT_656_1120;
    v4l2_bt_timings& bt = timings.bt;
    bt.width = 240;
    bt.height = 180;
    bt.polarities = V4L2_DV_HSYNC_POS_POL;
    bt.pixelclock = 100000000;
    bt.hfrontporch = 48;
    bt.hsync = 32;
    bt.hbackporch = 80;
    bt.vfrontporch = 3;
    bt.vsync = 4;
    bt.vbackporch = 109;
    bt.standards = V4L2_DV_BT_STD_CVT;
    bt.flags = V4L2_DV_FL_REDUCED_BLANKING;
    return timings;
}

}  // namespace

std::vector<int> vividCaptureNodes() {
    std::vector<int> nodes;
    for (const std::string& entry : directory("/sys/class/video4linux")) {
        const std::string name = firstLine("/sys/class/video4linux/" + entry + "/name");
        if (name.rfind("vivid-", 0) != 0 || name.find("-vid-cap") == std::string::npos) continue;
        if (entry.rfind("video", 0) == 0) nodes.push_back(std::stoi(entry.substr(5)));
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

std::string prepareVividNode(int index) {
    Descriptor node(index);
    if (node.fd < 0) return failed("open");
    int input = 0;
    if (ioctl(node.fd, VIDIOC_S_INPUT, &input) < 0) return failed("VIDIOC_S_INPUT");
    v4l2_dv_timings timings = sensorTimings();
    if (ioctl(node.fd, VIDIOC_S_DV_TIMINGS, &timings) < 0) return failed("VIDIOC_S_DV_TIMINGS");
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = 240;
    format.fmt.pix.height = 180;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_Y12;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (ioctl(node.fd, VIDIOC_S_FMT, &format) < 0) return failed("VIDIOC_S_FMT");
    if (format.fmt.pix.width != 240 || format.fmt.pix.height != 180 ||
        format.fmt.pix.pixelformat != V4L2_PIX_FMT_Y12) {
        char text[96];
        snprintf(text, sizeof text, "format %ux%u %.4s", format.fmt.pix.width,
                 format.fmt.pix.height, reinterpret_cast<const char*>(&format.fmt.pix.pixelformat));
        return text;
    }
    return "";
}

std::string setVividControl(int index, const std::string& name, int value) {
    Descriptor node(index);
    if (node.fd < 0) return failed("open");
    std::string offered;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (ioctl(node.fd, VIDIOC_QUERYCTRL, &query) == 0) {
        const char* text = reinterpret_cast<const char*>(query.name);
        if (name == text) {
            v4l2_control control{};
            control.id = query.id;
            control.value = value;
            return ioctl(node.fd, VIDIOC_S_CTRL, &control) == 0 ? "" : failed("VIDIOC_S_CTRL");
        }
        offered += std::string(" \"") + text + "\"";
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return "no control \"" + name + "\"; offered:" + offered;
}

std::vector<AdapterFunctions> i2cAdapters() {
    std::vector<AdapterFunctions> adapters;
    for (const std::string& entry : directory("/sys/class/i2c-adapter")) {
        AdapterFunctions adapter;
        if (sscanf(entry.c_str(), "i2c-%d", &adapter.bus) != 1) continue;
        adapter.name = firstLine("/sys/class/i2c-adapter/" + entry + "/name");
        const std::string path = "/dev/" + entry;
        const int fd = ::open(path.c_str(), O_RDWR);
        if (fd >= 0) {
            ioctl(fd, I2C_FUNCS, &adapter.functions);
            ::close(fd);
        }
        adapters.push_back(adapter);
    }
    return adapters;
}

int plainI2cBus() {
    for (const AdapterFunctions& adapter : i2cAdapters()) {
        if (adapter.functions & I2C_FUNC_I2C) return adapter.bus;
    }
    return -1;
}

int openDescriptors(const std::string& prefix) {
    int count = 0;
    for (const std::string& entry : directory("/proc/self/fd")) {
        char target[256] = {};
        const std::string path = "/proc/self/fd/" + entry;
        if (::readlink(path.c_str(), target, sizeof target - 1) < 0) continue;
        if (std::string(target).rfind(prefix, 0) == 0) ++count;
    }
    return count;
}

int mappingsNaming(const std::string& text) {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) {
        if (line.find(text) != std::string::npos) ++count;
    }
    return count;
}

std::string kernelArgument(const std::string& name) {
    std::ifstream file("/proc/cmdline");
    for (std::string word; file >> word;) {
        if (word.rfind(name + "=", 0) == 0) return word.substr(name.size() + 1);
    }
    return "";
}

}  // namespace Zelvo::guest
