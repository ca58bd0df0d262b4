#include "PindleCore/model/PNDataValidator.hpp"

#include <gtest/gtest.h>

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNEnvironmentValidator.hpp"
#include "PindleCore/model/PNErrorFabric.hpp"

namespace pindle {
namespace {

std::string repeat(const std::string& unit, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += unit;
    return text;
}

// A family emoji: seven code points joined into one character.
const std::string family =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";

platform::StringSet tagsOfLength(std::size_t count, std::size_t each) {
    platform::StringSet tags;
    for (std::size_t i = 0; i < count; ++i) {
        std::string tag = std::to_string(1000 + i);  // four characters, unique
        tags.insert(tag + repeat("x", each - tag.size()));
    }
    return tags;
}

TEST(PNDataValidatorTest, LimitsHoldExactlyAtTheirEdges) {
    const std::optional<PNError> tooLarge = PNError(PNError::valuesTooLarge);
    struct Case {
        const char* name;
        std::optional<PNError> result;
        std::optional<PNError> expected;
    };
    platform::StringDictionary fiftyKeys, fiftyOneKeys;
    for (int i = 0; i < 51; ++i) {
        if (i < 50)
            fiftyKeys["k" + std::to_string(i)] = "v";
        fiftyOneKeys["k" + std::to_string(i)] = "v";
    }
    platform::StringSet fiftyOneTags = tagsOfLength(51, 4);
    const Case cases[] = {
        {"50 tags", PNDataValidator::validateTags(tagsOfLength(50, 4)), std::nullopt},
        {"51 tags", PNDataValidator::validateTags(fiftyOneTags), tooLarge},
        {"tags of 999 characters",
         PNDataValidator::validateTags({repeat("a", 500), repeat("b", 499)}), std::nullopt},
        {"tags of 1000 characters",
         PNDataValidator::validateTags({repeat("a", 500), repeat("b", 500)}), tooLarge},
        {"tags of 999 emoji", PNDataValidator::validateTags({repeat(family, 999)}), std::nullopt},
        {"50 keys", PNDataValidator::validateMetadata(fiftyKeys), std::nullopt},
        {"51 keys", PNDataValidator::validateMetadata(fiftyOneKeys), tooLarge},
        {"metadata of 999 characters",
         PNDataValidator::validateMetadata({{repeat("k", 600), repeat("v", 399)}}), std::nullopt},
        {"metadata of 1000 characters",
         PNDataValidator::validateMetadata({{repeat("k", 600), repeat("v", 400)}}), tooLarge},
        {"title of 99", PNDataValidator::validateTitle(repeat("t", 99)), std::nullopt},
        {"title of 100", PNDataValidator::validateTitle(repeat("t", 100)), tooLarge},
        {"title of 99 emoji", PNDataValidator::validateTitle(repeat(family, 99)), std::nullopt},
        {"title of 100 accented letters", PNDataValidator::validateTitle(repeat("e\xCC\x81", 100)),
         tooLarge},
        {"description of 999", PNDataValidator::validateDescription(repeat("d", 999)),
         std::nullopt},
        {"description of 1000", PNDataValidator::validateDescription(repeat("d", 1000)), tooLarge},
        {"empty everything", PNDataValidator::validateMetadata({}), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.name;
    }
}

TEST(PNDataValidatorTest, SessionCheckFollowsTheSessionState) {
    const auto& session = PNSession::current();
    session->stop();
    EXPECT_EQ(PNEnvironmentValidator::validate(), PNError(PNError::sessionNotStarted));
    EXPECT_EQ(PNErrorFabric().isSessionNotStartedError(), PNError(PNError::sessionNotStarted));
    session->start(std::string("session-token"));
    EXPECT_EQ(PNEnvironmentValidator::validate(), std::nullopt);
    EXPECT_EQ(PNErrorFabric().isSessionNotStartedError(), std::nullopt);
    session->stop();
    session->setSessionToken(std::nullopt);
}

}  // namespace
}  // namespace pindle
