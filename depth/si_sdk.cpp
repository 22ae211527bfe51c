// The C calls of the library: each forwards to the handle's DepthEngine, answers false for a
// null handle, and lets no exception (an allocation that fails) cross into C.
#pragma GCC visibility push(default)
#include "depth/si_sdk.h"
#pragma GCC visibility pop

#include <new>

#include "depth/depth_engine.h"

namespace {

using ZelvoDepth::DepthEngine;

template <typename Call>
bool onEngine(SiSDKHandle handle, Call call) {
    if (handle == nullptr) return false;
    try {
        return call(*static_cast<DepthEngine*>(handle));
    } catch (...) {
        return false;
    }
}

}  // namespace

bool SiSDKCreate(SiSDKHandle* handle) {
    if (handle == nullptr) return false;
    *handle = new (std::nothrow) DepthEngine;
    return *handle != nullptr;
}

bool SiSDKInit(SiSDKHandle handle, int width, int height) {
    return onEngine(handle, [&](DepthEngine& engine) { return engine.init(width, height); });
}

bool SiSDKSetCaliData(SiSDKHandle handle, const void* data, uint32_t length) {
    return onEngine(handle, [&](DepthEngine& engine) {
        return engine.setCalibration(static_cast<const uint8_t*>(data), length);
    });
}

bool SiSDKSetConfig(SiSDKHandle handle, const char* directory) {
    return onEngine(handle, [&](DepthEngine& engine) {
        engine.setConfigDirectory(directory);
        return true;
    });
}

bool SiSDKStart(SiSDKHandle handle) {
    return onEngine(handle, [](DepthEngine& engine) { return engine.start(); });
}

bool SiSDKIsSingleFreq(SiSDKHandle handle) {
    return onEngine(handle, [](DepthEngine& engine) { return engine.singleFrequency(); });
}

bool SiSDKSetSingleFreq(SiSDKHandle handle, bool single) {
    return onEngine(handle, [&](DepthEngine& engine) {
        engine.setSingleFrequency(single);
        return true;
    });
}

bool SiSDKGetPhaseImage(SiSDKHandle handle, const uint16_t* raw, float* depth, float* amplitude,
                        float* confidence) {
    return onEngine(handle, [&](DepthEngine& engine) {
        return engine.computeFrame(raw, depth, amplitude, confidence);
    });
}

void SiSDKDestroy(SiSDKHandle* handle) {
    if (handle == nullptr) return;
    delete static_cast<DepthEngine*>(*handle);
    *handle = nullptr;
}
