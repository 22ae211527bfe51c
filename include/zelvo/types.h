// Public vocabulary of the camera: enumerations, plain records and the board code.
#pragma once

#include <cstdint>

namespace Zelvo {

enum Connection : int32_t {
    CSI = 0,
    USB = 1,
};

enum DeviceType : int32_t {
    VGA = 0,
    HQVGA = 1,
};

// Output type of a stream and selector of a plane inside a frame buffer.
enum FrameType : int32_t {
    RAW = 0,
    CONFIDENCE = 1,
    DEPTH = 2,
    AMPLITUDE = 3,
    CACHE = 4,
};

enum CameraCtrl : int32_t {
    RANGE = 0,
    FMT_WIDTH = 1,
    FMT_HEIGHT = 2,
    MODE = 3,
    FRAME_MODE = 4,
    EXPOSURE = 5,
    FRAME_RATE = 6,
    SKIP_FRAME = 7,
    SKIP_FRAME_LOOP = 8,
    AUTO_FRAME_RATE = 9,
    CONFIG_DIR_EXT = 256,
};

enum TofWorkMode : int32_t {
    SINGLE_FREQ = 0,
    DOUBLE_FREQ = 1,
    TRIPLE_FREQ = 2,
    QUAD_FREQ = 3,
    DISTANCE = 4,
    HDR = 5,
    AE = 6,
    BG_OUTDOOR = 7,
    GRAY_ONLY = 8,
    CUSTOM1 = 9,
    CUSTOM2 = 10,
    CUSTOM3 = 11,
};

// Scoped because two enumerators share their names with TofWorkMode.
enum class TofFrameWorkMode : int32_t {
    SINGLE_FREQ_2PHASE = 0,
    SINGLE_FREQ_4PHASE = 1,
    SINGLE_FREQ_4PHASE_GRAY = 2,
    SINGLE_FREQ_4PHASE_BG = 3,
    SINGLE_FREQ_4PHASE_4BG = 4,
    SINGLE_FREQ_4PHASE_GRAY_5BG = 5,
    SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG = 6,
    SINGLE_FREQ_GRAY_BG_4PHASE_BG = 7,
    SINGLE_FREQ_BG_GRAY_BG_4PHASE = 8,
    SINGLE_FREQ_BG_4PHASE_BG_GRAY = 9,
    DOUBLE_FREQ_4PHASE = 10,
    DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG = 11,
    DOUBLE_FREQ_4PHASE_4BG = 12,
    DOUBLE_FREQ_4PHASE_GRAY_5BG = 13,
    TRIPLE_FREQ_4PHASE = 14,
    TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG = 15,
    QUAD_FREQ_4PHASE = 16,
    QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG = 17,
    BG_OUTDOOR = 18,
    GRAY_ONLY = 19,
    CUSTOM = 20,
};

enum TofErrorCode : int32_t {
    ZelvoSuccess = 0,
    ZelvoInvalidParameter = 1,
    ZelvoNoCache = 2,
    ZelvoUnkownDevice = 3,
    ZelvoNotImplemented = 4,
    ZelvoSkipFrame = 240,
    ZelvoSystemError = -2,
    ZelvoUnkownError = -1,
};

// Text of an error code; any value outside the table gives "Unknown error".
const char* to_str(TofErrorCode code);

struct CameraInfo {
    uint32_t index;
    Connection connect;
    DeviceType device_type;
    FrameType type;
    uint32_t width;
    uint32_t height;     // one sub-frame
    uint32_t bit_width;
    uint32_t bpp;        // bytes per raw sample
};

struct FrameDataFormat {
    uint32_t width;
    uint32_t height;
    FrameType type;
    uint64_t timestamp;
};

// The board the process runs on. 5..7 use the media-controller pipeline, 2..4 are Jetsons.
enum Platform : int32_t {
    PlatformOther = 0,
    PlatformJetsonNano = 2,
    PlatformJetson = 3,
    PlatformRaspberryPi = 5,
    PlatformRaspberryPi5 = 6,
    PlatformRadxaRock = 7,
};

inline bool isSubdevPlatform(int platform) { return platform >= 5 && platform <= 7; }
inline bool isJetsonPlatform(int platform) { return platform >= 2 && platform <= 4; }

// Frame size reported by a device, counting 16-bit samples and rows.
struct FrameLayout {
    int32_t code;
    uint32_t width;
    uint32_t height;
};

}  // namespace Zelvo
