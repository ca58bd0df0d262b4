#include "platform/dispatch/private/WorkerPool.hpp"

#include <cstdio>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace pindle::platform::detail {

namespace {

// How long an idle thread spins before it sleeps: a few thread wake-ups' worth.
constexpr std::chrono::microseconds spinBeforeSleeping{50};

// Waits until `ready` or `until`; says which. The clock is read only every few checks, as
// reading it costs more than a check, and the thread yields as often, so on a crowded machine
// the thread that will queue the work can run.
template <class Ready>
bool spinUntil(const Ready& ready, std::chrono::steady_clock::time_point until) {
    constexpr int checksPerClockRead = 16;
    do {
        for (int i = 0; i < checksPerClockRead; ++i) {
            if (ready()) {
                return true;
            }
#if defined(__x86_64__) || defined(__i386__)
            _mm_pause();
#endif
        }
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    return ready();
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

bool WorkerPool::spinLocked(std::unique_lock<std::mutex>& lock) {
    ++spinning_;
    const auto until = std::chrono::steady_clock::now() + spinBeforeSleeping;
    bool found = false;
    while (!found) {
        lock.unlock();
        const bool seen =
            spinUntil([this] { return waitingCount_.load(std::memory_order_relaxed) > 0; }, until);
        lock.lock();
        found = !pending_.empty();
        if (!seen) {
            break;
        }
    }
    --spinning_;
    return found;
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
        // the lock. One spinner is enough to take the next block, and more would only burn
        // processors another thread may need.
        bool found = false;
        if (spinning_ < kMaxSpinning) {
            found = spinLocked(lock);
        }
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
