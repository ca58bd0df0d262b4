#include "platform/foundation/Dictionary.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Value.hpp"

namespace pindle::platform {
namespace {

std::vector<std::string> keysOf(const Dictionary& dictionary) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : dictionary) keys.push_back(key);
    return keys;
}

TEST(DictionaryTest, KeepsKeysSortedAndUniqueWhateverTheInsertionOrder) {
    Dictionary d{{"b", 2}, {"a", 1}, {"b", 99}};  // the first of a repeated key stays
    d["d"] = 4;
    d.emplace("c", 3);
    EXPECT_FALSE(d.emplace("a", 100).second);
    EXPECT_FALSE(d.insert({"d", 100}).second);
    EXPECT_FALSE(d.try_emplace("c", 100).second);
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(d.at("b"), Value(2));
    EXPECT_EQ(d.at("d"), Value(4));

    EXPECT_TRUE(d.insert_or_assign("b", "two").second == false);
    EXPECT_EQ(d.at("b"), Value("two"));
    EXPECT_TRUE(d["e"].isNull());
    EXPECT_EQ(d.size(), 5u);

    EXPECT_EQ(d.erase("a"), 1u);
    EXPECT_EQ(d.erase("a"), 0u);
    d.erase(d.find("e"));
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"b", "c", "d"}));
    EXPECT_TRUE(d.contains("c"));
    EXPECT_EQ(d.count("zz"), 0u);
    EXPECT_EQ(d.find("zz"), d.end());
    EXPECT_THROW(d.at("zz"), std::out_of_range);
    EXPECT_EQ(std::prev(d.end())->first, "d");
    EXPECT_EQ(d.rbegin()->first, "d");
}

TEST(DictionaryTest, FromEntriesSortsAndKeepsTheLastOfARepeatedKey) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, int>> entries;
        std::vector<std::pair<std::string, int>> expected;
    };
    std::vector<Case> cases = {
        {"empty", {}, {}},
        {"sorted", {{"a", 1}, {"b", 2}}, {{"a", 1}, {"b", 2}}},
        {"reversed", {{"c", 3}, {"b", 2}, {"a", 1}}, {{"a", 1}, {"b", 2}, {"c", 3}}},
        {"repeats", {{"k", 1}, {"a", 0}, {"k", 2}, {"k", 3}}, {{"a", 0}, {"k", 3}}},
        {"prefixes", {{"ab", 2}, {"a", 1}, {"", 0}}, {{"", 0}, {"a", 1}, {"ab", 2}}},
    };
    // Larger than the small-object path: every key twice, in descending order.
    Case large{"large", {}, {}};
    for (int i = 99; i >= 0; --i) {
        const std::string key = "k" + std::to_string(1000 + i);
        large.entries.insert(large.entries.begin(), {key, -i});
        large.entries.push_back({key, i});
    }
    for (int i = 0; i < 100; ++i) large.expected.push_back({"k" + std::to_string(1000 + i), i});
    cases.push_back(large);

    for (const Case& c : cases) {
        Dictionary::Entries entries;
        for (const auto& [key, number] : c.entries) entries.emplace_back(key, number);
        const Dictionary d = Dictionary::fromEntries(entries);
        std::vector<std::pair<std::string, int>> got;
        for (const auto& [key, value] : d)
            got.emplace_back(key, static_cast<int>(value.asWholeNumber().value_or(-1)));
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST(DictionaryTest, ValuesHoldingContainersCopyDeeplyAndReadEmptyOnceMovedFrom) {
    Value original = Dictionary{{"inner", Dictionary{{"k", "v"}}}, {"set", StringSet{"x"}}};
    Value copy = original;
    (*copy.asDictionary())["inner"].asDictionary()->insert_or_assign("k", "changed");
    EXPECT_EQ(*original.find("inner")->find("k"), Value("v"));
    EXPECT_NE(copy, original);

    // A dictionary keeps its address when the Value holding it moves.
    const Dictionary* members = original.asDictionary();
    Value moved = std::move(original);
    EXPECT_EQ(moved.asDictionary(), members);
    ASSERT_TRUE(original.isDictionary());  // NOLINT(bugprone-use-after-move): defined as empty
    EXPECT_TRUE(original.asDictionary()->empty());
    (*original.asDictionary())["again"] = 1;
    EXPECT_EQ(original, Value(Dictionary{{"again", 1}}));

    Value set = StringSet{"a"};
    Value setMoved = std::move(set);
    EXPECT_TRUE(set.asStringSet()->empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(Value(Dictionary{}), Value(Dictionary{}));
    EXPECT_EQ(Value(StringSet{}), set);
}

}  // namespace
}  // namespace pindle::platform
