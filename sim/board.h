// The simulated board as a host: the kernel side of a CSI time-of-flight camera behind
// the host seam, with its devicetree, sysfs and procfs entries.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/host.h"
#include "sim/board_profile.h"
#include "sim/capture_node.h"
#include "sim/evaluation_kit.h"
#include "sim/fault_injection.h"
#include "sim/i2c_adapter.h"
#include "sim/media_device.h"
#include "sim/sensor_controls.h"
#include "sim/sensor_registers.h"
#include "sim/settings.h"
#include "sim/sub_device.h"
#include "sim/tof_sensor.h"
#include "sim/virtual_files.h"

namespace Zelvo::sim {

// What the sensor has received, for tests that check exact values.
struct SensorState {
    int rangeControl = 0;
    int exposure = 0;
    int frameRate = 0;               // depth frames per second the sensor runs at
    uint32_t frameRateRegister = 0;  // last value written to the frame-rate register
    uint32_t calibrationRequest = 0;
    std::vector<ControlWrite> controlWrites;
    std::vector<I2cMessageRecord> lastI2cTransfer;
    std::vector<I2cMessageRecord> i2cWrites;
    bool pipelineLinked = false;     // media links the capture needs are enabled
    bool streaming = false;
};

class Board final : public Host {
public:
    // A fresh board, or null with error holding one line that names the bad setting.
    static std::shared_ptr<Board> create(const char* settings, std::string& error);

    explicit Board(const Settings& settings);
    ~Board() override;

    // Paths below /dev, /sys and /proc are the board's; every other path (the working
    // directory's configuration and calibration files) is the real file system's.
    int open(const char* path, int flags, mode_t mode = 0) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    int ftruncate(int fd, int64_t length) override;
    int unlink(const char* path) override;
    int rename(const char* from, const char* to) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    int poll(struct pollfd* fds, unsigned long count, int timeoutMs) override;
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               int64_t offset) override;
    int munmap(void* address, size_t length) override;
    int fstat(int fd, struct stat* status) override;
    ssize_t readlink(const char* path, char* buffer, size_t size) override;
    int listDirectory(const char* path, std::vector<std::string>& entries) override;
    FILE* openText(const char* path, const char* mode) override;
    // The evaluation kit's library (by its name or the ZELVO_EVK_SDK path) is the board's
    // simulated kit; every other library is the real system's.
    void* dlopen(const char* path, int flags) override;
    void* dlsym(void* library, const char* name) override;
    int dlclose(void* library) override;
    const char* dlerror() override;

    // True for the paths the board presents itself.
    static bool isBoardPath(const std::string& path);

    const BoardProfile& profile() const { return profile_; }
    FaultInjection& faults() { return faults_; }
    // The USB evaluation kit attached to the board, with its own faults.
    EvaluationKit& evaluationKit() { return kit_; }
    // Unplugs the camera at once, waking a blocked dequeue or poll.
    void unplug();
    // What the sensor of pipeline `pipeline` (the camera at that index) has received.
    SensorState sensorState(size_t pipeline = 0);
    size_t openDescriptors();
    size_t mappings();

private:
    struct Pipeline;
    enum class NodeKind { Text, Capture, Subdev, Media, I2c, RealFile };

    struct Handle {
        NodeKind kind;
        int flags = 0;
        size_t index = 0;         // sub-device or adapter
        size_t pipeline = 0;      // capture, sub-device and media nodes
        std::string content;      // text files
        size_t position = 0;
        SubdevClient subdev;
        I2cClient i2c;
        uint32_t major = 0, minor = 0;
        int realFd = -1;          // RealFile: the system's descriptor
        bool closed = false;
    };

    struct Mapping {
        void* address;
        size_t length;
        std::shared_ptr<BufferMemory> memory;
    };

    void buildFiles();
    // What poll reports for one descriptor; lowers recheck to when that may change.
    short pollEvents(const struct pollfd& polled, MonotonicClock::time_point& recheck);
    bool padFormat(const Pipeline& pipeline, const EntityProfile& entity, uint16_t pad,
                   const PixelLayout& layout, v4l2_mbus_framefmt& format) const;
    // withMedia: the media node listed beside the device, or "".
    void addCharDevice(const std::string& node, int major, int minor, const std::string& name,
                       const std::string& sysfsPath, const std::string& withMedia);
    int pipelineCheck(const Pipeline& pipeline, const PixelLayout& layout) const;
    int allocateDescriptor() const;
    std::shared_ptr<Handle> find(int fd) const;

    // One camera's capture pipeline: its sensor with the registers and controls that reach
    // it, the media graph and sub-devices where the board has them, and the capture node.
    struct Pipeline {
        Pipeline(const BoardProfile& profile, const Settings& settings)
            : profile(profile), sensor(settings), registers(sensor), controls(sensor) {}
        const BoardProfile& profile;
        TofSensor sensor;
        SensorRegisters registers;
        SensorControls controls;
        std::unique_ptr<MediaDevice> media;
        std::vector<SubDevice> subdevs;
        std::unique_ptr<CaptureNode> capture;
    };
    static std::vector<std::unique_ptr<Pipeline>> makePipelines(const BoardProfile& profile,
                                                                const Settings& settings);
    void buildPipeline(size_t index);

    const BoardProfile& profile_;
    std::mutex mutex_;
    FaultInjection faults_;
    std::vector<std::unique_ptr<Pipeline>> pipelines_;  // one for each camera
    EvaluationKit kit_;
    std::vector<std::unique_ptr<I2cAdapter>> adapters_;
    VirtualFiles files_;
    std::map<int, std::shared_ptr<Handle>> descriptors_;
    std::vector<Mapping> mappings_;
    std::vector<std::pair<void*, size_t>> realMappings_;  // of real files
};

}  // namespace Zelvo::sim
