#include "device/phase_depth.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(ZELVO_PHASE_DEPTH_NEON) && !defined(__aarch64__)
#include <sys/auxv.h>
#endif

#include "device/phase_depth_neon.h"

namespace Zelvo {

float documentedPhaseAngle(int16_t x, int16_t y) {
    return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

namespace {

// The angle is computed as atan2(y, x) = sign(y) * (base +/- atan(n / d)) with 0 <= n <= d,
// and atan(n / d) = atan(w) or pi/4 + atan(w) with |w| <= tan(pi/8), where w is a quotient
// of exact integer sums. atan(w) = w * P(w^2), a least-squares fit whose relative error
// stays below 2^-44 over the interval.
constexpr double kAtan1 = -0.33333333330873838;
constexpr double kAtan2 = 0.19999999613298744;
constexpr double kAtan3 = -0.142856908119809;
constexpr double kAtan4 = 0.11110393877639964;
constexpr double kAtan5 = -0.090785013737380016;
constexpr double kAtan6 = 0.075644536674598875;
constexpr double kAtan7 = -0.058771879809020544;
constexpr double kAtan8 = 0.030701426385582088;

constexpr double kTanEighthTurn = 0.41421356237309503;
constexpr double kQuarterPi = 0.78539816339744831;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPi = 3.1415926535897931;

// Half-width of the interval, relative to the angle, that surely holds both the true angle
// and the libm atan2 result around the computed angle: the polynomial contributes below
// 2^-44, the reduction and the constants a few double roundings (about 2^-50), libm below
// 2^-52. When the whole interval rounds to one float, that float is the documented result;
// otherwise (a few pixels in 100000) the pixel takes the libm atan2.
constexpr double kAngleUncertainty = 0x1p-40;
// The same in units of the double's last place, for an angle anywhere in its binade.
constexpr uint32_t kUncertainUlps = 1u << 13;
constexpr uint32_t kHalfwayBits = 1u << 28;

// Portable form: one pixel at a time in scalar arithmetic, for processors without vector
// units (32-bit ARM without NEON above all, where a double division costs some 30 cycles and
// stalls the pipeline). The reduction runs on the integers a = x / 16 and b = y / 16, and
// the quotient w multiplies by a tabulated reciprocal instead of dividing.

// tan(pi/8) in units of 2^-20, rounded down: the octant halves are split at
// 434334 / 2^20 = tan(pi/8) - 4e-7, so |w| stays within 1e-6 of the polynomial's interval.
constexpr uint32_t kTanEighthTurnQ20 = 434334;

// 1/k rounded to double for k = 1..4094 (the largest n + d), and 0 for k = 0 so that
// x = y = 0 gives w = 0 and the documented angle 0. 32 KiB.
constexpr int kReciprocalCount = 4095;
struct Reciprocals {
    double of[kReciprocalCount];
};
constexpr Reciprocals makeReciprocals() {
    Reciprocals table{};
    for (int k = 1; k < kReciprocalCount; ++k) table.of[k] = 1.0 / k;
    return table;
}
constexpr Reciprocals kReciprocals = makeReciprocals();

// The angle as base + sign * atan(w) for each combination of the four reduction steps
// (bit 0: pi/4 + atan(w); bit 1: pi/2 minus that; bit 2: pi minus that; bit 3: negated),
// so that the pixel needs no branch to rebuild it.
struct Octant {
    double base;
    double sign;
};
struct Octants {
    Octant of[16];
};
constexpr Octants makeOctants() {
    Octants table{};
    for (int steps = 0; steps < 16; ++steps) {
        double base = 0.0;
        double sign = 1.0;
        if (steps & 1) base += kQuarterPi;
        if (steps & 2) base = kHalfPi - base, sign = -sign;
        if (steps & 4) base = kPi - base, sign = -sign;
        if (steps & 8) base = -base, sign = -sign;
        table.of[steps] = Octant{base, sign};
    }
    return table;
}
constexpr Octants kOctants = makeOctants();

__attribute__((always_inline)) inline void computeOne(int16_t xi, int16_t yi,
                                                      float metresPerRadian, float* depth,
                                                      float* amplitude) {
    const int32_t a = xi / 16;  // exact: decoded differences are multiples of 16
    const int32_t b = yi / 16;
    const int32_t ax = a < 0 ? -a : a;
    const int32_t ay = b < 0 ? -b : b;
    const bool steep = ay > ax;
    const int32_t n = steep ? ax : ay;
    const int32_t d = steep ? ay : ax;
    const bool upper =
        (static_cast<uint32_t>(n) << 20) > static_cast<uint32_t>(d) * kTanEighthTurnQ20;
    const int32_t numerator = upper ? n - d : n;
    const int32_t denominator = upper ? n + d : d;
    // w = numerator / denominator within 2^-52 relative.
    const double w = static_cast<double>(numerator) * kReciprocals.of[denominator];
    const double s = w * w;
    const double s2 = s * s;
    const double s4 = s2 * s2;
    const double p03 = (kAtan3 * s + kAtan2) * s2 + (kAtan1 * s + 1.0);
    const double p47 = (kAtan7 * s + kAtan6) * s2 + (kAtan5 * s + kAtan4);
    const double p = (kAtan8 * s4 + p47) * s4 + p03;
    const Octant& octant = kOctants.of[(upper ? 1 : 0) | (steep ? 2 : 0) | (a < 0 ? 4 : 0) |
                                       (b < 0 ? 8 : 0)];
    const double angle = octant.base + octant.sign * (w * p);

    // Narrowing to float rounds away the low 29 bits of the double's significand, at the
    // halfway pattern 2^28. The uncertainty |angle| * 2^-40 is below 2^13 units of the last
    // place in the angle's binade, so the float is certain unless those bits lie within 2^13
    // of halfway. (Angles are 0 or at least atan(1/2047): never subnormal as floats.)
    uint64_t bits;
    std::memcpy(&bits, &angle, sizeof bits);
    const uint32_t dropped = static_cast<uint32_t>(bits) & 0x1FFFFFFFu;
    const uint32_t fromHalfway = dropped > kHalfwayBits ? dropped - kHalfwayBits
                                                        : kHalfwayBits - dropped;
    float theta = fromHalfway > kUncertainUlps ? static_cast<float>(angle)
                                               : documentedPhaseAngle(xi, yi);
    if (theta < 0.0f) theta += kPhaseFullTurn;
    *depth = (metresPerRadian * theta) * 1000.0f;

    // x and y are 16 a and 16 b for integers a, b, so 0.5 sqrt(x^2 + y^2) = 8 sqrt(a^2 + b^2)
    // exactly in double; a^2 + b^2 < 2^23 is exact in float, and the double square root of a
    // float rounded to float is the float square root: 8 * sqrtf(a^2 + b^2) is that value.
    *amplitude = 8.0f * std::sqrt(static_cast<float>(a * a + b * b));
}

void computePortable(const int16_t* x, const int16_t* y, size_t count, float metresPerRadian,
                     float* depth, float* amplitude) {
    for (size_t i = 0; i < count; ++i) {
        computeOne(x[i], y[i], metresPerRadian, depth + i, amplitude + i);
    }
}

#if defined(__SSE2__)

// x86 forms: four pixels at a time.

inline __m128d select(__m128d mask, __m128d whenSet, __m128d otherwise) {
    return _mm_or_pd(_mm_and_pd(mask, whenSet), _mm_andnot_pd(mask, otherwise));
}

// The angle of two pixels from their differences as doubles.
inline __m128d approximateAngle(__m128d x, __m128d y) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d xNegative = _mm_cmplt_pd(x, zero);
    const __m128d yNegative = _mm_cmplt_pd(y, zero);
    const __m128d ax = _mm_andnot_pd(sign, x);
    const __m128d ay = _mm_andnot_pd(sign, y);
    const __m128d steep = _mm_cmpgt_pd(ay, ax);
    const __m128d n = _mm_min_pd(ax, ay);
    const __m128d d = _mm_max_pd(ax, ay);
    const __m128d upper = _mm_cmpgt_pd(n, _mm_mul_pd(_mm_set1_pd(kTanEighthTurn), d));
    const __m128d numerator = select(upper, _mm_sub_pd(n, d), n);
    __m128d denominator = select(upper, _mm_add_pd(n, d), d);
    // x = y = 0: 0 / 1 gives the documented angle 0.
    denominator = select(_mm_cmpeq_pd(denominator, zero), _mm_set1_pd(1.0), denominator);
    const __m128d w = _mm_div_pd(numerator, denominator);
    const __m128d s = _mm_mul_pd(w, w);

    // Estrin's scheme: short dependency chains.
    const __m128d s2 = _mm_mul_pd(s, s);
    const __m128d s4 = _mm_mul_pd(s2, s2);
    const __m128d p01 = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kAtan1), s), _mm_set1_pd(1.0));
    const __m128d p23 = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kAtan3), s), _mm_set1_pd(kAtan2));
    const __m128d p45 = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kAtan5), s), _mm_set1_pd(kAtan4));
    const __m128d p67 = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kAtan7), s), _mm_set1_pd(kAtan6));
    const __m128d p03 = _mm_add_pd(_mm_mul_pd(p23, s2), p01);
    const __m128d p47 = _mm_add_pd(_mm_mul_pd(p67, s2), p45);
    const __m128d p48 = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kAtan8), s4), p47);
    const __m128d p = _mm_add_pd(_mm_mul_pd(p48, s4), p03);
    __m128d angle = _mm_mul_pd(w, p);
    angle = _mm_add_pd(angle, _mm_and_pd(upper, _mm_set1_pd(kQuarterPi)));
    angle = select(steep, _mm_sub_pd(_mm_set1_pd(kHalfPi), angle), angle);
    angle = select(xNegative, _mm_sub_pd(_mm_set1_pd(kPi), angle), angle);
    return _mm_xor_pd(angle, _mm_and_pd(yNegative, sign));
}

