#include "PindleCore/api/Reachability.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/MainThread.hpp"
#include "platform/net/reachability/ScriptedReachabilitySource.hpp"

namespace pindle {
namespace {

using platform::DispatchQueue;
using platform::MainThread;
using platform::NetworkReachabilityFlags;
using platform::NotificationCenter;
using platform::ScriptedReachabilitySource;
namespace Flag = platform::NetworkReachabilityFlag;

constexpr double timeoutSeconds = 30;
constexpr NetworkReachabilityFlags wiFi = Flag::reachable;
constexpr NetworkReachabilityFlags cellular = Flag::reachable | Flag::isWWAN;

// One thing the monitor reported, and the queue it arrived on.
struct Event {
    std::string kind;  // "reachable", "unreachable" or "notification"
    std::string queue;
    const Reachability* monitor = nullptr;
};

class ReachabilityTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::NetworkReachabilitySource::setCurrent(source_); }
    void TearDown() override {
        MainThread::drain();
        platform::NetworkReachabilitySource::setCurrent(nullptr);
    }

    // A monitor for the network in general that records its callbacks and its notifications
    // on `center_`.
    std::shared_ptr<Reachability> makeRecordedMonitor() {
        auto monitor = Reachability::make();
        EXPECT_NE(monitor, nullptr);
        monitor->setNotificationCenter(center_);
        observe(*center_, *monitor);
        monitor->setWhenReachable([this](Reachability& m) { add("reachable", m); });
        monitor->setWhenUnreachable([this](Reachability& m) { add("unreachable", m); });
        return monitor;
    }

    void observe(NotificationCenter& center, const Reachability& monitor) {
        registrations_.emplace_back(center.addObserverForName(
            ReachabilityChangedNotification, &monitor, nullptr,
            [this](const platform::Notification& notification) {
                auto sender = notification.object.asObjectOf<Reachability>();
                EXPECT_TRUE(notification.userInfo.empty());
                add("notification", *sender);
            }));
    }

    void add(std::string kind, const Reachability& monitor) {
        std::scoped_lock lock(mutex_);
        events_.push_back({std::move(kind), DispatchQueue::currentLabel(), &monitor});
    }

    std::vector<Event> events() {
        std::scoped_lock lock(mutex_);
        return events_;
    }

    std::vector<std::string> kinds() {
        std::vector<std::string> result;
        for (const auto& event : events()) {
            result.push_back(event.kind);
        }
        return result;
    }

    bool waitForEvents(std::size_t count) {
        return MainThread::runUntil([&] { return events().size() >= count; }, timeoutSeconds);
    }

    // Scripts a platform change (reporting `reported`) and waits until the monitor's
    // evaluation on the main queue has read the flags.
    void fireAndSettle(NetworkReachabilityFlags reported) {
        const auto reads = source_->flagReadCount();
        source_->fireChange(reported);
        ASSERT_TRUE(
            MainThread::runUntil([&] { return source_->flagReadCount() > reads; }, timeoutSeconds));
        MainThread::drain();
    }

    // Starts the notifier and waits for the first report on the serial queue.
    void startAndSettle(Reachability& monitor) {
        const auto before = events().size();
        monitor.startNotifier();
        ASSERT_TRUE(waitForEvents(before + 2));
    }

    // Fires a change to unreachable (the flags must already read 0) and waits for its report.
    // The change reaches the main queue through the monitor's serial queue, behind every
    // evaluation queued there before it; so the report comes from the main queue only if
    // none of those reported first.
    void fireUnreachableAndExpectItReportedOnTheMainQueue() {
        const auto before = events().size();
        source_->fireChange(0);
        ASSERT_TRUE(waitForEvents(before + 2));
        const auto report = events()[before];
        EXPECT_EQ(report.kind, "unreachable");
        EXPECT_EQ(report.queue, DispatchQueue::main()->label());
    }

    std::shared_ptr<ScriptedReachabilitySource> source_ =
        std::make_shared<ScriptedReachabilitySource>(wiFi);
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    std::vector<NotificationCenter::ScopedRegistration> registrations_;
    std::mutex mutex_;
    std::vector<Event> events_;  // guarded by mutex_
};

TEST_F(ReachabilityTest, StartReportsOnTheSerialQueueAndChangesOnTheMainQueue) {
    auto monitor = Reachability::make();
    ASSERT_NE(monitor, nullptr);
    // Left on the default center on purpose: that is where a fresh monitor posts.
    observe(NotificationCenter::defaultCenter(), *monitor);
    monitor->setWhenReachable([this](Reachability& m) {
        // Reading the monitor from its own callback must not deadlock.
        EXPECT_EQ(m.currentReachabilityString(), "WiFi");
        EXPECT_TRUE(m.reachableOnWWAN());
        add("reachable", m);
    });
    monitor->setWhenUnreachable([this](Reachability& m) { add("unreachable", m); });

    monitor->startNotifier();
    ASSERT_TRUE(waitForEvents(2));
    auto first = events();
    ASSERT_EQ(kinds(), (std::vector<std::string>{"reachable", "notification"}));
    for (const auto& event : first) {
        EXPECT_EQ(event.queue, Reachability::kSerialQueueLabel);
        EXPECT_EQ(event.monitor, monitor.get());
    }

    source_->setFlags(0);
    fireAndSettle(0);
    auto all = events();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2].kind, "unreachable");
    EXPECT_EQ(all[3].kind, "notification");
    EXPECT_EQ(all[2].queue, DispatchQueue::main()->label());
    EXPECT_EQ(all[3].queue, DispatchQueue::main()->label());

    // Unchanged flags report nothing, whatever the platform passes along.
    fireAndSettle(wiFi | Flag::isWWAN);
    fireAndSettle(0);
    EXPECT_EQ(events().size(), 4u);
}

