#include <gtest/gtest.h>

#include <mutex>

#include "PindleCore/device/PBandwidthService.hpp"
#include "PindleCore/device/PLocationService.hpp"
#include "PindleCore/device/Reachability.hpp"
#include "PindleCore/legacy/PSystem.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PUploadingService.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/location/ScriptedLocationSource.hpp"
#include "platform/net/reachability/ScriptedReachabilitySource.hpp"
#include "tests/support/FreshProcess.hpp"

namespace pindle::legacy {
namespace {

namespace Flag = platform::NetworkReachabilityFlag;
using platform::MainThread;

class LegacyReachabilityTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::NetworkReachabilitySource::setCurrent(source_); }
    void TearDown() override { platform::NetworkReachabilitySource::setCurrent(nullptr); }

    // Counts "kReachabilityChangedNotification" and bandwidth-mode notifications.
    struct Posts {
        int reachability = 0;
        int bandwidth = 0;
    };

    std::shared_ptr<platform::ScriptedReachabilitySource> source_ =
        std::make_shared<platform::ScriptedReachabilitySource>();
};

TEST_F(LegacyReachabilityTest, FlagsBecomeStatusesAndTexts) {
    auto reachability = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(reachability);
    struct Case {
        platform::NetworkReachabilityFlags flags;
        bool onWWAN;
        NetworkStatus status;
        const char* text;
        const char* letters;
    };
    const Case cases[] = {
        {Flag::reachable, true, NetworkStatus::ReachableViaWiFi, "WiFi", "-R -------"},
        {Flag::reachable | Flag::isWWAN, true, NetworkStatus::ReachableViaWWAN, "Cellular",
         "WR -------"},
        {Flag::reachable | Flag::isWWAN, false, NetworkStatus::NotReachable, "No Connection",
         "WR -------"},
        {Flag::reachable | Flag::connectionRequired | Flag::transientConnection, true,
         NetworkStatus::NotReachable, "No Connection", "-R ct-----"},
        {Flag::isLocalAddress | Flag::isDirect, true, NetworkStatus::NotReachable, "No Connection",
         "-- -----ld"},
    };
    for (const Case& c : cases) {
        source_->setFlags(c.flags);
        reachability->setReachableOnWWAN(c.onWWAN);
        EXPECT_EQ(reachability->currentReachabilityStatus(), c.status) << c.letters;
        EXPECT_EQ(reachability->currentReachabilityString(), c.text);
        EXPECT_EQ(reachability->currentReachabilityFlags(), c.letters);
    }
    source_->setFlags(std::nullopt);  // the flags cannot be read
    EXPECT_EQ(reachability->currentReachabilityStatus(), NetworkStatus::NotReachable);
    EXPECT_EQ(reachability->currentReachabilityFlags(), "-- -------");

    // A host name target, under both spellings hosts use.
    source_->setFlags(Flag::reachable);
    for (const auto& byName : {Reachability::reachabilityWithHostname("example.com"),
                               Reachability::reachabilityWithHostName("example.com")}) {
        ASSERT_TRUE(byName);
        EXPECT_EQ(byName->currentReachabilityStatus(), NetworkStatus::ReachableViaWiFi);
    }
}

TEST_F(LegacyReachabilityTest, ChangesCallTheBlocksAndPostOnTheMainQueue) {
    source_->setFlags(Flag::reachable);
    auto reachability = Reachability::reachabilityForInternetConnection();
    std::mutex mutex;
    int reachableCalls = 0, unreachableCalls = 0;
    reachability->setReachableBlock([&](Reachability&) {
        std::lock_guard lock(mutex);
        ++reachableCalls;
    });
    reachability->setUnreachableBlock([&](Reachability&) {
        std::lock_guard lock(mutex);
        ++unreachableCalls;
    });
    int posts = 0;
    auto registration = platform::NotificationCenter::defaultCenter().addObserverForName(
        kReachabilityChangedNotification, nullptr, nullptr, [&](const platform::Notification& n) {
            EXPECT_TRUE(MainThread::isMainThread());
            EXPECT_EQ(n.object.asObject(), reachability);
            ++posts;
        });
    ASSERT_TRUE(reachability->startNotifier());
    source_->fireChange(0);
    ASSERT_TRUE(MainThread::runUntil([&] { return posts == 1; }, 10));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(unreachableCalls, 1);
        EXPECT_EQ(reachableCalls, 0);
    }
    reachability->stopNotifier();
    source_->fireChange(Flag::reachable);
    MainThread::drain();
    EXPECT_EQ(posts, 1);
    platform::NotificationCenter::defaultCenter().removeObserver(registration);

    source_->setFailsCallback(true);
    EXPECT_FALSE(reachability->startNotifier());
}

