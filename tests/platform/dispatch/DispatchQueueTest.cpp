#include "platform/dispatch/DispatchQueue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/SpinUntil.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::platform {
namespace {

using pindle::testing::drain;
using testing::eventually;

// Records values from any thread.
class Recorder {
  public:
    void add(int value) {
        std::lock_guard lock(mutex_);
        values_.push_back(value);
    }
    std::vector<int> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return values_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<int> values_;
};

std::vector<int> range(int count) {
    std::vector<int> values;
    for (int i = 0; i < count; ++i) {
        values.push_back(i);
    }
    return values;
}

TEST(DispatchQueueTest, SerialQueueRunsBlocksOneAtATimeInOrder) {
    auto queue = DispatchQueue::create("test.serial");
    Recorder order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    constexpr int kBlocks = 200;
    for (int i = 0; i < kBlocks; ++i) {
        queue->async([&, i] {
            if (inside.fetch_add(1) != 0) {
                overlapped = true;
            }
            order.add(i);
            inside.fetch_sub(1);
        });
    }
    ASSERT_TRUE(drain(queue));
    EXPECT_EQ(order.values(), range(kBlocks));
    EXPECT_FALSE(overlapped);
}

TEST(DispatchQueueTest, ConcurrentQueueRunsBlocksSideBySide) {
    // Every block waits until all have started: only a queue that runs them together
    // gets through.
    auto queue = DispatchQueue::create("test.concurrent", DispatchQueue::Kind::concurrent);
    constexpr int kBlocks = 8;
    // Shared with the blocks, which a queue that fails the test may still be running.
    struct Counts {
        std::atomic<int> started{0};
        std::atomic<int> done{0};
    };
    auto counts = std::make_shared<Counts>();
    for (int i = 0; i < kBlocks; ++i) {
        queue->async([counts] {
            counts->started.fetch_add(1);
            if (pindle::testing::spinUntil([&] { return counts->started.load() >= kBlocks; }))
                counts->done.fetch_add(1);
        });
    }
    EXPECT_TRUE(eventually([&] { return counts->done.load() == kBlocks; }));
}

TEST(DispatchQueueTest, BarrierWaitsForEarlierBlocksAndHoldsBackLaterOnes) {
    auto queue = DispatchQueue::create("test.barrier", DispatchQueue::Kind::concurrent);
    DispatchSemaphore release(0);
    std::atomic<int> earlyDone{0};
    std::atomic<int> earlySeenByBarrier{-1};
    std::atomic<bool> barrierDone{false};
    std::atomic<bool> lateSawBarrier{true};
    for (int i = 0; i < 3; ++i) {
        queue->async([&] {
            release.wait();
            earlyDone.fetch_add(1);
        });
    }
    queue->asyncBarrier([&] {
        earlySeenByBarrier = earlyDone.load();
        barrierDone = true;
    });
    queue->async([&] { lateSawBarrier = barrierDone.load(); });
    for (int i = 0; i < 3; ++i) {
        release.signal();
    }
    queue->syncBarrier([] {});
    EXPECT_EQ(earlySeenByBarrier.load(), 3);
    EXPECT_TRUE(lateSawBarrier.load());
}

TEST(DispatchQueueTest, SyncRunsOnCallingThreadAfterQueuedWorkAndReturnsResult) {
    auto queue = DispatchQueue::create("test.sync");
    Recorder order;
    DispatchSemaphore gate(0);
    queue->async([&] {
        gate.wait();
        order.add(1);
    });
    std::thread opener([&] { gate.signal(); });
    const auto caller = std::this_thread::get_id();
    const auto ranOn = queue->sync([&] {
        order.add(2);
        return std::this_thread::get_id();
    });
    opener.join();
    EXPECT_EQ(ranOn, caller);
    EXPECT_EQ(order.values(), (std::vector<int>{1, 2}));
}

TEST(DispatchQueueTest, SyncOntoTheSerialQueueItIsRunningOnAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto queue = DispatchQueue::create("test.reentrant");
            queue->sync([&] { queue->sync([] {}); });
        },
        "\"test.reentrant\".*wait for itself");
}

TEST(DispatchQueueTest, SyncOntoAnotherQueueFromInsideABlockIsFine) {
    auto outer = DispatchQueue::create("test.outer");
    auto inner = DispatchQueue::create("test.inner");
    std::string innerLabel;
    std::string outerLabelAfter;
    outer->sync([&] {
        inner->sync([&] { innerLabel = DispatchQueue::currentLabel(); });
        outerLabelAfter = DispatchQueue::currentLabel();
    });
    EXPECT_EQ(innerLabel, "test.inner");
    EXPECT_EQ(outerLabelAfter, "test.outer");
}

