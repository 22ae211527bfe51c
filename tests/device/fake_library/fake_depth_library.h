// A depth library double: a shared library with the nine calls of the real one, which the
// device tests load through ZELVO_DEPTH_LIBRARY and script through fakeDepthLibrary().
#pragma once

#include <string>
#include <vector>

#include "depth/si_sdk.h"

namespace Zelvo::testing {

struct FakeDepthLibrary {
    bool createResult = true, initResult = true, startResult = true, phaseResult = true;
    bool singleFrequency = true;  // changed by SiSDKSetSingleFreq
    // Calls with their arguments, e.g. "SiSDKInit(640,480)" (mode queries are left out),
    // the bytes of each SiSDKSetCaliData, and the addresses given to SiSDKDestroy.
    std::vector<std::string> calls, calibrations;
    std::vector<SiSDKHandle*> destroyedAt;
};

FakeDepthLibrary& fakeDepthLibrary();

}  // namespace Zelvo::testing
