#include "platform/dispatch/WorkerPool.hpp"

#include <cstdio>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace pindle::platform::detail {

namespace {

void relaxCpu() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

}  // namespace

WorkerPool& WorkerPool::shared() {
    // Never destroyed: detached workers use it until the process ends.
    static WorkerPool* const instance = new WorkerPool();
    return *instance;
}

void WorkerPool::submit(std::function<void()> work) {
    Help needed;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
        waitingCount_.store(pending_.size(), std::memory_order_relaxed);
        needed = claimHelpLocked();
    }
    help(needed);
}

WorkerPool::Help WorkerPool::claimHelpLocked() {
    if (pending_.empty() || spinning_ + wakesPending_ + starting_ > 0) {
        return Help::none;
    }
    if (sleeping_ > 0) {
        ++wakesPending_;
        return Help::wake;
    }
    if (threads_ < kMaxThreads) {
        ++threads_;
        ++starting_;
        return Help::spawn;
    }
    return Help::none;
}

void WorkerPool::help(Help needed) {
    if (needed == Help::wake) {
        available_.notify_one();
    } else if (needed == Help::spawn) {
        try {
            std::thread([this] { this->work(); }).detach();
        } catch (const std::system_error& error) {
            std::lock_guard lock(mutex_);
            --threads_;
            --starting_;
            std::fprintf(stderr, "WorkerPool: cannot start a thread: %s\n", error.what());
        }
    }
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

bool WorkerPool::spinForWork(std::chrono::steady_clock::time_point until) const {
    constexpr int kPausesPerCheck = 16;
    do {
        for (int i = 0; i < kPausesPerCheck; ++i) {
            if (waitingCount_.load(std::memory_order_relaxed) > 0) {
                return true;
            }
            relaxCpu();
        }
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    --starting_;
    for (;;) {
        if (!pending_.empty()) {
            auto next = std::move(pending_.front());
            pending_.pop_front();
            waitingCount_.store(pending_.size(), std::memory_order_relaxed);
            const Help needed = claimHelpLocked();
            lock.unlock();
            help(needed);
            next();
            next = nullptr;  // release what the block captured outside the lock
            lock.lock();
            continue;
        }
        // While counted as spinning this thread is what submitters rely on instead of waking
        // one, so it keeps looking until its time is up, and the count changes only under
        // the lock.
        ++spinning_;
        const auto until = std::chrono::steady_clock::now() + kSpinLimit;
        bool found = false;
        while (!found) {
            lock.unlock();
            const bool seen = spinForWork(until);
            lock.lock();
            found = !pending_.empty();
            if (!seen) {
                break;
            }
        }
        --spinning_;
        if (found) {
            continue;
        }
        ++sleeping_;
        const auto status = available_.wait_for(lock, kIdleRetirement);
        --sleeping_;
        if (wakesPending_ > 0) {
            --wakesPending_;
        }
        if (status == std::cv_status::timeout && pending_.empty()) {
            --threads_;
            return;
        }
    }
}

}  // namespace pindle::platform::detail
