#include "python/request_gate.h"

namespace ZelvoPython {

namespace {

// How long a lifecycle call waits for requests to leave before waking them again.
constexpr auto kWakeAgain = std::chrono::milliseconds(5);

}  // namespace

RequestGate::Entry& RequestGate::Entry::operator=(Entry&& other) noexcept {
    if (this != &other) {
        if (gate)
            gate->leave();
        gate = other.gate;
        other.gate = nullptr;
    }
    return *this;
}

RequestGate::Entry::~Entry() {
    if (gate)
        gate->leave();
}

RequestGate::Barrier::Barrier(RequestGate& gate, const std::function<void()>& wake)
    : gate(gate) {
    std::unique_lock<std::mutex> lock(gate.mutex);
    ++gate.lifecycleCalls;
    ++gate.lifecycleRunning;
    while (gate.inside > 0) {
        wake();
        gate.changed.wait_for(lock, kWakeAgain, [&gate] { return gate.inside == 0; });
    }
}

RequestGate::Barrier::~Barrier() {
    std::lock_guard<std::mutex> lock(gate.mutex);
    --gate.lifecycleRunning;
    gate.changed.notify_all();
}

std::optional<uint64_t> RequestGate::arrive(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, wait, [this] { return lifecycleRunning == 0; }))
        return std::nullopt;
    return lifecycleCalls;
}

RequestGate::Entry RequestGate::enter(uint64_t pass) {
    std::lock_guard<std::mutex> lock(mutex);
    if (pass != lifecycleCalls)
        return Entry();
    ++inside;
    return Entry(this);
}

void RequestGate::leave() {
    std::lock_guard<std::mutex> lock(mutex);
    if (--inside == 0)
        changed.notify_all();
}

}  // namespace ZelvoPython
