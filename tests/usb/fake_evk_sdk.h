// A scripted evaluation-kit SDK behind a fake host whose loader offers it: the ten calls
// record what they receive, and each capture delivers the next scripted sub-frame. The
// calls carry no context, so at most one fake exists at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "sensor/usb/evk_sdk.h"
#include "tests/support/call_log.h"
#include "tests/support/fake_host.h"

namespace Zelvo::testing {

// One capture: a result, and for result 0 a sub-frame whose every sample is `sample`
// (stored in the kit's width) and whose size is the right one plus `sizeChange` bytes.
struct ScriptedCapture {
    int result = 0;
    uint64_t timestamp = 0;
    uint16_t sample = 0;
    int sizeChange = 0;
};

class FakeEvkSdk final : public FakeHost {
public:
    static constexpr const char* kDefaultConfigFile = "sdk-default.cfg";
    static constexpr uint8_t kDefaultFill = 0xA5;  // every other byte of the default record

    FakeEvkSdk();
    ~FakeEvkSdk() override;

    // Fills a record as ZelvoDefaultParam does.
    static ZelvoOpenParam defaultParam();

    // What the kit reports and answers.
    uint32_t width = 4;
    uint32_t height = 2;
    uint8_t bitWidth = 12;
    int openResult = 0;
    int initResult = 0;
    int startResult = 0;
    std::deque<ScriptedCapture> captures;  // an empty script fails every capture
    bool loadable = true;
    std::string missingCall;               // dlsym finds no call of this name

    // What it received.
    CallLog log;                           // call names in order, register writes as call()
    ZelvoOpenParam openParam{};
    std::string openConfigFile;            // the name given to ZelvoOpenCamera, if any
    std::vector<int> timeouts;             // of each capture
    std::vector<const uint8_t*> delivered;  // data of each good capture
    std::vector<const uint8_t*> freed;
    std::vector<std::string> loadedPaths;
    int libraryReferences = 0;

    void* dlopen(const char* path, int flags) override;
    void* dlsym(void* library, const char* name) override;
    int dlclose(void* library) override;
    const char* dlerror() override;

    int count(const std::string& call) const;

private:
    friend struct FakeEvkSdkCalls;
    std::deque<std::vector<uint8_t>> images;
    std::string loaderError;
};

}  // namespace Zelvo::testing
