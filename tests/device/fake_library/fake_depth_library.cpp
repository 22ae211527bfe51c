#include "tests/device/fake_library/fake_depth_library.h"

using Zelvo::testing::fakeDepthLibrary;

namespace {

int handleToken = 0;

void record(const std::string& call) { fakeDepthLibrary().calls.push_back(call); }

}  // namespace

Zelvo::testing::FakeDepthLibrary& Zelvo::testing::fakeDepthLibrary() {
    static FakeDepthLibrary library;
    return library;
}

bool SiSDKCreate(SiSDKHandle* handle) {
    record("SiSDKCreate");
    *handle = fakeDepthLibrary().createResult ? &handleToken : nullptr;
    return fakeDepthLibrary().createResult;
}

bool SiSDKInit(SiSDKHandle, int width, int height) {
    record("SiSDKInit(" + std::to_string(width) + "," + std::to_string(height) + ")");
    return fakeDepthLibrary().initResult;
}

bool SiSDKSetConfig(SiSDKHandle, const char* directory) {
    record(std::string("SiSDKSetConfig(") + directory + ")");
    return true;
}

bool SiSDKSetCaliData(SiSDKHandle, const void* data, uint32_t length) {
    record("SiSDKSetCaliData(" + std::to_string(length) + ")");
    fakeDepthLibrary().calibrations.emplace_back(static_cast<const char*>(data), length);
    return true;
}

bool SiSDKStart(SiSDKHandle) {
    record("SiSDKStart");
    return fakeDepthLibrary().startResult;
}

bool SiSDKGetPhaseImage(SiSDKHandle, const uint16_t*, float*, float*, float*) {
    record("SiSDKGetPhaseImage");
    return fakeDepthLibrary().phaseResult;
}

bool SiSDKIsSingleFreq(SiSDKHandle) { return fakeDepthLibrary().singleFrequency; }

bool SiSDKSetSingleFreq(SiSDKHandle, bool single) {
    record(std::string("SiSDKSetSingleFreq(") + (single ? "1" : "0") + ")");
    fakeDepthLibrary().singleFrequency = single;
    return true;
}

void SiSDKDestroy(SiSDKHandle* handle) {
    record("SiSDKDestroy");
    fakeDepthLibrary().destroyedAt.push_back(handle);
    *handle = nullptr;
}