// Rounds two angles to float into the low half; `decided` gets a bit per pixel whose
// float is certain.
inline __m128 roundAngle(__m128d angle, int& decided) {
    const __m128d margin =
        _mm_mul_pd(_mm_andnot_pd(_mm_set1_pd(-0.0), angle), _mm_set1_pd(kAngleUncertainty));
    const __m128 theta = _mm_cvtpd_ps(angle);
    const __m128 low = _mm_cvtpd_ps(_mm_sub_pd(angle, margin));
    const __m128 high = _mm_cvtpd_ps(_mm_add_pd(angle, margin));
    decided = _mm_movemask_ps(_mm_and_ps(_mm_cmpeq_ps(low, theta), _mm_cmpeq_ps(high, theta)));
    return theta;
}

// Sign-extends the four low 16-bit lanes to 32 bits.
inline __m128i widen(__m128i words) {
    return _mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16);
}

// Four pixels from their float angles (`decided` has a bit for each angle that is certain;
// the others take the libm atan2): depth and amplitude.
inline void finishFour(const int16_t* x, const int16_t* y, __m128i x16, __m128i y16,
                       __m128 theta, int decided, __m128 scale, float* depth,
                       float* amplitude) {
    if (decided != 0xF) {
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, theta);
        for (int lane = 0; lane < 4; ++lane) {
            if (!(decided & (1 << lane))) lanes[lane] = documentedPhaseAngle(x[lane], y[lane]);
        }
        theta = _mm_load_ps(lanes);
    }

    const __m128 turn = _mm_and_ps(_mm_cmplt_ps(theta, _mm_setzero_ps()),
                                   _mm_set1_ps(kPhaseFullTurn));
    theta = _mm_add_ps(theta, turn);  // adding 0 leaves a non-negative angle unchanged
    _mm_storeu_ps(depth, _mm_mul_ps(_mm_mul_ps(scale, theta), _mm_set1_ps(1000.0f)));

    // 8 * sqrtf(a^2 + b^2) with x = 16 a, y = 16 b: see computeOne.
    const __m128i ab = _mm_unpacklo_epi16(_mm_srai_epi16(x16, 4), _mm_srai_epi16(y16, 4));
    const __m128 squares = _mm_cvtepi32_ps(_mm_madd_epi16(ab, ab));
    _mm_storeu_ps(amplitude, _mm_mul_ps(_mm_sqrt_ps(squares), _mm_set1_ps(8.0f)));
}

