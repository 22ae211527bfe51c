#include "tests/support/call_log.h"

#include <algorithm>

namespace Zelvo::testing {

void CallLog::add(std::string entry) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(entry));
}

std::vector<std::string> CallLog::entries() const {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
}

bool CallLog::contains(const std::string& entry) const {
    std::lock_guard<std::mutex> lock(mutex);
    return std::find(calls.begin(), calls.end(), entry) != calls.end();
}

size_t CallLog::mark() const {
    std::lock_guard<std::mutex> lock(mutex);
    return calls.size();
}

std::vector<std::string> CallLog::since(size_t mark) const {
    std::lock_guard<std::mutex> lock(mutex);
    if (mark >= calls.size()) return {};
    return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end());
}

void CallLog::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
}

std::string call(const std::string& name, int a, int b) {
    return name + "(" + std::to_string(a) + "," + std::to_string(b) + ")";
}

std::string call(const std::string& name, int a) {
    return name + "(" + std::to_string(a) + ")";
}

}  // namespace Zelvo::testing
