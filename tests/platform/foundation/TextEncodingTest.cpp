// Base64, percent-escaping, decimal integers, character counting and UUIDs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/foundation/Base64.hpp"
#include "platform/foundation/CharacterSet.hpp"
#include "platform/foundation/PercentEncoding.hpp"
#include "platform/foundation/Text.hpp"
#include "platform/foundation/UUID.hpp"
#include "tests/support/FreshProcess.hpp"

namespace pindle::platform {
namespace {

TEST(Base64Test, EncodesAndDecodesStandardVectors) {
    struct Case {
        std::string bytes;
        const char* text;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
        {std::string("\xfb\xff", 2), "+/8="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Base64::encode(c.bytes), c.text);
        EXPECT_EQ(Base64::encode(dataFromString(c.bytes)), c.text);
        EXPECT_EQ(Base64::decode(c.text), dataFromString(c.bytes)) << c.text;
    }
}

TEST(Base64Test, DecodingRejectsGarbage) {
    const char* garbage[] = {
        "Zg",   "Zg=",      "Z===",     "====", "Zm9v\n",      "Zm 9v",    "Zm9v Yg==",
        "Zh==", "Zm9=Yg==", "Zg==Zg==", "Zm-_", "Zm9\xC3\xA9", "Zm9vY===", "Zm=v",
    };
    for (const char* text : garbage) {
        EXPECT_FALSE(Base64::decode(text).has_value()) << text;
    }
}

TEST(PercentEncodingTest, EscapesBytesOutsideTheAllowedSet) {
    // The set an HTTP query uses for keys and values: query-allowed less the delimiters.
    const CharacterSet queryValue = CharacterSet::urlQueryAllowed().removing(":#[]@!$&'()*+,;=");
    struct Case {
        const char* text;
        CharacterSet allowed;
        const char* escaped;
    };
    const Case cases[] = {
        {"a b&c", queryValue, "a%20b%26c"},
        {"/path?x", queryValue, "/path?x"},
        {"-._~AZaz09", queryValue, "-._~AZaz09"},
        {"key[nested]", queryValue, "key%5Bnested%5D"},
        {"100%+1=@:#", queryValue, "100%25%2B1%3D%40%3A%23"},
        {"caf\xC3\xA9", queryValue, "caf%C3%A9"},
        {"\n\x7f", queryValue, "%0A%7F"},
        {"a=b&c", CharacterSet::urlQueryAllowed(), "a=b&c"},
        {"a;b c", CharacterSet::urlPathAllowed(), "a%3Bb%20c"},
        {"a/b c", CharacterSet::urlPathAllowed(), "a/b%20c"},
        {"a-b/c", CharacterSet::alphanumerics(), "a%2Db%2Fc"},
        {"[::1]", CharacterSet::urlHostAllowed(), "[::1]"},
        {"me@x", CharacterSet::urlUserAllowed(), "me%40x"},
        {"abc-", CharacterSet("abc").adding("-").removing("b"), "a%62c-"},
        {"", queryValue, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PercentEncoding::encode(c.text, c.allowed), c.escaped) << c.text;
    }
}

TEST(PercentEncodingTest, DecodesOnlyWellFormedUTF8) {
    struct Case {
        const char* text;
        std::optional<std::string> decoded;
    };
    const Case cases[] = {
        {"a%20b", "a b"},
        {"caf%C3%A9", "caf\xC3\xA9"},
        {"%2f%2F", "//"},
        {"plain", "plain"},
        {"", ""},
        {"%", std::nullopt},
        {"%4", std::nullopt},
        {"%zz", std::nullopt},
        {"%FF", std::nullopt},
        {"%C3", std::nullopt},
        {"%ED%A0%80", std::nullopt},
        {"a%2", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PercentEncoding::decode(c.text), c.decoded) << c.text;
    }
}

TEST(TextTest, Int64ValueIsStrictDecimal) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"-0", 0},
        {"137", 137},
        {"-42", -42},
        {"007", 7},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1.0", std::nullopt},
        {"1e3", std::nullopt},
        {"0x10", std::nullopt},
        {"abc", std::nullopt},
        {"--1", std::nullopt},
        {"\xD9\xA1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text::int64Value(c.text), c.value) << c.text;
    }
}

TEST(TextTest, CountsUserPerceivedCharacters) {
    const std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    struct Case {
        std::string text;
        std::size_t count;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 3},
        {"caf\xC3\xA9", 4},                       // precomposed
        {"cafe\xCC\x81", 4},                      // e + combining acute
        {"e\xCC\x81\xCC\xA3", 1},                 // two combining marks
        {"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", 1},  // flag
        {"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 2},  // two flags
        {family, 1},                                                              // ZWJ sequence
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1},  // skin tone modifier
        {"\r\n", 1},
        {"\xE1\x84\x80\xE1\x85\xA1", 1},  // Hangul jamo syllable
        {"\xff\xfe", 2},                  // each invalid byte is one
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text::characterCount(c.text), c.count) << c.text;
    }
    std::string many;
    for (int i = 0; i < 99; ++i) many += family;
    EXPECT_EQ(Text::characterCount(many), 99u);
}

// Whether ICU's common library is mapped into this process.
bool icuMapped() {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)),
                           std::istreambuf_iterator<char>());
    return text.find("/libicuuc.so") != std::string::npos;
}

TEST(TextTest, ICUIsMappedOnlyOnceCharactersAreCounted) {
    testing::inFreshProcess([] {
        EXPECT_EQ(Text::int64Value("42"), 42);
        EXPECT_TRUE(Text::isValidUTF8("caf\xC3\xA9"));
        EXPECT_FALSE(icuMapped());
        // A flag is two code points but one character: the count comes from ICU's rules.
        EXPECT_EQ(Text::characterCount("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"), 1u);
        EXPECT_TRUE(icuMapped());
    });
}

TEST(TextTest, RecognisesValidUTF8) {
    EXPECT_TRUE(Text::isValidUTF8("plain \xC3\xA9 \xF0\x9F\x98\x80"));
    const char* invalid[] = {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                             "\x80", "\xE2\x82"};
    for (const char* text : invalid) {
        EXPECT_FALSE(Text::isValidUTF8(text)) << text;
    }
}

TEST(UUIDTest, RandomUUIDsAreVersion4InUpperCaseText) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const UUID uuid = UUID::random();
        const std::string text = uuid.uuidString();
        ASSERT_EQ(text.size(), 36u);
        for (std::size_t k = 0; k < text.size(); ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23) {
                EXPECT_EQ(text[k], '-');
            } else {
                EXPECT_TRUE(std::isdigit(text[k]) || (text[k] >= 'A' && text[k] <= 'F')) << text;
            }
        }
        EXPECT_EQ(text[14], '4');
        EXPECT_EQ(UUID::fromString(text), uuid);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(UUIDTest, ParsesEitherCaseAndRejectsOtherShapes) {
    const std::optional<UUID> lower = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(lower->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(lower->bytes()[0], 0xE6);
    EXPECT_EQ(UUID().uuidString(), "00000000-0000-0000-0000-000000000000");
    const char* invalid[] = {
        "",
        "E621E1F8C36C495A93FC0C247A3E6E5F",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
        "E621E1F8-C36C-495A93FC-0C247A3E6E5F-",
        "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
        "{E621E1F8-C36C-495A-93FC-0C247A3E6E5}",
    };
    for (const char* text : invalid) {
        EXPECT_FALSE(UUID::fromString(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace pindle::platform
