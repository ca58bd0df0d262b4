// Device choices are said once: the first choice of a kind goes to standard error and is
// kept; a later one for the same kind is neither said nor kept, unless it revises the choice
// (said once too).
#include "platform/log/DeviceChoiceLog.hpp"

#include <gtest/gtest.h>

#include "platform/log/StandardError.hpp"

namespace pindle::platform {
namespace {

TEST(DeviceChoiceLogTest, EachKindIsSaidOnceAndTheFirstChoiceKept) {
    // A kind of its own each time, so that the test also passes when repeated in one process.
    static int run = 0;
    const std::string kind = "test-device-" + std::to_string(++run);
    StandardError::Capture captured;
    EXPECT_TRUE(DeviceChoiceLog::note(kind, "the real one"));
    EXPECT_FALSE(DeviceChoiceLog::note(kind, "a fallback (because)"));
    EXPECT_EQ(captured.writes(), std::vector<std::string>{"pindle: " + kind + ": the real one\n"});
    EXPECT_EQ(DeviceChoiceLog::choices().at(kind), "the real one");
}

TEST(DeviceChoiceLogTest, ARevisedChoiceIsSaidOnceAndKept) {
    static int run = 0;
    const std::string kind = "revised-device-" + std::to_string(++run);
    DeviceChoiceLog::note(kind, "the real one");
    StandardError::Capture captured;
    EXPECT_TRUE(DeviceChoiceLog::revise(kind, "denied (the user said no)"));
    EXPECT_FALSE(DeviceChoiceLog::revise(kind, "denied (the user said no)"));
    EXPECT_FALSE(DeviceChoiceLog::note(kind, "a fallback"));
    EXPECT_EQ(captured.writes(),
              std::vector<std::string>{"pindle: " + kind + ": denied (the user said no)\n"});
    EXPECT_EQ(DeviceChoiceLog::choices().at(kind), "denied (the user said no)");
}

}  // namespace
}  // namespace pindle::platform
