// Timed waits on the system clock, which the waiting thread times itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"

namespace pindle::platform {
namespace {

constexpr double shortWait = 0.02;
constexpr double longWait = 30.0;

class SystemClockWaitTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(Clock::current()->isVirtual()); }
};

TEST_F(SystemClockWaitTest, SemaphoreTimesOutWithoutTakingALaterSignal) {
    DispatchSemaphore semaphore(0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(semaphore.wait(DispatchTime::after(shortWait)));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::duration<double>(shortWait));
    // The timed-out waiter is gone: the signal is counted, not handed to it.
    EXPECT_FALSE(semaphore.signal());
    EXPECT_TRUE(semaphore.wait(DispatchTime::now()));
}

TEST_F(SystemClockWaitTest, SignalsAndLeavesEndTimedWaitsBeforeTheirDeadline) {
    DispatchSemaphore semaphore(0);
    std::atomic<bool> waited{false};
    // Signals until the signal meets the waiter, so the wait is already timed when released.
    std::thread signaller([&] {
        while (!waited && !semaphore.signal()) {
            std::this_thread::yield();
        }
    });
    EXPECT_TRUE(semaphore.wait(DispatchTime::after(longWait)));
    waited = true;
    signaller.join();

    DispatchGroup group;
    group.enter();
    EXPECT_FALSE(group.wait(DispatchTime::after(shortWait)));
    std::thread leaver([&] { group.leave(); });
    EXPECT_TRUE(group.wait(DispatchTime::after(longWait)));
    leaver.join();
}

}  // namespace
}  // namespace pindle::platform
