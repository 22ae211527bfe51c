// NEON form of the phase depth for ARM. On 32-bit ARM this file alone is compiled with NEON
// enabled (the armhf baseline, VFPv3-D16, has none) and is entered only once the processor
// has reported NEON; it includes no header with inline code besides the intrinsics, so no
// NEON-compiled copy of shared code can reach a processor without it. 64-bit ARM always has
// NEON and runs the same steps; there the file is compiled without contracting multiplies and
// adds into fused ones, which would break the exact float steps below.
//
// 32-bit NEON computes in single precision only, so the angle is carried as an unevaluated
// sum of two floats (about 48 bits) and built from exact integer steps:
//   atan(n / d) = atan(k / 1024) + atan(r),   r = (1024 n - k d) / (1024 d + k n),
// with 0 <= n <= d <= 2047 the reduced differences and k = round(1024 n / d), so that
// |r| < 2^-11. The tabulated atan(k / 1024) is a float pair; r = N / D is a float pair from
// one reciprocal and an exact residual N - r_high D; atan(r) = r - r^3/3 + r^5/5 within
// 2^-70 r. The result lies within 2^-45 of the angle, relative, over every input (the error
// terms bound it by about 2^-42); as in the other forms, a pixel takes the libm atan2 when
// an interval of 2^-40 around it does not round to one float (about 1 pixel in 50000).
#include "device/phase_depth_neon.h"

#if defined(ZELVO_PHASE_DEPTH_NEON)

#if !defined(__ARM_NEON)
#error "device/phase_depth_neon.cpp is compiled with -mfpu=neon on 32-bit ARM"
#endif

#include <arm_neon.h>

