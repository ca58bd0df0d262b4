#include "platform/foundation/NotificationCenter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace pindle::platform {
namespace {

class Sender final : public Object {};

// An executor that runs work only when the test says so, on the test's thread.
class ManualExecutor final : public Executor {
  public:
    void async(std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    std::size_t pendingCount() {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }
    void runAll() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(pending_);
        }
        for (auto& item : work) item();
    }

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;  // guarded by mutex_
};

TEST(NotificationCenterTest, DeliversSynchronouslyByNameInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    center.addObserverForName("A", nullptr, nullptr, [&](const Notification& n) {
        calls.push_back("first:" + n.name + ":" + *n.userInfo.at("k").asString());
    });
    center.addObserverForName(std::nullopt, nullptr, nullptr,
                              [&](const Notification& n) { calls.push_back("any:" + n.name); });
    center.addObserverForName("B", nullptr, nullptr,
                              [&](const Notification& n) { calls.push_back("b:" + n.name); });
    center.addObserverForName("A", nullptr, nullptr,
                              [&](const Notification& n) { calls.push_back("second:" + n.name); });

    center.post("A", {}, {{"k", "v"}});
    EXPECT_EQ(calls, (std::vector<std::string>{"first:A:v", "any:A", "second:A"}));
    calls.clear();
    center.post("C");
    EXPECT_EQ(calls, (std::vector<std::string>{"any:C"}));
}

TEST(NotificationCenterTest, SenderFilterMatchesTheVeryObject) {
    NotificationCenter center;
    auto a = std::make_shared<Sender>();
    auto b = std::make_shared<Sender>();
    int fromA = 0;
    int fromAnyone = 0;
    center.addObserverForName("N", a.get(), nullptr, [&](const Notification&) { ++fromA; });
    center.addObserverForName("N", nullptr, nullptr, [&](const Notification&) { ++fromAnyone; });

    center.post("N", Value(a));
    center.post("N", Value(b));
    center.post("N", Value(Dictionary{{"id", "x"}}));
    center.post("N", Value("a bare string"));
    center.post("N");
    EXPECT_EQ(fromA, 1);
    EXPECT_EQ(fromAnyone, 5);
}

TEST(NotificationCenterTest, ObjectAndUserInfoReachTheObserver) {
    NotificationCenter center;
    auto sender = std::make_shared<Sender>();
    Notification received;
    center.addObserverForName("N", nullptr, nullptr, [&](const Notification& n) { received = n; });
    center.post("N", Value(sender), {{"count", 3}});
    EXPECT_EQ(received.name, "N");
    EXPECT_EQ(received.object.asObject(), sender);
    EXPECT_EQ(received.userInfo, (Dictionary{{"count", 3}}));
}

TEST(NotificationCenterTest, ObserversMayChangeTheCenterDuringDelivery) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::RegistrationPtr second;
    NotificationCenter::RegistrationPtr self;
    bool added = false;

    // The first observer removes the second, adds a new one, and posts another notification.
    center.addObserverForName("N", nullptr, nullptr, [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(second);
        if (!added) {
            added = true;
            center.addObserverForName("N", nullptr, nullptr,
                                      [&](const Notification&) { calls.push_back("added"); });
        }
        center.post("Nested");
    });
    second = center.addObserverForName("N", nullptr, nullptr,
                                       [&](const Notification&) { calls.push_back("second"); });
    self = center.addObserverForName("N", nullptr, nullptr, [&](const Notification&) {
        calls.push_back("self");
        self->remove();
    });
    center.addObserverForName("Nested", nullptr, nullptr,
                              [&](const Notification&) { calls.push_back("nested"); });

    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "nested", "self"}));
    EXPECT_TRUE(second->isRemoved());
    EXPECT_TRUE(self->isRemoved());

    calls.clear();
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "nested", "added"}));
}

