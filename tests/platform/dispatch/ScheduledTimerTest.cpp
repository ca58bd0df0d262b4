#include "platform/dispatch/Timer.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::platform {
namespace {

class ScheduledTimerTest : public testing::VirtualTimeTest {};

TEST_F(ScheduledTimerTest, FiresOnTheClockUntilInvalidatedAndKeepsItselfAlive) {
    std::vector<double> repeating;
    int once = 0;
    // Neither timer is held by the test: a scheduled timer keeps itself.
    Timer::scheduledTimer(0.5, true, [&](Timer& timer) {
        repeating.push_back(std::chrono::duration<double>(clock_->uptime()).count());
        if (repeating.size() == 3)
            timer.invalidate();
    });
    std::weak_ptr<Timer> oneShot = Timer::scheduledTimer(0.25, false, [&](Timer&) { ++once; });
    const double start = std::chrono::duration<double>(clock_->uptime()).count();
    for (int i = 0; i < 10; ++i) advance(0.25);
    MainThread::drain();
    ASSERT_EQ(repeating.size(), 3u);
    EXPECT_DOUBLE_EQ(repeating[0] - start, 0.5);
    EXPECT_DOUBLE_EQ(repeating[2] - start, 1.5);
    EXPECT_EQ(once, 1);
    EXPECT_TRUE(oneShot.expired()) << "a one-shot timer lets go of itself once it fired";
}

}  // namespace
}  // namespace pindle::platform
