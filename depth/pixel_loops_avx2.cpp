// The AVX2 form of the pixel loops: this file alone is compiled for AVX2, and its loops run
// only where the processor reports it (depth/pixel_loops.cpp).
#include "depth/pixel_loops.h"

namespace ZelvoDepth {

const PixelLoops& avx2PixelLoops() {
    static const PixelLoops loops = pixelLoopsOf<Avx2>("avx2");
    return loops;
}

}  // namespace ZelvoDepth
