#include "PindleCore/model/PNVideoListReader.hpp"

#include <gtest/gtest.h>

#include "PindleCore/model/PNJSONParser.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {
namespace {

using platform::Dictionary;

// Three records and two elements that map to none; text that looks like structure inside
// strings, escapes and multi-byte text, so that a piece may end anywhere that matters.
const std::string reply =
    R"( [{"id":"a","createdAt":"2019-03-01T10:20:30.456Z",)"
    R"("shotOn":"2019-02-28T08:00:00.000Z","title":"x,]}{[\"\\\u00e9",)"
    R"("tags":["t1","t2"],"metadata":{"k":"v,1"},"lat":1.5,"lng":-2,)"
    R"("mp4Url":{"720p":"http://h/a/720p.mp4","480p":"http://h/a/480p.mp4"}},)"
    R"({"id":"no dates"}, 7 ,)"
    R"({"id":"b","createdAt":"2019-03-01T10:20:30.456Z",)"
    "\"shotOn\":\"2019-02-28T08:00:00.000Z\",\"title\":\"\xC3\xA9\xF0\x9F\x98\x80\"},"
    R"({"id":"c","createdAt":"2019-03-01T10:20:30.456Z",)"
    R"("shotOn":"2019-02-28T08:00:00.000Z","state":"processed",)"
    R"("thumbUrl":"http://h/c.png","transcription":"said"}] )";

// Each record as the library encodes it, and the total: what a reading comes to.
struct Listing {
    std::vector<Dictionary> records;
    std::int64_t total = 0;
    bool operator==(const Listing&) const = default;
};

Listing listing(const std::shared_ptr<PNVideosResponse>& response) {
    Listing result;
    for (const auto& video : response->videos()) result.records.push_back(video->encode());
    result.total = response->totalCount();
    return result;
}

// Reads `text` in pieces ending at each of `cuts` (ascending offsets).
std::optional<std::shared_ptr<PNVideosResponse>> readInPieces(std::string_view text,
                                                              const std::vector<std::size_t>& cuts,
                                                              const Dictionary* headers = nullptr) {
    PNVideoListReader reader(PNJSONParser::shared(), headers);
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        reader.append(text.substr(from, cut - from));
        from = cut;
    }
    reader.append(text.substr(from));
    return reader.finish();
}

TEST(PNVideoListReaderTest, AReplyInAnyPiecesGivesTheRecordsOfTheWholeReply) {
    const Dictionary headers{{"video-total-count", "40"}};
    const auto whole =
        PNJSONParser::shared().parseListResponce(*platform::Json::parse(reply), &headers);
    ASSERT_TRUE(whole);
    const Listing expected = listing(whole);
    ASSERT_EQ(expected.records.size(), 3u);
    EXPECT_EQ(expected.total, 40);

    std::vector<std::size_t> everyByte;
    for (std::size_t at = 0; at <= reply.size(); ++at) {
        const auto split = readInPieces(reply, {at}, &headers);
        ASSERT_TRUE(split && *split) << "split at " << at;
        ASSERT_EQ(listing(*split), expected) << "split at " << at;
        if (at > 0 && at < reply.size())
            everyByte.push_back(at);
    }
    const auto bytes = readInPieces(reply, everyByte, &headers);
    ASSERT_TRUE(bytes && *bytes);
    EXPECT_EQ(listing(*bytes), expected);

    // Without the header the total is the number of records kept.
    const auto counted = readInPieces(reply, {reply.size() / 3});
    ASSERT_TRUE(counted && *counted);
    EXPECT_EQ((*counted)->totalCount(), 3);
}

TEST(PNVideoListReaderTest, DamagedOrCutRepliesFailAsTheWholeReplyDoes) {
    // A reply cut anywhere, in a record or between two, is no list, though records came first.
    const std::size_t end = reply.find_last_of(']');
    for (std::size_t length = 0; length <= end; ++length) {
        const std::string_view cut = std::string_view(reply).substr(0, length);
        ASSERT_FALSE(readInPieces(cut, {length / 2})) << "cut after " << length;
        ASSERT_FALSE(PNJSONParser::shared().parseListBody(platform::dataFromString(cut), nullptr))
            << "cut after " << length;
    }

    struct Case {
        const char* name;
        std::string text;
        bool isJSON;  // then it maps to nullptr, else to nothing
    };
    const Case cases[] = {
        {"an object", R"({"id":"a","createdAt":"2019-03-01T10:20:30.456Z"})", true},
        {"damage after records", reply.substr(0, reply.find("{\"id\":\"b\"")) + "{]", false},
        {"garbage after the list", reply + "x", false},
        {"a second list", reply + "[]", false},
        {"not JSON", "<html>busy</html>", false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t at : {std::size_t{0}, c.text.size() / 2, c.text.size()}) {
            const auto read = readInPieces(c.text, {at});
            ASSERT_EQ(read.has_value(), c.isJSON);
            if (read) {
                EXPECT_EQ(*read, nullptr);
            }
        }
    }
}