void computeBlocksSse2(const int16_t* x, const int16_t* y, size_t blocks,
                       float metresPerRadian, float* depth, float* amplitude) {
    const __m128 scale = _mm_set1_ps(metresPerRadian);
    for (size_t block = 0; block < blocks; ++block) {
        const size_t i = block * 4;
        const __m128i x16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + i));
        const __m128i y16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + i));
        const __m128i x32 = widen(x16);
        const __m128i y32 = widen(y16);
        int decidedLow;
        int decidedHigh;
        const __m128 thetaLow = roundAngle(
            approximateAngle(_mm_cvtepi32_pd(x32), _mm_cvtepi32_pd(y32)), decidedLow);
        const __m128 thetaHigh =
            roundAngle(approximateAngle(_mm_cvtepi32_pd(_mm_shuffle_epi32(x32, 0xEE)),
                                        _mm_cvtepi32_pd(_mm_shuffle_epi32(y32, 0xEE))),
                       decidedHigh);
        finishFour(x + i, y + i, x16, y16, _mm_movelh_ps(thetaLow, thetaHigh),
                   (decidedLow & 3) | ((decidedHigh & 3) << 2), scale, depth + i,
                   amplitude + i);
    }
}

#define ZELVO_AVX2 __attribute__((target("avx2,fma")))

