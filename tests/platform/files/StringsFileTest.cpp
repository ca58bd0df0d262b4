// Localised strings tables as text: what reads, what each escape gives, and what is refused
// (with the line of the fault).
#include "platform/files/private/StringsFile.hpp"

#include <gtest/gtest.h>

namespace pindle::platform {
namespace {

using Table = std::map<std::string, std::string>;

TEST(StringsFileTest, ReadsEntriesCommentsAndEscapes) {
    struct Case {
        const char* text;
        Table table;
    };
    const Case cases[] = {
        {"", {}},
        {"\xEF\xBB\xBF\"a\" = \"b\";", {{"a", "b"}}},
        {"/* c */ \"a\"=\"b\"; // end\n\"c\" =\n \"d\" ;", {{"a", "b"}, {"c", "d"}}},
        {"\"a\" = \"1\"; \"a\" = \"2\";", {{"a", "2"}}},
        {R"("q" = "say \"hi\"\\ \n\t\r";)", {{"q", "say \"hi\"\\ \n\t\r"}}},
        {R"("u" = "\u00e9\u2603\ud83d\ude00";)", {{"u", "\xC3\xA9\xE2\x98\x83\xF0\x9F\x98\x80"}}},
        {"\"multi\nline\" = \"x\";", {{"multi\nline", "x"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StringsFile::parse(c.text), c.table);
    }
}

TEST(StringsFileTest, RefusesWhatIsNotATableAndSaysWhere) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"\"a\" = \"b\"", 1},              // no semicolon
        {"\"a\" \"b\";", 1},               // no equals sign
        {"a = \"b\";", 1},                 // unquoted key
        {"\n\"a\" = \"never closed;", 2},  // runs to the end
        {"\"a\" = \"b\"; /* open", 1},     // comment never closed
        {"\"a\" = \"\\x\";", 1},           // unknown escape
        {"\"a\" = \"\\u12\";", 1},         // short unit
        {"\"a\" = \"\\ud83d\";", 1},       // high surrogate alone
        {"\"a\" = \"\\ude00\";", 1},       // low surrogate alone
        {"\"a\" = \"b\";\n\n\"c\" = ;", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int line = 0;
        EXPECT_EQ(StringsFile::parse(c.text, &line), std::nullopt);
        EXPECT_EQ(line, c.line);
    }
}

}  // namespace
}  // namespace pindle::platform
