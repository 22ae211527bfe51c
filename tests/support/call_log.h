// The calls test doubles received, in order, shared by a sensor and a device so the
// order across both can be checked. Safe to use from the capture thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace Zelvo::testing {

class CallLog {
public:
    void add(std::string entry);
    std::vector<std::string> entries() const;
    // True when a call equal to `entry` was recorded.
    bool contains(const std::string& entry) const;
    // Entries recorded since the mark; mark() returns the current length.
    size_t mark() const;
    std::vector<std::string> since(size_t mark) const;
    void clear();

private:
    mutable std::mutex mutex;
    std::vector<std::string> calls;
};

// "name(a,b)" as the doubles record a call with two integer arguments.
std::string call(const std::string& name, int a, int b);
std::string call(const std::string& name, int a);

}  // namespace Zelvo::testing
