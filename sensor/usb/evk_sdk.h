// The evaluation-kit SDK as this driver sees it: the records it exchanges with the kit's
// library and the ten calls it makes. The library is the vendor's (loaded at run time);
// only the fields named here are read or written, everything else is the SDK's own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelvo {

using ZelvoCameraHandle = void*;

// Which camera to open and how. ZelvoDefaultParam fills it; a configuration file may then
// be named.
struct __attribute__((packed, aligned(4))) ZelvoOpenParam {
    union {
        const char* configFile;  // zero-terminated name of the kit's configuration file
        uint64_t configFileSlot;  // the slot is 8 bytes wide on every platform
    };
    uint8_t binFile;  // 1: the configuration file is a ".bin" file
    uint8_t reserved[11];
};

// What the kit reports about its sensor.
struct ZelvoCameraConfig {
    uint8_t reserved0[64];
    uint32_t width;    // pixels per row
    uint32_t height;   // rows
    uint8_t bitWidth;  // significant bits per sample
    uint8_t reserved1[7];
};

// The 4-byte aligned slot of a pointer inside ZelvoImage (8 bytes wide everywhere).
union __attribute__((packed, aligned(4))) ZelvoImageData {
    uint8_t* address;
    uint64_t slot;
};

// One captured sub-frame. Handed back to the kit, by value, with ZelvoFreeImage.
struct alignas(8) ZelvoImage {
    uint8_t reserved0[8];
    uint64_t timestamp;  // the kit's time unit (milliseconds)
    uint8_t reserved1[8];
    uint32_t dataSize;   // bytes at data
    ZelvoImageData data;  // samples in row order: 1 byte each up to 8 bits, else 2 (LE)
    uint8_t reserved2[12];
};

static_assert(sizeof(ZelvoOpenParam) == 20, "ZelvoOpenParam is 20 bytes");
static_assert(offsetof(ZelvoOpenParam, configFile) == 0, "file name at offset 0");
static_assert(offsetof(ZelvoOpenParam, binFile) == 8, ".bin flag at offset 8");
static_assert(sizeof(ZelvoCameraConfig) == 80, "ZelvoCameraConfig is 80 bytes");
static_assert(offsetof(ZelvoCameraConfig, width) == 64, "width at offset 64");
static_assert(offsetof(ZelvoCameraConfig, height) == 68, "height at offset 68");
static_assert(offsetof(ZelvoCameraConfig, bitWidth) == 72, "bit width at offset 72");
static_assert(sizeof(ZelvoImage) == 48 && alignof(ZelvoImage) == 8,
              "ZelvoImage is 48 bytes, 8-byte aligned");
static_assert(offsetof(ZelvoImage, timestamp) == 8, "timestamp at offset 8");
static_assert(offsetof(ZelvoImage, dataSize) == 24, "data size at offset 24");
static_assert(offsetof(ZelvoImage, data) == 28, "data pointer at offset 28");

// The calls, with the kit library's C linkage. 0 means success wherever a result counts.
extern "C" {
using ZelvoDefaultParamCall = int(ZelvoOpenParam* param);
using ZelvoOpenCameraCall = int(ZelvoCameraHandle* handle, ZelvoOpenParam* param);
using ZelvoInitCameraCall = int(ZelvoCameraHandle handle);
using ZelvoGetCameraConfigCall = int(ZelvoCameraHandle handle, ZelvoCameraConfig* config);
using ZelvoStartCameraCall = int(ZelvoCameraHandle handle);
using ZelvoCaptureImageCall = int(ZelvoCameraHandle handle, ZelvoImage* image, int timeoutMs);
using ZelvoFreeImageCall = int(ZelvoCameraHandle handle, ZelvoImage image);
using ZelvoStopCameraCall = int(ZelvoCameraHandle handle);
using ZelvoCloseCameraCall = int(ZelvoCameraHandle handle);
using ZelvoWriteSensorRegCall = int(ZelvoCameraHandle handle, uint16_t address, uint16_t value);
}

// The kit library's calls, each found by its own name.
struct EvkSdkCalls {
    ZelvoDefaultParamCall* ZelvoDefaultParam = nullptr;
    ZelvoOpenCameraCall* ZelvoOpenCamera = nullptr;
    ZelvoInitCameraCall* ZelvoInitCamera = nullptr;
    ZelvoGetCameraConfigCall* ZelvoGetCameraConfig = nullptr;
    ZelvoStartCameraCall* ZelvoStartCamera = nullptr;
    ZelvoCaptureImageCall* ZelvoCaptureImage = nullptr;
    ZelvoFreeImageCall* ZelvoFreeImage = nullptr;
    ZelvoStopCameraCall* ZelvoStopCamera = nullptr;
    ZelvoCloseCameraCall* ZelvoCloseCamera = nullptr;
    ZelvoWriteSensorRegCall* ZelvoWriteSensorReg = nullptr;
};

}  // namespace Zelvo
