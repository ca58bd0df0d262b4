// The legacy location service on the desktop's location service: a GeoClue2 stand-in on a
// private D-Bus gives a fix ten seconds old and then a fresh one; the service keeps only the
// fresh one.
#include <gtest/gtest.h>

#include <optional>

#include "PindleCore/device/PLocationService.hpp"
#include "platform/location/GeoClueLocationSource.hpp"
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

}  // namespace
}  // namespace pindle::legacy
