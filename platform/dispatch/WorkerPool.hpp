// WorkerPool: the shared threads that run the global queues, serial and concurrent queues
// and operation queues.
//
// Internal to the dispatch library. The pool starts empty and grows by one thread whenever
// work is waiting and no thread is idle, up to kMaxThreads: a worker parked on a semaphore
// (waiting for work queued behind it) does not starve the pool. A thread that stays idle for
// kIdleRetirement of real time ends.
//
// Thread-safety: submit() may be called from any thread; work runs on pool threads, first
// come first served.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace pindle::platform::detail {

class WorkerPool {
  public:
    static constexpr std::size_t kMaxThreads = 512;
    static constexpr std::chrono::seconds kIdleRetirement{15};

    static WorkerPool& shared();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> work);

    // True when submitted work waits for a thread; a long-running drain asks it to decide
    // whether to give its thread up. Only a hint: the answer may be stale when it arrives.
    bool hasWaitingWork() const { return waitingCount_.load(std::memory_order_relaxed) > 0; }

    // Current number of threads (idle or busy); for tests and diagnostics.
    std::size_t threadCount() const;

  private:
    WorkerPool() = default;
    void work();

    mutable std::mutex mutex_;
    std::condition_variable available_;
    std::deque<std::function<void()>> pending_;  // guarded by mutex_
    std::size_t threads_ = 0;                    // guarded by mutex_
    std::size_t idle_ = 0;                       // guarded by mutex_
    // pending_.size(), written under mutex_ and read without it.
    std::atomic<std::size_t> waitingCount_{0};
};

}  // namespace pindle::platform::detail
