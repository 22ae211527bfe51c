// The evaluation-kit SDK library, loaded through the host when a USB camera is opened:
// the library named by ZELVO_EVK_SDK when that is set, else "libzelvo_evk_sdk.so" from
// the loader's search path.
#pragma once

#include <string>

#include "core/host.h"
#include "sensor/usb/evk_sdk.h"

namespace Zelvo {

// The file name the loader looks for when ZELVO_EVK_SDK is not set.
constexpr const char* kEvkSdkLibraryName = "libzelvo_evk_sdk.so";

// The library to load: ZELVO_EVK_SDK, or kEvkSdkLibraryName when that is unset or empty.
std::string evkSdkLibraryPath();

class EvkSdkLibrary {
public:
    explicit EvkSdkLibrary(Host& host) : host(host) {}

    EvkSdkLibrary(const EvkSdkLibrary&) = delete;
    EvkSdkLibrary& operator=(const EvkSdkLibrary&) = delete;

    // Loads the library and finds its ten calls: true. False, with nothing kept, when the
    // library cannot be loaded or lacks a call; one line on standard error then names the
    // library (and the missing call). Loading again while loaded does nothing.
    bool load();
    // Gives the library back to the loader; the calls are gone. Nothing when not loaded.
    void unload();
    bool loaded() const { return library != nullptr; }
    // Valid while loaded.
    const EvkSdkCalls& calls() const { return table; }

private:
    Host& host;
    void* library = nullptr;
    EvkSdkCalls table;
};

}  // namespace Zelvo
