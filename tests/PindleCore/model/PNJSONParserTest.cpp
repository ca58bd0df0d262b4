#include "PindleCore/model/PNJSONParser.hpp"

#include <gtest/gtest.h>

#include "PindleCore/model/PNBackendDate.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {
namespace {

using platform::Dictionary;
using platform::Value;

Value json(const std::string& text) {
    return *platform::Json::parse(text);
}

std::string videoObject(const std::string& id, const std::string& extra = "") {
    return R"({"id":")" + id +
           R"(","createdAt":"2019-03-01T10:20:30.456Z","shotOn":"2019-02-28T08:00:00.000Z")" +
           extra + "}";
}

std::string listOf(int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) text += (i ? "," : "") + videoObject("v" + std::to_string(i));
    return text + "]";
}

const PNJSONParser& parser() {
    return PNJSONParser::shared();
}

TEST(PNJSONParserTest, ListTotalComesFromTheHeaderWhenItIsAnInteger) {
    struct Case {
        const char* name;
        std::optional<Dictionary> headers;
        std::int64_t total;
    };
    const Case cases[] = {
        {"header 137", Dictionary{{"video-total-count", "137"}}, 137},
        {"header in other case", Dictionary{{"Video-Total-Count", "137"}}, 137},
        {"no headers", std::nullopt, 10},
        {"no such header", Dictionary{{"other", "5"}}, 10},
        {"with a plus sign", Dictionary{{"video-total-count", "+137"}}, 137},
        {"with two signs", Dictionary{{"video-total-count", "+-137"}}, 10},
        {"not an integer", Dictionary{{"video-total-count", "abc"}}, 10},
        {"not a string", Dictionary{{"video-total-count", 137}}, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto response =
            parser().parseListResponce(json(listOf(10)), c.headers ? &*c.headers : nullptr);
        ASSERT_TRUE(response);
        ASSERT_EQ(response->videos().size(), 10u);
        EXPECT_EQ(response->totalCount(), c.total);
        EXPECT_EQ(response->videos()[3]->videoID(), "v3");
    }
    auto empty = parser().parseListResponce(json("[]"), nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->totalCount(), 0);
}

TEST(PNJSONParserTest, UnmappableElementsAreLeftOutAndTheRestKeptInOrder) {
    const std::string text = "[" + videoObject("a") + R"(,{"id":"no dates"},7,)" +
                             videoObject("b", R"(,"shotOn":"yesterday")") + "," + videoObject("c") +
                             "]";
    auto response = parser().parseListResponce(json(text), nullptr);
    ASSERT_TRUE(response);
    ASSERT_EQ(response->videos().size(), 2u);
    EXPECT_EQ(response->videos()[0]->videoID(), "a");
    EXPECT_EQ(response->videos()[1]->videoID(), "c");
    EXPECT_EQ(response->totalCount(), 2);

    EXPECT_EQ(parser().parseListResponce(json(videoObject("x")), nullptr), nullptr);
    EXPECT_EQ(parser().parseSingleVideoResponse(json(listOf(1)), nullptr), nullptr);
}

// A list's raw body is mapped element by element as it is read: the same records, total and
// refusals as mapping the parsed body.
TEST(PNJSONParserTest, AListBodyMapsLikeItsParsedValue) {
    const std::string text =
        "[" + videoObject("a") + R"(,{"id":"no dates"},7,)" + videoObject("b") + "]";
    const Dictionary headers{{"video-total-count", "40"}};
    auto response = parser().parseListBody(platform::dataFromString(text), &headers);
    ASSERT_TRUE(response.has_value());
    ASSERT_TRUE(*response);
    auto expected = parser().parseListResponce(json(text), &headers);
    ASSERT_EQ((*response)->videos().size(), expected->videos().size());
    for (std::size_t i = 0; i < expected->videos().size(); ++i)
        EXPECT_EQ((*response)->videos()[i]->encode(), expected->videos()[i]->encode());
    EXPECT_EQ((*response)->totalCount(), 40);

    // An object is JSON but no list; damaged text is not JSON, whatever came before the damage.
    auto object = parser().parseListBody(platform::dataFromString(videoObject("x")), nullptr);
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(*object, nullptr);
    EXPECT_FALSE(
        parser().parseListBody(platform::dataFromString("[" + videoObject("a") + ",{"), nullptr));
    EXPECT_FALSE(parser().parseListBody(platform::Data{}, nullptr));
}

TEST(PNJSONParserTest, RequiredKeysDecideWhetherAnObjectMaps) {
    const char* unmappable[] = {
        R"({"createdAt":"2019-03-01T10:20:30.456Z","shotOn":"2019-03-01T10:20:30.456Z"})",
        R"({"id":5,"createdAt":"2019-03-01T10:20:30.456Z","shotOn":"2019-03-01T10:20:30.456Z"})",
        R"({"id":"a","shotOn":"2019-03-01T10:20:30.456Z"})",
        R"({"id":"a","createdAt":"2019-03-01 10:20:30","shotOn":"2019-03-01T10:20:30.456Z"})",
        R"({"id":"a","createdAt":"2019-03-01T10:20:30.456Z"})",
    };
    for (const char* text : unmappable) {
        EXPECT_EQ(parser().parseSingleVideoResponse(json(text), nullptr), nullptr) << text;
    }
}

TEST(PNJSONParserTest, OptionalKeysFallBackToTheirDefaults) {
    struct Case {
        const char* name;
        std::string extra;
        std::function<void(const PNVideo&)> check;
    };
    const Case cases[] = {
        {"nothing optional", "",
         [](const PNVideo& v) {
             ASSERT_TRUE(v.location());
             EXPECT_EQ(v.location()->coordinate().latitude, 0);
             EXPECT_EQ(v.location()->coordinate().longitude, 0);
             EXPECT_EQ(v.title(), "");
             EXPECT_EQ(v.state(), PNVideoState::unknown);
             EXPECT_EQ(v.height(), 0);
             EXPECT_TRUE(v.internalMetadata().empty());
             EXPECT_TRUE(v.internalTags().empty());
             EXPECT_EQ(v.thumbnailImageURL(), std::nullopt);
             EXPECT_EQ(v.mp4URL(PNVideoResolution::r360p), std::nullopt);
             EXPECT_EQ(v.shareURL(), std::nullopt);
             EXPECT_EQ(v.videoDescription(), "");
             EXPECT_EQ(v.duration(), 0);
         }},
        {"full",
         R"(,"lat":52.5,"lng":13.25,"title":"T","state":"processed","transcription":"hi",)"
         R"("height":720,"width":1280.0,"metadata":{"k":"v"},"thumbUrl":"https://t/x.jpg",)"
         R"("tags":["a","a","b"])",
         [](const PNVideo& v) {
             ASSERT_TRUE(v.location());
             EXPECT_EQ(v.location()->coordinate().latitude, 52.5);
             EXPECT_EQ(v.location()->coordinate().longitude, 13.25);
             EXPECT_EQ(v.title(), "T");
             EXPECT_EQ(v.state(), PNVideoState::processed);
             EXPECT_EQ(v.transcription(), "hi");
             EXPECT_EQ(v.height(), 720);
             EXPECT_EQ(v.width(), 1280);
             EXPECT_EQ(v.internalMetadata(), (platform::StringDictionary{{"k", "v"}}));
             ASSERT_TRUE(v.thumbnailImageURL());
             EXPECT_EQ(v.thumbnailImageURL()->absoluteString(), "https://t/x.jpg");
             EXPECT_EQ(v.internalTags(), (platform::StringSet{"a", "b"}));
         }},
        {"wrong shapes",
         R"(,"lat":"52","state":"ready","height":720.5,"width":"1280","metadata":{"k":"v","n":1},)"
         R"("thumbUrl":"not a url","tags":["a",2],"title":7)",
         [](const PNVideo& v) {
             ASSERT_TRUE(v.location());
             EXPECT_EQ(v.location()->coordinate().latitude, 0);
             EXPECT_EQ(v.state(), PNVideoState::unknown);
             EXPECT_EQ(v.height(), 0);
             EXPECT_EQ(v.width(), 0);
             EXPECT_TRUE(v.internalMetadata().empty());
             EXPECT_EQ(v.thumbnailImageURL(), std::nullopt);
             EXPECT_TRUE(v.internalTags().empty());
             EXPECT_EQ(v.title(), "");
         }},
        {"unknown keys on either side of every known one",
         R"(,"Title":"no","a":1,"height":9,"heightx":8,"i":0,"idx":"no","lat":1,"lata":2,)"
         R"("lng":1.5,"mp4":{},"mp4Url":{"720p":"https://m/7.mp4"},"thumb":"x","title":"T",)"
         R"("titles":"no","width":5,"zzz":0)",
         [](const PNVideo& v) {
             EXPECT_EQ(v.videoID(), "id");
             EXPECT_EQ(v.height(), 9);
             EXPECT_EQ(v.width(), 5);
             ASSERT_TRUE(v.location());
             EXPECT_EQ(v.location()->coordinate().latitude, 1);
             EXPECT_EQ(v.location()->coordinate().longitude, 1.5);
             EXPECT_EQ(v.title(), "T");
             ASSERT_TRUE(v.mediaMP4URL720p());
             EXPECT_EQ(v.mediaMP4URL720p()->absoluteString(), "https://m/7.mp4");
         }},
        {"480p stands in for 540p",
         R"(,"mp4Url":{"480p":"https://m/480.mp4","360p":"https://m/360.mp4"})",
         [](const PNVideo& v) {
             EXPECT_EQ(v.mediaMP4URL720p(), std::nullopt);
             ASSERT_TRUE(v.mediaMP4URL540p() && v.mediaMP4URL360p());
             EXPECT_EQ(v.mediaMP4URL540p()->absoluteString(), "https://m/480.mp4");
             EXPECT_EQ(v.mediaMP4URL360p()->absoluteString(), "https://m/360.mp4");
         }},
        {"540p wins over 480p", R"(,"mp4Url":{"540p":"https://m/a.mp4","480p":"https://m/b.mp4"})",
         [](const PNVideo& v) {
             ASSERT_TRUE(v.mediaMP4URL540p());
             EXPECT_EQ(v.mediaMP4URL540p()->absoluteString(), "https://m/a.mp4");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto response =
            parser().parseSingleVideoResponse(json(videoObject("id", c.extra)), nullptr);
        ASSERT_TRUE(response);
        c.check(*response->video());
    }
}

TEST(PNJSONParserTest, CreationDateIsReadInUTCAndDoublesAsModificationDate) {
    auto response = parser().parseSingleVideoResponse(json(videoObject("id")), nullptr);
    ASSERT_TRUE(response);
    const PNVideo& v = *response->video();
    ASSERT_TRUE(v.creationDate());
    EXPECT_DOUBLE_EQ(v.creationDate()->timeIntervalSince1970(), 1551435630.456);
    EXPECT_EQ(v.creationDate(), v.modifyDate());
    EXPECT_EQ(toString(*v.creationDate()), "2019-03-01T10:20:30.456Z");
}

}  // namespace
}  // namespace pindle
