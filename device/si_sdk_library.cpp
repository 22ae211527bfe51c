#include "device/si_sdk_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <type_traits>

// The build names the depth library by its soname (libzelvo_depth.so.<version>), the name
// its run-time install provides; a build without it (one that never installs the library)
// uses the bare name.
#ifndef ZELVO_DEPTH_LIBRARY_NAME
#define ZELVO_DEPTH_LIBRARY_NAME "libzelvo_depth.so"
#endif

namespace Zelvo {
namespace {

const char* libraryPath() {
    const char* path = std::getenv(SiSdkLibrary::kPathVariable);
    return path != nullptr && path[0] != '\0' ? path : ZELVO_DEPTH_LIBRARY_NAME;
}

}  // namespace

bool SiSdkLibrary::load() {
    if (loaded()) return true;
    const char* path = libraryPath();
    void* opened = host.dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (opened == nullptr) {
        const char* reason = host.dlerror();
        std::fprintf(stderr, "Error: cannot load the depth library %s: %s\n", path,
                     reason != nullptr ? reason : "unknown reason");
        return false;
    }

    SiSdkCalls calls;
    const char* missing = nullptr;
    auto resolve = [&](const char* name, auto& call) {
        void* symbol = host.dlsym(opened, name);
        if (symbol == nullptr) {
            missing = name;
            return false;
        }
        // The loader hands functions out as object pointers.
        call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(symbol);
        return true;
    };
    const bool complete =
        resolve("SiSDKCreate", calls.create) && resolve("SiSDKInit", calls.init) &&
        resolve("SiSDKSetConfig", calls.setConfig) &&
        resolve("SiSDKSetCaliData", calls.setCaliData) && resolve("SiSDKStart", calls.start) &&
        resolve("SiSDKGetPhaseImage", calls.getPhaseImage) &&
        resolve("SiSDKIsSingleFreq", calls.isSingleFreq) &&
        resolve("SiSDKSetSingleFreq", calls.setSingleFreq) &&
        resolve("SiSDKDestroy", calls.destroy);
    if (!complete) {
        std::fprintf(stderr, "Error: the depth library %s has no call %s\n", path, missing);
        host.dlclose(opened);
        return false;
    }

    library = opened;
    table = calls;
    return true;
}

void SiSdkLibrary::unload() {
    if (!loaded()) return;
    table = SiSdkCalls{};
    host.dlclose(library);
    library = nullptr;
}

}  // namespace Zelvo
