#include "platform/foundation/Json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>

#include "platform/foundation/RandomJsonDocument.hpp"

namespace pindle::platform {
namespace {

TEST(JsonTest, RefusesTextThatIsNotAnObjectOrArray) {
    const char* notJson[] = {
        "",      "   ",     "42",       "\"text\"",  "true",       "null",
        "{",     "[1,]",    "{\"a\":}", "{'a':1}",   "[1] [2]",    "{\"a\":1}x",
        "[NaN]", "[1e999]", "[01]",     "[\"\\x\"]", "[\"\xff\"]", "{\"a\" 1}",
    };
    for (const char* text : notJson) {
        Error error;
        EXPECT_FALSE(Json::parse(std::string_view(text), &error).has_value()) << text;
        EXPECT_EQ(error.domain(), CocoaError::domain) << text;
        EXPECT_EQ(error.code(), CocoaError::propertyListReadCorrupt) << text;
    }
    EXPECT_FALSE(Json::parse(Data{}).has_value());
}

TEST(JsonTest, NumbersKeepTheirKind) {
    struct Case {
        const char* text;
        Value expected;
    };
    const Case cases[] = {
        {"[0]", Value(0)},
        {"[-0]", Value(0)},
        {"[9223372036854775807]", Value(std::numeric_limits<std::int64_t>::max())},
        {"[-9223372036854775808]", Value(std::numeric_limits<std::int64_t>::min())},
        {"[9223372036854775808]", Value(9223372036854775808.0)},
        {"[18446744073709551616]", Value(18446744073709551616.0)},
        {"[-9223372036854775809]", Value(-9223372036854775809.0)},
        {"[1.0]", Value(1.0)},
        {"[1e3]", Value(1000.0)},
        {"[0.1]", Value(0.1)},
        {"[true]", Value(true)},
        {"[false]", Value(false)},
        {"[null]", Value()},
    };
    for (const Case& c : cases) {
        const std::optional<Value> parsed = Json::parse(std::string_view(c.text));
        ASSERT_TRUE(parsed.has_value()) << c.text;
        const Value& element = parsed->asArray()->at(0);
        EXPECT_EQ(element.kind(), c.expected.kind()) << c.text;
        EXPECT_EQ(element, c.expected) << c.text;
    }
    // Booleans are never numbers, whatever the reader asks.
    const Value flag = Json::parse(std::string_view("[true]"))->asArray()->at(0);
    EXPECT_FALSE(flag.asWholeNumber().has_value());
    EXPECT_FALSE(flag.asDouble().has_value());
}

TEST(JsonTest, ParsesNestedDocumentsAndEscapes) {
    const std::string text =
        "\xEF\xBB\xBF{\"id\":\"v1\",\"tags\":[\"a\",\"b\"],\"meta\":{\"k\":\"v\",\"n\":{}},"
        "\"esc\":\"\\u00e9\\ud83d\\ude00\\n\\\"\\/\",\"raw\":\"\xC3\xA9\"}";
    const std::optional<Value> parsed = Json::parse(text);
    ASSERT_TRUE(parsed.has_value());
    const Value expected = Dictionary{
        {"id", "v1"},
        {"tags", Array{"a", "b"}},
        {"meta", Dictionary{{"k", "v"}, {"n", Dictionary{}}}},
        {"esc", "\xC3\xA9\xF0\x9F\x98\x80\n\"/"},
        {"raw", "\xC3\xA9"},
    };
    EXPECT_EQ(*parsed, expected);
    EXPECT_EQ(Json::parse(dataFromString("[]")), Value(Array{}));
    // A lone surrogate escape is not text.
    EXPECT_FALSE(Json::parse(std::string_view("[\"\\ud83d\"]")).has_value());
}

TEST(JsonTest, ObjectsKeepTheirOwnMembersAndTheLastOfARepeatedKey) {
    // Containers nested in objects inside arrays, each closing before its parent's next member.
    const std::optional<Value> parsed = Json::parse(std::string_view(
        R"([{"z":{"y":[{"x":1,"x":2}],"w":[]},"a":[[],{}],"z2":{"k":"first","k":"last"}},{}])"));
    ASSERT_TRUE(parsed.has_value());
    const Value expected = Array{
        Dictionary{
            {"a", Array{Array{}, Dictionary{}}},
            {"z", Dictionary{{"w", Array{}}, {"y", Array{Dictionary{{"x", 2}}}}}},
            {"z2", Dictionary{{"k", "last"}}},
        },
        Dictionary{},
    };
    EXPECT_EQ(*parsed, expected);

    // An object of many members, in descending order: found by key and written back sorted.
    std::string text = "{";
    for (int i = 199; i >= 0; --i)
        text += "\"" + std::to_string(1000 + i) + "\":" + std::to_string(i) + (i ? "," : "}");
    const std::optional<Value> many = Json::parse(text);
    ASSERT_TRUE(many.has_value());
    ASSERT_EQ(many->asDictionary()->size(), 200u);
    EXPECT_EQ(*many->find("1042"), Value(42));
    EXPECT_EQ(many->asDictionary()->begin()->first, "1000");
    EXPECT_TRUE(Json::serialize(*many)->starts_with(R"({"1000":0,"1001":1,)"));
}

TEST(JsonTest, RefusesNestingBeyondTheLimit) {
    const std::string deepest(Json::maximumNestingDepth, '[');
    EXPECT_TRUE(Json::parse(deepest + std::string(Json::maximumNestingDepth, ']')).has_value());
    const std::string tooDeep(Json::maximumNestingDepth + 1, '[');
    EXPECT_FALSE(Json::parse(tooDeep + std::string(Json::maximumNestingDepth + 1, ']')));
}

TEST(JsonTest, SerializesCompactlyAndRoundTrips) {
    const Value value = Dictionary{
        {"b", Array{1, -2.5, true, false, nullptr}},
        {"a", "line\n\"quoted\" \xC3\xA9"},
        {"c", Dictionary{}},
        {"d", std::numeric_limits<std::int64_t>::min()},
    };
    const std::optional<std::string> text = Json::serialize(value);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text,
              "{\"a\":\"line\\n\\\"quoted\\\" \xC3\xA9\",\"b\":[1,-2.5,true,false,null],\"c\":{},"
              "\"d\":-9223372036854775808}");
    EXPECT_EQ(Json::parse(*text), value);
    EXPECT_EQ(Json::serialize(Dictionary{}), "{}");
    EXPECT_EQ(Json::serializeToData(Array{}), dataFromString("[]"));
    EXPECT_TRUE(Json::isValidJSONObject(value));
    EXPECT_FALSE(Json::isValidJSONObject(Value("scalar")));
}

// The reader is our own: it must accept exactly the text a strict standard parser accepts and
// give the same values. Random documents full of the awkward parts (escapes, surrogates,
// multi-byte text, numbers at the int64 edges, nesting) are read whole and after random damage,
// and compared with nlohmann's reading.
Value fromReference(const nlohmann::json& json) {
    switch (json.type()) {
        case nlohmann::json::value_t::object: {
            Dictionary members;
            for (const auto& [key, member] : json.items()) members[key] = fromReference(member);
            return members;
        }
        case nlohmann::json::value_t::array: {
            Array elements;
            for (const auto& element : json) elements.push_back(fromReference(element));
            return elements;
        }
        case nlohmann::json::value_t::string:
            return json.get<std::string>();
        case nlohmann::json::value_t::boolean:
            return json.get<bool>();
        case nlohmann::json::value_t::number_integer:
            return json.get<std::int64_t>();
        case nlohmann::json::value_t::number_unsigned: {
            const auto number = json.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return static_cast<std::int64_t>(number);
            return static_cast<double>(number);
        }
        case nlohmann::json::value_t::number_float:
            return json.get<double>();
        default:
            return Value();
    }
}

TEST(JsonTest, ReadsExactlyWhatAStrictReaderReads) {
    std::mt19937 random(20241);
    const std::string damage[] = {"\"",       "\\", ",", "]", "}", "{",    "[",    "-",
                                  ".",        "e",  "0", "u", " ", "\x01", "\xC3", "\xED\xA0\x80",
                                  "\xF4\x90", ":"};
    int accepted = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text = "[" + test::randomJsonDocument(random) + "]";
        if (round % 2) {
            const std::size_t at = random() % text.size();
            const std::string& piece = damage[random() % std::size(damage)];
            if (random() % 2)
                text.erase(at, 1);
            text.insert(std::min(at, text.size()), piece);
        }
        const nlohmann::json reference = nlohmann::json::parse(text, nullptr, false);
        const std::optional<Value> ours = Json::parse(text);
        ASSERT_EQ(ours.has_value(), !reference.is_discarded()) << text;
        if (ours) {
            ++accepted;
            ASSERT_EQ(*ours, fromReference(reference)) << text;
        }
    }
    EXPECT_GT(accepted, 2000);
}

