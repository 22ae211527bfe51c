#include "sensor/usb/kit_index.h"

namespace Zelvo {
namespace {

thread_local int32_t opening = 0;

}  // namespace

int32_t openingKitIndex() { return opening; }

KitIndexScope::KitIndexScope(int32_t index) : previous_(opening) { opening = index; }

KitIndexScope::~KitIndexScope() { opening = previous_; }

}  // namespace Zelvo
