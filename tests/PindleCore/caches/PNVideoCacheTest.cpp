#include "PindleCore/caches/PNVideoCache.hpp"

#include <gtest/gtest.h>

#include "../api/EmulatorFixture.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "platform/foundation/Base64.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/PercentEncoding.hpp"

namespace pindle {
namespace {

using platform::Dictionary;
using testing::Outcome;

class PNVideoCacheTest : public testing::EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        authorize();
        cache().didReceiveMemoryWarning();
        for (const auto& video : emulator_.store().list({}).videos) ids_.push_back(video.id);
        emulator_.server().requestLog().clear();
    }

    static PNVideoCache& cache() { return PNVideoCache::shared(); }

    static std::shared_ptr<PNVideo> record(const std::string& id) {
        PNVideo::Fields fields;
        fields.videoID = id;
        return PNVideo::make(std::move(fields));
    }

    std::vector<std::string> videoIDs(const std::vector<std::shared_ptr<PNVideo>>& videos) {
        std::vector<std::string> result;
        for (const auto& v : videos) result.push_back(v->videoID());
        return result;
    }

    void post(const char* name, platform::Value object) {
        platform::NotificationCenter::defaultCenter().post(name, std::move(object));
    }

    std::vector<std::string> ids_;
};

TEST_F(PNVideoCacheTest, MemoryAnswersSynchronouslyAndOnlyTheMissingAreRequested) {
    bool answered = false;
    EXPECT_EQ(cache().getVideos({}, [&](const auto& videos) { answered = videos.empty(); }),
              nullptr);
    EXPECT_TRUE(answered);

    const std::string& a = ids_[0];
    const std::string& b = ids_[1];
    cache().putVideoToCache(record(b));
    Outcome<std::vector<std::string>> outcome;
    PNCancellablePtr token =
        cache().getVideos({a, b, a}, [&](const auto& videos) { outcome.set(videoIDs(videos)); });
    EXPECT_NE(token, nullptr);
    EXPECT_EQ(outcome.wait(), (std::vector<std::string>{a, b, a}));

    auto requests = emulator_.server().requestLog().requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string query = requests[0].rawQuery();
    const std::string encoded = query.substr(query.find("ids=") + 4);
    EXPECT_EQ(platform::Json::parse(
                  *platform::Base64::decode(*platform::PercentEncoding::decode(encoded))),
              platform::Value(platform::Array{a, a}));

    // Everything cached now: no further request.
    bool cachedAnswer = false;
    EXPECT_EQ(
        cache().getVideos({b, a}, [&](const auto& videos) { cachedAnswer = videos.size() == 2; }),
        nullptr);
    EXPECT_TRUE(cachedAnswer);
    EXPECT_EQ(emulator_.server().requestLog().count(), 1u);
}

TEST_F(PNVideoCacheTest, AFailedFetchReportsTheErrorAndWhatIsCached) {
    emulator_.stop();
    Outcome<std::pair<std::shared_ptr<PNVideo>, std::optional<platform::Error>>> outcome;
    cache().getVideo("missing", [&](const std::shared_ptr<PNVideo>& video,
                                    const std::optional<platform::Error>& error) {
        outcome.set({video, error});
    });
    EXPECT_EQ(outcome.wait().first, nullptr);
    EXPECT_TRUE(outcome.wait().second);
}

TEST_F(PNVideoCacheTest, CreatedNotificationsPatchMediaAddressesInPlace) {
    auto cached = record(ids_[0]);
    cached->setMediaMP4URL360p(platform::URL::fromString("https://old/360p.mp4"));
    cached->setMediaMP4URL540p(platform::URL::fromString("https://old/540p.mp4"));
    cache().putVideoToCache(cached);

    post(NotificationName::PNVideoCreated,
         Dictionary{{"videoID", ids_[0]},
                    {"mp4Url", Dictionary{{"720p", "https://new/720p.mp4"}, {"360p", ""}}}});
    EXPECT_EQ(cached->mediaMP4URL720p()->absoluteString(), "https://new/720p.mp4");
    EXPECT_EQ(cached->mediaMP4URL360p(), std::nullopt);
    EXPECT_EQ(cached->mediaMP4URL540p()->absoluteString(), "https://old/540p.mp4");
    EXPECT_EQ(cache().getCachedVideo(ids_[0]), cached);
    EXPECT_EQ(emulator_.server().requestLog().count(), 0u);

    // Unknown to the cache: the record is fetched.
    post(NotificationName::PNVideoCreated,
         Dictionary{{"videoID", ids_[1]}, {"mp4Url", Dictionary{}}});
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(1, std::chrono::seconds(10)));
    EXPECT_EQ(emulator_.server().requestLog().requests()[0].path(), "/v1/videos/" + ids_[1]);

    // Payloads of another shape are ignored.
    post(NotificationName::PNVideoCreated, platform::Value("not a dictionary"));
    post(NotificationName::PNVideoCreated, Dictionary{{"videoID", 7}});
}

TEST_F(PNVideoCacheTest, DeletedAndUpdatedNotificationsDropOrRefetch) {
    cache().putVideoToCache(record(ids_[0]));
    cache().putVideoToCache(record(ids_[1]));
    cache().putVideoToCache(record(ids_[2]));
    post(NotificationName::PNVideoDeleted, Dictionary{{"videoID", ids_[0]}});
    post(NotificationName::PNVideoDeleted, platform::Value(ids_[1]));
    EXPECT_EQ(cache().getCachedVideo(ids_[0]), nullptr);
    EXPECT_EQ(cache().getCachedVideo(ids_[1]), nullptr);

    auto stale = cache().getCachedVideo(ids_[2]);
    post(NotificationName::PNVideoUpdated, platform::Value(ids_[2]));
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(1, std::chrono::seconds(10)));
    // Once the refetch has been stored, the record is the backend's, not the stale one.
    EXPECT_TRUE(testing::eventually([&] {
        auto current = cache().getCachedVideo(ids_[2]);
        return current && current != stale;
    }));

    cache().didReceiveMemoryWarning();
    EXPECT_TRUE(cache().getCachedVideos({ids_[0], ids_[1], ids_[2]}).empty());
}

}  // namespace
}  // namespace pindle
