#include "depth/frequency_pair.h"

#include <cmath>

namespace ZelvoDepth {
namespace {

int greatestCommonDivisor(int a, int b) { return b == 0 ? a : greatestCommonDivisor(b, a % b); }

// The smallest m0 : m1 (smallest m1 first) that f0 : f1 matches, or false.
bool findRatio(uint32_t f0, uint32_t f1, int& m0, int& m1) {
    for (int second = 1; second <= kMaxRatioTerm; ++second) {
        const long first = std::lround(static_cast<double>(f0) * second / f1);
        if (first < 1 || first > kMaxRatioTerm) continue;
        const double mismatch =
            std::fabs(static_cast<double>(f0) * second - static_cast<double>(f1) * first);
        if (mismatch > kRatioTolerance * f0 * second) continue;
        if (greatestCommonDivisor(static_cast<int>(first), second) != 1) continue;
        m0 = static_cast<int>(first);
        m1 = second;
        return true;
    }
    return false;
}

}  // namespace

bool planFrequencyPair(uint32_t f0, uint32_t f1, FrequencyPair& pair) {
    if (f0 == 0 || f1 == 0 || f0 == f1) return false;
    FrequencyPair plan;
    if (!findRatio(f0, f1, plan.m0, plan.m1)) return false;
    plan.wrap[0] = wrapMillimetres(f0);
    plan.wrap[1] = wrapMillimetres(f1);
    plan.unambiguousMillimetres = static_cast<float>(plan.m0) * plan.wrap[0];
    const double square0 = static_cast<double>(f0) * f0;
    const double square1 = static_cast<double>(f1) * f1;
    plan.weight[0] = static_cast<float>(square0 / (square0 + square1));
    plan.weight[1] = 1.0f - plan.weight[0];
    while (plan.m1 * plan.inverse % plan.m0 != 1 % plan.m0) ++plan.inverse;
    pair = plan;
    return true;
}

}  // namespace ZelvoDepth
