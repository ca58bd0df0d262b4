#include "platform/dispatch/OperationQueue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/SpinUntil.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::platform {
namespace {

using pindle::testing::waitUntilIdle;
using testing::eventually;
using Entries = std::vector<std::string>;

// An asynchronous operation in the shape the SDK's own use: pending → executing → finished,
// each transition one atomic step announced will-new, will-old, did-old, did-new. main()
// only starts; the test finishes it.
class ManualAsyncOperation : public Operation {
  public:
    enum class State { pending, executing, finished };

    bool isAsynchronous() const override { return true; }
    bool isExecuting() const override { return state() == State::executing; }
    bool isFinished() const override { return state() == State::finished; }
    void main() override {
        started_ = true;
        moveTo(State::executing);
    }
    void cancel() override {
        Operation::cancel();
        moveTo(State::finished);
    }
    void finish() { moveTo(State::finished); }
    bool started() const { return started_.load(); }

  private:
    static const char* keyOf(State state) {
        switch (state) {
            case State::pending:
                return "isPending";
            case State::executing:
                return "isExecuting";
            case State::finished:
                return "isFinished";
        }
        return "";
    }
    State state() const {
        std::lock_guard lock(mutex_);
        return state_;
    }
    bool moveTo(State next) {
        std::lock_guard transition(transitionMutex_);
        const State old = state();
        if (old == State::finished || old == next) {
            return false;
        }
        willChangeValueForKey(keyOf(next));
        willChangeValueForKey(keyOf(old));
        {
            std::lock_guard lock(mutex_);
            state_ = next;
        }
        didChangeValueForKey(keyOf(old));
        didChangeValueForKey(keyOf(next));
        return true;
    }

    std::mutex transitionMutex_;  // one transition at a time, announcements included
    mutable std::mutex mutex_;
    State state_ = State::pending;  // guarded by mutex_
    std::atomic<bool> started_{false};
};

// A synchronous operation that is not ready until the test says so, and records its start.
class HeldBackOperation : public Operation {
  public:
    HeldBackOperation(std::string tag, std::function<void(const std::string&)> record)
        : tag_(std::move(tag)), record_(std::move(record)) {}
    bool isReady() const override { return ready_.load(); }
    void main() override { record_(tag_); }
    void makeReady() {
        willChangeValueForKey("isReady");
        ready_.store(true);
        didChangeValueForKey("isReady");
    }

  private:
    const std::string tag_;
    const std::function<void(const std::string&)> record_;
    std::atomic<bool> ready_{false};
};

// The order operations ran in, from any thread.
class RunOrder {
  public:
    std::function<void(const std::string&)> recorder() {
        return [this](const std::string& tag) {
            std::lock_guard lock(mutex_);
            tags_.push_back(tag);
        };
    }
    Entries tags() const {
        std::lock_guard lock(mutex_);
        return tags_;
    }

  private:
    mutable std::mutex mutex_;
    Entries tags_;  // guarded by mutex_
};

class Announcements {
  public:
    void observe(Operation& operation) {
        for (const char* key : {"isCancelled", "isExecuting", "isFinished", "isPending"}) {
            operation.observe(
                key, static_cast<unsigned>(KVOOption::prior), [this](const KVOChange& change) {
                    std::lock_guard lock(mutex_);
                    entries_.push_back((change.isPrior ? "will " : "did ") + change.keyPath);
                });
        }
    }
    Entries entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

