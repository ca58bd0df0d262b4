// Virtual time for tests: VirtualTimeTest installs a virtual clock for the length of a test,
// and eventually() pumps the main queue until a condition holds or a real-time bound passes.
// runSettled() starts work the way the clock delivers it, so that a test which then moves
// the clock step by step never races what that work set off.
//
// Thread-safety: use from the test (main) thread only.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"

namespace pindle::platform::testing {

// Generous real-time bound for conditions that other threads make true.
inline constexpr double patience = 10.0;

inline bool eventually(const std::function<bool()>& condition) {
    return MainThread::runUntil(condition, patience);
}

class VirtualTimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_ = std::make_shared<VirtualClock>();
        Clock::setCurrent(clock_);
    }
    void TearDown() override {
        MainThread::drain();
        Clock::setCurrent(nullptr);
    }
    void advance(double seconds) { clock_->advance(seconds); }

    // Runs `work` on a queue of its own and returns once it, and every block it queued in
    // turn, has run or waits for the clock. Work started straight from the test thread is not
    // tracked by advance(), so it could still be running while the test counts on the clock
    // alone to move things.
    void runSettled(std::function<void()> work) {
        auto queue = DispatchQueue::create("test.settled");
        clock_->scheduleDelivery(clock_->uptime(), [queue, work = std::move(work)]() mutable {
            queue->async(std::move(work));
        });
        clock_->advance(0.0);
    }

    std::shared_ptr<VirtualClock> clock_;
};

}  // namespace pindle::platform::testing
