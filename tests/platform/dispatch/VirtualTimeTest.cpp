// Delays, timed waits and timers on a virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/DispatchTimerSource.hpp"
#include "platform/foundation/Date.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::platform {
namespace {

using pindle::testing::drain;
using testing::eventually;
using Fixture = testing::VirtualTimeTest;

class Log {
  public:
    void add(std::string entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    std::vector<std::string> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

using Entries = std::vector<std::string>;

class DelayTest : public Fixture {};

TEST_F(DelayTest, NothingFiresBeforeAdvanceThenAllFireInDeadlineOrder) {
    Log log;
    auto serial = DispatchQueue::create("test.delays");
    auto global = DispatchQueue::global();
    auto main = DispatchQueue::main();
    // Sent out of deadline order, to three kinds of queue.
    global->asyncAfter(3.0, [&] { log.add("global@3"); });
    serial->asyncAfter(1.0, [&] { log.add("serial@1"); });
    main->asyncAfter(2.0, [&] { log.add("main@2"); });
    serial->asyncAfter(10.0, [&] { log.add("serial@10"); });

    MainThread::drain();
    EXPECT_TRUE(log.entries().empty());

    advance(0.5);
    EXPECT_TRUE(log.entries().empty());

    advance(2.5);  // now 3.0: a deadline exactly at the end of the window is due
    EXPECT_EQ(log.entries(), (Entries{"serial@1", "main@2", "global@3"}));

    advance(7.0);
    EXPECT_EQ(log.entries().back(), "serial@10");
}

TEST_F(DelayTest, ChainedDelaysInsideOneWindowAllFireAtTheirOwnTimes) {
    Log log;
    auto queue = DispatchQueue::create("test.chain");
    const auto start = Date::now();
    auto stamp = [&](const char* name) {
        log.add(std::string(name) + "@" + std::to_string(Date::now().timeIntervalSince(start)));
    };
    queue->asyncAfter(1.0, [&] {
        stamp("a");
        // Queued from a delayed block to another queue, which delays again.
        DispatchQueue::main()->async([&] {
            queue->asyncAfter(2.0, [&] {
                stamp("b");
                queue->asyncAfter(5.0, [&] { stamp("c"); });  // beyond the window
            });
        });
    });
    advance(4.0);
    EXPECT_EQ(log.entries(), (Entries{"a@1.000000", "b@3.000000"}));
    advance(4.0);
    EXPECT_EQ(log.entries().size(), 3u);
    EXPECT_EQ(log.entries().back(), "c@8.000000");
}

TEST_F(DelayTest, CancelledWorkItemDoesNotRunWhenItsDeadlineComes) {
    auto queue = DispatchQueue::create("test.cancel");
    std::atomic<int> ran{0};
    auto item = DispatchWorkItem::create([&] { ran.fetch_add(1); });
    queue->asyncAfter(1.0, item);
    item->cancel();
    advance(2.0);
    EXPECT_EQ(ran.load(), 0);
}

TEST_F(DelayTest, DateNowFollowsTheVirtualClock) {
    const auto before = Date::now();
    const auto later = before.addingTimeInterval(90);
    EXPECT_DOUBLE_EQ(later.timeIntervalSinceNow(), 90.0);
    advance(90.0);
    EXPECT_DOUBLE_EQ(Date::now().timeIntervalSince(before), 90.0);
    EXPECT_DOUBLE_EQ(later.timeIntervalSinceNow(), 0.0);
}

class TimedWaitTest : public Fixture {};

TEST_F(TimedWaitTest, SemaphoreWaitTimesOutOnlyWhenVirtualDeadlinePasses) {
    DispatchSemaphore semaphore(0);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = semaphore.wait(DispatchTime::after(5.0)) ? 1 : 0; });
    // The waiter may not have started waiting yet; advancing short of the deadline must
    // leave it blocked either way.
    advance(4.9);
    EXPECT_FALSE(MainThread::runUntil([&] { return result.load() != -1; }, 0.05));
    // Once it waits, moving past its deadline wakes it with a time-out. A waiter that never
    // wakes is let go with a signal, so the test fails instead of hanging.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (result.load() == -1 && std::chrono::steady_clock::now() < giveUp) {
        advance(1.0);
        MainThread::runUntil([&] { return result.load() != -1; }, 0.01);
    }
    if (result.load() == -1)
        semaphore.signal();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
}

TEST_F(TimedWaitTest, SignalBeforeDeadlineWins) {
    DispatchSemaphore semaphore(0);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = semaphore.wait(DispatchTime::after(5.0)) ? 1 : 0; });
    semaphore.signal();
    waiter.join();
    EXPECT_EQ(result.load(), 1);
    advance(10.0);  // the stale deadline delivery finds nobody to wake
    EXPECT_FALSE(semaphore.wait(DispatchTime::now()));
}

TEST_F(TimedWaitTest, DelayedBlockWaitingOnADeadlineInsideTheWindowWakesDuringAdvance) {
    // A block due at 1 s waits until 3 s; advance(5) must step past that deadline while the
    // block is parked, and see what it queues after waking.
    auto queue = DispatchQueue::create("test.parked");
    DispatchSemaphore never(0);
    Log log;
    queue->asyncAfter(1.0, [&] {
        const bool signalled = never.wait(DispatchTime::after(2.0));
        log.add(signalled ? "signalled" : "timed out");
        queue->asyncAfter(1.0, [&] { log.add("after"); });
    });
    advance(5.0);
    EXPECT_EQ(log.entries(), (Entries{"timed out", "after"}));
}

