// The legacy location service on the desktop's location service: a GeoClue2 stand-in on a
// private D-Bus gives a fix ten seconds old and then a fresh one, and the service keeps only
// the fresh one; a stand-in that refuses the application makes position denied, said once in
// the log; one that never answers holds up no session's start.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <optional>

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/device/PBandwidthService.hpp"
#include "PindleCore/device/PLocationService.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/location/GeoClueLocationSource.hpp"
#include "platform/log/DeviceChoiceLog.hpp"
#include "platform/log/StandardError.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/FreshProcess.hpp"
#include "tests/support/GeoClueStandIn.hpp"
#include "tests/support/PrivateDBus.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::legacy {
namespace {

using pindle::testing::GeoClueStandIn;
using pindle::testing::PrivateDBus;
using platform::testing::eventually;

struct Answer {
    std::optional<platform::Location> location;
    bool denied = false;
    std::optional<platform::Error> error;
    int calls = 0;
};

class PLocationServiceGeoClueTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::LocationSource::setCurrent(nullptr); }

    // A service over GeoClue on a private bus where the stand-in behaves as asked; null (the
    // test skipped or failed) when that cannot be set up.
    std::shared_ptr<PLocationService> serviceWith(GeoClueStandIn::Behaviour behaviour) {
        std::string why;
        bus_ = PrivateDBus::start(&why);
        if (!bus_) {
            skipped_ = why;
            return nullptr;
        }
        standIn_ = GeoClueStandIn::start(bus_->address(), behaviour, &why);
        if (!standIn_) {
            ADD_FAILURE() << why;
            return nullptr;
        }
        platform::GeoClueLocationSource::Options options;
        options.busAddress = bus_->address();
        auto source = platform::GeoClueLocationSource::connect(options, &why);
        if (!source) {
            ADD_FAILURE() << why;
            return nullptr;
        }
        platform::LocationSource::setCurrent(source);
        return PLocationService::make();
    }

    PLocationService::Completion recorder(Answer& answer) {
        return [&answer](const platform::Location& location, bool denied,
                         const std::optional<platform::Error>& error) {
            answer.location = location;
            answer.denied = denied;
            answer.error = error;
            ++answer.calls;
        };
    }

    std::string skipped_;
    std::unique_ptr<PrivateDBus> bus_;
    std::unique_ptr<GeoClueStandIn> standIn_;
};

TEST_F(PLocationServiceGeoClueTest, AFixOlderThanFiveSecondsIsIgnoredAndTheFreshOneKept) {
    auto service = serviceWith(GeoClueStandIn::Behaviour::staleFirst);
    if (!skipped_.empty())
        GTEST_SKIP() << skipped_;
    ASSERT_TRUE(service);
    Answer answer;
    service->updateLocationCoordinates(recorder(answer));
    ASSERT_TRUE(eventually([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.calls, 1);
    EXPECT_FALSE(answer.denied);
    EXPECT_FALSE(answer.error);
    EXPECT_DOUBLE_EQ(answer.location->coordinate().latitude, GeoClueStandIn::latitude);
    EXPECT_DOUBLE_EQ(service->lastLatitude(), GeoClueStandIn::latitude);
    EXPECT_DOUBLE_EQ(service->lastLongitude(), GeoClueStandIn::longitude);
}

// The process's own choice of location source, made with the stand-in's private bus as the
// system bus. Run in a fresh process: the choice, and its line in the log, are the process's.
// Null (the part failed) when the bus or the stand-in does not come up.
std::unique_ptr<GeoClueStandIn> chooseTheDefaultSourceOver(std::unique_ptr<PrivateDBus>& bus,
                                                           GeoClueStandIn::Behaviour behaviour) {
    std::string why;
    bus = PrivateDBus::start(&why);
    if (!bus) {
        ADD_FAILURE() << why;
        return nullptr;
    }
    auto standIn = GeoClueStandIn::start(bus->address(), behaviour, &why);
    if (!standIn) {
        ADD_FAILURE() << why;
        return nullptr;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address().c_str(), 1);
    ::unsetenv(platform::LocationSource::environmentVariable);
    platform::LocationSource::setCurrent(nullptr);
    return standIn;
}

bool canStartABus() {
    return !pindle::testing::ChildProcess::find("dbus-daemon").empty();
}

TEST(PLocationServiceRefusalTest, ARefusalByTheDesktopsAgentIsDeniedAndSaidOnce) {
    if (!canStartABus())
        GTEST_SKIP() << "no dbus-daemon for a private bus";
    const std::string denied =
        "location services denied (the desktop's location agent refused this application)";
    // Refused when asking for a client, or when starting it.
    for (const auto behaviour :
         {GeoClueStandIn::Behaviour::refuseClient, GeoClueStandIn::Behaviour::refuse}) {
        SCOPED_TRACE(behaviour == GeoClueStandIn::Behaviour::refuse ? "Start" : "GetClient");
        pindle::testing::inFreshProcess([&] {
            std::unique_ptr<PrivateDBus> bus;
            auto standIn = chooseTheDefaultSourceOver(bus, behaviour);
            ASSERT_TRUE(standIn);
            platform::StandardError::Capture said;
            auto service = PLocationService::make();
            int calls = 0;
            service->updateLocationCoordinates(
                [&](const platform::Location& location, bool, const auto&) {
                    EXPECT_EQ(location.coordinate().latitude, 0.0);
                    ++calls;
                });
            ASSERT_TRUE(eventually([&] {
                return platform::LocationManager::authorizationStatus() ==
                           platform::AuthorizationStatus::denied &&
                       calls > 0;
            }));
            EXPECT_EQ(calls, 1);
            EXPECT_TRUE(platform::LocationManager::locationServicesEnabled());
            EXPECT_EQ(platform::LocationSource::current()->description(), denied);
            EXPECT_EQ(platform::DeviceChoiceLog::choices().at("location"), denied);
            int refusals = 0;
            for (const auto& line : said.writes())
                refusals += line == "pindle: location: " + denied + "\n";
            EXPECT_EQ(refusals, 1);
        });
    }
}

// A GeoClue2 that never answers: the session starts at once, and the location service comes
// up on its own once the service's time-out has passed, disabled.
TEST(PLocationServiceRefusalTest, ASilentLocationServiceHoldsUpNoSessionStart) {
    if (!canStartABus())
        GTEST_SKIP() << "no dbus-daemon for a private bus";
    pindle::testing::inFreshProcess([] {
        std::unique_ptr<PrivateDBus> bus;
        auto standIn = chooseTheDefaultSourceOver(bus, GeoClueStandIn::Behaviour::silent);
        ASSERT_TRUE(standIn);
        // What a session's start does besides, made ready first so that the bound measures
        // the location service's part: reachability and the local cache's first use.
        PBandwidthService::getInstance();
        PNLocalVideoCache::shared();
        // The service gives up on a silent agent only after 2000 ms: a start that waited for
        // it would find the choice already made when it returns.
        const auto session = PNSession::current();
        const auto choices = platform::DeviceChoiceLog::choices();
        EXPECT_EQ(choices.find("location"), choices.end());
        EXPECT_TRUE(platform::MainThread::runUntil(
            [] {
                const auto choices = platform::DeviceChoiceLog::choices();
                const auto location = choices.find("location");
                return location != choices.end() &&
                       location->second ==
                           "location services disabled (GeoClue2 did not answer within 2000 ms)";
            },
            15));
    });
}

}  // namespace
}  // namespace pindle::legacy