// The same steps four pixels wide, with fused multiply-adds in the polynomial (they only
// make it more accurate; the bound above holds for both).
ZELVO_AVX2 inline __m256d select(__m256d mask, __m256d whenSet, __m256d otherwise) {
    return _mm256_blendv_pd(otherwise, whenSet, mask);
}

ZELVO_AVX2 inline __m128 roundedAngleAvx2(__m128i x32, __m128i y32, int& decided) {
    const __m256d x = _mm256_cvtepi32_pd(x32);
    const __m256d y = _mm256_cvtepi32_pd(y32);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d xNegative = _mm256_cmp_pd(x, zero, _CMP_LT_OQ);
    const __m256d yNegative = _mm256_cmp_pd(y, zero, _CMP_LT_OQ);
    const __m256d ax = _mm256_andnot_pd(sign, x);
    const __m256d ay = _mm256_andnot_pd(sign, y);
    const __m256d steep = _mm256_cmp_pd(ay, ax, _CMP_GT_OQ);
    const __m256d n = _mm256_min_pd(ax, ay);
    const __m256d d = _mm256_max_pd(ax, ay);
    const __m256d upper =
        _mm256_cmp_pd(n, _mm256_mul_pd(_mm256_set1_pd(kTanEighthTurn), d), _CMP_GT_OQ);
    const __m256d numerator = select(upper, _mm256_sub_pd(n, d), n);
    __m256d denominator = select(upper, _mm256_add_pd(n, d), d);
    denominator = select(_mm256_cmp_pd(denominator, zero, _CMP_EQ_OQ), _mm256_set1_pd(1.0),
                         denominator);
    const __m256d w = _mm256_div_pd(numerator, denominator);
    const __m256d s = _mm256_mul_pd(w, w);
    const __m256d s2 = _mm256_mul_pd(s, s);
    const __m256d s4 = _mm256_mul_pd(s2, s2);
    const __m256d p01 = _mm256_fmadd_pd(_mm256_set1_pd(kAtan1), s, _mm256_set1_pd(1.0));
    const __m256d p23 = _mm256_fmadd_pd(_mm256_set1_pd(kAtan3), s, _mm256_set1_pd(kAtan2));
    const __m256d p45 = _mm256_fmadd_pd(_mm256_set1_pd(kAtan5), s, _mm256_set1_pd(kAtan4));
    const __m256d p67 = _mm256_fmadd_pd(_mm256_set1_pd(kAtan7), s, _mm256_set1_pd(kAtan6));
    const __m256d p03 = _mm256_fmadd_pd(p23, s2, p01);
    const __m256d p47 = _mm256_fmadd_pd(p67, s2, p45);
    const __m256d p48 = _mm256_fmadd_pd(_mm256_set1_pd(kAtan8), s4, p47);
    const __m256d p = _mm256_fmadd_pd(p48, s4, p03);
    __m256d angle = _mm256_mul_pd(w, p);
    angle = _mm256_add_pd(angle, _mm256_and_pd(upper, _mm256_set1_pd(kQuarterPi)));
    angle = select(steep, _mm256_sub_pd(_mm256_set1_pd(kHalfPi), angle), angle);
    angle = select(xNegative, _mm256_sub_pd(_mm256_set1_pd(kPi), angle), angle);
    angle = _mm256_xor_pd(angle, _mm256_and_pd(yNegative, sign));

    const __m256d margin =
        _mm256_mul_pd(_mm256_andnot_pd(sign, angle), _mm256_set1_pd(kAngleUncertainty));
    const __m128 theta = _mm256_cvtpd_ps(angle);
    const __m128 low = _mm256_cvtpd_ps(_mm256_sub_pd(angle, margin));
    const __m128 high = _mm256_cvtpd_ps(_mm256_add_pd(angle, margin));
    decided = _mm_movemask_ps(_mm_and_ps(_mm_cmpeq_ps(low, theta), _mm_cmpeq_ps(high, theta)));
    return theta;
}

