// The fast depth arithmetic against the plain documented steps, over every pair of phase
// differences that decoded samples can produce.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/phase_depth.h"

#if (defined(__arm__) || defined(__aarch64__)) && defined(__linux__)
#include <sys/auxv.h>
#endif

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

const PhaseDepthKernel kEveryKernel[] = {PhaseDepthKernel::Portable, PhaseDepthKernel::Sse2,
                                          PhaseDepthKernel::Avx2, PhaseDepthKernel::Neon};

const char* nameOf(PhaseDepthKernel kernel) {
    switch (kernel) {
        case PhaseDepthKernel::Portable: return "Portable";
        case PhaseDepthKernel::Sse2: return "Sse2";
        case PhaseDepthKernel::Avx2: return "Avx2";
        case PhaseDepthKernel::Neon: return "Neon";
    }
    return "?";
}

bool runs(PhaseDepthKernel kernel) {
    const int16_t probe = 0;
    float out[2];
    return computePhaseDepthWith(kernel, &probe, &probe, 1, 1.0f, out, out + 1);
}

// Every (x, y) pair, both ranges' depth scales: every form this build and processor run must
// equal the reference bit for bit. The reference is taken once per pair for all forms, and
// mismatches are counted and the first few reported, so the loops stay tight. (The second
// scale differs only in the last multiplications, so it is checked on every 16th row.)
TEST(PhaseDepth, EveryFormMatchesTheDocumentedArithmeticForEveryDifferencePair) {
    std::vector<PhaseDepthKernel> kernels;
    for (PhaseDepthKernel kernel : kEveryKernel) {
        if (runs(kernel)) kernels.push_back(kernel);
    }
    ASSERT_FALSE(kernels.empty());
    const float frequencies[] = {37500000.0f, 75000000.0f};
    std::vector<int16_t> xs(kValues);
    std::vector<int16_t> ys(kValues);
    for (int i = 0; i < kValues; ++i) xs[i] = static_cast<int16_t>(-kLimit + i * kStep);
    std::vector<float> depth(kValues);
    std::vector<float> amplitude(kValues);
    std::vector<float> theta(kValues);
    std::vector<float> referenceDepth(kValues);
    std::vector<float> referenceAmplitude(kValues);

    long long mismatches = 0;
    std::vector<long long> compared(kernels.size());
    std::string firstFew;
    auto report = [&](PhaseDepthKernel kernel, const char* what, int x, int y, float got,
                      float want) {
        if (++mismatches <= 5) {
            char line[160];
            std::snprintf(line, sizeof line, "%s %s x=%d y=%d got %.9g want %.9g\n",
                          nameOf(kernel), what, x, y, got, want);
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
            if (frequency != frequencies[0] && row % 16 != 0) continue;
            const float product = frequency * 12.566371f;
            const float quotient = 300000000.0f / product;
            for (int i = 0; i < kValues; ++i) referenceDepth[i] = (quotient * theta[i]) * 1000.0f;
            for (size_t k = 0; k < kernels.size(); ++k) {
                computePhaseDepthWith(kernels[k], xs.data(), ys.data(), kValues,
                                      metresPerRadian(frequency), depth.data(),
                                      amplitude.data());
                for (int i = 0; i < kValues; ++i) {
                    if (bitsOf(depth[i]) != bitsOf(referenceDepth[i])) {
                        report(kernels[k], "depth", xs[i], y, depth[i], referenceDepth[i]);
                    }
                    if (bitsOf(amplitude[i]) != bitsOf(referenceAmplitude[i])) {
                        report(kernels[k], "amplitude", xs[i], y, amplitude[i],
                               referenceAmplitude[i]);
                    }
                }
                compared[k] += kValues;
            }
        }
    }
    const long long everyPair = 1LL * kValues * kValues;
    for (size_t k = 0; k < kernels.size(); ++k) {
        EXPECT_EQ(compared[k], everyPair + (kValues + 15) / 16 * kValues) << nameOf(kernels[k]);
    }
    EXPECT_EQ(mismatches, 0) << firstFew;
}

// The NEON form runs exactly where the processor has NEON (in ARM builds; every 64-bit ARM
// processor has it). When set, ZELVO_TEST_NEON ("1" or "0") says which processor the run is
// meant for, so that a run meant to cover one form cannot silently cover the other.
TEST(PhaseDepth, TheNeonFormRunsWhereTheProcessorHasNeon) {
#if defined(__arm__) && defined(__linux__)
    const bool hasNeon = (getauxval(AT_HWCAP) & HWCAP_ARM_NEON) != 0;
#elif defined(__aarch64__) && defined(__linux__)
    const bool hasNeon = (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0;
#else
    const bool hasNeon = false;
#endif
    if (const char* meantFor = std::getenv("ZELVO_TEST_NEON")) {
        ASSERT_EQ(hasNeon, std::string(meantFor) == "1") << "the processor running the test";
    }
    EXPECT_EQ(runs(PhaseDepthKernel::Neon), hasNeon);
}

class PhaseDepthKernels : public ::testing::TestWithParam<PhaseDepthKernel> {};

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
                         ::testing::ValuesIn(kEveryKernel));

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