TEST_F(ReachabilityTest, StatusQueriesAndTextFollowTheFlags) {
    struct Case {
        std::optional<NetworkReachabilityFlags> flags;  // nothing: the read fails
        bool reachableOnWWAN;
        bool reachable, viaWiFi, viaWWAN;
        Reachability::NetworkStatus status;
        const char* statusText;
        const char* description;
    };
    using S = Reachability::NetworkStatus;
    const std::vector<Case> cases = {
        {std::nullopt, true, false, false, false, S::notReachable, "No Connection", "-- -------"},
        {0, true, false, false, false, S::notReachable, "No Connection", "-- -------"},
        {wiFi, true, true, true, false, S::reachableViaWiFi, "WiFi", "-R -------"},
        {cellular, true, true, false, true, S::reachableViaWWAN, "Cellular", "WR -------"},
        {cellular, false, false, false, true, S::notReachable, "No Connection", "WR -------"},
        {wiFi, false, true, true, false, S::reachableViaWiFi, "WiFi", "-R -------"},
        {wiFi | Flag::connectionRequired | Flag::transientConnection, true, false, true, false,
         S::notReachable, "No Connection", "-R ct-----"},
        {wiFi | Flag::connectionRequired, true, true, true, false, S::reachableViaWiFi, "WiFi",
         "-R c------"},
        {Flag::isWWAN, true, false, false, false, S::notReachable, "No Connection", "W- -------"},
        {0xFFFFFFFFu, true, false, false, true, S::notReachable, "No Connection", "WR ctiCDld"},
        {Flag::interventionRequired | Flag::connectionOnTraffic | Flag::connectionOnDemand |
             Flag::isLocalAddress | Flag::isDirect,
         true, false, false, false, S::notReachable, "No Connection", "-- --iCDld"},
    };
    auto monitor = Reachability::make();
    ASSERT_NE(monitor, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        source_->setFlags(c.flags);
        monitor->setReachableOnWWAN(c.reachableOnWWAN);
        EXPECT_EQ(monitor->isReachable(), c.reachable);
        EXPECT_EQ(monitor->isReachableViaWiFi(), c.viaWiFi);
        EXPECT_EQ(monitor->isReachableViaWWAN(), c.viaWWAN);
        EXPECT_EQ(monitor->currentReachabilityStatus(), c.status);
        EXPECT_EQ(monitor->currentReachabilityString(), c.statusText);
        EXPECT_EQ(monitor->description(), c.description);
    }
    EXPECT_EQ(description(S::notReachable), "No Connection");
    EXPECT_EQ(description(S::reachableViaWiFi), "WiFi");
    EXPECT_EQ(description(S::reachableViaWWAN), "Cellular");
}

TEST_F(ReachabilityTest, CellularOnlyCountsAsUnreachableWhenWWANIsRefused) {
    auto monitor = makeRecordedMonitor();
    monitor->setReachableOnWWAN(false);
    startAndSettle(*monitor);
    source_->setFlags(cellular);
    fireAndSettle(cellular);
    EXPECT_EQ(kinds(), (std::vector<std::string>{"reachable", "notification", "unreachable",
                                                 "notification"}));
    EXPECT_TRUE(monitor->isReachableViaWWAN());
}

TEST_F(ReachabilityTest, StartingTwiceRegistersAndReportsOnce) {
    auto monitor = makeRecordedMonitor();
    startAndSettle(*monitor);
    // Moved first, so an evaluation the second start queued would report it.
    source_->setFlags(0);
    monitor->startNotifier();
    EXPECT_EQ(source_->acceptedCallbackCount(), 1u);
    EXPECT_EQ(source_->watchCount(), 1u);
    fireUnreachableAndExpectItReportedOnTheMainQueue();
    EXPECT_EQ(events().size(), 4u);
}

TEST_F(ReachabilityTest, RestartReportsOnlyFlagsThatMovedWhileStopped) {
    auto monitor = makeRecordedMonitor();
    startAndSettle(*monitor);
    monitor->stopNotifier();
    monitor->stopNotifier();  // stopping a stopped monitor is harmless
    EXPECT_EQ(source_->watchCount(), 0u);

    // Unchanged: the serial-queue evaluation reads the flags and reports nothing. A change
    // fired after the start reaches the main queue behind that evaluation, so once the main
    // queue has read the flags too, the evaluation is over.
    const auto reads = source_->flagReadCount();
    monitor->startNotifier();
    source_->fireChange();
    ASSERT_TRUE(MainThread::runUntil([&] { return source_->flagReadCount() >= reads + 2; },
                                     timeoutSeconds));
    monitor->stopNotifier();
    EXPECT_EQ(events().size(), 2u);

    source_->setFlags(0);
    startAndSettle(*monitor);
    auto all = events();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2].kind, "unreachable");
    EXPECT_EQ(all[2].queue, Reachability::kSerialQueueLabel);
}

