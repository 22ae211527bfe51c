// The small vector types the pixel loops are written against: one float (the portable
// form), four floats of SSE2, eight of AVX2, four of NEON. Each offers the same operations,
// so a loop written once as a template over the type builds in every form. The x86 types
// and the float type round alike (the same IEEE operations, exact division and square
// root, multiply-adds rounded twice), so their results agree bit for bit; AVX2 fuses its
// multiply-adds, and NEON on 32-bit ARM has no vector division or square root and refines
// estimates instead (docs/depth-library.md gives the tolerance).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__AVX2__)
#include <immintrin.h>
#endif
#if defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// Each instruction set gets a namespace of its own, so that the inline functions and template
// instances of a file compiled for AVX2 or NEON never stand in for those of the portable
// files when the linker merges them.
#if defined(__AVX2__)
#define ZELVO_DEPTH_ISA isa_avx2
#elif defined(__ARM_NEON)
#define ZELVO_DEPTH_ISA isa_neon
#else
#define ZELVO_DEPTH_ISA isa_base
#endif

namespace ZelvoDepth {
inline namespace ZELVO_DEPTH_ISA {

// One float: the portable form, and the last pixels of a row in every form.
struct Scalar {
    static constexpr int kLanes = 1;
    using Mask = bool;
    float v;

    Scalar() = default;
    Scalar(float value) : v(value) {}  // NOLINT: broadcast, as the vector types do
    static Scalar load(const float* p) { return Scalar(*p); }
    static Scalar loadSamples(const uint16_t* p) { return Scalar(static_cast<float>(*p)); }
    void store(float* p) const { *p = v; }

    friend Scalar operator+(Scalar a, Scalar b) { return a.v + b.v; }
    friend Scalar operator-(Scalar a, Scalar b) { return a.v - b.v; }
    friend Scalar operator*(Scalar a, Scalar b) { return a.v * b.v; }
    friend Scalar operator/(Scalar a, Scalar b) { return a.v / b.v; }
    friend bool operator<(Scalar a, Scalar b) { return a.v < b.v; }
    friend bool operator>(Scalar a, Scalar b) { return a.v > b.v; }
    friend bool operator<=(Scalar a, Scalar b) { return a.v <= b.v; }
    friend bool operator>=(Scalar a, Scalar b) { return a.v >= b.v; }
    // The operand order of the SSE instructions: the second operand unless the first wins.
    friend Scalar min(Scalar a, Scalar b) { return a.v < b.v ? a.v : b.v; }
    friend Scalar max(Scalar a, Scalar b) { return a.v > b.v ? a.v : b.v; }
    friend Scalar abs(Scalar a) { return std::fabs(a.v); }
    friend Scalar sqrt(Scalar a) { return std::sqrt(a.v); }
    // Toward zero, through a 32-bit integer.
    friend Scalar truncate(Scalar a) { return static_cast<float>(static_cast<int32_t>(a.v)); }
    friend Scalar select(bool m, Scalar a, Scalar b) { return m ? a : b; }
    // a * b + c and c - a * b, each rounded twice (only AVX2 fuses them).
    friend Scalar mulAdd(Scalar a, Scalar b, Scalar c) { return a.v * b.v + c.v; }
    friend Scalar mulSub(Scalar a, Scalar b, Scalar c) { return c.v - a.v * b.v; }
};

#if defined(__SSE2__)
struct Sse2 {
    static constexpr int kLanes = 4;
    struct Mask {
        __m128 m;
        friend Mask operator&(Mask a, Mask b) { return {_mm_and_ps(a.m, b.m)}; }
        friend Mask operator|(Mask a, Mask b) { return {_mm_or_ps(a.m, b.m)}; }
    };
    __m128 v;

    Sse2() = default;
    Sse2(__m128 value) : v(value) {}  // NOLINT
    Sse2(float value) : v(_mm_set1_ps(value)) {}  // NOLINT
    static Sse2 load(const float* p) { return _mm_loadu_ps(p); }
    static Sse2 loadSamples(const uint16_t* p) {
        const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, _mm_setzero_si128()));
    }
    void store(float* p) const { _mm_storeu_ps(p, v); }

