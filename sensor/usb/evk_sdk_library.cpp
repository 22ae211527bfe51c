#include "sensor/usb/evk_sdk_library.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <type_traits>

namespace Zelvo {
namespace {

// The loader's description of its last failure, kept on one line.
std::string loaderError(Host& host) {
    const char* text = host.dlerror();
    std::string line = text ? text : "no reason given";
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

}  // namespace

std::string evkSdkLibraryPath() {
    const char* path = std::getenv("ZELVO_EVK_SDK");
    return path && path[0] != '\0' ? path : kEvkSdkLibraryName;
}

bool EvkSdkLibrary::load() {
    if (library) return true;
    const std::string path = evkSdkLibraryPath();
    host.dlerror();  // forget an earlier failure
    void* opened = host.dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!opened) {
        std::fprintf(stderr, "Error: cannot load the USB evaluation-kit SDK \"%s\" (%s)\n",
                     path.c_str(), loaderError(host).c_str());
        return false;
    }

    EvkSdkCalls found;
    const char* missing = nullptr;
    auto find = [&](const char* name, auto*& slot) {
        if (missing) return;
        void* symbol = host.dlsym(opened, name);
        if (!symbol) missing = name;
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
    };
#define ZELVO_FIND_CALL(call) find(#call, found.call)
    ZELVO_FIND_CALL(ZelvoDefaultParam);
    ZELVO_FIND_CALL(ZelvoOpenCamera);
    ZELVO_FIND_CALL(ZelvoInitCamera);
    ZELVO_FIND_CALL(ZelvoGetCameraConfig);
    ZELVO_FIND_CALL(ZelvoStartCamera);
    ZELVO_FIND_CALL(ZelvoCaptureImage);
    ZELVO_FIND_CALL(ZelvoFreeImage);
    ZELVO_FIND_CALL(ZelvoStopCamera);
    ZELVO_FIND_CALL(ZelvoCloseCamera);
    ZELVO_FIND_CALL(ZelvoWriteSensorReg);
#undef ZELVO_FIND_CALL
    if (missing) {
        std::fprintf(stderr, "Error: the USB evaluation-kit SDK \"%s\" lacks the call %s\n",
                     path.c_str(), missing);
        host.dlclose(opened);
        return false;
    }
    library = opened;
    table = found;
    return true;
}

void EvkSdkLibrary::unload() {
    if (!library) return;
    host.dlclose(library);
    library = nullptr;
    table = EvkSdkCalls{};
}

}  // namespace Zelvo
