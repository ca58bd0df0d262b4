// Installing and removing the process clock.
#include "platform/dispatch/Clock.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/foundation/Date.hpp"

namespace pindle::platform {
namespace {

// Whatever a test installs, the next test starts on the system clock.
class ClockTest : public ::testing::Test {
  protected:
    void TearDown() override { Clock::setCurrent(nullptr); }
};

TEST_F(ClockTest, InstalledClockIsCurrentUntilTheSystemClockComesBack) {
    const auto system = Clock::current();
    ASSERT_FALSE(system->isVirtual());

    // The ways a test puts the system clock back: nullptr, the handle it saved, a new one.
    const std::vector<std::shared_ptr<Clock>> restorers{nullptr, system,
                                                        std::make_shared<SystemClock>()};
    for (std::size_t i = 0; i < restorers.size(); ++i) {
        SCOPED_TRACE(i);
        auto clock = std::make_shared<VirtualClock>();
        std::weak_ptr<VirtualClock> watched = clock;
        Clock::setCurrent(clock);
        EXPECT_EQ(Clock::current(), clock);
        EXPECT_EQ(Date::now(), clock->now());

        clock.reset();
        Clock::setCurrent(restorers[i]);
        EXPECT_FALSE(Clock::current()->isVirtual());
        // A removed clock is let go, with whatever its pending deliveries hold.
        EXPECT_TRUE(watched.expired());
    }
}

TEST_F(ClockTest, ReadersOnOtherThreadsSeeOneClockOrTheOtherWhileClocksAreSwapped) {
    // A virtual clock's uptime stands still far from the system's, so each reading tells
    // which clock answered; a reader of a clock freed under it fails under the sanitizers.
    const auto frozen = VirtualClock().uptime();
    const auto systemBefore = Clock::current()->uptime();
    ASSERT_NE(systemBefore, frozen);

    std::atomic<bool> stop{false};
    std::atomic<int> strayReadings{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const auto uptime = Clock::current()->uptime();
                if (uptime != frozen && uptime < systemBefore) {
                    ++strayReadings;
                }
                Date::now();
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        Clock::setCurrent(i % 2 == 0 ? std::make_shared<VirtualClock>() : nullptr);
    }
    stop = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(strayReadings.load(), 0);
}

}  // namespace
}  // namespace pindle::platform
