#include <gtest/gtest.h>

#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNSortOrder.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoFilter.hpp"

namespace pindle {
namespace {

using platform::Dictionary;
using platform::URL;
using platform::Value;

std::shared_ptr<PNVideo> fullRecord() {
    PNVideo::Fields f;
    f.videoID = "id-1";
    f.tags = {"a", "b"};
    f.metadata = {{"k", "v"}, {"__rating__", "2"}, {"__rated_identities__", "x,y"}};
    f.shareURL = URL::fromString("https://share/x");
    f.width = 1280;
    f.height = 720;
    f.mediaMP4URL360p = URL::fromString("https://m/360p.mp4");
    f.mediaMP4URL720p = URL::fromString("https://m/720p.mp4");
    f.mediaHLSURL = URL::fromString("https://m/x.m3u8");
    f.location = platform::Location(52.5200081, -0.1277583);
    f.shotOn = *parseDate("2019-02-28T08:00:00.001Z");
    f.creationDate = parseDate("2019-03-01T10:20:30.456Z");
    f.modifyDate = parseDate("2019-03-02T00:00:00.999Z");
    f.title = "title";
    f.videoDescription = "description";
    f.thumbnailImageURL = URL::fromString("https://t/x.jpg");
    f.duration = 12.5;
    f.state = PNVideoState::failed;
    return PNVideo::make(std::move(f));
}

TEST(PNVideoEncodingTest, EncodesTwentyOneKeysAndDecodesBack) {
    auto record = fullRecord();
    Dictionary encoded = record->encode();
    EXPECT_EQ(encoded.size(), 21u);
    EXPECT_TRUE(encoded.at("transcription").isNull());
    EXPECT_EQ(encoded.at("latitude"), Value("52.520008"));
    EXPECT_EQ(encoded.at("longitude"), Value("-0.127758"));
    EXPECT_EQ(encoded.at("mediaMP4URL540p"), Value(""));
    EXPECT_EQ(encoded.at("createdAt"), Value("2019-03-01T10:20:30.456Z"));
    EXPECT_EQ(encoded.at("state"), Value("failed"));
    EXPECT_EQ(*encoded.at("metadata").asStringDictionary(), record->internalMetadata());

    auto decoded = PNVideo::decode(encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->videoID(), "id-1");
    EXPECT_EQ(decoded->internalTags(), record->internalTags());
    EXPECT_EQ(decoded->internalMetadata(), record->internalMetadata());
    EXPECT_EQ(decoded->width(), 1280);
    EXPECT_EQ(decoded->mediaMP4URL360p(), record->mediaMP4URL360p());
    EXPECT_EQ(decoded->mediaMP4URL540p(), std::nullopt);
    EXPECT_EQ(decoded->thumbnailImageURL(), record->thumbnailImageURL());
    EXPECT_EQ(decoded->creationDate(), record->creationDate());
    EXPECT_EQ(decoded->shotOn(), record->shotOn());
    EXPECT_EQ(decoded->modifyDate(), record->modifyDate());
    EXPECT_EQ(decoded->state(), PNVideoState::failed);
    ASSERT_TRUE(decoded->location());
    EXPECT_EQ(decoded->location()->coordinate().latitude, 52.520008);
    EXPECT_EQ(decoded->rating(), 2);
    // Fields the dictionary does not carry back.
    EXPECT_EQ(decoded->shareURL(), std::nullopt);
    EXPECT_EQ(decoded->mediaHLSURL(), std::nullopt);
    EXPECT_EQ(decoded->videoDescription(), "");
    EXPECT_EQ(decoded->duration(), 0);
}

TEST(PNVideoEncodingTest, DecodingChecksKindsAndRequiredKeys) {
    const Dictionary base = fullRecord()->encode();
    auto with = [&](const char* key, Value value) {
        Dictionary d = base;
        d[key] = std::move(value);
        return PNVideo::decode(d);
    };
    auto without = [&](const char* key) {
        Dictionary d = base;
        d.erase(key);
        return PNVideo::decode(d);
    };
    // A change the decoder tolerates still yields a record; a refused one fails here, and the
    // checks below read an empty record instead of following a null pointer.
    auto kept = [&](const char* key, Value value) {
        auto video = with(key, std::move(value));
        EXPECT_NE(video, nullptr) << key;
        return video ? video : PNVideo::make({});
    };
    auto latitude = [](const std::shared_ptr<PNVideo>& video) {
        return video->location() ? video->location()->coordinate().latitude : -1.0;
    };
    EXPECT_EQ(without("id"), nullptr);
    EXPECT_EQ(with("id", 7), nullptr);
    EXPECT_EQ(kept("id", "")->videoID(), "");
    EXPECT_EQ(with("shotOn", "yesterday"), nullptr);
    EXPECT_EQ(without("createdAt"), nullptr);
    EXPECT_EQ(kept("width", "720")->width(), 0);
    EXPECT_EQ(latitude(kept("latitude", 52.5)), 0);
    EXPECT_EQ(latitude(kept("latitude", "")), 0);
    EXPECT_EQ(kept("state", "done")->state(), PNVideoState::unknown);
    EXPECT_EQ(kept("tags", platform::Array{"a", "a", "b"})->internalTags(),
              (platform::StringSet{"a", "b"}));
    EXPECT_TRUE(kept("tags", platform::Array{"a", 1})->internalTags().empty());
    EXPECT_TRUE(kept("metadata", Dictionary{{"k", 1}})->internalMetadata().empty());
    EXPECT_EQ(kept("transcription", "words")->transcription(), "words");
    // A record without a modification date is still a record.
    EXPECT_EQ(kept("modifyDate", Value())->modifyDate(), std::nullopt);
}

TEST(PNVideoEncodingTest, AbsentDatesAndLocationEncodeAsNullAndEmpty) {
    PNVideo::Fields f;
    f.videoID = "bare";
    auto bare = PNVideo::make(f);
    bare->setShotOn(std::nullopt);
    Dictionary encoded = bare->encode();
    EXPECT_TRUE(encoded.at("shotOn").isNull());
    EXPECT_TRUE(encoded.at("createdAt").isNull());
    EXPECT_TRUE(encoded.at("modifyDate").isNull());
    EXPECT_EQ(encoded.at("latitude"), Value(""));
    EXPECT_EQ(PNVideo::decode(encoded), nullptr);
}

TEST(PNVideoFilterTest, FilterIsSharedAndUnvalidatedAndSortOrderTextsAreExact) {
    auto filter = std::make_shared<PNVideoFilter>(platform::StringDictionary{{"k", "v"}},
                                                  platform::StringSet{"t"}, "title", "me");
    EXPECT_EQ(filter->page, 1);
    EXPECT_EQ(filter->limit, 10);
    auto alias = filter;
    alias->page = -3;
    EXPECT_EQ(filter->page, -3);

    EXPECT_EQ(sortOrderFromRawValue("asc"), PNSortOrder::asc);
    EXPECT_EQ(sortOrderFromRawValue("desc"), PNSortOrder::desc);
    for (const char* text : {"ASC", "Asc", " asc", "descending", ""}) {
        EXPECT_EQ(sortOrderFromRawValue(text), std::nullopt) << text;
    }
    EXPECT_EQ(rawValue(PNSortOrder::desc), "desc");
}

}  // namespace
}  // namespace pindle
