// Which kit a USB open asks for, for an SDK that can tell kits apart.
//
// The SDK's calls take no index: ZelvoDefaultParam and ZelvoOpenCamera open the kit the
// SDK finds first, so the driver never hands the camera's index to them and the vendor's
// library never sees it. An SDK stand-in that attaches kits of its own (the simulated
// board's) reads the index here, on the thread that opens, to refuse an index with no kit
// behind it as a missing device would be refused.
#pragma once

#include <cstdint>

namespace Zelvo {

// The index the calling thread's USB open asks for while its ZelvoOpenCamera runs; 0 (the
// first kit, which the SDK opens) at every other time.
int32_t openingKitIndex();

// Sets the calling thread's opening kit index for its lifetime.
class KitIndexScope {
public:
    explicit KitIndexScope(int32_t index);
    ~KitIndexScope();
    KitIndexScope(const KitIndexScope&) = delete;
    KitIndexScope& operator=(const KitIndexScope&) = delete;

private:
    int32_t previous_;
};

}  // namespace Zelvo
