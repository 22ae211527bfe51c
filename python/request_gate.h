// Keeps the frame requests of Python threads apart from the lifecycle calls of
// others on the same camera.
//
// A request waits inside the camera without the interpreter lock, so that the
// program's other threads run meanwhile. A start in another thread would then
// replace the frame store under it: a lifecycle call (stop, close, start, open)
// therefore first ends the waits in progress, waits until every request has left
// the camera, and holds new ones back until it is done. A request whose wait was
// ended this way returns None.
//
// Neither side holds the interpreter lock while it waits here, and nothing holds
// the gate's mutex while waiting for the interpreter lock, so the two cannot
// deadlock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace ZelvoPython {

class RequestGate {
public:
    // A request's stay inside the camera; it leaves when the entry goes. Empty when
    // the request was refused.
    class Entry {
    public:
        Entry() = default;
        Entry(Entry&& other) noexcept : gate(other.gate) { other.gate = nullptr; }
        Entry& operator=(Entry&& other) noexcept;
        ~Entry();
        explicit operator bool() const { return gate != nullptr; }

    private:
        friend class RequestGate;
        explicit Entry(RequestGate* gate) : gate(gate) {}
        RequestGate* gate = nullptr;
    };

    // While a barrier lives, no request is inside the camera and none enters.
    // `wake` ends the waits in progress; it is called again until all have left,
    // since a request may enter its wait just after a wake-up.
    class Barrier {
    public:
        Barrier(RequestGate& gate, const std::function<void()>& wake);
        ~Barrier();
        Barrier(const Barrier&) = delete;
        Barrier& operator=(const Barrier&) = delete;

    private:
        RequestGate& gate;
    };

    // Request side, called without the interpreter lock. The pass to enter with:
    // waits up to `wait` for lifecycle calls in progress to end; empty when one
    // still runs.
    std::optional<uint64_t> arrive(std::chrono::milliseconds wait);
    // Enters the camera with the pass from arrive; refused when a lifecycle call
    // has come since, which ended the request's wait.
    Entry enter(uint64_t pass);

private:
    void leave();

    std::mutex mutex;
    std::condition_variable changed;
    uint64_t lifecycleCalls = 0;  // begun so far; a pass is the count at arrival
    int lifecycleRunning = 0;
    int inside = 0;  // requests inside the camera
};

}  // namespace ZelvoPython