TEST(DispatchQueueTest, GlobalQueuesCarryThePlatformLabels) {
    const struct {
        DispatchQoS qos;
        const char* label;
    } cases[] = {
        {DispatchQoS::userInteractive, "com.apple.root.high-priority"},
        {DispatchQoS::userInitiated, "com.apple.root.default-priority"},
        {DispatchQoS::defaultQoS, "com.apple.root.default-priority"},
        {DispatchQoS::utility, "com.apple.root.low-priority"},
        {DispatchQoS::background, "com.apple.root.background-priority"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto queue = DispatchQueue::global(c.qos);
        EXPECT_EQ(queue->label(), c.label);
        EXPECT_FALSE(queue->isSerial());
        // Shared with the block, which a queue that fails the test may run later.
        auto seen = std::make_shared<std::promise<std::string>>();
        auto label = seen->get_future();
        queue->async([seen] { seen->set_value(DispatchQueue::currentLabel()); });
        ASSERT_EQ(label.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(label.get(), c.label);
    }
    EXPECT_EQ(DispatchQueue::global(DispatchQoS::userInitiated), DispatchQueue::global());
}

TEST(DispatchQueueTest, CurrentLabelOffAnyQueueIsEmpty) {
    std::string label = "unset";
    std::thread([&] { label = DispatchQueue::currentLabel(); }).join();
    EXPECT_EQ(label, "");
}

TEST(DispatchQueueTest, QueueSpecificValuesAreSeenOnlyFromTheirQueue) {
    static const DispatchSpecificKey<std::string> kOwner;
    static const DispatchSpecificKey<int> kOther;
    auto mine = DispatchQueue::create("test.mine");
    auto theirs = DispatchQueue::create("test.theirs");
    mine->setSpecific(kOwner, std::optional<std::string>("mine"));

    EXPECT_EQ(mine->getSpecific(kOwner), "mine");
    EXPECT_EQ(theirs->getSpecific(kOwner), std::nullopt);
    EXPECT_EQ(mine->getSpecific(kOther), std::nullopt);

    EXPECT_EQ(mine->sync([] { return DispatchQueue::getCurrentSpecific(kOwner); }), "mine");
    EXPECT_EQ(theirs->sync([] { return DispatchQueue::getCurrentSpecific(kOwner); }), std::nullopt);
    // Nested sync: the innermost queue answers.
    EXPECT_EQ(mine->sync([&] {
        return theirs->sync([] { return DispatchQueue::getCurrentSpecific(kOwner); });
    }),
              std::nullopt);

    mine->setSpecific(kOwner, std::optional<std::string>());
    EXPECT_EQ(mine->getSpecific(kOwner), std::nullopt);
}

TEST(DispatchQueueTest, SuspendedQueueHoldsBackWorkUntilResumed) {
    auto queue = DispatchQueue::create("test.suspend");
    queue->suspend();
    queue->suspend();
    std::atomic<int> ran{0};
    queue->async([&] { ran.fetch_add(1); });
    queue->resume();
    // Still suspended once: a sync turn must not come either.
    std::atomic<bool> syncDone{false};
    std::thread waiter([&] {
        queue->sync([] {});
        syncDone = true;
    });
    EXPECT_FALSE(MainThread::runUntil([&] { return ran.load() > 0 || syncDone.load(); }, 0.05));
    queue->resume();
    waiter.join();
    EXPECT_EQ(ran.load(), 1);
}

TEST(DispatchQueueTest, BlockedWorkersDoNotStarveLaterWork) {
    // Many blocks park a worker each on a semaphore that only a block queued after all of
    // them signals: the pool must grow past them.
    constexpr int blockers = 64;
    auto queue = DispatchQueue::global();
    DispatchSemaphore gate(0);
    auto group = DispatchGroup::create();
    for (int i = 0; i < blockers; ++i) {
        queue->async(group, [&] { gate.wait(); });
    }
    queue->async([&] {
        for (int i = 0; i < blockers; ++i) {
            gate.signal();
        }
    });
    EXPECT_TRUE(group->wait(DispatchTime::after(testing::patience)));
}

TEST(DispatchQueueTest, BlockThatSuspendsItsQueueHoldsBackTheBlocksQueuedBehindIt) {
    // Everything is queued before the first block runs, so a queue that hands its blocks
    // out in batches has the later ones in hand when the first suspends it.
    auto queue = DispatchQueue::create("test.self-suspend");
    queue->suspend();
    Recorder order;
    std::atomic<int> ran{0};
    constexpr int kBlocks = 10;
    for (int i = 0; i < kBlocks; ++i) {
        queue->async([&, i] {
            order.add(i);
            ran.fetch_add(1);
            if (i == 2) {
                queue->suspend();
            }
        });
    }
    queue->resume();
    ASSERT_TRUE(eventually([&] { return ran.load() == 3; }));
    EXPECT_FALSE(MainThread::runUntil([&] { return ran.load() > 3; }, 0.05));
    queue->resume();
    ASSERT_TRUE(drain(queue));
    EXPECT_EQ(order.values(), range(kBlocks));
}

TEST(DispatchQueueTest, SerialQueueReleasesEachBlocksStateBeforeTheNextStarts) {
    // A block's captures (a connection, a file, a lock holder) are gone by the time the next
    // block of the same queue runs, whether or not the two run back to back on one thread.
    auto queue = DispatchQueue::create("test.release");
    queue->suspend();
    struct Tracked {
        std::atomic<int>* alive;
        explicit Tracked(std::atomic<int>* count) : alive(count) { alive->fetch_add(1); }
        ~Tracked() { alive->fetch_sub(1); }
    };
    std::atomic<int> alive{0};
    constexpr int kBlocks = DispatchQueue::kBatchLimit * 2 + 1;
    std::vector<int> aliveSeen(kBlocks, -1);
    std::vector<std::string> labels(kBlocks);
    for (int i = 0; i < kBlocks; ++i) {
        auto tracked = std::make_shared<Tracked>(&alive);
        queue->async([&, i, tracked] {
            aliveSeen[i] = alive.load();
            labels[i] = DispatchQueue::currentLabel();
        });
    }
    queue->resume();
    ASSERT_TRUE(drain(queue));
    EXPECT_EQ(alive.load(), 0);
    for (int i = 0; i < kBlocks; ++i) {
        SCOPED_TRACE(i);
        // Its own capture and those of the blocks still to come; none of one already run.
        EXPECT_EQ(aliveSeen[i], kBlocks - i);
        EXPECT_EQ(labels[i], "test.release");
    }
}

TEST(DispatchQueueTest, ParkedWorkersDoNotStarveWorkQueuedFromAnywhere) {
    // Blocks on many serial queues each park a worker until a block queued after all of
    // them runs. Whether the burst comes from outside the pool or from a block on it, the
    // pool must find a thread for the last one.
    constexpr int blockers = 32;
    const struct {
        const char* name;
        bool fromPool;
    } cases[] = {{"from the test thread", false}, {"from a pool block", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto gate = std::make_shared<DispatchSemaphore>(0);
        auto group = DispatchGroup::create();
        std::vector<DispatchQueuePtr> queues;
        for (int i = 0; i < blockers + 1; ++i) {
            queues.push_back(DispatchQueue::create("test.parked." + std::to_string(i)));
        }
        auto burst = [queues, gate, group] {
            for (int i = 0; i < blockers; ++i) {
                queues[i]->async(group, [gate] { gate->wait(); });
            }
            queues[blockers]->async([gate] {
                for (int i = 0; i < blockers; ++i) {
                    gate->signal();
                }
            });
        };
        if (c.fromPool) {
            DispatchQueue::global()->async(burst);
        } else {
            burst();
        }
        EXPECT_TRUE(group->wait(DispatchTime::after(testing::patience)));
    }
}

TEST(DispatchQueueTest, GlobalQueueTreatsABarrierAsAPlainBlock) {
    // A global queue is shared by the whole process; a barrier there would hold everyone
    // back, so it runs beside the blocks before it.
    auto queue = DispatchQueue::global();
    auto release = std::make_shared<DispatchSemaphore>(0);
    auto parked = DispatchGroup::create();
    queue->async(parked, [release] { release->wait(); });
    queue->syncBarrier([&] { release->signal(); });
    EXPECT_TRUE(parked->wait(DispatchTime::after(testing::patience)));

    auto second = std::make_shared<DispatchSemaphore>(0);
    queue->async(parked, [second] { second->wait(); });
    queue->asyncBarrier([second] { second->signal(); });
    EXPECT_TRUE(parked->wait(DispatchTime::after(testing::patience)));
}

TEST(DispatchQueueTest, WorkItemCancelledBeforeItRunsDoesNothing) {
    auto queue = DispatchQueue::create("test.items");
    queue->suspend();
    std::atomic<int> ran{0};
    auto kept = DispatchWorkItem::create([&] { ran.fetch_add(1); });
    auto cancelled = DispatchWorkItem::create([&] { ran.fetch_add(10); });
    queue->async(kept);
    queue->async(cancelled);
    cancelled->cancel();
    queue->resume();
    ASSERT_TRUE(drain(queue));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_TRUE(cancelled->isCancelled());
    EXPECT_FALSE(kept->isCancelled());
}

}  // namespace
}  // namespace pindle::platform
