// The depth-processing library behind the VGA device, reached through a table of its nine
// calls filled at run time: our own libzelvo_depth by default (loaded by its soname), or the
// library named by ZELVO_DEPTH_LIBRARY (a vendor build with the same calls).
#pragma once

#include "core/host.h"
#include "depth/si_sdk.h"

namespace Zelvo {

struct SiSdkCalls {
    decltype(&SiSDKCreate) create = nullptr;
    decltype(&SiSDKInit) init = nullptr;
    decltype(&SiSDKSetConfig) setConfig = nullptr;
    decltype(&SiSDKSetCaliData) setCaliData = nullptr;
    decltype(&SiSDKStart) start = nullptr;
    decltype(&SiSDKGetPhaseImage) getPhaseImage = nullptr;
    decltype(&SiSDKIsSingleFreq) isSingleFreq = nullptr;
    decltype(&SiSDKSetSingleFreq) setSingleFreq = nullptr;
    decltype(&SiSDKDestroy) destroy = nullptr;
};

class SiSdkLibrary {
public:
    static constexpr const char* kPathVariable = "ZELVO_DEPTH_LIBRARY";

    explicit SiSdkLibrary(Host& host) : host(host) {}

    SiSdkLibrary(const SiSdkLibrary&) = delete;
    SiSdkLibrary& operator=(const SiSdkLibrary&) = delete;

    // Loads the library and fills every call; true when it is (or already was) loaded.
    // A library that cannot be loaded, or lacks a call, leaves nothing loaded and prints
    // one line on standard error naming the library or the call.
    bool load();
    // Drops the calls and closes the library.
    void unload();

    bool loaded() const { return library != nullptr; }
    // Valid while loaded.
    const SiSdkCalls& calls() const { return table; }

private:
    Host& host;
    void* library = nullptr;
    SiSdkCalls table;
};

}  // namespace Zelvo
