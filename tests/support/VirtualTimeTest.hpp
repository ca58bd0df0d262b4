// Virtual time for tests: VirtualTimeTest installs a virtual clock for the length of a test,
// and eventually() pumps the main queue until a condition holds or a real-time bound passes.
//
// Thread-safety: use from the test (main) thread only.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"

namespace pindle::platform::testing {

// Generous real-time bound for conditions that other threads make true.
inline constexpr double kPatience = 10.0;

inline bool eventually(const std::function<bool()>& condition) {
    return MainThread::runUntil(condition, kPatience);
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

    std::shared_ptr<VirtualClock> clock_;
};

}  // namespace pindle::platform::testing
