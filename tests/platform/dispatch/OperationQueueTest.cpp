#include "platform/dispatch/OperationQueue.hpp"

#include <gtest/gtest.h>

#include <atomic>
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
