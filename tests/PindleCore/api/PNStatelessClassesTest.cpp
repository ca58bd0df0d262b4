// The API's classes that hold nothing: each is a platform object of a kind of its own, so a
// host can make one, keep it and tell it apart.
#include <gtest/gtest.h>

#include <memory>

#include "PindleCore/api/PNGoogleRequest.hpp"
#include "PindleCore/api/PNReachability.hpp"

namespace pindle {
namespace {

TEST(PNStatelessClassesTest, AreObjectsOfAKindOfTheirOwn) {
    platform::ObjectPtr reachability = std::make_shared<PNReachability>();
    platform::ObjectPtr request = std::make_shared<PNGoogleRequest>();
    EXPECT_TRUE(platform::isKindOf<PNReachability>(reachability));
    EXPECT_FALSE(platform::isKindOf<PNGoogleRequest>(reachability));
    EXPECT_TRUE(platform::isKindOf<PNGoogleRequest>(request));
    EXPECT_FALSE(platform::isKindOf<PNReachability>(request));
    EXPECT_NE(reachability->description().find("PNReachability"), std::string::npos);
    EXPECT_NE(request->description().find("PNGoogleRequest"), std::string::npos);
    // Two instances are two objects.
    EXPECT_NE(reachability->hash(), std::make_shared<PNReachability>()->hash());
}

}  // namespace
}  // namespace pindle