    friend Sse2 operator+(Sse2 a, Sse2 b) { return _mm_add_ps(a.v, b.v); }
    friend Sse2 operator-(Sse2 a, Sse2 b) { return _mm_sub_ps(a.v, b.v); }
    friend Sse2 operator*(Sse2 a, Sse2 b) { return _mm_mul_ps(a.v, b.v); }
    friend Sse2 operator/(Sse2 a, Sse2 b) { return _mm_div_ps(a.v, b.v); }
    friend Mask operator<(Sse2 a, Sse2 b) { return {_mm_cmplt_ps(a.v, b.v)}; }
    friend Mask operator>(Sse2 a, Sse2 b) { return {_mm_cmpgt_ps(a.v, b.v)}; }
    friend Mask operator<=(Sse2 a, Sse2 b) { return {_mm_cmple_ps(a.v, b.v)}; }
    friend Mask operator>=(Sse2 a, Sse2 b) { return {_mm_cmpge_ps(a.v, b.v)}; }
    friend Sse2 min(Sse2 a, Sse2 b) { return _mm_min_ps(a.v, b.v); }
    friend Sse2 max(Sse2 a, Sse2 b) { return _mm_max_ps(a.v, b.v); }
    friend Sse2 abs(Sse2 a) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), a.v); }
    friend Sse2 sqrt(Sse2 a) { return _mm_sqrt_ps(a.v); }
    friend Sse2 truncate(Sse2 a) { return _mm_cvtepi32_ps(_mm_cvttps_epi32(a.v)); }
    friend Sse2 select(Mask m, Sse2 a, Sse2 b) {
        return _mm_or_ps(_mm_and_ps(m.m, a.v), _mm_andnot_ps(m.m, b.v));
    }
    friend Sse2 mulAdd(Sse2 a, Sse2 b, Sse2 c) { return _mm_add_ps(_mm_mul_ps(a.v, b.v), c.v); }
    friend Sse2 mulSub(Sse2 a, Sse2 b, Sse2 c) { return _mm_sub_ps(c.v, _mm_mul_ps(a.v, b.v)); }
};
#endif

#if defined(__AVX2__)
struct Avx2 {
    static constexpr int kLanes = 8;
    struct Mask {
        __m256 m;
        friend Mask operator&(Mask a, Mask b) { return {_mm256_and_ps(a.m, b.m)}; }
        friend Mask operator|(Mask a, Mask b) { return {_mm256_or_ps(a.m, b.m)}; }
    };
    __m256 v;

    Avx2() = default;
    Avx2(__m256 value) : v(value) {}  // NOLINT
    Avx2(float value) : v(_mm256_set1_ps(value)) {}  // NOLINT
    static Avx2 load(const float* p) { return _mm256_loadu_ps(p); }
    static Avx2 loadSamples(const uint16_t* p) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(words));
    }
    void store(float* p) const { _mm256_storeu_ps(p, v); }

    friend Avx2 operator+(Avx2 a, Avx2 b) { return _mm256_add_ps(a.v, b.v); }
    friend Avx2 operator-(Avx2 a, Avx2 b) { return _mm256_sub_ps(a.v, b.v); }
    friend Avx2 operator*(Avx2 a, Avx2 b) { return _mm256_mul_ps(a.v, b.v); }
    friend Avx2 operator/(Avx2 a, Avx2 b) { return _mm256_div_ps(a.v, b.v); }
    friend Mask operator<(Avx2 a, Avx2 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
    friend Mask operator>(Avx2 a, Avx2 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ)}; }
    friend Mask operator<=(Avx2 a, Avx2 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ)}; }
    friend Mask operator>=(Avx2 a, Avx2 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_GE_OQ)}; }
    friend Avx2 min(Avx2 a, Avx2 b) { return _mm256_min_ps(a.v, b.v); }
    friend Avx2 max(Avx2 a, Avx2 b) { return _mm256_max_ps(a.v, b.v); }
    friend Avx2 abs(Avx2 a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a.v); }
    friend Avx2 sqrt(Avx2 a) { return _mm256_sqrt_ps(a.v); }
    friend Avx2 truncate(Avx2 a) { return _mm256_cvtepi32_ps(_mm256_cvttps_epi32(a.v)); }
    friend Avx2 select(Mask m, Avx2 a, Avx2 b) { return _mm256_blendv_ps(b.v, a.v, m.m); }
    // Fused: one rounding, so these differ from the other forms in the last bit.
    friend Avx2 mulAdd(Avx2 a, Avx2 b, Avx2 c) { return _mm256_fmadd_ps(a.v, b.v, c.v); }
    friend Avx2 mulSub(Avx2 a, Avx2 b, Avx2 c) { return _mm256_fnmadd_ps(a.v, b.v, c.v); }
};
#endif

