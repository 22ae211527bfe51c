// The replay plug-in: reads a raw recording with Debian's rosbag_storage library.
//
// A raw recording holds its RAW frames on /zelvo/raw (sensor_msgs/Image, 16SC1) and, on
// /zelvo/meta, a JSON text whose "replay" object says what the board must present to serve
// it (docs/recordings.md). Frames are read when asked for, each into the caller's memory
// through one message object that keeps its storage, so a long recording costs no more
// memory than a frame.
#include "sim/replay/replay_plugin.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <ros/serialization.h>
#include <rosbag/bag.h>
#include <rosbag/view.h>
#include <sensor_msgs/Image.h>
#include <std_msgs/String.h>

namespace {

constexpr char kRawTopic[] = "/zelvo/raw";
constexpr char kMetaTopic[] = "/zelvo/meta";
constexpr char kRawEncoding[] = "16SC1";

struct Recording {
    rosbag::Bag bag;
    std::unique_ptr<rosbag::View> view;
    std::vector<rosbag::MessageInstance> frames;
    std::vector<uint8_t> serialized;  // one message as stored, reused
    sensor_msgs::Image image;         // its data keeps its capacity from frame to frame
    uint32_t width = 0;
    uint32_t rows = 0;
};

// One line: line breaks of library messages become spaces.
void setError(char* error, size_t size, const std::string& text) {
    if (!error || size == 0) return;
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    std::snprintf(error, size, "%s", line.c_str());
}

void copyText(char* destination, size_t size, const std::string& text) {
    std::snprintf(destination, size, "%s", text.c_str());
}

// Reads a stored message into message, reusing the recording's buffer.
template <typename Message>
void readMessage(Recording& recording, const rosbag::MessageInstance& instance, Message& message) {
    const uint32_t size = instance.size();
    if (recording.serialized.size() < size) recording.serialized.resize(size);
    ros::serialization::OStream out(recording.serialized.data(), size);
    instance.write(out);
    ros::serialization::IStream in(recording.serialized.data(), size);
    ros::serialization::deserialize(in, message);
}

// The replay's part of the meta text, checked; throws with the reason when it is unusable.
void readMeta(Recording& recording, ZelvoReplayInfo& info) {
    rosbag::View metaView(recording.bag, rosbag::TopicQuery(kMetaTopic));
    if (metaView.size() == 0) throw std::runtime_error("it has no /zelvo/meta message");
    std_msgs::String meta;
    readMessage(recording, *metaView.begin(), meta);
    boost::property_tree::ptree tree;
    std::istringstream text(meta.data);
    boost::property_tree::read_json(text, tree);
    if (tree.get<std::string>("recording", "") != "raw")
        throw std::runtime_error("it is not a raw recording (recorded with --depth?)");
    const std::string board = tree.get<std::string>("replay.board");
    const std::string sensor = tree.get<std::string>("replay.sensor");
    if (sensor != "hqvga" && sensor != "vga")
        throw std::runtime_error("its sensor \"" + sensor + "\" is unknown");
    if (board.empty() || board.size() >= sizeof info.board)
        throw std::runtime_error("its board \"" + board + "\" is unknown");
    copyText(info.board, sizeof info.board, board);
    copyText(info.sensor, sizeof info.sensor, sensor);
    // Read as text: the tree's number conversion trips the compiler's uninitialised-use
    // analysis inside boost.
    const std::string rate = tree.get<std::string>("replay.frame_rate");
    char* end = nullptr;
    const long value = std::strtol(rate.c_str(), &end, 10);
    if (rate.empty() || *end != '\0' || value < 0 || value > 1000)
        throw std::runtime_error("its frame rate \"" + rate + "\" is no frame rate");
    info.frameRate = static_cast<int32_t>(value);
}

void readFrames(Recording& recording, ZelvoReplayInfo& info) {
    recording.view = std::make_unique<rosbag::View>(recording.bag, rosbag::TopicQuery(kRawTopic));
    for (const rosbag::MessageInstance& instance : *recording.view) {
        if (instance.getDataType() != "sensor_msgs/Image")
            throw std::runtime_error("/zelvo/raw holds " + instance.getDataType());
        recording.frames.push_back(instance);
    }
    if (recording.frames.empty()) throw std::runtime_error("it holds no RAW frames");
    // Every frame is of the first one's size and encoding: sizes are checked here, the
    // rest again as each frame is read.
    readMessage(recording, recording.frames.front(), recording.image);
    const sensor_msgs::Image& first = recording.image;
    if (first.encoding != kRawEncoding || first.is_bigendian || first.width == 0 ||
        first.height == 0 || first.step != first.width * 2 ||
        first.data.size() != static_cast<size_t>(first.step) * first.height)
        throw std::runtime_error("its first RAW frame is not a " + std::string(kRawEncoding) +
                                 " image of whole rows");
    const uint32_t size = recording.frames.front().size();
    for (const rosbag::MessageInstance& instance : recording.frames)
        if (instance.size() != size) throw std::runtime_error("its RAW frames differ in size");
    recording.width = first.width;
    recording.rows = first.height;
    info.width = first.width;
    info.rows = first.height;
    info.frameCount = static_cast<uint32_t>(recording.frames.size());
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* zelvoReplayOpen(const char* path,
                                                             ZelvoReplayInfo* info, char* error,
                                                             size_t errorSize) {
    if (!path || !info) {
        setError(error, errorSize, "no recording named");
        return nullptr;
    }
    auto recording = std::make_unique<Recording>();
    try {
        recording->bag.open(path, rosbag::bagmode::Read);
        *info = ZelvoReplayInfo{};
        readMeta(*recording, *info);
        readFrames(*recording, *info);
    } catch (const std::exception& failure) {
        setError(error, errorSize, failure.what());
        return nullptr;
    }
    return recording.release();
}

__attribute__((visibility("default"))) int zelvoReplayReadFrame(void* handle, uint32_t index,
                                                                int16_t* samples, char* error,
                                                                size_t errorSize) {
    auto* recording = static_cast<Recording*>(handle);
    if (!recording || !samples || index >= recording->frames.size()) {
        setError(error, errorSize, "no such RAW frame");
        return -1;
    }
    try {
        readMessage(*recording, recording->frames[index], recording->image);
    } catch (const std::exception& failure) {
        setError(error, errorSize, failure.what());
        return -1;
    }
    const sensor_msgs::Image& image = recording->image;
    const bool sameSize = image.width == recording->width && image.height == recording->rows &&
                          image.data.size() == size_t{2} * image.width * image.height;
    if (image.encoding != kRawEncoding || image.is_bigendian || !sameSize) {
        setError(error, errorSize,
                 "RAW frame " + std::to_string(index) + " differs from the first");
        return -1;
    }
    std::memcpy(samples, image.data.data(), image.data.size());
    return 0;
}

__attribute__((visibility("default"))) void zelvoReplayClose(void* handle) {
    auto* recording = static_cast<Recording*>(handle);
    if (!recording) return;
    try {
        recording->view.reset();
        recording->bag.close();
    } catch (const std::exception&) {
        // Only read from: nothing is lost when closing fails.
    }
    delete recording;
}

}  // extern "C"
