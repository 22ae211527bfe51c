// The portable and SSE2 forms of the pixel loops, the filter levels, and the choice of a
// form for this processor.
#include <cstring>
#include <initializer_list>

#include <strings.h>

#include "depth/pixel_loops.h"

#if defined(__arm__) && defined(ZELVO_DEPTH_NEON)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace ZelvoDepth {

#if defined(ZELVO_DEPTH_AVX2)
const PixelLoops& avx2PixelLoops();  // depth/pixel_loops_avx2.cpp
#endif
#if defined(ZELVO_DEPTH_NEON)
const PixelLoops& neonPixelLoops();  // depth/pixel_loops_neon.cpp
#endif

namespace {

constexpr int kLevels = 6;  // 0 (off) to 5
struct SpatialLevel {
    int radius;
    float strength;
};
constexpr SpatialLevel kSpatialLevels[kLevels] = {{0, 0}, {1, 2}, {1, 4}, {1, 6}, {2, 6}, {2, 9}};
struct FlyingLevel {
    int reach;
    float margin;  // mm
    float jump;    // of the larger depth
};
constexpr FlyingLevel kFlyingLevels[kLevels] = {
    {0, 0, 0}, {1, 100, 0.3f}, {1, 50, 0.2f}, {2, 30, 0.1f}, {2, 20, 0.08f}, {2, 12, 0.05f}};

int level(int value) { return value < 0 ? 0 : value >= kLevels ? kLevels - 1 : value; }

const PixelLoops kPortable = pixelLoopsOf<Scalar>("portable");
#if defined(__SSE2__)
const PixelLoops kSse2 = pixelLoopsOf<Sse2>("sse2");
#endif

}  // namespace

FilterSettings filterSettings(int temporalDepth, int spatialDepth, int temporalGray,
                              int spatialGray, int flying) {
    FilterSettings settings;
    temporalDepth = level(temporalDepth);
    temporalGray = level(temporalGray);
    settings.depthAlpha = temporalDepth > 0 ? 1.0f / (temporalDepth + 1) : 0.0f;
    settings.grayAlpha = temporalGray > 0 ? 1.0f / (temporalGray + 1) : 0.0f;
    settings.depthRadius = kSpatialLevels[level(spatialDepth)].radius;
    settings.depthStrength = kSpatialLevels[level(spatialDepth)].strength;
    settings.grayRadius = kSpatialLevels[level(spatialGray)].radius;
    settings.grayStrength = kSpatialLevels[level(spatialGray)].strength;
    const FlyingLevel& repair = kFlyingLevels[level(flying)];
    settings.flyingReach = repair.reach;
    settings.flyingMargin = repair.margin;
    settings.flyingJump = repair.jump;
    return settings;
}

const PixelLoops* pixelLoops(LoopForm form) {
    switch (form) {
        case LoopForm::Portable:
            return &kPortable;
        case LoopForm::Sse2:
#if defined(__SSE2__)
            return &kSse2;
#else
            return nullptr;
#endif
        case LoopForm::Avx2:
#if defined(ZELVO_DEPTH_AVX2)
            __builtin_cpu_init();
            if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return nullptr;
            return &avx2PixelLoops();
#else
            return nullptr;
#endif
        case LoopForm::Neon:
#if defined(ZELVO_DEPTH_NEON) && defined(__aarch64__)
            return &neonPixelLoops();  // part of every 64-bit ARM processor
#elif defined(ZELVO_DEPTH_NEON)
            return (getauxval(AT_HWCAP) & HWCAP_NEON) != 0 ? &neonPixelLoops() : nullptr;
#else
            return nullptr;
#endif
    }
    return nullptr;
}

LoopForm bestLoopForm() {
    for (LoopForm form : {LoopForm::Avx2, LoopForm::Neon, LoopForm::Sse2})
        if (pixelLoops(form) != nullptr) return form;
    return LoopForm::Portable;
}

bool loopFormNamed(const char* name, LoopForm& form) {
    static constexpr struct {
        const char* name;
        LoopForm form;
    } kNames[] = {{"portable", LoopForm::Portable},
                  {"sse2", LoopForm::Sse2},
                  {"avx2", LoopForm::Avx2},
                  {"neon", LoopForm::Neon}};
    for (const auto& entry : kNames) {
        if (strcasecmp(entry.name, name) == 0) {
            form = entry.form;
            return true;
        }
    }
    return false;
}

}  // namespace ZelvoDepth
