#include "platform/dispatch/MainThread.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::platform {
namespace {

using testing::eventually;

TEST(MainThreadTest, TheTestThreadIsTheMainThread) {
    EXPECT_TRUE(MainThread::isMainThread());
    EXPECT_FALSE(MainThread::adoptCurrentThread());  // already bound, by the test main
    bool other = true;
    std::thread([&] { other = MainThread::isMainThread(); }).join();
    EXPECT_FALSE(other);
    EXPECT_EQ(DispatchQueue::currentLabel(), "com.apple.main-thread");
}

TEST(MainThreadTest, MainQueueWorkWaitsForThePumpAndRunsOnTheMainThread) {
    std::vector<int> order;
    bool onMain = false;
    auto main = DispatchQueue::main();
    main->async([&] {
        order.push_back(1);
        onMain = MainThread::isMainThread();
        main->async([&] { order.push_back(3); });  // queued while draining: runs too
    });
    main->async([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    MainThread::drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(onMain);
}

TEST(MainThreadTest, RunUntilStopsWhenThePredicateHoldsOrTimesOut) {
    std::atomic<bool> flag{false};
    std::thread setter([&] { flag = true; });  // not through the main queue
    EXPECT_TRUE(MainThread::runUntil([&] { return flag.load(); }, testing::patience));
    setter.join();

    EXPECT_FALSE(MainThread::runUntil([] { return false; }, 0.01));
}

// A pump that is always due (a refresh slower than the display's rate) still lets every block
// queued when it ran go before it runs again, in both loops: one block per pump would leave
// the queue further behind with every block sent to it.
TEST(MainThreadTest, APumpAlwaysDueLetsTheBlocksQueuedBeforeItGoFirst) {
    constexpr int blocks = 50;
    const std::pair<const char*, std::function<void(const int&)>> loops[] = {
        {"runUntil",
         [](const int& ran) {
             EXPECT_TRUE(MainThread::runUntil([&] { return ran == blocks; }, testing::patience));
         }},
        {"run",
         [](const int&) {
             DispatchQueue::main()->async([] { MainThread::stop(); });
             MainThread::run();
         }},
    };
    for (const auto& [name, loop] : loops) {
        SCOPED_TRACE(name);
        int pumps = 0;
        MainThread::setPump([&] {
            ++pumps;
            return 0.0;
        });
        int ran = 0;
        for (int i = 0; i < blocks; ++i) DispatchQueue::main()->async([&] { ++ran; });
        loop(ran);
        MainThread::setPump(nullptr);
        EXPECT_EQ(ran, blocks);
        EXPECT_LE(pumps, 2);
    }
}

TEST(MainThreadTest, SyncFromAnotherThreadRunsOnTheMainThread) {
    std::atomic<bool> done{false};
    bool ranOnMain = false;
    std::thread worker([&] {
        DispatchQueue::main()->sync([&] { ranOnMain = MainThread::isMainThread(); });
        done = true;
    });
    EXPECT_TRUE(eventually([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST(MainThreadTest, SyncOnTheMainThreadOutsideMainQueueWorkRunsQueuedWorkFirst) {
    std::vector<int> order;
    DispatchQueue::main()->async([&] { order.push_back(1); });
    DispatchQueue::main()->sync([&] { order.push_back(2); });
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(MainThreadDeathTest, SyncOntoMainFromMainQueueWorkAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            DispatchQueue::main()->async([] { DispatchQueue::main()->sync([] {}); });
            MainThread::drain();
        },
        "com.apple.main-thread.*wait for itself");
}

TEST(MainThreadDeathTest, PumpingOffTheMainThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([] { MainThread::drain(); }).join(), "off the main thread");
}

}  // namespace
}  // namespace pindle::platform
