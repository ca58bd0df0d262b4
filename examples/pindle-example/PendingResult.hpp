// PendingResult: hands the one result of an asynchronous call from the thread its completion
// runs on to a host thread that blocks until it arrives, until a timeout, or until the program
// is interrupted (SIGINT, SIGTERM: see Interruption).
//
// The SDK completes REST calls and downloads on the requester's delegate queue, never on the
// caller's thread; a command-line host has nothing else to do meanwhile, so it waits here.
//
// Thread-safety: set() from any thread; wait() from any thread. Only the first set() counts,
// so a completion that races a timeout cannot overwrite what the waiter already returned.
// Callbacks: none.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "examples/pindle-example/Interruption.hpp"

namespace pindle::example {

template <class T>
class PendingResult {
  public:
    PendingResult() = default;
    PendingResult(const PendingResult&) = delete;
    PendingResult& operator=(const PendingResult&) = delete;

    void set(T value) {
        {
            std::lock_guard lock(mutex_);
            if (value_)
                return;
            value_ = std::move(value);
        }
        arrived_.notify_all();
    }

    // The value, or nothing when `timeout` passes, or the program is interrupted, before
    // set() runs.
    std::optional<T> wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::unique_lock lock(mutex_);
        // A signal wakes nobody: the wait looks for one every interruptionCheck.
        while (!value_ && !Interruption::requested()) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                break;
            arrived_.wait_for(
                lock, std::min<std::chrono::steady_clock::duration>(left, interruptionCheck));
        }
        return value_;
    }

  private:
    static constexpr std::chrono::milliseconds interruptionCheck{50};

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::optional<T> value_;  // guarded by mutex_
};

}  // namespace pindle::example
