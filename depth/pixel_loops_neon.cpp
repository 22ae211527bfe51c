// The NEON form of the pixel loops for ARM. On 32-bit ARM this file alone is compiled for
// NEON, and its loops run only where the processor reports it (depth/pixel_loops.cpp); every
// 64-bit ARM processor has it.
#include "depth/pixel_loops.h"

namespace ZelvoDepth {

const PixelLoops& neonPixelLoops() {
    static const PixelLoops loops = pixelLoopsOf<Neon>("neon");
    return loops;
}

}  // namespace ZelvoDepth
