#include "platform/dispatch/WorkerPool.hpp"

#include <cstdio>
#include <thread>

namespace pindle::platform::detail {

WorkerPool& WorkerPool::shared() {
    // Never destroyed: detached workers use it until the process ends.
    static WorkerPool* const instance = new WorkerPool();
    return *instance;
}

void WorkerPool::submit(std::function<void()> work) {
    bool spawn = false;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
        waitingCount_.store(pending_.size(), std::memory_order_relaxed);
        // Idle threads already woken but not yet running still count as idle, so compare
        // against everything waiting rather than spawning for each submission.
        if (pending_.size() > idle_ && threads_ < kMaxThreads) {
            ++threads_;
            spawn = true;
        }
    }
    if (spawn) {
        try {
            std::thread([this] { this->work(); }).detach();
        } catch (const std::system_error& error) {
            std::lock_guard lock(mutex_);
            --threads_;
            std::fprintf(stderr, "WorkerPool: cannot start a thread: %s\n", error.what());
        }
    }
    available_.notify_one();
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (pending_.empty()) {
            ++idle_;
            const bool woken =
                available_.wait_for(lock, kIdleRetirement, [this] { return !pending_.empty(); });
            --idle_;
            if (!woken) {
                --threads_;
                return;
            }
        }
        auto next = std::move(pending_.front());
        pending_.pop_front();
        waitingCount_.store(pending_.size(), std::memory_order_relaxed);
        lock.unlock();
        next();
        next = nullptr;  // release what the block captured outside the lock
        lock.lock();
    }
}

}  // namespace pindle::platform::detail
