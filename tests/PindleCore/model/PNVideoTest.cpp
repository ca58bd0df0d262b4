#include "PindleCore/model/PNVideo.hpp"

#include <gtest/gtest.h>
#include <future>

#include "PindleCore/model/PNTokenObject.hpp"

namespace pindle {
namespace {

using platform::URL;

URL url(const char* text) {
    return *URL::fromString(text);
}

std::shared_ptr<PNVideo> videoWith(std::optional<URL> u360, std::optional<URL> u540,
                                   std::optional<URL> u720, std::optional<URL> hls = {}) {
    PNVideo::Fields fields;
    fields.videoID = "v1";
    fields.mediaMP4URL360p = std::move(u360);
    fields.mediaMP4URL540p = std::move(u540);
    fields.mediaMP4URL720p = std::move(u720);
    fields.mediaHLSURL = std::move(hls);
    return PNVideo::make(std::move(fields));
}

TEST(PNVideoTest, MediaAddressFallsBackOnlyToHigherRenditions) {
    const URL a360 = url("https://cdn.example/360p.mp4");
    const URL a540 = url("https://cdn.example/540p.mp4");
    const URL a720 = url("https://cdn.example/720p.mp4");
    struct Case {
        const char* name;
        std::shared_ptr<PNVideo> video;
        std::optional<URL> for720, for540, for360;
    };
    const Case cases[] = {
        {"all three", videoWith(a360, a540, a720), a720, a540, a360},
        {"only 720p", videoWith({}, {}, a720), a720, a720, a720},
        {"only 360p", videoWith(a360, {}, {}), std::nullopt, std::nullopt, a360},
        {"540p and 720p", videoWith({}, a540, a720), a720, a540, a540},
        {"only HLS", videoWith({}, {}, {}, url("https://cdn.example/x.m3u8")), std::nullopt,
         std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.video->mp4URL(PNVideoResolution::r720p), c.for720);
        EXPECT_EQ(c.video->mp4URL(PNVideoResolution::r540p), c.for540);
        EXPECT_EQ(c.video->mp4URL(PNVideoResolution::r360p), c.for360);
    }
}

TEST(PNVideoTest, ResolutionConversions) {
    EXPECT_EQ(videoResolutionFromString("720p"), PNVideoResolution::r720p);
    EXPECT_EQ(videoResolutionFromString("540p"), PNVideoResolution::r540p);
    EXPECT_EQ(videoResolutionFromString("360p"), PNVideoResolution::r360p);
    for (const char* text : {"720P", " 360p", "480p", ""}) {
        EXPECT_EQ(videoResolutionFromString(text), std::nullopt) << text;
    }
    for (PNVideoResolution r :
         {PNVideoResolution::r720p, PNVideoResolution::r540p, PNVideoResolution::r360p}) {
        EXPECT_EQ(videoResolutionFromString(toString(r)), r);
        EXPECT_EQ(videoResolutionFromRawValue(rawValue(r)), r);
    }
    EXPECT_EQ(videoResolutionFromRawValue(3), std::nullopt);
    EXPECT_EQ(videoResolutionFromRawValue(-1), std::nullopt);

    EXPECT_EQ(videoResolutionFromURL(url("https://h/a/360p.mp4")), PNVideoResolution::r360p);
    EXPECT_EQ(videoResolutionFromURL(url("https://h/a/360p.mp4.mp4")), PNVideoResolution::r360p);
    EXPECT_EQ(videoResolutionFromURL(url("https://h/a/360p.MP4")), std::nullopt);
    EXPECT_EQ(videoResolutionFromURL(url("https://h/a/clip_720p.mp4")), std::nullopt);
}

TEST(PNVideoTest, StateTextsAreExactAndCaseSensitive) {
    EXPECT_EQ(videoStateFromRawValue("processing"), PNVideoState::processing);
    EXPECT_EQ(videoStateFromRawValue("Processing"), std::nullopt);
    EXPECT_EQ(videoStateFromRawValue("all"), PNVideoState::all);
    EXPECT_EQ(rawValue(PNVideoState::failed), "failed");
}

TEST(PNVideoTest, EqualityAndHashFollowTheIdentifierOnly) {
    PNVideo::Fields a;
    a.videoID = "same";
    a.title = "one";
    PNVideo::Fields b = a;
    b.title = "two";
    auto first = PNVideo::make(a);
    auto second = PNVideo::make(b);
    EXPECT_TRUE(*first == *second);
    EXPECT_EQ(first->hash(), second->hash());
    EXPECT_NE(first.get(), second.get());

    EXPECT_EQ(first->state(), PNVideoState::unknown);
    EXPECT_EQ(first->transcription(), std::nullopt);
}

TEST(PNVideoTest, TokenFactoryBuildsAProcessingRecordAndNeedsShotOn) {
    const platform::Date shot = platform::Date::fromTimeIntervalSince1970(1'551'435'630.456);
    auto video = PNTokenObject::createVideoObject("id1", {"a", "b"}, {{"k", "v"}}, 1280, 720,
                                                  std::nullopt, shot, std::nullopt, std::nullopt,
                                                  "title", "description", std::nullopt, 0);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->state(), PNVideoState::processing);
    EXPECT_EQ(video->mp4URL(PNVideoResolution::r360p), std::nullopt);
    EXPECT_EQ(video->shareURL(), std::nullopt);
    EXPECT_EQ(video->transcription(), std::nullopt);
    EXPECT_EQ(video->creationDate(), std::nullopt);
    EXPECT_EQ(video->location().has_value(), false);
    EXPECT_EQ(video->internalTags(), (platform::StringSet{"a", "b"}));
    EXPECT_EQ(video->shotOn(), shot);

    EXPECT_EQ(PNTokenObject::createVideoObject("id1", {}, {}, 0, 0, std::nullopt, std::nullopt,
                                               std::nullopt, std::nullopt, "", "", std::nullopt, 0),
              nullptr);
}

// Tags, metadata and addresses are kept packed; whatever their number and length (empty, with
// NUL bytes, long enough to need several bytes for their length), they read back as written,
// and a field written alone leaves its neighbours as they were.
TEST(PNVideoTest, FieldsReadBackAsWrittenWhateverTheirSize) {
    const std::string nul("a\0b", 3);
    const std::string longTexts[] = {std::string(127, 'x'), std::string(128, 'y'),
                                     std::string(20000, 'z'), std::string(300000, 'w')};
    platform::StringSet tags = {"", nul, "\xC3\xA9t\xC3\xA9"};
    platform::StringDictionary metadata = {{"", ""}, {nul, nul}, {"k", ""}};
    for (const std::string& text : longTexts) {
        tags.insert(text);
        metadata[text] = text + "!";
        metadata[text.substr(0, 5)] = text;
    }
    const URL longAddress = url(("https://cdn.example/" + std::string(200, 'p') + ".mp4").c_str());

    PNVideo::Fields fields;
    fields.videoID = "v1";
    fields.tags = tags;
    fields.metadata = metadata;
    fields.mediaMP4URL540p = longAddress;
    fields.thumbnailImageURL = url("https://cdn.example/t.png");
    const auto video = PNVideo::make(fields);
    EXPECT_EQ(video->internalTags(), tags);
    EXPECT_EQ(video->internalMetadata(), metadata);
    EXPECT_EQ(video->mediaMP4URL540p(), longAddress);
    EXPECT_EQ(video->mediaMP4URL360p(), std::nullopt);
    EXPECT_EQ(video->thumbnailImageURL(), url("https://cdn.example/t.png"));

    // Each address alone, then the three MP4 ones together; the thumbnail is kept throughout.
    video->setMediaMP4URL360p(url("https://cdn.example/360p.mp4"));
    video->setMediaMP4URL540p(std::nullopt);
    EXPECT_EQ(video->mediaMP4URL360p(), url("https://cdn.example/360p.mp4"));
    EXPECT_EQ(video->mediaMP4URL540p(), std::nullopt);
    EXPECT_EQ(video->mediaMP4URL720p(), std::nullopt);
    video->setMediaMP4URLs({std::nullopt, longAddress, url("https://cdn.example/720p.mp4")});
    const PNVideo::MediaMP4URLs together = video->mediaMP4URLs();
    EXPECT_EQ(together.r360p, std::nullopt);
    EXPECT_EQ(together.r540p, longAddress);
    EXPECT_EQ(together.r720p, url("https://cdn.example/720p.mp4"));
    EXPECT_EQ(video->thumbnailImageURL(), url("https://cdn.example/t.png"));
    video->setThumbnailImageURL(std::nullopt);
    EXPECT_EQ(video->thumbnailImageURL(), std::nullopt);
    EXPECT_EQ(video->mediaMP4URL540p(), longAddress);

    video->setInternalTags({});
    video->setInternalMetadata({{"only", std::string(200, 'v')}});
    EXPECT_TRUE(video->tags().empty());
    EXPECT_EQ(video->internalMetadata(),
              (platform::StringDictionary{{"only", std::string(200, 'v')}}));

    // The fields few records have read as unset until written, then as written.
    EXPECT_EQ(video->shareURL(), std::nullopt);
    EXPECT_EQ(video->mediaHLSURL(), std::nullopt);
    EXPECT_EQ(video->videoDescription(), "");
    EXPECT_EQ(video->transcription(), std::nullopt);
    EXPECT_EQ(video->duration(), 0);
    video->setDuration(12.5);
    video->setTranscription("");
    video->setShareURL(url("https://share.example/v1"));
    EXPECT_EQ(video->duration(), 12.5);
    EXPECT_EQ(video->transcription(), std::optional<std::string>(""));
    EXPECT_EQ(video->shareURL(), url("https://share.example/v1"));
    EXPECT_EQ(video->mediaHLSURL(), std::nullopt);
    EXPECT_EQ(video->videoDescription(), "");
}

TEST(PNVideoTest, TokenTestsClassMembershipOnly) {
    EXPECT_TRUE(PNTokenObject::itsMe(PNTokenObject::sharedInstance()));
    EXPECT_TRUE(PNTokenObject::itsMe(std::make_shared<PNTokenObject>()));
    EXPECT_FALSE(PNTokenObject::itsMe(videoWith({}, {}, {})));
    EXPECT_FALSE(PNTokenObject::itsMe(nullptr));
    // One token for the whole process, whichever thread asks.
    EXPECT_EQ(PNTokenObject::sharedInstance(),
              std::async(std::launch::async, [] { return PNTokenObject::sharedInstance(); }).get());
}

}  // namespace
}  // namespace pindle
