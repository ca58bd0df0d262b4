#include "PindleCore/caches/PNVideoCache.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>

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

    // Everything cached now: no further request, so a fetch asked for afterwards is the next
    // one the backend sees.
    bool cachedAnswer = false;
    EXPECT_EQ(
        cache().getVideos({b, a}, [&](const auto& videos) { cachedAnswer = videos.size() == 2; }),
        nullptr);
    EXPECT_TRUE(cachedAnswer);
    Outcome<std::vector<std::string>> later;
    cache().getVideos({ids_[2]}, [&](const auto& videos) { later.set(videoIDs(videos)); });
    EXPECT_EQ(later.wait(), std::vector<std::string>{ids_[2]});
    EXPECT_EQ(emulator_.server().requestLog().count(), 2u);
}

// A completion may hand work that uses the cache to another thread and wait for it: the cache
// answers from memory with its lock released.
TEST_F(PNVideoCacheTest, AnAnswerFromMemoryHoldsNoLock) {
    cache().putVideoToCache(record(ids_[0]));
    const auto otherThreadUsesTheCache = [] {
        auto other = std::async(std::launch::async,
                                [] { return cache().getCachedVideo("another") == nullptr; });
        return other.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    };
    bool single = false;
    cache().getVideo(ids_[0],
                     [&](const std::shared_ptr<PNVideo>&, const std::optional<platform::Error>&) {
                         single = otherThreadUsesTheCache();
                     });
    EXPECT_TRUE(single);
    bool several = false;
    cache().getVideos({ids_[0]}, [&](const auto&) { several = otherThreadUsesTheCache(); });
    EXPECT_TRUE(several);
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
    ASSERT_TRUE(cached->mediaMP4URL720p() && cached->mediaMP4URL540p());
    EXPECT_EQ(cached->mediaMP4URL720p()->absoluteString(), "https://new/720p.mp4");
    EXPECT_EQ(cached->mediaMP4URL360p(), std::nullopt);
    EXPECT_EQ(cached->mediaMP4URL540p()->absoluteString(), "https://old/540p.mp4");
    EXPECT_EQ(cache().getCachedVideo(ids_[0]), cached);

    // Unknown to the cache: the record is fetched, and that is the first request, so
    // patching the known record fetched nothing.
    post(NotificationName::PNVideoCreated,
         Dictionary{{"videoID", ids_[1]}, {"mp4Url", Dictionary{}}});
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(1, std::chrono::seconds(10)));
    EXPECT_EQ(emulator_.server().requestLog().requests()[0].path(), "/v1/videos/" + ids_[1]);

    // Payloads of another shape are ignored: the fetch that a well-formed one then causes is
    // the only further request.
    post(NotificationName::PNVideoCreated, platform::Value("not a dictionary"));
    post(NotificationName::PNVideoCreated, Dictionary{{"videoID", 7}});
    post(NotificationName::PNVideoCreated, Dictionary{{"videoID", ids_[2]}});
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(2, std::chrono::seconds(10)));
    const auto requests = emulator_.server().requestLog().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path(), "/v1/videos/" + ids_[2]);
}

TEST_F(PNVideoCacheTest, DeletedAndUpdatedNotificationsDropOrRefetch) {
    ASSERT_GE(ids_.size(), 6u);
    for (int i = 0; i < 6; ++i) cache().putVideoToCache(record(ids_[i]));
    // Every shape a poster uses, each identifier of a list included.
    post(NotificationName::PNVideoDeleted, Dictionary{{"videoID", ids_[0]}});
    post(NotificationName::PNVideoDeleted, platform::Value(ids_[1]));
    post(NotificationName::PNVideoDeleted, platform::Array{ids_[2], 7, ids_[3]});
    for (int i = 0; i < 4; ++i) EXPECT_EQ(cache().getCachedVideo(ids_[i]), nullptr) << i;
    // Checked before any refetch: the video endpoint stores a record once more after its
    // completion has run, which would race a memory warning sent after that completion.
    cache().didReceiveMemoryWarning();
    EXPECT_TRUE(cache().getCachedVideos({ids_[4], ids_[5]}).empty());

    for (int i = 4; i < 6; ++i) cache().putVideoToCache(record(ids_[i]));
    const auto stale = cache().getCachedVideos({ids_[4], ids_[5]});
    post(NotificationName::PNVideoUpdated, Dictionary{{"videoID", ids_[4]}});
    post(NotificationName::PNVideoUpdated, platform::Array{ids_[5]});
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(2, std::chrono::seconds(10)));
    // Once the refetches have been stored, the records are the backend's, not the stale ones.
    EXPECT_TRUE(testing::eventually([&] {
        auto current = cache().getCachedVideos({ids_[4], ids_[5]});
        return current.size() == 2 && current[0] != stale[0] && current[1] != stale[1];
    }));
}

