// The tests' own bounded barriers: each must report a queue that never gets there within its
// bound instead of hanging, and must not report one that does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/dispatch/OperationQueue.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/Gate.hpp"

namespace pindle::testing {
namespace {

using platform::DispatchQueue;
using platform::OperationQueue;
using namespace std::chrono_literals;

TEST(TestBarriersTest, DrainWaitsForEarlierWorkAndReportsAQueueThatNeverGetsThere) {
    const std::shared_ptr<DispatchQueue> queues[] = {
        DispatchQueue::create("test.barrier.serial"),
        DispatchQueue::create("test.barrier.concurrent", DispatchQueue::Kind::concurrent),
        DispatchQueue::main(),
    };
    for (const auto& queue : queues) {
        SCOPED_TRACE(queue->label());
        std::atomic<int> ran{0};
        for (int i = 0; i < 8; ++i) queue->async([&] { ran.fetch_add(1); });
        ASSERT_TRUE(drain(queue));
        EXPECT_EQ(ran.load(), 8);
    }

    auto stuck = DispatchQueue::create("test.barrier.stuck");
    stuck->suspend();
    const auto result = drain(stuck, 50ms);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("test.barrier.stuck"), std::string::npos);
    stuck->resume();  // the abandoned marker still runs, and touches nothing freed
    EXPECT_TRUE(drain(stuck));
}

TEST(TestBarriersTest, WaitUntilIdleReportsAnOperationThatNeverEnds) {
    auto queue = OperationQueue::create("test.barrier.operations");
    Gate gate;
    queue->addOperationWithBlock([&] { gate.wait(); });
    EXPECT_FALSE(waitUntilIdle(queue, 50ms));
    EXPECT_TRUE(gate.open());
    EXPECT_TRUE(waitUntilIdle(queue));

    bool ran = false;
    OperationQueue::main()->addOperationWithBlock([&] { ran = true; });
    EXPECT_TRUE(waitUntilIdle(OperationQueue::main()));  // pumps the main queue
    EXPECT_TRUE(ran);
}

TEST(TestBarriersTest, AGateLetsItsWaiterGoOnItsOwnAndSaysSoWhenOpenedLate) {
    Gate gate;
    EXPECT_FALSE(gate.wait(10ms));
    EXPECT_FALSE(gate.open());

    Gate opened;
    std::thread opener([&] { EXPECT_TRUE(opened.open()); });
    EXPECT_TRUE(opened.wait());
    opener.join();
}

}  // namespace
}  // namespace pindle::testing