namespace Zelvo {
namespace {

constexpr int kSteps = 1024;  // the table's spacing is 1 / kSteps

// atan(k / 1024) for k = 0..1024 as a float and the float nearest the rest, side by side:
// one 64-bit load per pixel. Built on first use, by the libm atan in double (within an
// ulp), so within 2^-48 relative.
struct Arctangents {
    float pairs[2 * (kSteps + 1)];
};

const float* arctangents() {
    static const Arctangents table = [] {
        Arctangents built{};
        for (int k = 0; k <= kSteps; ++k) {
            const double angle = __builtin_atan(static_cast<double>(k) / kSteps);
            const float high = static_cast<float>(angle);
            built.pairs[2 * k] = high;
            built.pairs[2 * k + 1] = static_cast<float>(angle - high);
        }
        return built;
    }();
    return table.pairs;
}

// pi / 2 and pi as float pairs.
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPi = 3.1415926535897931;
constexpr float kHalfPiHigh = static_cast<float>(kHalfPi);
constexpr float kHalfPiLow = static_cast<float>(kHalfPi - kHalfPiHigh);
constexpr float kPiHigh = static_cast<float>(kPi);
constexpr float kPiLow = static_cast<float>(kPi - kPiHigh);

constexpr float kPhaseFullTurn = 6.2831855f;
constexpr float kAngleUncertainty = 0x1p-40f;

// 1 / v within a few float steps: the estimate and two Newton steps.
inline float32x4_t reciprocal(float32x4_t v) {
    float32x4_t r = vrecpeq_f32(v);
    r = vmulq_f32(r, vrecpsq_f32(v, r));
    return vmulq_f32(r, vrecpsq_f32(v, r));
}

inline float32x4_t flipSigns(float32x4_t value, uint32x4_t signs) {
    return vreinterpretq_f32_u32(veorq_u32(vreinterpretq_u32_f32(value), signs));
}

// value where mask is set, +0 elsewhere.
inline float32x4_t keepWhere(uint32x4_t mask, float32x4_t value) {
    return vreinterpretq_f32_u32(vandq_u32(mask, vreinterpretq_u32_f32(value)));
}

// halfPi where steep, else pi where x < 0, else 0.
inline float32x4_t baseMagnitude(uint32x4_t steep, uint32x4_t xNegative, float halfPi,
                                 float pi) {
    return vbslq_f32(steep, vdupq_n_f32(halfPi), keepWhere(xNegative, vdupq_n_f32(pi)));
}

// The angles of four pixels, rounded to float; `decided` is set in each lane whose float is
// certain. a and b are the differences divided by 16.
inline float32x4_t roundedAngles(int32x4_t a, int32x4_t b, const float* table,
                                 uint32x4_t& decided) {
    const int32x4_t ax = vabsq_s32(a);
    const int32x4_t ay = vabsq_s32(b);
    const uint32x4_t steep = vcgtq_s32(ay, ax);
    const uint32x4_t xNegative = vcltq_s32(a, vdupq_n_s32(0));
    const uint32x4_t yNegative = vcltq_s32(b, vdupq_n_s32(0));
    const int32x4_t n = vminq_s32(ax, ay);
    const int32x4_t d = vmaxq_s32(vmaxq_s32(ax, ay), vdupq_n_s32(1));  // x = y = 0: 0 / 1

    // k is the nearest step to n / d, or its neighbour: |1024 n / d - k| < 0.501 either way.
    const float32x4_t quotient = vmulq_f32(vcvtq_f32_s32(n), reciprocal(vcvtq_f32_s32(d)));
    int32x4_t k = vcvtq_n_s32_f32(vaddq_f32(quotient, vdupq_n_f32(0.5f / kSteps)), 10);
    k = vminq_s32(k, vdupq_n_s32(kSteps));

    // r = N / D, both exact integers: |N| <= 1026, D < 2^22, so exact as floats too.
    const int32x4_t numerator = vmlsq_s32(vshlq_n_s32(n, 10), k, d);
    const int32x4_t denominator = vmlaq_s32(vshlq_n_s32(d, 10), k, n);
    const float32x4_t nf = vcvtq_f32_s32(numerator);
    const float32x4_t df = vcvtq_f32_s32(denominator);
    const float32x4_t inverse = reciprocal(df);
    const float32x4_t rHigh = vmulq_f32(nf, inverse);
    // rHigh * D = product + productError exactly (Dekker): rHigh split into 12-bit halves by
    // Veltkamp's method, D into its bits above and below 2^10. 32-bit NEON has no fused
    // operations and none are formed on 64-bit ARM, so each step rounds as written.
    const float32x4_t product = vmulq_f32(rHigh, df);
    const float32x4_t scaled = vmulq_f32(rHigh, vdupq_n_f32(4097.0f));
    const float32x4_t rTop = vsubq_f32(scaled, vsubq_f32(scaled, rHigh));
    const float32x4_t rBottom = vsubq_f32(rHigh, rTop);
    const float32x4_t dTop = vcvtq_f32_s32(vandq_s32(denominator, vdupq_n_s32(~0x3FF)));
    const float32x4_t dBottom = vcvtq_f32_s32(vandq_s32(denominator, vdupq_n_s32(0x3FF)));
    float32x4_t productError = vsubq_f32(vmulq_f32(rTop, dTop), product);
    productError = vmlaq_f32(productError, rTop, dBottom);
    productError = vmlaq_f32(productError, rBottom, dTop);
    productError = vmlaq_f32(productError, rBottom, dBottom);
    // N - product is exact (the two lie within a factor of 2); r - rHigh = residual / D.
    const float32x4_t residual = vsubq_f32(vsubq_f32(nf, product), productError);
    const float32x4_t rLow = vmulq_f32(residual, inverse);

    // atan(r) = rHigh + rLow - r^3/3 + r^5/5, the cubic and quintic from rHigh and the cubic's
    // dependence on rLow to first order.
    const float32x4_t square = vmulq_f32(rHigh, rHigh);
    const float32x4_t series = vmulq_f32(
        vmulq_f32(rHigh, square),
        vmlsq_f32(vdupq_n_f32(1.0f / 3.0f), square, vdupq_n_f32(0.2f)));
    const float32x4_t atanLow = vsubq_f32(vmlsq_f32(rLow, rLow, square), series);

    // The tabulated atan(k / 1024).
    const float32x4_t pairs01 = vcombine_f32(vld1_f32(table + 2 * vgetq_lane_s32(k, 0)),
                                             vld1_f32(table + 2 * vgetq_lane_s32(k, 1)));
    const float32x4_t pairs23 = vcombine_f32(vld1_f32(table + 2 * vgetq_lane_s32(k, 2)),
                                             vld1_f32(table + 2 * vgetq_lane_s32(k, 3)));
    const float32x4x2_t stepAngle = vuzpq_f32(pairs01, pairs23);

    // atan(n / d) = high + low. The step's angle is 0 or exceeds |rHigh| (k >= 1 whenever
    // n >= 1), so the sum and its rounding error come from two operations.
    const float32x4_t high = vaddq_f32(stepAngle.val[0], rHigh);
    const float32x4_t highError = vsubq_f32(rHigh, vsubq_f32(high, stepAngle.val[0]));
    const float32x4_t low = vaddq_f32(vaddq_f32(stepAngle.val[1], highError), atanLow);

    // The angle is base + sign * atan(n / d): base pi / 2 when steep, else pi when x < 0,
    // else 0; the sign negative when exactly one of steep and x < 0 holds; both negated when
    // y < 0. Sign changes are exact.
    const uint32x4_t signBit = vdupq_n_u32(0x80000000u);
    const uint32x4_t baseSigns = vandq_u32(yNegative, signBit);
    const uint32x4_t angleSigns = vandq_u32(veorq_u32(veorq_u32(steep, xNegative), yNegative),
                                            signBit);
    const float32x4_t baseHigh =
        flipSigns(baseMagnitude(steep, xNegative, kHalfPiHigh, kPiHigh), baseSigns);
    const float32x4_t baseLow =
        flipSigns(baseMagnitude(steep, xNegative, kHalfPiLow, kPiLow), baseSigns);
    const float32x4_t signedHigh = flipSigns(high, angleSigns);
    const float32x4_t signedLow = flipSigns(low, angleSigns);
    // A nonzero base is at least pi / 2, atan(n / d) at most pi / 4 and a little.
    const float32x4_t angle = vaddq_f32(baseHigh, signedHigh);
    const float32x4_t angleError = vsubq_f32(signedHigh, vsubq_f32(angle, baseHigh));
    const float32x4_t angleLow = vaddq_f32(vaddq_f32(baseLow, signedLow), angleError);

    // Each sum of two floats rounds their exact sum once, so theta is the float nearest
    // angle + angleLow, and the bounds are the floats of that value moved by the margin.
    const float32x4_t theta = vaddq_f32(angle, angleLow);
    const float32x4_t margin = vmulq_f32(vabsq_f32(angle), vdupq_n_f32(kAngleUncertainty));
    const float32x4_t lowest = vaddq_f32(angle, vsubq_f32(angleLow, margin));
    const float32x4_t highest = vaddq_f32(angle, vaddq_f32(angleLow, margin));
    decided = vandq_u32(vceqq_f32(lowest, theta), vceqq_f32(highest, theta));
    return theta;
}

inline bool allSet(uint32x4_t mask) {
    uint32x2_t folded = vand_u32(vget_low_u32(mask), vget_high_u32(mask));
    folded = vpmin_u32(folded, folded);
    return vget_lane_u32(folded, 0) == 0xFFFFFFFFu;
}

}  // namespace

void computePhaseDepthBlocksNeon(const int16_t* x, const int16_t* y, size_t blocks,
                                 float metresPerRadian, float* depth, float* amplitude) {
    const float* table = arctangents();
    const float32x4_t scale = vdupq_n_f32(metresPerRadian);
    for (size_t block = 0; block < blocks; ++block) {
        const size_t i = block * 4;
        // Exact: decoded differences are multiples of 16.
        const int32x4_t a = vshrq_n_s32(vmovl_s16(vld1_s16(x + i)), 4);
        const int32x4_t b = vshrq_n_s32(vmovl_s16(vld1_s16(y + i)), 4);

        uint32x4_t decided;
        float32x4_t theta = roundedAngles(a, b, table, decided);
        if (!allSet(decided)) {
            float lanes[4];
            uint32_t certain[4];
            vst1q_f32(lanes, theta);
            vst1q_u32(certain, decided);
            for (int lane = 0; lane < 4; ++lane) {
                if (certain[lane] == 0) {
                    lanes[lane] = documentedPhaseAngle(x[i + lane], y[i + lane]);
                }
            }
            theta = vld1q_f32(lanes);
        }
        // 32-bit NEON flushes subnormals to zero, but none occur from here on: products of a
        // non-negative angle with the scale and 1000 round as in scalar float arithmetic.
        const uint32x4_t negative = vcltq_f32(theta, vdupq_n_f32(0.0f));
        // Adding +0 leaves a non-negative angle unchanged.
        theta = vaddq_f32(theta, keepWhere(negative, vdupq_n_f32(kPhaseFullTurn)));
        vst1q_f32(depth + i, vmulq_f32(vmulq_f32(scale, theta), vdupq_n_f32(1000.0f)));

        // 8 * sqrtf(a^2 + b^2), as the portable form: 32-bit NEON has no square root, so each
        // lane takes the scalar (correctly rounded) one; 64-bit NEON's rounds alike.
        const float32x4_t squares = vcvtq_f32_s32(vmlaq_s32(vmulq_s32(a, a), b, b));
#if defined(__aarch64__)
        const float32x4_t roots = vsqrtq_f32(squares);
#else
        float32x4_t roots = squares;
        roots = vsetq_lane_f32(__builtin_sqrtf(vgetq_lane_f32(squares, 0)), roots, 0);
        roots = vsetq_lane_f32(__builtin_sqrtf(vgetq_lane_f32(squares, 1)), roots, 1);
        roots = vsetq_lane_f32(__builtin_sqrtf(vgetq_lane_f32(squares, 2)), roots, 2);
        roots = vsetq_lane_f32(__builtin_sqrtf(vgetq_lane_f32(squares, 3)), roots, 3);
#endif
        vst1q_f32(amplitude + i, vmulq_f32(roots, vdupq_n_f32(8.0f)));
    }
}

}  // namespace Zelvo

#endif  // ZELVO_PHASE_DEPTH_NEON
