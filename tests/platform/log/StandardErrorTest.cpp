#include "platform/log/StandardError.hpp"

#include <gtest/gtest.h>

#include <array>

namespace pindle::platform {
namespace {

TEST(StandardErrorTest, CaptureTakesEachGatheredWriteWholeAndNests) {
    StandardError::Capture outer;
    {
        StandardError::Capture inner;
        std::array<std::string_view, 3> pieces{"a", "", "bc\n"};
        EXPECT_TRUE(StandardError::writeGathered(pieces));
        EXPECT_EQ(inner.writes(), std::vector<std::string>{"abc\n"});
    }
    std::array<std::string_view, 2> pieces{"x", "y"};
    StandardError::writeGathered(pieces);
    EXPECT_EQ(outer.writes(), std::vector<std::string>{"xy"});
}

}  // namespace
}  // namespace pindle::platform