// The whole map, read and replaced with no lock while the cache works: a store after a
// replacement lands in it, and every read is a whole map as one change left it (the records of
// one list stored together are there together). Under the address sanitizer a read of a map
// changed in place meanwhile shows as a use after free.
TEST_F(PNVideoCacheTest, TheWholeMapIsReadAndReplacedWhileTheCacheWorks) {
    auto a = record("a");
    auto b = record("b");
    cache().setCache({{"a", a}});
    EXPECT_EQ(cache().getCachedVideo("a"), a);
    EXPECT_EQ(cache().cache(), (PNVideoCache::Map{{"a", a}}));
    cache().setCache({{"b", b}});
    EXPECT_FALSE(cache().getCachedVideo("a"));
    cache().putVideoToCache(a);
    EXPECT_EQ(cache().cache(), (PNVideoCache::Map{{"a", a}, {"b", b}}));

    std::atomic<bool> done{false};
    std::atomic<int> halves{0};
    std::thread host([&] {
        for (int read = 0; !done.load(); ++read) {
            const PNVideoCache::Map map = cache().cache();
            for (const auto& [id, video] : map) {
                if (id[0] == 'p' && !map.count("q" + id.substr(1)))
                    ++halves;
            }
            if (read % 7 == 0)
                cache().setCache({{"b", b}});
        }
    });
    for (int n = 0; n < 2000; ++n) {
        const std::string number = std::to_string(n);
        cache().putVideosToCache({record("p" + number), record("q" + number)});
        if (n % 50 == 0)
            cache().didReceiveMemoryWarning();
    }
    done = true;
    host.join();
    EXPECT_EQ(halves.load(), 0);
}

// A change after the first is made in place on the map the one before replaced, once that is
// brought up to date: whatever the order of stores, deletions, memory warnings and whole maps
// set from outside, the map is the one every change applied in turn gives.
TEST_F(PNVideoCacheTest, EveryChangeLandsOnTheMapTheChangesBeforeItLeft) {
    std::mt19937 random(4711);
    PNVideoCache::Map expected;
    cache().setCache(expected);
    const auto id = [&] {
        return "v" + std::to_string(random() % 12);
    };
    for (int step = 0; step < 3000; ++step) {
        switch (random() % 8) {
            case 0:
            case 1:
            case 2: {
                const auto video = record(id());
                cache().putVideoToCache(video);
                expected[video->videoID()] = video;
                break;
            }
            case 3:
            case 4: {
                std::vector<std::shared_ptr<PNVideo>> page;
                for (std::size_t i = random() % 4; i > 0; --i) page.push_back(record(id()));
                cache().putVideosToCache(page);
                for (const auto& video : page) expected[video->videoID()] = video;
                break;
            }
            case 5: {
                const std::string gone = id();
                post(NotificationName::PNVideoDeleted, platform::Value(gone));
                expected.erase(gone);
                break;
            }
            case 6:
                if (random() % 4 == 0) {
                    cache().didReceiveMemoryWarning();
                    expected.clear();
                }
                break;
            case 7: {
                PNVideoCache::Map replacement;
                for (std::size_t i = random() % 3; i > 0; --i) {
                    auto video = record(id());
                    replacement[video->videoID()] = video;
                }
                cache().setCache(replacement);
                expected = replacement;
                break;
            }
        }
        ASSERT_EQ(cache().cache(), expected) << "after step " << step;
    }
}

TEST_F(PNVideoCacheTest, ReadersOfASharedRecordNeverSeeAHalfPatchedOne) {
    // Players and playlists read a cached record while live notifications patch it and the
    // sync service lays edits over it. Meaningful under ThreadSanitizer; under the address
    // sanitizer a torn copy of an address shows as a use after free.
    auto shared = record(ids_[0]);
    cache().putVideoToCache(shared);
    auto address = [](int generation, const char* resolution) {
        return "https://g" + std::to_string(generation) + "/" + resolution + ".mp4";
    };
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const auto urls = shared->mediaMP4URLs();
                if (urls.r360p && urls.r720p && urls.r360p->host() != urls.r720p->host())
                    ++torn;
                shared->mp4URL(PNVideoResolution::r540p);
                shared->encode();
                shared->metadata();
                shared->tags();
            }
        });
    }
    for (int generation = 0; generation < 300; ++generation) {
        post(NotificationName::PNVideoCreated,
             Dictionary{{"videoID", ids_[0]},
                        {"mp4Url", Dictionary{{"360p", address(generation, "360p")},
                                              {"540p", address(generation, "540p")},
                                              {"720p", address(generation, "720p")}}}});
        shared->setInternalMetadata({{"k", std::to_string(generation)}});
        shared->setInternalTags({"t" + std::to_string(generation)});
    }
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(torn.load(), 0);
    ASSERT_TRUE(shared->mp4URL(PNVideoResolution::r720p));
    EXPECT_EQ(shared->mp4URL(PNVideoResolution::r720p)->absoluteString(), address(299, "720p"));
    EXPECT_EQ(shared->metadata(), (platform::StringDictionary{{"k", "299"}}));
}

}  // namespace
}  // namespace pindle
