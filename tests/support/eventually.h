// Polling for a condition that another thread makes true, with a time-out generous
// enough never to depend on the machine's speed.
#pragma once

#include <chrono>
#include <thread>

namespace Zelvo::testing {

// Polls `condition` every millisecond; false when it is still not true after 10 s.
template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace Zelvo::testing