TEST_F(TimedWaitTest, GroupWaitAndNotify) {
    auto group = DispatchGroup::create();
    auto queue = DispatchQueue::create("test.group");
    Log log;
    group->notify(DispatchQueue::main(), [&] { log.add("empty at once"); });
    group->enter();
    group->enter();
    group->notify(DispatchQueue::main(), [&] { log.add("notified"); });
    queue->asyncAfter(1.0, [&] { group->leave(); });
    queue->asyncAfter(2.0, [&] { group->leave(); });

    EXPECT_FALSE(group->wait(DispatchTime::now()));
    MainThread::drain();
    EXPECT_EQ(log.entries(), (Entries{"empty at once"}));

    advance(1.5);
    MainThread::drain();
    EXPECT_EQ(log.entries().size(), 1u);

    advance(1.0);
    MainThread::drain();
    EXPECT_EQ(log.entries(), (Entries{"empty at once", "notified"}));
    EXPECT_TRUE(group->wait(DispatchTime::now()));
}

TEST(DispatchGroupDeathTest, UnmatchedLeaveAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(DispatchGroup::create()->leave(), "without a matching enter");
}

class TimerTest : public Fixture {
  protected:
    DispatchTimerSourcePtr makeTimer(const char* name) {
        auto timer = DispatchTimerSource::create(queue_);
        timer->setEventHandler([this, name] { log_.add(name); });
        return timer;
    }
    std::size_t fired() const { return log_.entries().size(); }

    std::shared_ptr<DispatchQueue> queue_ = DispatchQueue::create("test.timers");
    Log log_;
};

TEST_F(TimerTest, OneShotFiresOnceAndOnlyAfterResume) {
    auto timer = makeTimer("once");
    timer->schedule(DispatchTime::after(2.0));
    advance(5.0);
    EXPECT_EQ(fired(), 0u);  // a new timer starts suspended, and the missed firing waits
    timer->resume();
    ASSERT_TRUE(drain(queue_));
    EXPECT_EQ(fired(), 1u);
    advance(10.0);
    EXPECT_EQ(fired(), 1u);
}

TEST_F(TimerTest, RepeatingTimerFiresOncePerPeriodPassed) {
    auto timer = makeTimer("tick");
    timer->schedule(DispatchTime::after(1.0), 1.0);
    timer->resume();
    const struct {
        double advanceBy;
        std::size_t total;
    } steps[] = {{0.5, 0}, {0.5, 1}, {3.0, 4}, {0.25, 4}, {0.75, 5}, {10.0, 15}};
    for (const auto& step : steps) {
        advance(step.advanceBy);
        EXPECT_EQ(fired(), step.total) << "after advancing " << step.advanceBy;
    }
}

TEST_F(TimerTest, SuspendHoldsFiringsAndResumeDeliversTheMissedOne) {
    auto timer = makeTimer("tick");
    timer->schedule(DispatchTime::after(1.0), 1.0);
    timer->resume();
    advance(1.0);
    EXPECT_EQ(fired(), 1u);
    timer->suspend();
    advance(5.0);
    EXPECT_EQ(fired(), 1u);
    timer->resume();  // one coalesced firing for the periods missed
    ASSERT_TRUE(drain(queue_));
    EXPECT_EQ(fired(), 2u);
    advance(1.0);
    EXPECT_EQ(fired(), 3u);
}

TEST_F(TimerTest, CancelStopsFiringAndRunsTheCancelHandlerOnce) {
    auto timer = makeTimer("tick");
    std::atomic<int> cancelHandlerRuns{0};
    std::string cancelLabel;
    timer->setCancelHandler([&] {
        cancelHandlerRuns.fetch_add(1);
        cancelLabel = DispatchQueue::currentLabel();
    });
    timer->schedule(DispatchTime::after(1.0), 1.0);
    timer->resume();
    advance(2.0);
    timer->cancel();
    timer->cancel();
    advance(5.0);
    ASSERT_TRUE(drain(queue_));
    EXPECT_EQ(fired(), 2u);
    EXPECT_EQ(cancelHandlerRuns.load(), 1);
    EXPECT_EQ(cancelLabel, "test.timers");
    EXPECT_TRUE(timer->isCancelled());
}

TEST_F(TimerTest, RescheduleReplacesTheEarlierDeadline) {
    auto timer = makeTimer("tick");
    timer->schedule(DispatchTime::after(1.0));
    timer->resume();
    timer->schedule(DispatchTime::after(3.0));
    advance(2.0);
    EXPECT_EQ(fired(), 0u);
    advance(1.0);
    EXPECT_EQ(fired(), 1u);
}

TEST_F(TimerTest, DroppedTimerStopsFiring) {
    auto timer = makeTimer("tick");
    timer->schedule(DispatchTime::after(1.0), 1.0);
    timer->resume();
    advance(1.0);
    timer.reset();
    advance(5.0);
    EXPECT_EQ(fired(), 1u);
}

}  // namespace
}  // namespace pindle::platform