  private:
    mutable std::mutex mutex_;
    Entries entries_;
};

TEST(OperationTest, SynchronousStartAnnouncesExecutingThenFinishedAndRunsCompletion) {
    auto operation = std::make_shared<BlockOperation>([] {});
    Announcements seen;
    seen.observe(*operation);
    bool completed = false;
    operation->setCompletionBlock([&] { completed = operation->isFinished(); });
    operation->start();
    EXPECT_EQ(seen.entries(), (Entries{"will isExecuting", "did isExecuting", "will isExecuting",
                                       "will isFinished", "did isExecuting", "did isFinished"}));
    EXPECT_TRUE(operation->isFinished());
    EXPECT_FALSE(operation->isExecuting());
    EXPECT_TRUE(completed);
}

TEST(OperationTest, CancelledBeforeStartFinishesWithoutRunningMain) {
    bool ran = false;
    auto operation = std::make_shared<BlockOperation>([&] { ran = true; });
    Announcements seen;
    seen.observe(*operation);
    operation->cancel();
    operation->start();
    EXPECT_FALSE(ran);
    EXPECT_TRUE(operation->isFinished());
    EXPECT_EQ(seen.entries(), (Entries{"will isCancelled", "did isCancelled", "will isFinished",
                                       "did isFinished"}));
}

TEST(OperationTest, ObserversReadTheStateTheyAreToldAbout) {
    auto operation = std::make_shared<BlockOperation>([] {});
    std::vector<bool> finished;
    auto token = operation->observe(
        "isFinished", KVOOption::initial | KVOOption::newValue,
        [&](const KVOChange& change) { finished.push_back(*change.newValue.asBool()); });
    int heard = 0;
    operation->removeObservation(
        operation->observe("isExecuting", 0, [&](const KVOChange&) { ++heard; }));
    operation->start();
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(finished, (std::vector<bool>{false, true}));
}

TEST(OperationQueueTest, AsynchronousOperationHoldsItsSlotUntilItAnnouncesFinished) {
    auto queue = OperationQueue::create("test.slots");
    queue->setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<ManualAsyncOperation>();
    auto second = std::make_shared<ManualAsyncOperation>();
    queue->addOperation(first);
    queue->addOperation(second);

    ASSERT_TRUE(eventually([&] { return first->isExecuting(); }));
    // first's start() has long returned; its slot is still taken.
    EXPECT_FALSE(MainThread::runUntil([&] { return second->started(); }, 0.05));
    EXPECT_EQ(queue->operationCount(), 2u);

    first->finish();
    EXPECT_TRUE(eventually([&] { return second->isExecuting(); }));
    EXPECT_EQ(queue->operations(), (std::vector<OperationPtr>{second}));
    second->finish();
    ASSERT_TRUE(waitUntilIdle(queue));
    EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueueTest, OperationCancelledOrFinishedWhilePendingIsDroppedWithoutRunning) {
    auto queue = OperationQueue::create("test.drop");
    queue->setSuspended(true);
    std::atomic<int> ran{0};
    auto plain = std::make_shared<BlockOperation>([&] { ran.fetch_add(1); });
    auto async = std::make_shared<ManualAsyncOperation>();  // cancel() finishes it
    auto kept = std::make_shared<BlockOperation>([&] { ran.fetch_add(10); });
    bool plainCompleted = false;
    plain->setCompletionBlock([&] { plainCompleted = true; });
    Announcements asyncSeen;
    asyncSeen.observe(*async);
    queue->addOperation(plain);
    queue->addOperation(async);
    queue->addOperation(kept);

    plain->cancel();
    async->cancel();
    EXPECT_EQ(queue->operations(), (std::vector<OperationPtr>{kept}));
    EXPECT_TRUE(plainCompleted);  // dropped, but its completion still reports the end
    queue->setSuspended(false);
    ASSERT_TRUE(waitUntilIdle(queue));

    EXPECT_EQ(ran.load(), 10);
    EXPECT_FALSE(async->started());
    // The queue adds nothing of its own to an asynchronous operation's announcements.
    EXPECT_EQ(asyncSeen.entries(),
              (Entries{"will isCancelled", "did isCancelled", "will isFinished", "will isPending",
                       "did isPending", "did isFinished"}));
    EXPECT_TRUE(plain->isFinished());
}

TEST(OperationQueueTest, OperationsSnapshotKeepsQueueOrderAndLeavesOutEndedOnes) {
    auto queue = OperationQueue::create("test.snapshot");
    queue->setMaxConcurrentOperationCount(2);
    std::vector<std::shared_ptr<ManualAsyncOperation>> ops;
    for (int i = 0; i < 5; ++i) {
        ops.push_back(std::make_shared<ManualAsyncOperation>());
        ops.back()->setName("op" + std::to_string(i));
        queue->addOperation(ops.back());
    }
    ASSERT_TRUE(eventually([&] { return ops[0]->isExecuting() && ops[1]->isExecuting(); }));
    ops[1]->finish();
    ASSERT_TRUE(eventually([&] { return ops[2]->isExecuting(); }));

    std::vector<std::string> names;
    for (const auto& operation : queue->operations()) {
        names.push_back(operation->name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"op0", "op2", "op3", "op4"}));