TEST(JsonTest, HandsOutTheElementsOfATopLevelArrayOneByOne) {
    std::vector<Value> elements;
    const Json::ElementHandler collect = [&](Value&& element) {
        elements.push_back(std::move(element));
    };
    const std::optional<Value> list =
        Json::parseElements(std::string_view(R"( [{"id":"a","n":[1,[2]]}, 3, [], "x"] )"), collect);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(*list, Value(Array{}));
    const std::vector<Value> expected = {Dictionary{{"id", "a"}, {"n", Array{1, Array{2}}}}, 3,
                                         Array{}, "x"};
    EXPECT_EQ(elements, expected);

    // An object is returned whole; nothing is handed out.
    elements.clear();
    const std::optional<Value> object =
        Json::parseElements(std::string_view(R"({"a":[1,2]})"), collect);
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(*object, Value(Dictionary{{"a", Array{1, 2}}}));
    EXPECT_TRUE(elements.empty());

    // Damage after the first element: the text is refused with the usual error, though the
    // element before it was already handed out.
    elements.clear();
    Error error;
    EXPECT_FALSE(Json::parseElements(std::string_view(R"([{"a":1},{"b":)"), collect, &error));
    EXPECT_EQ(error.code(), CocoaError::propertyListReadCorrupt);
    EXPECT_EQ(elements.size(), 1u);
}

class Token final : public Object {};

TEST(JsonTest, RefusesValuesJsonCannotHold) {
    const Value unwritable[] = {
        Array{std::nan("")},
        Array{std::numeric_limits<double>::infinity()},
        Dictionary{{"s", "\xC3"}},
        Dictionary{{"\xff", 1}},
        Dictionary{{"set", StringSet{"a"}}},
        Array{Value(std::make_shared<Token>())},
        Array{Array{Value(Error("d", 1))}},
    };
    for (const Value& value : unwritable) {
        Error error;
        EXPECT_FALSE(Json::serialize(value, &error).has_value()) << value.description();
        EXPECT_EQ(error.domain(), CocoaError::domain);
        EXPECT_EQ(error.code(), CocoaError::propertyListWriteInvalid);
        EXPECT_FALSE(Json::isValidJSONObject(value));
    }
}

}  // namespace
}  // namespace pindle::platform
