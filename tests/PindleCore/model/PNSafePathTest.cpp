#include "PindleCore/model/PNSafePath.hpp"

#include <gtest/gtest.h>

#include "PindleCore/api/PNVideoAPI.hpp"

namespace pindle {
namespace {

TEST(PNSafePathTest, NamesAndIdentifiers) {
    struct Case {
        std::string text;
        bool safeName;
        bool safeIdentifier;
    };
    const Case cases[] = {
        {"abc", true, true},
        {"...", true, true},
        {".hidden", true, true},
        {"a..b", true, true},
        {"My App 2026-12-09 00-10.log", true, false},
        {"caf\xc3\xa9 \xe5\xbd\xb1\xe7\x89\x87", true, false},
        {"http___h_v.mp4?x=1", true, false},
        {"", false, false},
        {".", false, false},
        {"..", false, false},
        {"../victim", false, false},
        {"a/b", false, false},
        {"/abs", false, false},
        {std::string("a\0b", 3), false, false},
        {std::string(PNSafePath::maximumNameLength, 'n'), true, true},
        {std::string(PNSafePath::maximumNameLength + 1, 'n'), false, true},
        {"50%", true, false},
        {"a#b", true, false},
        {"tab\there", true, false},
        // The same length as the safe one before it, one byte apart.
        {"ab_d", true, true},
        {"ab d", true, false},
    };
    // Twice: an answer remembered from an earlier question must not leak into another one.
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& c : cases) {
            EXPECT_EQ(PNSafePath::isSafeName(c.text), c.safeName) << c.text;
            EXPECT_EQ(PNSafePath::isSafeIdentifier(c.text), c.safeIdentifier) << c.text;
            // The API client and the file names agree on identifiers.
            EXPECT_EQ(PNVideoAPI::isUsableIdentifier(c.text), c.safeIdentifier) << c.text;
            EXPECT_EQ(PNSafePath::inFolder("/f", c.text).has_value(), c.safeName) << c.text;
        }
}

TEST(PNSafePathTest, JoinsOnlyWholeSafeNames) {
    EXPECT_EQ(PNSafePath::inFolder("/d/psdk", "My App.log"), "/d/psdk/My App.log");
    EXPECT_EQ(PNSafePath::forIdentifier("/d/psdk", "abc", "_720p.mp4"), "/d/psdk/abc_720p.mp4");
    EXPECT_FALSE(PNSafePath::forIdentifier("/d/psdk", "../abc", ".mov"));
    EXPECT_FALSE(PNSafePath::forIdentifier("/d/psdk", "abc", "_/../../x.mp4"));
    EXPECT_FALSE(PNSafePath::forIdentifier("/d/psdk", std::string(252, 'i'), ".mov"));
    EXPECT_TRUE(PNSafePath::forIdentifier("/d/psdk", std::string(251, 'i'), ".mov"));
}

}  // namespace
}  // namespace pindle
