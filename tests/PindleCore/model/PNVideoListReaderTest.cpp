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

}  // namespace
}  // namespace pindle
