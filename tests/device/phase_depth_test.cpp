// The fast depth arithmetic against the plain documented steps, over every pair of phase
// differences that decoded samples can produce.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/phase_depth.h"

namespace Zelvo {
namespace {

// The documented steps for one pixel, kept plain on purpose: this is the reference.
struct ReferencePixel {
    float theta;
    float depth;
    float amplitude;
};

ReferencePixel referencePixel(int x, int y, float frequency) {
    float theta = static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
    if (theta < 0) theta += 6.2831855f;
    const float product = frequency * 12.566371f;
    const float quotient = 300000000.0f / product;
    const float depth = (quotient * theta) * 1000.0f;
    const double sum = static_cast<double>(x) * x + static_cast<double>(y) * y;
    const float amplitude = static_cast<float>(0.5 * std::sqrt(sum));
    return {theta, depth, amplitude};
}

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

constexpr int kStep = 16;
constexpr int kLimit = 32752;  // largest difference of two decoded samples
constexpr int kValues = 2 * kLimit / kStep + 1;  // 4095

TEST(PhaseDepth, MetresPerRadianFollowsTheDocumentedOrder) {
    for (float frequency : {37500000.0f, 75000000.0f, 12345678.0f}) {
        const float product = frequency * 12.566371f;
        EXPECT_EQ(bitsOf(metresPerRadian(frequency)), bitsOf(300000000.0f / product));
    }
}

class PhaseDepthKernels : public ::testing::TestWithParam<PhaseDepthKernel> {};

// Every (x, y) pair, both ranges' depth scales: the fast results must equal the reference
// bit for bit. Mismatches are counted and the first few reported, so the loop stays tight.
TEST_P(PhaseDepthKernels, EveryDifferencePairMatchesTheDocumentedArithmetic) {
    const PhaseDepthKernel kernel = GetParam();
    {
        const int16_t probe = 0;
        float out[2];
        if (!computePhaseDepthWith(kernel, &probe, &probe, 1, 1.0f, out, out + 1)) {
            GTEST_SKIP() << "this processor or build lacks the kernel";
        }
    }
    const float frequencies[] = {37500000.0f, 75000000.0f};
    std::vector<int16_t> xs(kValues);
    std::vector<int16_t> ys(kValues);
    for (int i = 0; i < kValues; ++i) xs[i] = static_cast<int16_t>(-kLimit + i * kStep);
    std::vector<float> depth(kValues);
    std::vector<float> amplitude(kValues);
    std::vector<float> theta(kValues);
    std::vector<float> referenceAmplitude(kValues);

    long long mismatches = 0;
    long long compared = 0;
    std::string firstFew;
    auto report = [&](const char* what, int x, int y, float got, float want) {
        if (++mismatches <= 5) {
            char line[160];
            std::snprintf(line, sizeof line, "%s x=%d y=%d got %.9g want %.9g\n", what, x, y,
                          got, want);
            firstFew += line;
        }
    };

    for (int row = 0; row < kValues; ++row) {
        const int y = -kLimit + row * kStep;
        for (int i = 0; i < kValues; ++i) {
            ys[i] = static_cast<int16_t>(y);
            // theta does not depend on the frequency; the reference for it is taken once.
            const ReferencePixel r = referencePixel(xs[i], y, frequencies[0]);
            theta[i] = r.theta;
            referenceAmplitude[i] = r.amplitude;
        }
        for (float frequency : frequencies) {
            const float scale = metresPerRadian(frequency);
            computePhaseDepthWith(kernel, xs.data(), ys.data(), kValues, scale, depth.data(),
                                  amplitude.data());
            const float product = frequency * 12.566371f;
            const float quotient = 300000000.0f / product;
            for (int i = 0; i < kValues; ++i) {
                const float wantDepth = (quotient * theta[i]) * 1000.0f;
                if (bitsOf(depth[i]) != bitsOf(wantDepth)) {
                    report("depth", xs[i], y, depth[i], wantDepth);
                }
                if (bitsOf(amplitude[i]) != bitsOf(referenceAmplitude[i])) {
                    report("amplitude", xs[i], y, amplitude[i], referenceAmplitude[i]);
                }
            }
            compared += kValues;
        }
    }
    EXPECT_EQ(compared, 2LL * kValues * kValues);
    EXPECT_EQ(mismatches, 0) << firstFew;
}

// Counts shorter than the vector width and ragged tails leave nothing unwritten or wrong.
TEST_P(PhaseDepthKernels, AnyCountIsComputedCompletely) {
    const PhaseDepthKernel kernel = GetParam();
    const float scale = metresPerRadian(37500000.0f);
    for (size_t count : {size_t{1}, size_t{3}, size_t{5}, size_t{7}}) {
        std::vector<int16_t> xs(count);
        std::vector<int16_t> ys(count);
        for (size_t i = 0; i < count; ++i) {
            xs[i] = static_cast<int16_t>(1600 - 320 * static_cast<int>(i));
            ys[i] = static_cast<int16_t>(-800 + 272 * static_cast<int>(i));
        }
        std::vector<float> depth(count + 1, -7.0f);
        std::vector<float> amplitude(count + 1, -7.0f);
        if (!computePhaseDepthWith(kernel, xs.data(), ys.data(), count, scale, depth.data(),
                                   amplitude.data())) {
            GTEST_SKIP() << "this processor or build lacks the kernel";
        }
        for (size_t i = 0; i < count; ++i) {
            const ReferencePixel r = referencePixel(xs[i], ys[i], 37500000.0f);
            EXPECT_EQ(bitsOf(depth[i]), bitsOf(r.depth)) << count << " " << i;
            EXPECT_EQ(bitsOf(amplitude[i]), bitsOf(r.amplitude)) << count << " " << i;
        }
        EXPECT_EQ(depth[count], -7.0f);  // nothing written past the end
        EXPECT_EQ(amplitude[count], -7.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryForm, PhaseDepthKernels,
                         ::testing::Values(PhaseDepthKernel::Portable, PhaseDepthKernel::Sse2,
                                           PhaseDepthKernel::Avx2));

// The entry point the device uses gives the same results as the portable form.
TEST(PhaseDepth, DefaultFormAgreesWithThePortableForm) {
    std::vector<int16_t> xs;
    std::vector<int16_t> ys;
    for (int a = -2047; a <= 2047; a += 89) {
        for (int b = -2047; b <= 2047; b += 97) {
            xs.push_back(static_cast<int16_t>(16 * a));
            ys.push_back(static_cast<int16_t>(16 * b));
        }
    }
    const size_t count = xs.size();
    std::vector<float> depth(count), amplitude(count), portableDepth(count),
        portableAmplitude(count);
    const float scale = metresPerRadian(75000000.0f);
    computePhaseDepth(xs.data(), ys.data(), count, scale, depth.data(), amplitude.data());
    ASSERT_TRUE(computePhaseDepthWith(PhaseDepthKernel::Portable, xs.data(), ys.data(), count,
                                      scale, portableDepth.data(), portableAmplitude.data()));
    EXPECT_EQ(0, std::memcmp(depth.data(), portableDepth.data(), count * sizeof(float)));
    EXPECT_EQ(0, std::memcmp(amplitude.data(), portableAmplitude.data(), count * sizeof(float)));
}

}  // namespace
}  // namespace Zelvo
