#include "platform/foundation/JsonStreamReader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/foundation/RandomJsonDocument.hpp"

namespace pindle::platform {
namespace {

// What a reading gave: the elements handed out, then the value or the error.
struct Reading {
    std::vector<Value> elements;
    std::optional<Value> value;
    std::optional<Error> error;

    // The same outcome as `whole`: on a refusal, the elements handed out before it may stop
    // short of those the whole text gave, but are never others.
    bool sameAs(const Reading& whole) const {
        const auto code = [](const std::optional<Error>& error) {
            return error ? std::optional(std::pair(error->domain(), error->code())) : std::nullopt;
        };
        const bool sameElements =
            value ? elements == whole.elements
                  : elements.size() <= whole.elements.size() &&
                        std::equal(elements.begin(), elements.end(), whole.elements.begin());
        return sameElements && value == whole.value && code(error) == code(whole.error);
    }
};

std::ostream& operator<<(std::ostream& out, const Reading& reading) {
    out << reading.elements.size() << " elements, ";
    if (reading.value)
        return out << "value " << Json::serialize(*reading.value).value_or("?");
    return out << "error " << (reading.error ? reading.error->description() : "none");
}

Reading readWhole(std::string_view text) {
    Reading reading;
    Error error;
    reading.value = Json::parseElements(
        text, [&](Value&& element) { reading.elements.push_back(std::move(element)); }, &error);
    if (!reading.value)
        reading.error = error;
    return reading;
}

// Builds each element again from a reader's events, handing it out once it is whole; the parts
// of an element cut short by a refusal are never handed out.
class ElementBuilder : public Json::Events {
  public:
    explicit ElementBuilder(std::vector<Value>& elements) : elements_(elements) {}

    void beginObject() override { open_.push_back({Value(Dictionary()), {}}); }
    void memberName(std::string_view name) override { open_.back().name = name; }
    void endObject() override { close(); }
    void beginArray() override { open_.push_back({Value(Array()), {}}); }
    void endArray() override { close(); }
    void string(std::string_view text) override { add(Value(std::string(text))); }
    void integer(std::int64_t number) override { add(Value(number)); }
    void real(double number) override { add(Value(number)); }
    void boolean(bool value) override { add(Value(value)); }
    void null() override { add(Value()); }

  private:
    struct Open {
        Value container;
        std::string name;  // of the member whose value comes next
    };

    void add(Value&& value) {
        if (open_.empty()) {
            elements_.push_back(std::move(value));
        } else if (Dictionary* object = open_.back().container.asDictionary()) {
            (*object)[open_.back().name] = std::move(value);  // the last of a repeated name
        } else {
            open_.back().container.asArray()->push_back(std::move(value));
        }
    }
    void close() {
        Value container = std::move(open_.back().container);
        open_.pop_back();
        add(std::move(container));
    }

    std::vector<Value>& elements_;
    std::vector<Open> open_;
};

enum class Handing { values, events };

// Reads `text` in pieces that end at each of `cuts` (ascending offsets).
Reading readInPieces(std::string_view text, const std::vector<std::size_t>& cuts,
                     Handing handing = Handing::values) {
    Reading reading;
    ElementBuilder builder(reading.elements);
    std::optional<JsonStreamReader> valueReader;
    std::optional<JsonStreamReader> eventReader;
    if (handing == Handing::values)
        valueReader.emplace(
            [&](Value&& element) { reading.elements.push_back(std::move(element)); });
    else
        eventReader.emplace(builder);
    JsonStreamReader& reader = valueReader ? *valueReader : *eventReader;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        reader.append(text.substr(from, cut - from));
        from = cut;
    }
    reader.append(text.substr(from));
    Error error;
    reading.value = reader.finish(&error);
    if (!reading.value)
        reading.error = error;
    return reading;
}

std::vector<std::size_t> everyByte(std::string_view text) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = 1; at < text.size(); ++at) cuts.push_back(at);
    return cuts;
}

// Every split in two, and a byte at a time, reads as the whole text does: the same elements
// (handed out whole or rebuilt from events), the same value, the same refusal.
void expectSameInAnyPieces(std::string_view text) {
    const Reading whole = readWhole(text);
    for (const Handing handing : {Handing::values, Handing::events}) {
        SCOPED_TRACE(handing == Handing::values ? "values" : "events");
        for (std::size_t at = 0; at <= text.size(); ++at) {
            const Reading split = readInPieces(text, {at}, handing);
            ASSERT_TRUE(split.sameAs(whole))
                << split << " against " << whole << ", split at " << at << " of " << text;
        }
        const Reading bytes = readInPieces(text, everyByte(text), handing);
        ASSERT_TRUE(bytes.sameAs(whole))
            << bytes << " against " << whole << ", byte by byte: " << text;
    }
}