    queue->cancelAllOperations();
    ASSERT_TRUE(waitUntilIdle(queue));
    EXPECT_FALSE(ops[3]->started());
    EXPECT_FALSE(ops[4]->started());
}

TEST(OperationQueueTest, UnlimitedQueueRunsBlocksConcurrently) {
    auto queue = OperationQueue::create();
    EXPECT_EQ(queue->maxConcurrentOperationCount(),
              OperationQueue::kDefaultMaxConcurrentOperationCount);
    constexpr int kBlocks = 6;
    std::atomic<int> started{0};
    std::atomic<int> sawAll{0};
    for (int i = 0; i < kBlocks; ++i) {
        queue->addOperationWithBlock([&] {
            started.fetch_add(1);
            if (pindle::testing::spinUntil([&] { return started.load() >= kBlocks; }))
                sawAll.fetch_add(1);
        });
    }
    ASSERT_TRUE(waitUntilIdle(queue));
    EXPECT_EQ(sawAll.load(), kBlocks);
}

TEST(OperationQueueTest, SerialQueueRunsSynchronousOperationsInOrder) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    std::mutex mutex;
    std::vector<int> order;
    for (int i = 0; i < 50; ++i) {
        queue->async([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
    }
    ASSERT_TRUE(waitUntilIdle(queue));
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

// An operation that is not ready waits aside without holding a slot, so those behind it run;
// once it announces it is ready it takes its place in the order added again.
TEST(OperationQueueTest, OperationsWaitForReadinessWithoutHoldingASlotAndKeepTheirPlace) {
    for (const bool readyInTime : {true, false}) {
        SCOPED_TRACE(readyInTime ? "ready while the later ones wait" : "ready after they ran");
        auto queue = OperationQueue::create("test.readiness");
        queue->setMaxConcurrentOperationCount(2);
        RunOrder order;
        auto first = std::make_shared<ManualAsyncOperation>();
        auto second = std::make_shared<ManualAsyncOperation>();
        auto a = std::make_shared<HeldBackOperation>("a", order.recorder());
        auto b = std::make_shared<BlockOperation>([record = order.recorder()] { record("b"); });
        auto c = std::make_shared<BlockOperation>([record = order.recorder()] { record("c"); });
        queue->addOperation(first);
        ASSERT_TRUE(eventually([&] { return first->isExecuting(); }));
        queue->addOperation(a);  // looked at in the free slot, and set aside
        queue->addOperation(second);
        ASSERT_TRUE(eventually([&] { return second->isExecuting(); }));
        queue->addOperation(b);
        queue->addOperation(c);
        EXPECT_EQ(queue->operations(), (std::vector<OperationPtr>{first, a, second, b, c}));
        if (readyInTime)
            a->makeReady();
        first->finish();
        if (!readyInTime) {
            ASSERT_TRUE(eventually([&] { return order.tags().size() == 2; }));
            EXPECT_EQ(queue->operations(), (std::vector<OperationPtr>{a, second}));
            a->makeReady();
        }
        ASSERT_TRUE(eventually([&] { return order.tags().size() == 3; }));
        second->finish();
        ASSERT_TRUE(waitUntilIdle(queue));
        EXPECT_EQ(order.tags(), readyInTime ? (Entries{"a", "b", "c"}) : (Entries{"b", "c", "a"}));
    }
}

TEST(OperationQueueTest, CancellingAnOperationThatIsNotReadyDropsItAtOnce) {
    auto queue = OperationQueue::create("test.readiness.cancel");
    queue->setMaxConcurrentOperationCount(1);
    RunOrder order;
    auto held = std::make_shared<HeldBackOperation>("held", order.recorder());
    bool completed = false;
    held->setCompletionBlock([&] { completed = true; });
    queue->addOperation(held);
    queue->addOperationWithBlock([record = order.recorder()] { record("next"); });
    ASSERT_TRUE(eventually([&] { return order.tags().size() == 1; }));

    held->cancel();
    EXPECT_EQ(queue->operationCount(), 0u);
    EXPECT_TRUE(completed);
    EXPECT_TRUE(held->isFinished());
    held->makeReady();  // too late: it is no longer the queue's
    ASSERT_TRUE(waitUntilIdle(queue));
    EXPECT_EQ(order.tags(), Entries{"next"});
}

// Adds, readiness, cancellation and limit changes from several threads at once: the limit
// is never exceeded, every operation is started at most once and ends, and the queue empties.
TEST(OperationQueueTest, ConcurrentAddsCancelsAndReadinessKeepTheLimit) {
    constexpr int kThreads = 4;
    constexpr int perThread = 150;
    auto queue = OperationQueue::create("test.readiness.stress");
    queue->setMaxConcurrentOperationCount(3);
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    std::atomic<int> ran{0};
    auto body = [&](const std::string&) {
        const int now = running.fetch_add(1) + 1;
        int seen = mostRunning.load();
        while (now > seen && !mostRunning.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        running.fetch_sub(1);
        ran.fetch_add(1);
    };
    std::atomic<int> cancelled{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::shared_ptr<HeldBackOperation>> held;
            for (int i = 0; i < perThread; ++i) {
                auto operation = std::make_shared<HeldBackOperation>("", body);
                if (i % 3 != 0)
                    operation->makeReady();
                queue->addOperation(operation);
                held.push_back(operation);
                if (i % 50 == 25 && t == 0)
                    queue->setMaxConcurrentOperationCount(i % 100 == 25 ? 1 : 3);
            }
            for (std::size_t i = 0; i < held.size(); ++i) {
                if (i % 7 == 0) {
                    held[i]->cancel();
                    cancelled.fetch_add(1);
                } else if (i % 3 == 0) {
                    held[i]->makeReady();
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    queue->setMaxConcurrentOperationCount(3);
    ASSERT_TRUE(waitUntilIdle(queue));
    EXPECT_LE(mostRunning.load(), 3);
    // A cancelled one may already have run; no operation ran twice and none was lost.
    EXPECT_GE(ran.load(), kThreads * perThread - cancelled.load());
    EXPECT_LE(ran.load(), kThreads * perThread);
}

TEST(OperationQueueTest, MainQueueRunsOperationsOnTheMainThread) {
    bool onMain = false;
    OperationQueue::main()->addOperationWithBlock([&] { onMain = MainThread::isMainThread(); });
    EXPECT_EQ(OperationQueue::main()->operationCount(), 1u);
    OperationQueue::main()->waitUntilAllOperationsAreFinished();  // pumps the main queue
    EXPECT_TRUE(onMain);
}

TEST(OperationQueueDeathTest, AddingAnOperationTwiceAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto queue = OperationQueue::create();
            queue->setSuspended(true);
            auto operation = std::make_shared<BlockOperation>([] {});
            queue->addOperation(operation);
            queue->addOperation(operation);
        },
        "already queued");
}

}  // namespace
}  // namespace pindle::platform
