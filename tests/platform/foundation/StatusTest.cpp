#include "platform/foundation/Status.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <type_traits>

namespace pindle::platform {
namespace {

// A bare test of a result is the reading this type exists to rule out.
static_assert(!std::is_constructible_v<bool, Status>);
static_assert(!std::is_convertible_v<Status, bool>);

Status failing() {
    return Error("test", 7);
}
Status succeeding() {
    return {};
}

TEST(StatusTest, ReadsAsItMeansAndHandsItsErrorOnAsCompletionsTakeIt) {
    EXPECT_TRUE(succeeding().ok());
    EXPECT_TRUE(Status(std::nullopt).ok());
    EXPECT_TRUE(Status(std::optional<Error>()).ok());

    const Status failed = failing();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().code(), 7);

    const std::optional<Error>& handedOn = failed;
    ASSERT_TRUE(handedOn.has_value());
    EXPECT_EQ(*handedOn, Error("test", 7));
    const std::optional<Error> nothing = succeeding();
    EXPECT_FALSE(nothing.has_value());
    EXPECT_EQ(Status(handedOn), failed);
}

}  // namespace
}  // namespace pindle::platform
