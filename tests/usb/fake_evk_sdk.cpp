#include "tests/usb/fake_evk_sdk.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Zelvo::testing {
namespace {

FakeEvkSdk* active = nullptr;
int libraryToken;  // its address is the library handle

FakeEvkSdk& sdk(ZelvoCameraHandle handle) {
    if (handle != active) throw std::logic_error("call with a handle the fake did not give");
    return *active;
}

}  // namespace

struct FakeEvkSdkCalls {
    static int defaultParam(ZelvoOpenParam* param) {
        active->log.add("ZelvoDefaultParam");
        *param = FakeEvkSdk::defaultParam();
        return 0;
    }
    static int openCamera(ZelvoCameraHandle* handle, ZelvoOpenParam* param) {
        active->log.add("ZelvoOpenCamera");
        active->openParam = *param;
        active->openConfigFile = param->configFile ? param->configFile : "";
        if (active->openResult == 0) *handle = active;
        return active->openResult;
    }
    static int initCamera(ZelvoCameraHandle handle) {
        sdk(handle).log.add("ZelvoInitCamera");
        return active->initResult;
    }
    static int getCameraConfig(ZelvoCameraHandle handle, ZelvoCameraConfig* config) {
        FakeEvkSdk& kit = sdk(handle);
        kit.log.add("ZelvoGetCameraConfig");
        config->width = kit.width;
        config->height = kit.height;
        config->bitWidth = kit.bitWidth;
        return 0;
    }
    static int startCamera(ZelvoCameraHandle handle) {
        sdk(handle).log.add("ZelvoStartCamera");
        return active->startResult;
    }
    static int captureImage(ZelvoCameraHandle handle, ZelvoImage* image, int timeoutMs) {
        FakeEvkSdk& kit = sdk(handle);
        kit.log.add("ZelvoCaptureImage");
        kit.timeouts.push_back(timeoutMs);
        if (kit.captures.empty()) return -2;
        const ScriptedCapture next = kit.captures.front();
        kit.captures.pop_front();
        if (next.result != 0) return next.result;
        const size_t samples = static_cast<size_t>(kit.width) * kit.height;
        const size_t bytes = kit.bitWidth > 8 ? 2 : 1;
        std::vector<uint8_t>& data = kit.images.emplace_back(samples * bytes);
        for (size_t i = 0; i < samples; ++i) {
            data[i * bytes] = static_cast<uint8_t>(next.sample & 0xFF);
            if (bytes == 2) data[i * bytes + 1] = static_cast<uint8_t>(next.sample >> 8);
        }
        *image = ZelvoImage{};
        image->timestamp = next.timestamp;
        image->dataSize = static_cast<uint32_t>(static_cast<int>(data.size()) + next.sizeChange);
        image->data.address = data.data();
        kit.delivered.push_back(data.data());
        return 0;
    }
    static int freeImage(ZelvoCameraHandle handle, ZelvoImage image) {
        sdk(handle).log.add("ZelvoFreeImage");
        active->freed.push_back(image.data.address);
        return 0;
    }
    static int stopCamera(ZelvoCameraHandle handle) {
        sdk(handle).log.add("ZelvoStopCamera");
        return 0;
    }
    static int closeCamera(ZelvoCameraHandle handle) {
        sdk(handle).log.add("ZelvoCloseCamera");
        return 0;
    }
    static int writeSensorReg(ZelvoCameraHandle handle, uint16_t address, uint16_t value) {
        sdk(handle).log.add(call("ZelvoWriteSensorReg", address, value));
        return 0;
    }
};

FakeEvkSdk::FakeEvkSdk() {
    if (active) throw std::logic_error("one fake SDK at a time");
    active = this;
    setModel("Raspberry Pi 4 Model B Rev 1.4");
}

FakeEvkSdk::~FakeEvkSdk() { active = nullptr; }

ZelvoOpenParam FakeEvkSdk::defaultParam() {
    ZelvoOpenParam param;
    std::memset(&param, kDefaultFill, sizeof param);
    param.configFile = kDefaultConfigFile;
    return param;
}

void* FakeEvkSdk::dlopen(const char* path, int) {
    loadedPaths.emplace_back(path);
    if (!loadable) {
        loaderError = std::string(path) + ": cannot open shared object file";
        return nullptr;
    }
    ++libraryReferences;
    return &libraryToken;
}

void* FakeEvkSdk::dlsym(void* library, const char* name) {
    struct Entry {
        const char* name;
        void* call;
    };
    const Entry calls[] = {
        {"ZelvoDefaultParam", reinterpret_cast<void*>(&FakeEvkSdkCalls::defaultParam)},
        {"ZelvoOpenCamera", reinterpret_cast<void*>(&FakeEvkSdkCalls::openCamera)},
        {"ZelvoInitCamera", reinterpret_cast<void*>(&FakeEvkSdkCalls::initCamera)},
        {"ZelvoGetCameraConfig", reinterpret_cast<void*>(&FakeEvkSdkCalls::getCameraConfig)},
        {"ZelvoStartCamera", reinterpret_cast<void*>(&FakeEvkSdkCalls::startCamera)},
        {"ZelvoCaptureImage", reinterpret_cast<void*>(&FakeEvkSdkCalls::captureImage)},
        {"ZelvoFreeImage", reinterpret_cast<void*>(&FakeEvkSdkCalls::freeImage)},
        {"ZelvoStopCamera", reinterpret_cast<void*>(&FakeEvkSdkCalls::stopCamera)},
        {"ZelvoCloseCamera", reinterpret_cast<void*>(&FakeEvkSdkCalls::closeCamera)},
        {"ZelvoWriteSensorReg", reinterpret_cast<void*>(&FakeEvkSdkCalls::writeSensorReg)},
    };
    if (library != &libraryToken) return nullptr;
    for (const Entry& entry : calls)
        if (name == std::string(entry.name) && name != missingCall) return entry.call;
    loaderError = std::string("undefined symbol: ") + name;
    return nullptr;
}

int FakeEvkSdk::dlclose(void* library) {
    if (library != &libraryToken || libraryReferences == 0)
        throw std::logic_error("dlclose of a library the fake did not load");
    --libraryReferences;
    return 0;
}

const char* FakeEvkSdk::dlerror() { return loaderError.empty() ? nullptr : loaderError.c_str(); }

int FakeEvkSdk::count(const std::string& entry) const {
    const std::vector<std::string> calls = log.entries();
    return static_cast<int>(std::count(calls.begin(), calls.end(), entry));
}

}  // namespace Zelvo::testing
