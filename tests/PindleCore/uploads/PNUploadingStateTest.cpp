#include "PindleCore/uploads/PNUploadingState.hpp"

#include <gtest/gtest.h>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "UploadsTestSupport.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {
namespace {

using platform::Data;
using platform::Dictionary;
using platform::Json;
using platform::Value;

// The dictionary form of recordFields("abc") with 5 bytes sent and recording complete, as the
// records file holds it (the serialiser sorts keys).
constexpr const char* encodedRecord =
    R"({"bytesUploaded":5,"createdAt":1700000000.5,"date":1600000000.25,"descr":"descr",)"
    R"("height":1280,"isConverted":false,"isImported":true,"isRecordingComplete":true,)"
    R"("isSynced":false,"isUploaded":false,"latitude":52.5,"longitude":13.25,)"
    R"("metadata":{"k":"v"},"resolutionsToUpload":["720p"],"resolutionsUploaded":["360p"],)"
    R"("tags":["a","b"],"title":"title of abc","urlExpirationDate":null,"urlToUpload":null,)"
    R"("videoID":"abc","width":720})";

PNUploadingStatePtr sampleRecord() {
    auto fields = testing::recordFields("abc");
    fields.bytesUploaded = 5;
    fields.isRecordingComplete = true;
    fields.isImported = true;
    fields.resolutionsUploaded = {"360p"};
    return PNUploadingState::internalObjCInit(std::move(fields));
}

Dictionary parsed(const std::string& text) {
    return *Json::parse(text)->asDictionary();
}

TEST(PNUploadingStateTest, EncodesEveryKeyExactlyAndDecodesBack) {
    auto record = sampleRecord();
    EXPECT_EQ(*Json::serialize(record->encode()), encodedRecord);

    auto decoded = PNUploadingState::decode(parsed(encodedRecord));
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->isEqual(record));
    EXPECT_EQ(decoded->shotOn(), record->shotOn());
    EXPECT_EQ(decoded->createdAt(), record->createdAt());
    EXPECT_FALSE(decoded->urlToUpload());
    EXPECT_FALSE(decoded->urlExpirationDate());

    record->setUrlToUpload(platform::URL::fromString("https://store.example/up?id=1"));
    record->setUrlExpirationDate(platform::Date::fromTimeIntervalSince1970(1800000000.75));
    auto withURL = PNUploadingState::decode(parsed(*Json::serialize(record->encode())));
    ASSERT_TRUE(withURL && withURL->urlToUpload() && withURL->urlExpirationDate());
    EXPECT_EQ(withURL->urlToUpload()->absoluteString(), "https://store.example/up?id=1");
    EXPECT_EQ(withURL->urlExpirationDate()->timeIntervalSince1970(), 1800000000.75);
}

TEST(PNUploadingStateTest, DecodingRefusesMissingOrMistypedRequiredKeys) {
    struct Case {
        const char* key;
        Value value;  // null: the key is removed
        bool decodes;
    };
    const Case cases[] = {
        {"videoID", Value(), false},
        {"createdAt", Value(), false},
        {"date", Value(), false},
        {"title", Value(), false},
        {"height", Value("1280"), false},
        {"bytesUploaded", Value(1.5), false},
        {"isUploaded", Value(1), false},
        {"tags", Value(platform::Array{"a", 1}), false},
        {"metadata", Value(Dictionary{{"k", 1}}), false},
        {"latitude", Value(7), true},  // any number
        {"height", Value(1280.0), true},
        {"urlToUpload", Value(), true},
        {"urlExpirationDate", Value(), true},
        {"urlToUpload", Value("not a url"), true},
    };
    for (const auto& c : cases) {
        Dictionary dictionary = parsed(encodedRecord);
        if (c.value.isNull())
            dictionary.erase(c.key);
        else
            dictionary[c.key] = c.value;
        EXPECT_EQ(PNUploadingState::decode(dictionary) != nullptr, c.decodes) << c.key;
    }

    Dictionary renamed = parsed(encodedRecord);
    renamed.insert_or_assign("shotOn", renamed.at("date"));
    renamed.erase("date");
    EXPECT_FALSE(PNUploadingState::decode(renamed));

    Dictionary duplicates = parsed(encodedRecord);
    duplicates["tags"] = platform::Array{"a", "a", "b"};
    const auto deduplicated = PNUploadingState::decode(duplicates);
    ASSERT_TRUE(deduplicated);
    EXPECT_EQ(deduplicated->tags(), (platform::StringSet{"a", "b"}));
}

TEST(PNUploadingStateTest, ListDocuments) {
    const std::string good = encodedRecord;
    std::string bad = good;
    bad.replace(bad.find("\"height\":1280"), 13, "\"height\":\"x\"");
    struct Case {
        std::string text;
        std::optional<std::size_t> count;
    };
    const Case cases[] = {
        {R"({"data":[]})", 0},
        {R"({"data":[)" + good + "," + bad + "," + good + "]}", 2},
        {R"({"data":[1]})", std::nullopt},
        {"[" + good + "]", std::nullopt},
        {R"({"other":[]})", std::nullopt},
        {"not json", std::nullopt},
    };
    for (const auto& c : cases) {
        auto records = PNUploadingState::decode(Data(c.text.begin(), c.text.end()));
        ASSERT_EQ(records.has_value(), c.count.has_value()) << c.text;
        if (records) {
            EXPECT_EQ(records->size(), *c.count) << c.text;
        }
    }

    auto bytes = PNUploadingState::encode({sampleRecord()});
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()),
              std::string(R"({"data":[)") + encodedRecord + "]}");
}

TEST(PNUploadingStateTest, EqualityIgnoresDatesAndAddressOnly) {
    auto base = sampleRecord();
    auto other = sampleRecord();
    other->setCreatedAt(platform::Date::fromTimeIntervalSince1970(1));
    other->setUrlToUpload(platform::URL::fromString("https://x/"));
    other->setUrlExpirationDate(platform::Date::fromTimeIntervalSince1970(2));
    EXPECT_TRUE(base->isEqual(other));
    other->setBytesUploaded(6);
    EXPECT_FALSE(base->isEqual(other));
    EXPECT_FALSE(base->isEqual(nullptr));
    EXPECT_FALSE(base->isEqual(std::make_shared<platform::Object>()));
}

TEST(PNUploadingStateTest, RequireConvert) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"720p"}, true}, {{}, false}, {{"540p"}, false}, {{"720p", "360p"}, false}};
    for (const auto& [resolutions, expected] : cases) {
        auto fields = testing::recordFields("abc");
        fields.resolutionsToUpload = resolutions;
        EXPECT_EQ(PNUploadingState(fields).requireConvert(), expected);
    }
}

class PNUploadingStateFilesTest : public testing::UploadsTest {};

TEST_F(PNUploadingStateFilesTest, BytesToUploadCountOnlyConvertedFiles) {
    auto& cache = PNLocalVideoCache::shared();
    testing::writeMedia(*cache.pathForCache("abc", "720p"), 300);
    testing::writeMedia(*cache.pathForCache("abc", "360p"), 20);

    auto fields = testing::recordFields("abc");
    fields.resolutionsToUpload = {"720p", "360p", "720p", "540p"};
    PNUploadingState record(fields);
    EXPECT_EQ(record.bytes("720p"), 300);
    EXPECT_EQ(record.bytes("540p"), 0);
    EXPECT_EQ(record.totalBytesToUpload(), 0);  // not converted yet
    record.setIsConverted(true);
    EXPECT_EQ(record.totalBytesToUpload(), 300 + 20 + 300);
}

}  // namespace
}  // namespace pindle