TEST_F(ReachabilityTest, RefusedRegistrationsThrowAndLeaveTheMonitorRestartable) {
    struct Case {
        const char* name;
        void (ScriptedReachabilitySource::*fail)(bool);
        ReachabilityError::Case expected;
    };
    const std::vector<Case> cases = {
        {"callback", &ScriptedReachabilitySource::setFailsCallback,
         ReachabilityError::Case::UnableToSetCallback},
        {"queue", &ScriptedReachabilitySource::setFailsDispatchQueue,
         ReachabilityError::Case::UnableToSetDispatchQueue},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        source_->setFlags(wiFi);
        auto monitor = makeRecordedMonitor();
        ((*source_).*c.fail)(true);
        const auto reads = source_->flagReadCount();
        try {
            monitor->startNotifier();
            ADD_FAILURE() << "startNotifier did not throw";
        } catch (const ReachabilityError& error) {
            EXPECT_EQ(error.errorCase(), c.expected);
        }
        EXPECT_EQ(source_->watchCount(), 0u);

        ((*source_).*c.fail)(false);
        startAndSettle(*monitor);
        EXPECT_EQ(kinds(), (std::vector<std::string>{"reachable", "notification"}));
        source_->setFlags(0);
        fireUnreachableAndExpectItReportedOnTheMainQueue();
        // Every evaluation queued on the serial queue ran before the change passed through
        // it: the refused start queued none, only the restart and the change read the flags.
        EXPECT_EQ(source_->flagReadCount(), reads + 2);

        monitor->stopNotifier();
        registrations_.clear();
        std::scoped_lock lock(mutex_);
        events_.clear();
    }
}

TEST_F(ReachabilityTest, FactoriesYieldNothingWhenThePlatformMakesNoReference) {
    EXPECT_NE(Reachability::make("video.example"), nullptr);
    source_->setFailsCreation(true);
    EXPECT_EQ(Reachability::make("video.example"), nullptr);
    EXPECT_EQ(Reachability::make(), nullptr);

    // Without a reference the monitor reads clear flags and its notifier never starts.
    auto detached = Reachability::make(std::shared_ptr<platform::NetworkReachability>());
    EXPECT_EQ(detached->description(), "-- -------");
    EXPECT_EQ(detached->currentReachabilityStatus(), Reachability::NetworkStatus::notReachable);
    EXPECT_NO_THROW(detached->startNotifier());
    EXPECT_EQ(source_->acceptedCallbackCount(), 0u);
}

TEST_F(ReachabilityTest, ChangesPostOnlyToTheCurrentNotificationCenter) {
    auto monitor = makeRecordedMonitor();
    startAndSettle(*monitor);

    auto other = std::make_shared<NotificationCenter>();
    int otherPosts = 0;
    auto registration = other->addObserverForName(ReachabilityChangedNotification, nullptr, nullptr,
                                                  [&](const auto&) { ++otherPosts; });
    monitor->setNotificationCenter(other);
    EXPECT_EQ(monitor->notificationCenter(), other);
    source_->setFlags(0);
    fireAndSettle(0);
    EXPECT_EQ(otherPosts, 1);
    EXPECT_EQ(kinds(), (std::vector<std::string>{"reachable", "notification", "unreachable"}));
}

TEST_F(ReachabilityTest, AReleasedMonitorStopsAndHearsNothingMore) {
    auto monitor = makeRecordedMonitor();
    startAndSettle(*monitor);
    std::weak_ptr<Reachability> watcher = monitor;
    monitor.reset();
    ASSERT_TRUE(MainThread::runUntil([&] { return watcher.expired(); }, timeoutSeconds));
    // The source calls its watchers on the firing thread, and none is left: the change below
    // reaches no one before this test goes on.
    ASSERT_EQ(source_->watchCount(), 0u);

    source_->setFlags(0);
    source_->fireChange();
    MainThread::drain();
    EXPECT_EQ(events().size(), 2u);
}

TEST(ReachabilityErrorTest, CarriesItsPayloadAndBridgesToAPlatformError) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8080);
    const auto withAddress = ReachabilityError::failedToCreateWithAddress(address);
    ASSERT_TRUE(withAddress.address().has_value());
    EXPECT_EQ(withAddress.address()->sin_port, htons(8080));
    EXPECT_EQ(ReachabilityError::failedToCreateWithHostname("h.example").hostname(), "h.example");

    const auto error = ReachabilityError::unableToSetDispatchQueue().asError();
    EXPECT_EQ(error.domain(), "PindleCore.ReachabilityError");
    EXPECT_EQ(error.code(), 3);
    EXPECT_STREQ(ReachabilityError::unableToSetCallback().what(), "UnableToSetCallback");
}

}  // namespace
}  // namespace pindle
