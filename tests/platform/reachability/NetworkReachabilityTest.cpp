#include "platform/net/NetworkReachability.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/net/reachability/ScriptedReachabilitySource.hpp"
#include "tests/platform/reachability/ManualExecutor.hpp"

namespace pindle::platform {
namespace {

using testsupport::ManualExecutor;
namespace Flag = NetworkReachabilityFlag;

constexpr auto futureTimeout = std::chrono::seconds(30);

struct Delivery {
    NetworkReachabilityFlags flags = 0;
    std::shared_ptr<void> info;
};

class NetworkReachabilityTest : public ::testing::Test {
  protected:
    std::shared_ptr<NetworkReachability> makeReference() {
        auto reference = NetworkReachability::createWithName("example.org", source_);
        EXPECT_NE(reference, nullptr);
        return reference;
    }

    // Attaches a callback that records what it receives.
    void record(NetworkReachability& reference, std::shared_ptr<void> info = {}) {
        ASSERT_TRUE(reference.setCallback(
            [this](NetworkReachability&, NetworkReachabilityFlags flags,
                   const NetworkReachability::Context& context) {
                deliveries_.push_back({flags, context.info.lock()});
            },
            {info}));
    }

    std::shared_ptr<ScriptedReachabilitySource> source_ =
        std::make_shared<ScriptedReachabilitySource>(Flag::reachable);
    std::shared_ptr<ManualExecutor> queue_ = std::make_shared<ManualExecutor>();
    std::vector<Delivery> deliveries_;
};

TEST_F(NetworkReachabilityTest, CreationFollowsTheSourceAndTheAddressShape) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    sockaddr unix{};
    unix.sa_family = AF_UNIX;

    const auto* v4 = reinterpret_cast<const sockaddr*>(&ipv4);
    const auto* v6 = reinterpret_cast<const sockaddr*>(&ipv6);
    struct Case {
        const char* name;
        std::function<std::shared_ptr<NetworkReachability>()> create;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"host", [&] { return NetworkReachability::createWithName("a.example", source_); }, true},
        {"ipv4", [&] { return NetworkReachability::createWithAddress(v4, sizeof(ipv4), source_); },
         true},
        {"ipv6", [&] { return NetworkReachability::createWithAddress(v6, sizeof(ipv6), source_); },
         true},
        {"short ipv4",
         [&] { return NetworkReachability::createWithAddress(v4, sizeof(ipv4) - 1, source_); },
         false},
        {"null address",
         [&] { return NetworkReachability::createWithAddress(nullptr, 16, source_); }, false},
        {"unix family",
         [&] { return NetworkReachability::createWithAddress(&unix, sizeof(sockaddr), source_); },
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.create() != nullptr, c.expected) << c.name;
    }

    source_->setFailsCreation(true);
    EXPECT_EQ(NetworkReachability::createWithName("a.example", source_), nullptr);
    EXPECT_EQ(NetworkReachability::createWithAddress(v4, sizeof(ipv4), source_), nullptr);
}

TEST_F(NetworkReachabilityTest, FlagsAreReadFromTheSourceEveryTime) {
    auto reference = makeReference();
    EXPECT_EQ(reference->flags(), Flag::reachable);
    source_->setFlags(Flag::reachable | Flag::isWWAN);
    EXPECT_EQ(reference->flags(), Flag::reachable | Flag::isWWAN);
    source_->setFlags(std::nullopt);
    EXPECT_EQ(reference->flags(), std::nullopt);
}

TEST_F(NetworkReachabilityTest, ChangesArriveOnTheAttachedQueueWithTheReportedFlags) {
    auto reference = makeReference();
    auto info = std::make_shared<int>(7);
    record(*reference, info);
    ASSERT_TRUE(reference->setDispatchQueue(queue_));

    source_->fireChange(Flag::connectionRequired);
    EXPECT_TRUE(deliveries_.empty()) << "delivered on the firing thread, not the queue";
    EXPECT_EQ(queue_->runAll(), 1);
    ASSERT_EQ(deliveries_.size(), 1u);
    EXPECT_EQ(deliveries_[0].flags, Flag::connectionRequired);
    EXPECT_EQ(deliveries_[0].info, info);
}

TEST_F(NetworkReachabilityTest, NothingIsDeliveredWithoutBothCallbackAndQueue) {
    auto reference = makeReference();
    ASSERT_TRUE(reference->setDispatchQueue(queue_));
    source_->fireChange();
    queue_->runAll();
    EXPECT_TRUE(deliveries_.empty());

    auto other = makeReference();
    record(*other);
    source_->fireChange();
    EXPECT_EQ(queue_->runAll(), 1);  // only the reference with a queue queued anything
    EXPECT_TRUE(deliveries_.empty());
}

