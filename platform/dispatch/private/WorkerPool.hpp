// WorkerPool: the shared threads that run the global queues, serial and concurrent queues
// and operation queues.
//
// Internal to the dispatch library. The pool starts empty and grows by one thread whenever
// work is waiting and no thread is idle, up to kMaxThreads: a worker parked on a semaphore
// (waiting for work queued behind it) does not starve the pool. A thread that stays idle for
// kIdleRetirement of real time ends.
//
// Waking a sleeping thread costs a system call on each side, so the pool keeps one rule:
// while work waits, some idle thread is awake to take it (spinning for work after its last
// block, already woken, or starting). A submission wakes or starts a thread only when none
// is; a thread that takes work and leaves more behind passes the duty on the same way, so a
// burst wakes threads one after another as they are needed, and blocks parked on a semaphore
// still make the pool grow past them. One thread that finds no work spins briefly before it
// sleeps, which lets a steady stream of blocks run without any wake-up.
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
    // Idle threads that spin for work at a time; the others sleep at once.
    static constexpr std::size_t kMaxSpinning = 1;

    static WorkerPool& shared();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> work);

    // True when submitted work waits for a thread; a long-running drain asks it to decide
    // whether to yield its thread. Only a hint: the answer may be stale when it arrives.
    bool hasWaitingWork() const { return waitingCount_.load(std::memory_order_relaxed) > 0; }

    // Current number of threads (idle or busy); for tests and diagnostics.
    std::size_t threadCount() const;

  private:
    WorkerPool() = default;
    enum class Help { none, wake, spawn };

    void work();
    // Spins for work as one of the spinning threads; true when work is waiting.
    bool spinLocked(std::unique_lock<std::mutex>& lock);
    // Claims a thread to take the waiting work when no idle one is awake; the caller then
    // carries the claim out with help() once it has released the lock.
    Help claimHelpLocked();
    void help(Help needed);

    mutable std::mutex mutex_;
    std::condition_variable available_;
    std::deque<std::function<void()>> pending_;  // guarded by mutex_
    std::size_t threads_ = 0;                    // guarded by mutex_
    std::size_t spinning_ = 0;                   // guarded by mutex_
    std::size_t sleeping_ = 0;                   // guarded by mutex_
    std::size_t starting_ = 0;                   // guarded by mutex_; started, not yet working
    // Notifications sent and not yet seen by a sleeper. Never more than the true number,
    // so an error can only cost a spare wake-up, never a missed one.
    std::size_t wakesPending_ = 0;  // guarded by mutex_
    // pending_.size(), written under mutex_ and read without it by spinning threads.
    std::atomic<std::size_t> waitingCount_{0};
};

}  // namespace pindle::platform::detail