TEST(NotificationCenterTest, RemovesByTokenOwnerAndName) {
    NotificationCenter center;
    int owner1 = 0;
    int owner2 = 0;
    std::vector<std::string> calls;
    auto record = [&](std::string label) {
        return [&calls, label](const Notification& n) {
            calls.push_back(label + ":" + n.name);
        };
    };
    center.addObserver(&owner1, "A", nullptr, record("o1"));
    center.addObserver(&owner1, "B", nullptr, record("o1"));
    center.addObserver(&owner1, std::nullopt, nullptr, record("o1all"));
    center.addObserver(&owner2, "A", nullptr, record("o2"));
    auto token = center.addObserverForName("A", nullptr, nullptr, record("token"));

    center.removeObserver(&owner1, "A");
    center.post("A");
    center.post("B");
    EXPECT_EQ(calls, (std::vector<std::string>{"o1all:A", "o2:A", "token:A", "o1:B", "o1all:B"}));

    calls.clear();
    center.removeObserver(&owner1);
    center.removeObserver(token);
    center.removeObserver(token);  // twice is harmless
    center.post("A");
    center.post("B");
    EXPECT_EQ(calls, (std::vector<std::string>{"o2:A"}));
}

TEST(NotificationCenterTest, ScopedRegistrationRemovesOnDestruction) {
    NotificationCenter center;
    int calls = 0;
    {
        NotificationCenter::ScopedRegistration scoped(center.addObserverForName(
            "N", nullptr, nullptr, [&](const Notification&) { ++calls; }));
        center.post("N");
        NotificationCenter::ScopedRegistration moved = std::move(scoped);
        center.post("N");
    }
    center.post("N");
    EXPECT_EQ(calls, 2);

    // A registration that outlives its center can still be removed.
    NotificationCenter::RegistrationPtr orphan;
    {
        NotificationCenter shortLived;
        orphan = shortLived.addObserverForName("N", nullptr, nullptr, [](const Notification&) {});
    }
    EXPECT_TRUE(orphan->isRemoved());
    orphan->remove();
}

TEST(NotificationCenterTest, ExecutorObserversRunOnTheirExecutor) {
    NotificationCenter center;
    auto executor = std::make_shared<ManualExecutor>();
    std::vector<std::string> received;
    center.addObserverForName("N", nullptr, executor, [&](const Notification& n) {
        received.push_back(*n.userInfo.at("i").asString());
    });
    auto cancelled =
        center.addObserverForName("N", nullptr, executor, [&](const Notification&) { FAIL(); });

    center.post("N", {}, {{"i", "1"}});
    center.post("N", {}, {{"i", "2"}});
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(executor->pendingCount(), 4u);

    // Removed after the post but before its block ran: the block does not run.
    center.removeObserver(cancelled);
    executor->runAll();
    EXPECT_EQ(received, (std::vector<std::string>{"1", "2"}));
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrationChanges) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    std::atomic<bool> stop{false};
    constexpr int postsPerThread = 500;
    center.addObserverForName("N", nullptr, nullptr, [&](const Notification&) { ++delivered; });

    std::thread churn([&] {
        int owner = 0;
        while (!stop.load()) {
            center.addObserver(&owner, "N", nullptr, [](const Notification&) {});
            center.removeObserver(&owner);
        }
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < postsPerThread; ++i) center.post("N");
        });
    }
    for (auto& poster : posters) poster.join();
    stop.store(true);
    churn.join();
    EXPECT_EQ(delivered.load(), 4 * postsPerThread);
}

TEST(NotificationCenterTest, DefaultCenterIsProcessWide) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), std::async(std::launch::async, [] {
                                                        return &NotificationCenter::defaultCenter();
                                                    }).get());
    int calls = 0;
    NotificationCenter::ScopedRegistration scoped(
        NotificationCenter::defaultCenter().addObserverForName(
            "NotificationCenterTest.Default", nullptr, nullptr,
            [&](const Notification&) { ++calls; }));
    NotificationCenter::defaultCenter().post("NotificationCenterTest.Default");
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace pindle::platform