// The reader maps each element from the JSON reader's events, never building its value; the
// record must be the one the parsed element maps to, whatever shape each member has.
TEST(PNVideoListReaderTest, EachMemberMapsAsItsParsedValueDoes) {
    const std::string dates =
        R"("createdAt":"2019-03-01T10:20:30.456Z","shotOn":"2019-02-28T08:00:00.000Z")";
    const char* members[] = {
        // Repeated members: the last one counts, whatever came before.
        R"("title":"first","title":"second","id":"x","id":"y")",
        R"("id":"x","id":7)",
        R"("title":"kept","title":["gone"])",
        R"("mp4Url":{"720p":"http://h/1.mp4"},"mp4Url":{"360p":"http://h/2.mp4"})",
        R"("mp4Url":{"720p":"http://h/1.mp4"},"mp4Url":"http://h/2.mp4")",
        R"("tags":["a"],"tags":["b","c"],"metadata":{"k":"v"},"metadata":{"l":"w"})",
        R"("tags":["a"],"tags":{"b":"c"},"metadata":{"k":"v"},"metadata":[{"l":"w"}])",
        R"("createdAt":"2019-03-01T10:20:30.456Z","createdAt":null)",
        // Members of the wrong kind count as absent or zero.
        R"("title":5,"state":true,"transcription":null,"thumbUrl":{},"lat":"1","lng":[2])",
        R"("height":720.0,"width":-3,"lat":7,"lng":-0.5)",
        R"("height":720.5,"width":1e30,"lat":1e308,"lng":-12345678901234567890)",
        R"("state":"processed","state":"no such state")",
        R"("state":"processed","transcription":"said","transcription":"said again")",
        // Addresses: a 540p that is no address falls back to 480p; other entries are skipped.
        R"("mp4Url":{"540p":"not a url","480p":"http://h/480.mp4","1080p":"http://h/x"})",
        R"("mp4Url":{"540p":540,"480p":"http://h/480.mp4","720p":{"u":"http://h/7"}})",
        R"("mp4Url":{"720p":"http://h/7.mp4","720p":false,"360p":"http://h/3.mp4"})",
        R"("mp4Url":["http://h/7.mp4"],"thumbUrl":"http://h/t p.png")",
        R"("thumbUrl":"http://h/t.png","thumbUrl":"http://h/u.png")",
        // Metadata keeps only strings, tags only an array of strings.
        R"("metadata":{"a":"1","b":2})",
        R"("metadata":{"a":2,"a":"1","b":{"c":"d"},"b":"e"})",
        R"("metadata":{"a":"1","a":[]},"tags":["x",1],"tags":["y","y",""])",
        R"("tags":["x",["y"]],"metadata":"k=v")",
        // Escaped names, unknown members nested deep, members in any order.
        R"("i\u0064":"escaped","\u006dp4Url":{"72\u0030p":"http://h/e.mp4"},"ti\"tle":"q")",
        R"("other":{"id":"inner","mp4Url":{"720p":"http://h/x"},"a":[[{"title":"t"}]]})",
        R"("width":1,"tags":["b","a"],"title":"t\u00e9\n","metadata":{"z":"1","a":"2"})",
    };
    std::string text = "[";
    for (const char* extra : members) {
        text += std::string(R"({"id":"v",)") + dates + "," + extra + "},";
        text += std::string("{") + extra + "," + dates + R"(,"id":"w"},)";
    }
    // Elements that are no video objects, with objects inside them.
    text += R"([{"id":"in an array",)" + dates + R"(}],"s",{"list":[{"id":"deeper"}]}])";

    const auto parsed = platform::Json::parse(text);
    ASSERT_TRUE(parsed) << text;
    const auto whole = PNJSONParser::shared().parseListResponce(*parsed, nullptr);
    ASSERT_TRUE(whole);
    const Listing expected = listing(whole);
    ASSERT_GT(expected.records.size(), std::size(members));

    const auto read = readInPieces(text, {text.size() / 3, text.size() / 2});
    ASSERT_TRUE(read && *read);
    const Listing events = listing(*read);
    ASSERT_EQ(events.records.size(), expected.records.size());
    for (std::size_t i = 0; i < expected.records.size(); ++i) {
        EXPECT_EQ(events.records[i], expected.records[i])
            << "record " << i << ": " << platform::Json::serialize(events.records[i]).value_or("")
            << " against " << platform::Json::serialize(expected.records[i]).value_or("");
    }
}

}  // namespace
}  // namespace pindle