TEST_F(NetworkReachabilityTest, RefusedRegistrationsLeaveThePreviousState) {
    auto reference = makeReference();
    record(*reference);
    ASSERT_TRUE(reference->setDispatchQueue(queue_));

    source_->setFailsCallback(true);
    EXPECT_FALSE(reference->setCallback([](auto&, auto, const auto&) { FAIL(); }));
    source_->fireChange();
    queue_->runAll();
    EXPECT_EQ(deliveries_.size(), 1u) << "the earlier callback stays";

    EXPECT_TRUE(reference->setCallback({})) << "detaching never fails";
    EXPECT_TRUE(reference->setDispatchQueue(nullptr));

    source_->setFailsDispatchQueue(true);
    EXPECT_FALSE(reference->setDispatchQueue(queue_));
    EXPECT_EQ(source_->watchCount(), 0u);
}

TEST_F(NetworkReachabilityTest, DetachingTheQueueDropsDeliveriesAlreadyQueued) {
    auto reference = makeReference();
    record(*reference);
    ASSERT_TRUE(reference->setDispatchQueue(queue_));
    source_->fireChange();
    ASSERT_TRUE(reference->setDispatchQueue(nullptr));
    EXPECT_EQ(source_->watchCount(), 0u);

    auto secondQueue = std::make_shared<ManualExecutor>();
    ASSERT_TRUE(reference->setDispatchQueue(secondQueue));
    queue_->runAll();
    EXPECT_TRUE(deliveries_.empty()) << "a delivery meant for a detached queue ran";
    source_->fireChange();
    secondQueue->runAll();
    EXPECT_EQ(deliveries_.size(), 1u);
    EXPECT_EQ(source_->watchCount(), 1u) << "re-attaching must not leave the old watch behind";
}

TEST_F(NetworkReachabilityTest, ContextInfoIsHeldWeakly) {
    auto reference = makeReference();
    auto info = std::make_shared<int>(1);
    std::weak_ptr<int> watcher = info;
    record(*reference, info);
    ASSERT_TRUE(reference->setDispatchQueue(queue_));
    info.reset();
    EXPECT_TRUE(watcher.expired()) << "the reference kept its context alive";

    source_->fireChange();
    queue_->runAll();
    ASSERT_EQ(deliveries_.size(), 1u);
    EXPECT_EQ(deliveries_[0].info, nullptr);
}

TEST_F(NetworkReachabilityTest, DestroyingTheReferenceStopsWatchingAndDropsQueuedWork) {
    auto reference = makeReference();
    record(*reference);
    ASSERT_TRUE(reference->setDispatchQueue(queue_));
    source_->fireChange();
    reference.reset();
    EXPECT_EQ(source_->watchCount(), 0u);
    queue_->runAll();
    EXPECT_TRUE(deliveries_.empty());
}

TEST_F(NetworkReachabilityTest, ACallbackMayDetachItself) {
    auto reference = makeReference();
    int calls = 0;
    ASSERT_TRUE(reference->setCallback([&](NetworkReachability& self, auto, const auto&) {
        ++calls;
        self.setCallback({});
        self.setDispatchQueue(nullptr);
    }));
    ASSERT_TRUE(reference->setDispatchQueue(queue_));
    source_->fireChange();
    source_->fireChange();
    queue_->runAll();
    EXPECT_EQ(calls, 1);
}

TEST_F(NetworkReachabilityTest, DetachingWaitsForACallbackRunningElsewhere) {
    auto reference = makeReference();
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> callbackReturned{false};
    ASSERT_TRUE(reference->setCallback([&](auto&, auto, const auto&) {
        entered.set_value();
        released.wait_for(futureTimeout);
        callbackReturned = true;
    }));
    ASSERT_TRUE(reference->setDispatchQueue(queue_));
    source_->fireChange();

    std::thread queueThread([&] { queue_->runAll(); });
    ASSERT_EQ(entered.get_future().wait_for(futureTimeout), std::future_status::ready);

    std::promise<bool> sawReturned;
    std::promise<void> detaching;
    std::thread detacher([&] {
        detaching.set_value();
        reference->setCallback({});
        sawReturned.set_value(callbackReturned.load());
    });
    // Releasing the callback only once the detacher is about to wait makes a detach that does
    // not wait show up as sawReturned == false.
    ASSERT_EQ(detaching.get_future().wait_for(futureTimeout), std::future_status::ready);
    release.set_value();
    auto result = sawReturned.get_future();
    ASSERT_EQ(result.wait_for(futureTimeout), std::future_status::ready);
    EXPECT_TRUE(result.get()) << "setCallback({}) returned while the callback still ran";
    detacher.join();
    queueThread.join();
}

}  // namespace
}  // namespace pindle::platform
