#include "PindleCore/model/PNAsyncOperation.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/dispatch/OperationQueue.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/SpinUntil.hpp"

namespace pindle {
namespace {

// An operation whose work ends when the test says so.
class ManualOperation : public PNAsyncOperation {
  public:
    void main() override {
        if (setIsExecuting())
            started.store(true);
    }
    std::atomic<bool> started{false};
};

// Records the state announcements of an operation, in order.
class Announcements {
  public:
    explicit Announcements(platform::Operation& operation) {
        for (const char* key : {"isPending", "isExecuting", "isFinished"}) {
            operation.observe(
                key, static_cast<unsigned>(platform::KVOOption::prior),
                [this](const platform::KVOChange& change) {
                    std::lock_guard lock(mutex_);
                    log_.push_back((change.isPrior ? "will " : "did ") + change.keyPath);
                });
        }
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(log_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> log_;  // guarded by mutex_
};

TEST(PNAsyncOperationTest, TransitionsAnnounceTheirKeysInOrder) {
    auto owned = std::make_shared<ManualOperation>();  // observation needs shared ownership
    ManualOperation& op = *owned;
    Announcements announcements(op);
    EXPECT_TRUE(op.pending());
    EXPECT_TRUE(op.isAsynchronous());
    EXPECT_FALSE(op.isExecuting());

    EXPECT_TRUE(op.setIsExecuting());
    EXPECT_EQ(announcements.take(), (std::vector<std::string>{"will isExecuting", "will isPending",
                                                              "did isPending", "did isExecuting"}));
    EXPECT_FALSE(op.setIsExecuting());
    EXPECT_TRUE(announcements.take().empty());

    op.cancel();
    EXPECT_TRUE(op.isFinished());
    EXPECT_TRUE(op.isCancelled());
    EXPECT_EQ(announcements.take(),
              (std::vector<std::string>{"will isFinished", "will isExecuting", "did isExecuting",
                                        "did isFinished"}));
    op.cancel();
    EXPECT_TRUE(announcements.take().empty());
    EXPECT_FALSE(op.setIsExecuting());
}

TEST(PNAsyncOperationTest, APendingOperationCanFinishWithoutStarting) {
    auto owned = std::make_shared<ManualOperation>();  // observation needs shared ownership
    ManualOperation& op = *owned;
    Announcements announcements(op);
    EXPECT_TRUE(op.setIsFinished());
    EXPECT_EQ(announcements.take(), (std::vector<std::string>{"will isFinished", "will isPending",
                                                              "did isPending", "did isFinished"}));
    EXPECT_FALSE(op.setIsExecuting());
}

TEST(PNAsyncOperationTest, ExactlyOneOfConcurrentFinishesSucceeds) {
    for (int round = 0; round < 200; ++round) {
        auto owned = std::make_shared<ManualOperation>();  // observation needs shared ownership
        ManualOperation& op = *owned;
        op.setIsExecuting();
        Announcements announcements(op);
        std::atomic<int> successes{0};
        std::thread a([&] { successes += op.setIsFinished(); });
        std::thread b([&] { successes += op.setIsFinished(); });
        a.join();
        b.join();
        ASSERT_EQ(successes.load(), 1);
        ASSERT_EQ(announcements.take().size(), 4u);
    }
}

TEST(PNAsyncOperationTest, TheQueueHoldsTheSlotUntilTheOperationFinishes) {
    auto queue = platform::OperationQueue::create("test");
    queue->setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<ManualOperation>();
    auto second = std::make_shared<ManualOperation>();
    queue->addOperation(first);
    queue->addOperation(second);
    ASSERT_TRUE(testing::spinUntil([&] { return first->started.load(); }));
    EXPECT_FALSE(second->started.load());
    EXPECT_EQ(queue->operationCount(), 2u);

    first->setIsFinished();
    ASSERT_TRUE(testing::spinUntil([&] { return second->started.load(); }));
    second->cancel();
    ASSERT_TRUE(testing::waitUntilIdle(queue));
    EXPECT_EQ(queue->operationCount(), 0u);
}

}  // namespace
}  // namespace pindle