ZELVO_AVX2 void computeBlocksAvx2(const int16_t* x, const int16_t* y, size_t blocks,
                                  float metresPerRadian, float* depth, float* amplitude) {
    const __m128 scale = _mm_set1_ps(metresPerRadian);
    for (size_t block = 0; block < blocks; ++block) {
        const size_t i = block * 4;
        const __m128i x16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + i));
        const __m128i y16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + i));
        int decided;
        const __m128 theta = roundedAngleAvx2(widen(x16), widen(y16), decided);
        finishFour(x + i, y + i, x16, y16, theta, decided, scale, depth + i, amplitude + i);
    }
}


bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

#endif  // __SSE2__

#if defined(ZELVO_PHASE_DEPTH_NEON) && defined(__aarch64__)
// Every 64-bit ARM processor has NEON (Advanced SIMD).
bool hasNeon() {
    return true;
}
#elif defined(ZELVO_PHASE_DEPTH_NEON)
// The NEON form is compiled apart and runs only where the kernel reports NEON (a read of the
// process's auxiliary vector, like the x86 forms' look at cpuid).
bool hasNeon() {
    return (getauxval(AT_HWCAP) & HWCAP_ARM_NEON) != 0;
}
#endif

// Whole blocks of four with a vector kernel, the rest with the portable form.
template <void (*kernel)(const int16_t*, const int16_t*, size_t, float, float*, float*)>
[[maybe_unused]] void computeInBlocks(const int16_t* x, const int16_t* y, size_t count,
                                      float metresPerRadian, float* depth, float* amplitude) {
    const size_t done = count / 4 * 4;
    kernel(x, y, count / 4, metresPerRadian, depth, amplitude);
    computePortable(x + done, y + done, count - done, metresPerRadian, depth + done,
                    amplitude + done);
}

using Computation = void (*)(const int16_t*, const int16_t*, size_t, float, float*, float*);

// The form a kernel stands for, or null when this build or processor lacks it.
Computation computationFor(PhaseDepthKernel kernel) {
    switch (kernel) {
        case PhaseDepthKernel::Portable:
            return computePortable;
#if defined(__SSE2__)
        case PhaseDepthKernel::Sse2:
            return computeInBlocks<computeBlocksSse2>;
        case PhaseDepthKernel::Avx2:
            return hasAvx2() ? computeInBlocks<computeBlocksAvx2> : nullptr;
#else
        case PhaseDepthKernel::Sse2:
        case PhaseDepthKernel::Avx2:
            return nullptr;
#endif
        case PhaseDepthKernel::Neon:
#if defined(ZELVO_PHASE_DEPTH_NEON)
            return hasNeon() ? computeInBlocks<computePhaseDepthBlocksNeon> : nullptr;
#else
            return nullptr;
#endif
    }
    return nullptr;
}

Computation fastestComputation() {
    for (PhaseDepthKernel kernel :
         {PhaseDepthKernel::Avx2, PhaseDepthKernel::Sse2, PhaseDepthKernel::Neon}) {
        if (Computation computation = computationFor(kernel)) return computation;
    }
    return computePortable;
}

}  // namespace

void computePhaseDepth(const int16_t* x, const int16_t* y, size_t count, float metresPerRadian,
                       float* depth, float* amplitude) {
    static const Computation computation = fastestComputation();
    computation(x, y, count, metresPerRadian, depth, amplitude);
}

bool computePhaseDepthWith(PhaseDepthKernel kernel, const int16_t* x, const int16_t* y,
                           size_t count, float metresPerRadian, float* depth, float* amplitude) {
    const Computation computation = computationFor(kernel);
    if (computation == nullptr) return false;
    computation(x, y, count, metresPerRadian, depth, amplitude);
    return true;
}

}  // namespace Zelvo
