#include "PindleCore/caches/PNThroughputManager.hpp"

#include <gtest/gtest.h>

#include "platform/dispatch/Clock.hpp"

namespace pindle {
namespace {

using platform::Clock;
using platform::VirtualClock;

class PNThroughputManagerTest : public ::testing::Test {
  protected:
    void SetUp() override { Clock::setCurrent(clock_); }
    void TearDown() override { Clock::setCurrent(nullptr); }

    // Puts `count` samples of `bits`, `spacing` seconds apart (the first at the current time).
    void feed(PNThroughputManagerChannel& channel, int count, double bits, double spacing) {
        for (int i = 0; i < count; ++i) {
            if (i)
                clock_->advance(spacing);
            channel.put(bits);
        }
    }

    std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
    std::shared_ptr<PNThroughputManager> manager_ = PNThroughputManager::make();
};

TEST_F(PNThroughputManagerTest, DefaultHoldsUntilTheWindowHasMoreThanTwentySamples) {
    auto channel = manager_->channel();
    feed(*channel, 20, 1000.0, 0.05);
    EXPECT_EQ(manager_->bandwidth(), PNThroughputManager::defaultValue);
    EXPECT_EQ(manager_->resolution(), PNVideoResolution::r540p);

    // The 21st sample replaces the default with the window average outright:
    // 21 samples of 100,000 bits over 1.0 s.
    clock_->advance(0.05);
    channel->put(1000.0);
    EXPECT_DOUBLE_EQ(manager_->bandwidth(), 21 * 1000.0 / 1.0);

    // The 22nd moves the estimate a tenth of the way to the new window average.
    const double before = manager_->bandwidth();
    clock_->advance(0.05);
    channel->put(1000.0);
    const double average = 22 * 1000.0 / 1.05;
    EXPECT_NEAR(manager_->bandwidth(), before + (average - before) / 10.0, 1e-6);
}

TEST_F(PNThroughputManagerTest, SamplesExactlyTwoSecondsOldLeaveTheWindow) {
    auto channel = manager_->channel();
    channel->put(1e9);  // would dominate any window it stayed in
    clock_->advance(2.0);
    feed(*channel, 21, 100'000.0, 0.05);
    EXPECT_DOUBLE_EQ(manager_->bandwidth(), 21 * 100'000.0 / 1.0);
}

TEST_F(PNThroughputManagerTest, ResolutionBandsAreStrictlyBelowTheEstimate) {
    struct Case {
        double estimate;
        PNVideoResolution resolution;
    };
    const Case cases[] = {
        {5'000'000.0, PNVideoResolution::r720p}, {4'096'000.0, PNVideoResolution::r540p},
        {3'000'000.0, PNVideoResolution::r540p}, {2'048'000.0, PNVideoResolution::r360p},
        {1'500'000.0, PNVideoResolution::r360p}, {1'024'000.0, PNVideoResolution::r540p},
        {500'000.0, PNVideoResolution::r540p},
    };
    for (const Case& c : cases) {
        auto manager = PNThroughputManager::make();
        auto channel = manager->channel();
        // 21 samples spread over exactly one second average to 21 * bits per second.
        feed(*channel, 21, c.estimate / 21.0, 0.05);
        ASSERT_DOUBLE_EQ(manager->bandwidth(), c.estimate);
        EXPECT_EQ(manager->resolution(), c.resolution) << c.estimate;
    }
}

TEST_F(PNThroughputManagerTest, ClosedChannelsDropSamplesAndChannelsAreDistinct) {
    auto channel = manager_->channel();
    manager_->closeChannel(channel);
    EXPECT_TRUE(channel->closed());
    feed(*channel, 30, 1e6, 0.01);
    EXPECT_EQ(manager_->bandwidth(), PNThroughputManager::defaultValue);

    auto other = manager_->channel();
    EXPECT_NE(channel->uid(), other->uid());
    EXPECT_FALSE(*channel == *other);
}

TEST_F(PNThroughputManagerTest, SamplesAtOneInstantDoNotTrap) {
    auto channel = manager_->channel();
    feed(*channel, 30, 1000.0, 0.0);
    EXPECT_EQ(manager_->bandwidth(), PNThroughputManager::defaultValue);
}

}  // namespace
}  // namespace pindle
