// The GeoClue2 location source against a stand-in service on a private D-Bus: what a fix, a
// refusal, a missing service and a silent one look like to a location manager's delegate.
#include "platform/location/private/GeoClueLocationSource.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/location/LocationManager.hpp"
#include "tests/support/GeoClueStandIn.hpp"
#include "tests/support/PrivateDBus.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::platform {
namespace {

using pindle::testing::GeoClueStandIn;
using pindle::testing::PrivateDBus;
using platform::testing::eventually;

class Recorder : public LocationManagerDelegate {
  public:
    void didUpdateLocations(LocationManager&, const std::vector<Location>& locations) override {
        fixes.insert(fixes.end(), locations.begin(), locations.end());
    }
    void didFailWithError(LocationManager&, const Error& error) override {
        errors.push_back(error);
    }
    void didChangeAuthorizationStatus(LocationManager&, AuthorizationStatus status) override {
        statuses.push_back(status);
    }
    std::vector<Location> fixes;
    std::vector<Error> errors;
    std::vector<AuthorizationStatus> statuses;
};

class GeoClueLocationSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        bus_ = PrivateDBus::start(&why);
        if (!bus_)
            GTEST_SKIP() << why;
    }
    void TearDown() override { LocationSource::setCurrent(nullptr); }

    // The stand-in on the bus, or a skip when Python's D-Bus binding is missing.
    bool standIn(GeoClueStandIn::Behaviour behaviour) {
        std::string why;
        service_ = GeoClueStandIn::start(bus_->address(), behaviour, &why);
        if (!service_)
            ADD_FAILURE() << why;
        return service_ != nullptr;
    }

    GeoClueLocationSource::Options options(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const {
        GeoClueLocationSource::Options chosen;
        chosen.busAddress = bus_->address();
        chosen.desktopId = "pindle-tests";
        chosen.timeout = timeout;
        return chosen;
    }

    // A manager over `source` that starts updating, reporting to `recorder`.
    std::shared_ptr<LocationManager> updating(const std::shared_ptr<LocationSource>& source,
                                              const std::shared_ptr<Recorder>& recorder) {
        LocationSource::setCurrent(source);
        auto manager = LocationManager::make();
        manager->setDelegate(recorder);
        manager->setDesiredAccuracy(LocationManager::accuracyNearestTenMeters);
        manager->startUpdatingLocation();
        return manager;
    }

    std::unique_ptr<PrivateDBus> bus_;
    std::unique_ptr<GeoClueStandIn> service_;
};

TEST_F(GeoClueLocationSourceTest, AFixArrivesWithItsCoordinatesAccuracyAndTime) {
    ASSERT_TRUE(standIn(GeoClueStandIn::Behaviour::fix));
    std::string why;
    auto source = GeoClueLocationSource::connect(options(), &why);
    ASSERT_TRUE(source) << why;
    EXPECT_TRUE(source->locationServicesEnabled());
    EXPECT_EQ(source->clientPath(), "/org/freedesktop/GeoClue2/Client/1");

    auto recorder = std::make_shared<Recorder>();
    const Date before = Date::now();
    auto manager = updating(source, recorder);
    // The stand-in starts the client only with a desktop id and the exact accuracy level, so
    // a fix arriving also says both were set.
    ASSERT_TRUE(eventually([&] { return !recorder->fixes.empty() || !recorder->errors.empty(); }));
    ASSERT_TRUE(recorder->errors.empty()) << recorder->errors.front().description();
    const Location& fix = recorder->fixes.front();
    EXPECT_DOUBLE_EQ(fix.coordinate().latitude, GeoClueStandIn::latitude);
    EXPECT_DOUBLE_EQ(fix.coordinate().longitude, GeoClueStandIn::longitude);
    EXPECT_DOUBLE_EQ(fix.horizontalAccuracy(), 10.0);
    EXPECT_GE(fix.timestamp().timeIntervalSince1970(), before.timeIntervalSince1970() - 1);
    EXPECT_LE(fix.timestamp().timeIntervalSince1970(), Date::now().timeIntervalSince1970() + 1);
    EXPECT_EQ(source->authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
    manager->stopUpdatingLocation();
}

TEST_F(GeoClueLocationSourceTest, ARefusalByTheAgentIsDenied) {
    ASSERT_TRUE(standIn(GeoClueStandIn::Behaviour::refuse));
    auto source = GeoClueLocationSource::connect(options());
    ASSERT_TRUE(source);
    auto recorder = std::make_shared<Recorder>();
    auto manager = updating(source, recorder);
    ASSERT_TRUE(eventually([&] { return !recorder->statuses.empty(); }));
    EXPECT_EQ(recorder->statuses.front(), AuthorizationStatus::denied);
    EXPECT_EQ(source->authorizationStatus(), AuthorizationStatus::denied);
    EXPECT_TRUE(recorder->fixes.empty());
    EXPECT_TRUE(source->locationServicesEnabled());

    // A later manager hears the refusal at once rather than asking again.
    auto later = std::make_shared<Recorder>();
    auto second = updating(source, later);
    ASSERT_TRUE(eventually([&] { return !later->statuses.empty(); }));
    EXPECT_EQ(later->statuses.front(), AuthorizationStatus::denied);
}

TEST_F(GeoClueLocationSourceTest, NoServiceOrASilentOneMeansDisabledWithinTheTimeOut) {
    {
        std::string why;
        EXPECT_FALSE(GeoClueLocationSource::connect(options(), &why));
        EXPECT_EQ(why, "no GeoClue2 service on the bus");
    }
    {
        std::string why;
        GeoClueLocationSource::Options unreachable;
        unreachable.busAddress = "unix:path=" + bus_->folder() + "/no-such-bus";
        EXPECT_FALSE(GeoClueLocationSource::connect(unreachable, &why));
        EXPECT_NE(why.find("cannot connect"), std::string::npos) << why;
    }
    ASSERT_TRUE(standIn(GeoClueStandIn::Behaviour::silent));
    std::string why;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(GeoClueLocationSource::connect(options(std::chrono::milliseconds(300)), &why));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_EQ(why, "GeoClue2 did not answer within 300 ms");
}

TEST_F(GeoClueLocationSourceTest, AServiceThatStopsAnsweringDisablesTheSource) {
    ASSERT_TRUE(standIn(GeoClueStandIn::Behaviour::silentStart));
    auto source = GeoClueLocationSource::connect(options(std::chrono::milliseconds(300)));
    ASSERT_TRUE(source);
    auto recorder = std::make_shared<Recorder>();
    auto manager = updating(source, recorder);
    ASSERT_TRUE(eventually([&] { return !recorder->errors.empty(); }));
    EXPECT_EQ(recorder->errors.front().domain(), GeoClueLocationSource::errorDomain);
    EXPECT_EQ(
        recorder->errors.front().localizedDescription().rfind("location services disabled", 0), 0u)
        << recorder->errors.front().localizedDescription();
    EXPECT_FALSE(source->locationServicesEnabled());
    EXPECT_TRUE(recorder->fixes.empty());
}

}  // namespace
}  // namespace pindle::platform
