// How many rounds a test that repeats a cycle (restarts, start and stop) runs. The
// cross-built stages run under an emulator tens of times slower than the build machine and
// set ZELVO_TEST_REPEAT_DIVISOR to cut those rounds; the sanitizer stages run them in full.
#pragma once

#include <algorithm>
#include <cstdlib>

namespace Zelvo::testing {

inline int repeatCount(int rounds) {
    const char* divisor = std::getenv("ZELVO_TEST_REPEAT_DIVISOR");
    const int by = divisor ? std::atoi(divisor) : 1;
    return by > 1 ? std::max(1, rounds / by) : rounds;
}

}  // namespace Zelvo::testing