#if defined(__ARM_NEON)
struct Neon {
    static constexpr int kLanes = 4;
    struct Mask {
        uint32x4_t m;
        friend Mask operator&(Mask a, Mask b) { return {vandq_u32(a.m, b.m)}; }
        friend Mask operator|(Mask a, Mask b) { return {vorrq_u32(a.m, b.m)}; }
    };
    float32x4_t v;

    Neon() = default;
    Neon(float32x4_t value) : v(value) {}  // NOLINT
    Neon(float value) : v(vdupq_n_f32(value)) {}  // NOLINT
    static Neon load(const float* p) { return vld1q_f32(p); }
    static Neon loadSamples(const uint16_t* p) { return vcvtq_f32_u32(vmovl_u16(vld1_u16(p))); }
    void store(float* p) const { vst1q_f32(p, v); }

    friend Neon operator+(Neon a, Neon b) { return vaddq_f32(a.v, b.v); }
    friend Neon operator-(Neon a, Neon b) { return vsubq_f32(a.v, b.v); }
    friend Neon operator*(Neon a, Neon b) { return vmulq_f32(a.v, b.v); }
    // No vector division: the reciprocal estimate and two Newton steps.
    friend Neon operator/(Neon a, Neon b) {
        float32x4_t r = vrecpeq_f32(b.v);
        r = vmulq_f32(r, vrecpsq_f32(b.v, r));
        r = vmulq_f32(r, vrecpsq_f32(b.v, r));
        return vmulq_f32(a.v, r);
    }
    friend Mask operator<(Neon a, Neon b) { return {vcltq_f32(a.v, b.v)}; }
    friend Mask operator>(Neon a, Neon b) { return {vcgtq_f32(a.v, b.v)}; }
    friend Mask operator<=(Neon a, Neon b) { return {vcleq_f32(a.v, b.v)}; }
    friend Mask operator>=(Neon a, Neon b) { return {vcgeq_f32(a.v, b.v)}; }
    friend Neon min(Neon a, Neon b) { return vminq_f32(a.v, b.v); }
    friend Neon max(Neon a, Neon b) { return vmaxq_f32(a.v, b.v); }
    friend Neon abs(Neon a) { return vabsq_f32(a.v); }
    // No vector square root: x / sqrt(x) from the estimate and two Newton steps; 0 stays 0.
    friend Neon sqrt(Neon a) {
        float32x4_t r = vrsqrteq_f32(a.v);
        r = vmulq_f32(r, vrsqrtsq_f32(vmulq_f32(a.v, r), r));
        r = vmulq_f32(r, vrsqrtsq_f32(vmulq_f32(a.v, r), r));
        const uint32x4_t positive = vcgtq_f32(a.v, vdupq_n_f32(0.0f));
        return vbslq_f32(positive, vmulq_f32(a.v, r), vdupq_n_f32(0.0f));
    }
    friend Neon truncate(Neon a) { return vcvtq_f32_s32(vcvtq_s32_f32(a.v)); }
    friend Neon select(Mask m, Neon a, Neon b) { return vbslq_f32(m.m, a.v, b.v); }
    friend Neon mulAdd(Neon a, Neon b, Neon c) { return vaddq_f32(vmulq_f32(a.v, b.v), c.v); }
    friend Neon mulSub(Neon a, Neon b, Neon c) { return vsubq_f32(c.v, vmulq_f32(a.v, b.v)); }
};
#endif

}  // namespace ZELVO_DEPTH_ISA
}  // namespace ZelvoDepth
