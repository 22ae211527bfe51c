#include "depth/band_workers.h"

namespace ZelvoDepth {

void BandWorkers::start(int bands) {
    stop();
    // New workers count generations from 0 (work's `seen`): so must the counter, or a new
    // worker would take the previous start's last task for a new one.
    generation_ = 0;
    pending_ = 0;
    stopping_ = false;
    for (int band = 1; band < bands; ++band) threads_.emplace_back([this, band] { work(band); });
}

void BandWorkers::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

void BandWorkers::run(Task task, void* context) {
    if (!threads_.empty()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            task_ = task;
            context_ = context;
            pending_ = static_cast<int>(threads_.size());
            ++generation_;
        }
        wake_.notify_all();
    }
    task(context, 0);
    if (threads_.empty()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
}

void BandWorkers::work(int band) {
    uint64_t seen = 0;
    for (;;) {
        Task task;
        void* context;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            task = task_;
            context = context_;
        }
        task(context, band);
        bool last;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            last = --pending_ == 0;
        }
        if (last) done_.notify_one();
    }
}

}  // namespace ZelvoDepth
