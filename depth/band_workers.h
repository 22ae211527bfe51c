// Threads that compute the bands of a frame beside the calling thread. Started once per start
// of the handle; a frame only wakes them and waits for them, so it allocates nothing. The
// lock guards the hand-over alone: no thread holds it while it computes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace ZelvoDepth {

class BandWorkers {
public:
    using Task = void (*)(void* context, int band);

    BandWorkers() = default;
    BandWorkers(const BandWorkers&) = delete;
    BandWorkers& operator=(const BandWorkers&) = delete;
    ~BandWorkers() { stop(); }

    // Stops the threads there are and starts `bands - 1` new ones. May throw.
    void start(int bands);
    void stop();
    int bands() const { return static_cast<int>(threads_.size()) + 1; }

    // Runs task(context, b) for every band b: band 0 on the calling thread, the others on
    // the workers; returns when all are done.
    void run(Task task, void* context);

private:
    void work(int band);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    uint64_t generation_ = 0;
    int pending_ = 0;
    bool stopping_ = false;
    Task task_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace ZelvoDepth