TEST(JsonStreamReaderTest, ReadsInAnyPiecesExactlyWhatTheWholeTextGives) {
    const char* texts[] = {
        // Read whole.
        R"( [{"id":"a","n":[1,[2]]}, 3, [], "x"] )",
        R"([{"s":"a,b]c}d{[\"q\\","t":"\\"},"\u00e9\ud83d\ude00",-1.5e3,true,null])",
        "\xEF\xBB\xBF [ ] \n",
        "[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"]",
        R"({"a":[1,2],"b":{"c":"]"}})",
        "[[],{},[[]],{\"\":{}}]",
        // Refused, some after elements have been handed out.
        "",
        "  \t",
        "\xEF\xBB\xBF",
        "\xEF[1]",
        " \xEF\xBB\xBF[1]",
        "42",
        "[1,]",
        "[,1]",
        "[1 2]",
        "[1]x",
        "[1] [2]",
        "[1}",
        "[{]}",
        "[{\"a\":1}],",
        R"([{"id":"a"},{"id":"b")",
        R"([{"id":"a"},{"id":"b)",
        R"([{"id":"a"},{"id":"b\)",
        "[\"\x01\"]",
        "[\"\xC3\"]",
        "[\"\xED\xA0\x80\"]",
        "[tru]",
        "[01]",
        R"({"a":1)",
        R"({"a":1}x)",
    };
    for (const char* text : texts) expectSameInAnyPieces(text);
}

TEST(JsonStreamReaderTest, RefusesNestingAsTheWholeTextDoes) {
    // The array itself is one level: its elements may nest one level less than the limit.
    for (const int inside : {Json::maximumNestingDepth - 1, Json::maximumNestingDepth}) {
        const std::string element = std::string(static_cast<std::size_t>(inside), '[') +
                                    std::string(static_cast<std::size_t>(inside), ']');
        const std::string text = "[1," + element + "]";
        const Reading whole = readWhole(text);
        EXPECT_EQ(whole.value.has_value(), inside < Json::maximumNestingDepth);
        EXPECT_TRUE(readInPieces(text, everyByte(text)).sameAs(whole));
        EXPECT_TRUE(readInPieces(text, {text.size() / 2}).sameAs(whole));
        EXPECT_TRUE(readInPieces(text, {text.size() / 2}, Handing::events).sameAs(whole));
    }
}

TEST(JsonStreamReaderTest, RandomDocumentsReadTheSameInRandomPieces) {
    std::mt19937 random(7177);
    const std::string damage[] = {"\"", "\\", ",", "]", "}", "{", "[", " ", "\xC3", ":", "x"};
    for (int round = 0; round < 3000; ++round) {
        std::string text =
            "[" + test::randomJsonDocument(random) + "," + test::randomJsonDocument(random) + "]";
        if (round % 2) {
            const std::size_t at = random() % text.size();
            if (random() % 2)
                text.erase(at, 1);
            text.insert(std::min(at, text.size()), damage[random() % std::size(damage)]);
        }
        std::vector<std::size_t> cuts;
        for (int i = 0; i < 4; ++i) cuts.push_back(random() % (text.size() + 1));
        std::sort(cuts.begin(), cuts.end());
        const Reading whole = readWhole(text);
        const Reading pieces = readInPieces(text, cuts);
        ASSERT_TRUE(pieces.sameAs(whole)) << pieces << " against " << whole << ": " << text;
        const Reading events = readInPieces(text, cuts, Handing::events);
        ASSERT_TRUE(events.sameAs(whole)) << events << " against " << whole << ": " << text;
    }
}

TEST(JsonStreamReaderTest, HandsOutEachElementOnceItsLastByteIsIn) {
    std::vector<Value> elements;
    JsonStreamReader reader([&](Value&& element) { elements.push_back(std::move(element)); });
    EXPECT_TRUE(reader.append(std::string_view(R"([{"a":"x,y"},12)")));
    // The number may go on in the next piece; the object cannot.
    ASSERT_EQ(elements.size(), 1u);
    EXPECT_EQ(elements[0], Value(Dictionary{{"a", "x,y"}}));
    EXPECT_TRUE(reader.append(std::string_view("3,")));
    ASSERT_EQ(elements.size(), 2u);
    EXPECT_EQ(elements[1], Value(123));

    // Damage ends the reading at once; what follows is not read, even when it would fit.
    EXPECT_FALSE(reader.append(std::string_view("}, 4")));
    EXPECT_FALSE(reader.append(std::string_view("]")));
    EXPECT_EQ(elements.size(), 2u);
    Error error;
    EXPECT_FALSE(reader.finish(&error));
    EXPECT_EQ(error.domain(), CocoaError::domain);
    EXPECT_EQ(error.code(), CocoaError::propertyListReadCorrupt);
}

}  // namespace
}  // namespace pindle::platform