TEST_F(LegacyReachabilityTest, BandwidthModeFollowsTheStatusAndPostsOnlyOnChange) {
    source_->setFlags(0);
    auto reachability = Reachability::reachabilityForInternetConnection();
    PBandwidthService service(reachability);
    EXPECT_TRUE(service.offlineMode());

    int modeChanges = 0;
    int reachabilityPosts = 0;
    auto modeRegistration = platform::NotificationCenter::defaultCenter().addObserverForName(
        kPCurrentBandwidthModeIsChangedNotification, nullptr, nullptr,
        [&](const platform::Notification&) { ++modeChanges; });
    // Registered after the service, so it hears each change once the service has handled it.
    auto registration = platform::NotificationCenter::defaultCenter().addObserverForName(
        kReachabilityChangedNotification, nullptr, nullptr,
        [&](const platform::Notification&) { ++reachabilityPosts; });
    source_->setFlags(Flag::reachable);
    source_->fireChange();
    ASSERT_TRUE(MainThread::runUntil([&] { return reachabilityPosts == 1; }, 10));
    EXPECT_FALSE(service.offlineMode());
    EXPECT_EQ(modeChanges, 1);

    // A change that leaves the mode as it was posts nothing.
    source_->setFlags(Flag::reachable | Flag::isDirect);
    source_->fireChange();
    ASSERT_TRUE(MainThread::runUntil([&] { return reachabilityPosts == 2; }, 10));
    EXPECT_EQ(modeChanges, 1);
    platform::NotificationCenter::defaultCenter().removeObserver(modeRegistration);
    platform::NotificationCenter::defaultCenter().removeObserver(registration);
    reachability->stopNotifier();
}

class PLocationServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::Clock::setCurrent(clock_);
        platform::LocationSource::setCurrent(source_);
    }
    void TearDown() override {
        platform::LocationSource::setCurrent(nullptr);
        platform::Clock::setCurrent(nullptr);
    }

    struct Answer {
        double latitude = -1;
        bool denied = false;
        bool error = false;
        int calls = 0;
    };
    PLocationService::Completion recorder(Answer& answer) {
        return [&answer](const platform::Location& location, bool denied,
                         const std::optional<platform::Error>& error) {
            answer.latitude = location.coordinate().latitude;
            answer.denied = denied;
            answer.error = error.has_value();
            ++answer.calls;
        };
    }

    std::shared_ptr<platform::VirtualClock> clock_ = std::make_shared<platform::VirtualClock>();
    std::shared_ptr<platform::ScriptedLocationSource> source_ =
        std::make_shared<platform::ScriptedLocationSource>();
};

TEST_F(PLocationServiceTest, TakesTheFirstFreshFixAndStops) {
    auto service = PLocationService::make();
    EXPECT_EQ(source_->authorizationRequests(), 1);
    EXPECT_EQ(source_->updatingManagers(), 1u);
    Answer answer;
    service->updateLocationCoordinates(recorder(answer));

    const platform::Date now = platform::Date::now();
    source_->fix(platform::Location(1.0, 2.0, now.addingTimeInterval(-5.1)));
    MainThread::drain();
    EXPECT_EQ(answer.calls, 0);
    EXPECT_EQ(service->lastLatitude(), 0.0);

    source_->fix(platform::Location(52.5, 13.4, now.addingTimeInterval(-5.0)));
    MainThread::drain();
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.latitude, 52.5);
    EXPECT_EQ(service->lastLongitude(), 13.4);
    EXPECT_EQ(source_->updatingManagers(), 0u);
}

TEST_F(PLocationServiceTest, UnauthorisedDeniedFailedAndDisabledAnswerOnce) {
    auto service = PLocationService::make();
    source_->setAuthorizationStatus(platform::AuthorizationStatus::notDetermined);
    Answer unauthorised;
    service->updateLocationCoordinates(recorder(unauthorised));
    EXPECT_EQ(unauthorised.calls, 1);
    EXPECT_EQ(unauthorised.latitude, 0.0);
    source_->fix(platform::Location(1, 1));
    MainThread::drain();
    EXPECT_EQ(unauthorised.calls, 1);

    source_->setAuthorizationStatus(platform::AuthorizationStatus::authorizedWhenInUse);
    Answer denied;
    service->updateLocationCoordinates(recorder(denied));
    source_->changeAuthorization(platform::AuthorizationStatus::denied);
    MainThread::drain();
    EXPECT_EQ(denied.calls, 1);
    EXPECT_TRUE(denied.denied);

    source_->setAuthorizationStatus(platform::AuthorizationStatus::authorizedWhenInUse);
    Answer failed;
    service->updateLocationCoordinates(recorder(failed));
    source_->fail(platform::Error("kCLErrorDomain", 0));
    MainThread::drain();
    EXPECT_EQ(failed.calls, 1);
    EXPECT_TRUE(failed.error);

    source_->setEnabled(false);
    auto disabled = PLocationService::make();
    EXPECT_FALSE(disabled->hasManager());
    Answer never;
    disabled->updateLocationCoordinates(recorder(never));
    EXPECT_EQ(never.calls, 1);  // nothing could ever answer later
    EXPECT_EQ(disabled->lastLatitude(), 0.0);
}

TEST(PSystemLaunchTest, StartsForTheTokenOnlyAndRestartsUploadsOneSecondLater) {
    // The counts are the process's: a restart an earlier test scheduled must not land here.
    testing::inFreshProcess([] {
        auto clock = std::make_shared<platform::VirtualClock>();
        platform::Clock::setCurrent(clock);
        const int launches = PSystem::launchCount();
        const int restarts = PUploadingService::getInstance().restartCount();

        PSystem::launch(nullptr);
        PSystem::launch(std::make_shared<platform::Object>());
        EXPECT_EQ(PSystem::launchCount(), launches);

        PSystem::launch(PNTokenObject::sharedInstance());
        PSystem::launch(PNTokenObject::sharedInstance());
        MainThread::drain();
        EXPECT_EQ(PUploadingService::getInstance().restartCount(), restarts);
        clock->advance(1.0);
        MainThread::drain();
        EXPECT_EQ(PUploadingService::getInstance().restartCount(), restarts + 2);
        platform::Clock::setCurrent(nullptr);
    });
}

}  // namespace
}  // namespace pindle::legacy
