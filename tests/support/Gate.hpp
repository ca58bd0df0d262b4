// A gate a test opens: work that waits at it (a block holding a queue, a fault holding a
// reply) goes on when the test opens it, or on its own once `bound` of real time has passed,
// so a test that fails before opening it does not leave the work, and whatever waits on that
// work, hanging. open() reports a gate that gave up first, since the test then did not see
// the state it held for.
//
// Thread-safety: every operation may be called from any thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/support/Barriers.hpp"

namespace pindle::testing {

class Gate {
  public:
    Gate() = default;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    // Returns whether the gate was opened rather than given up on.
    bool wait(std::chrono::milliseconds bound = barrierPatience) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, bound, [this] { return open_; }))
            gaveUp_ = true;
        return !gaveUp_;
    }

    ::testing::AssertionResult open() {
        bool gaveUp = false;
        {
            std::lock_guard lock(mutex_);
            open_ = true;
            gaveUp = gaveUp_;
        }
        changed_.notify_all();
        if (gaveUp)
            return ::testing::AssertionFailure() << "the gate gave up waiting before it opened";
        return ::testing::AssertionSuccess();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;    // guarded by mutex_
    bool gaveUp_ = false;  // guarded by mutex_
};

}  // namespace pindle::testing
