#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "LegacyPlaylistFixture.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/playlists/PNVideos.hpp"

namespace pindle {
namespace {

using testing::Outcome;

struct PlaylistResult {
    PNLegacyPlaylistPtr playlist;
    std::optional<platform::Error> error;
};

class PNVideosTest : public testing::LegacyPlaylistFixture {
  protected:
    void SetUp() override {
        LegacyPlaylistFixture::SetUp();
        videos_.setPlaylists({});
        ids_ = putRemotes(10);
    }
    void TearDown() override {
        videos_.setPlaylists({});
        LegacyPlaylistFixture::TearDown();
    }

    PlaylistResult playlistFor(const platform::StringSet& tags,
                               const platform::StringDictionary& metadata, bool order = false) {
        Outcome<PlaylistResult> outcome;
        videos_.getPlaylist(tags, metadata, order,
                            [&](const PNLegacyPlaylistPtr& playlist, const auto& error) {
                                outcome.set({playlist, error});
                            });
        return outcome.wait();
    }

    PNVideos& videos_ = PNVideos::shared();
    std::vector<std::string> ids_;
};

TEST_F(PNVideosTest, RefusesAtOnceWhatCannotBeAsked) {
    platform::StringSet tooMany;
    for (int i = 0; i < 60; ++i) tooMany.insert("tag" + std::to_string(i));
    struct Case {
        const char* name;
        bool started;
        platform::StringSet tags;
        platform::StringDictionary metadata;
        PNError::Code expected;
    };
    const Case cases[] = {
        {"session not started", false, {kTag}, {}, PNError::sessionNotStarted},
        {"too many tags", true, tooMany, {}, PNError::valuesTooLarge},
        {"metadata too large",
         true,
         {kTag},
         {{"k", std::string(2000, 'v')}},
         PNError::valuesTooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PNSession::current()->setState(c.started ? PNSessionState::started
                                                 : PNSessionState::stopped);
        Outcome<PlaylistResult> outcome;
        videos_.getPlaylist(c.tags, c.metadata, false,
                            [&](const PNLegacyPlaylistPtr& playlist, const auto& error) {
                                outcome.set({playlist, error});
                            });
        // Answered on this thread before the call returned.
        ASSERT_EQ(outcome.calls(), 1);
        EXPECT_EQ(outcome.thread(), std::this_thread::get_id());
        EXPECT_FALSE(outcome.wait().playlist);
        ASSERT_TRUE(outcome.wait().error);
        EXPECT_EQ(PNError::fromPlatformError(*outcome.wait().error), c.expected);
    }
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
    EXPECT_TRUE(videos_.playlists().empty());
}

TEST_F(PNVideosTest, OnePlaylistPerTagsAndMetadata) {
    putRemote("other", 50);
    auto first = playlistFor({kTag, "b"}, {{"k", "v"}});
    ASSERT_TRUE(first.playlist) << first.error->description();
    EXPECT_FALSE(first.playlist->order());
    const auto requests = emulator_.server().requestLog().count();

    // The same key in another order and with another order flag: the same playlist, no request.
    auto again = playlistFor({"b", kTag}, {{"k", "v"}}, true);
    EXPECT_EQ(again.playlist, first.playlist);
    EXPECT_FALSE(again.playlist->order());
    EXPECT_EQ(emulator_.server().requestLog().count(), requests);

    auto otherMetadata = playlistFor({kTag, "b"}, {{"k", "w"}});
    ASSERT_TRUE(otherMetadata.playlist);
    EXPECT_NE(otherMetadata.playlist, first.playlist);

    // Made from the backend's count for the key.
    auto tagged = playlistFor({kTag}, {});
    ASSERT_TRUE(tagged.playlist);
    EXPECT_EQ(tagged.playlist->internalCount(), 11);
    EXPECT_EQ(videos_.playlists().size(), 3u);
}

TEST_F(PNVideosTest, OlderNamesForwardAndComplete) {
    auto current = playlistFor({kTag}, {});
    ASSERT_TRUE(current.playlist);
    Outcome<PlaylistResult> older;
    videos_.getVideos({kTag}, {}, true,
                      [&](const PNLegacyPlaylistPtr& playlist, const auto& error) {
                          older.set({playlist, error});
                      });
    EXPECT_EQ(older.wait().playlist, current.playlist);

    // The upload entry point answers before it returns.
    std::optional<platform::Error> refusal;
    bool completed = false;
    videos_.uploadVideo(platform::URL::fileURLWithPath(home_.path() + "/missing.mp4"), {}, {},
                        [&](const PNVideoPtr& video, const std::optional<platform::Error>& error) {
                            completed = !video;
                            refusal = error;
                        });
    EXPECT_TRUE(completed);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->code(), PNError::uploadFileNotFound);
}

TEST_F(PNVideosTest, RacingFirstRequestsShareOnePlaylist) {
    constexpr int callers = 4;
    Outcome<PlaylistResult> outcomes[callers];
    for (auto& outcome : outcomes) {
        videos_.getPlaylist({kTag}, {}, false,
                            [&outcome](const PNLegacyPlaylistPtr& playlist, const auto& error) {
                                outcome.set({playlist, error});
                            });
    }
    for (auto& outcome : outcomes) {
        ASSERT_TRUE(outcome.wait().playlist);
        EXPECT_EQ(outcome.wait().playlist, outcomes[0].wait().playlist);
    }
    EXPECT_EQ(videos_.playlists().size(), 1u);
}

TEST_F(PNVideosTest, AFailedCountKeepsNothing) {
    emulator_.server().addJSONReply("GET", "/v1/videos", 500, {{"error", "down"}}, {}, 1);
    auto failed = playlistFor({kTag}, {});
    EXPECT_FALSE(failed.playlist);
    EXPECT_TRUE(failed.error);
    EXPECT_TRUE(videos_.playlists().empty());
    EXPECT_TRUE(playlistFor({kTag}, {}).playlist);
}

TEST_F(PNVideosTest, GetsForwardToTheBackend) {
    Outcome<std::string> one;
    videos_.getByVideoId(ids_[2], [&](const PNVideoPtr& video, const auto& error) {
        one.set(video && !error ? video->videoID() : "(failed)");
    });
    EXPECT_EQ(one.wait(), ids_[2]);

    Outcome<std::vector<std::string>> some;
    videos_.getByVideoIds({ids_[1], ids_[3]}, [&](const auto& response, const auto&) {
        some.set(response ? testing::idsOf(response->videos()) : std::vector<std::string>{});
    });
    EXPECT_EQ(some.wait(), (std::vector<std::string>{ids_[1], ids_[3]}));

    PNVideoFilter filter;
    filter.tags = {kTag};
    filter.limit = 3;
    Outcome<std::vector<std::string>> newest;
    videos_.getByFilter(filter, PNSortOrder::desc, [&](const auto& response, const auto&) {
        newest.set(response ? testing::idsOf(response->videos()) : std::vector<std::string>{});
    });
    EXPECT_EQ(newest.wait(), (std::vector<std::string>{ids_[9], ids_[8], ids_[7]}));

    Outcome<bool> missing;
    videos_.videoBy("nonexistent", [&](const PNVideoPtr& video, const auto& error) {
        missing.set(!video && error.has_value());
    });
    EXPECT_TRUE(missing.wait());
}

TEST_F(PNVideosTest, UpdateSendsTagsAndMetadataOnly) {
    Outcome<platform::Value> updated;
    videos_.update(ids_[0], std::string("ignored title"), platform::StringSet{"x"}, std::nullopt,
                   [&](const platform::Value& result, const auto&) { updated.set(result); });
    auto video = updated.wait().asObjectOf<PNVideo>();
    ASSERT_TRUE(video);
    EXPECT_EQ(video->videoID(), ids_[0]);
    EXPECT_EQ(video->tags(), (platform::StringSet{"x"}));

    auto puts = emulator_.server().requestLog().requestsFor("PUT", "/v1/videos/" + ids_[0]);
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(puts[0].body),
              nlohmann::json::parse(R"({"tags": ["x"], "metadata": {}})"));
}

TEST_F(PNVideosTest, DeletePostsTheIdentifierOnlyOnSuccess) {
    std::vector<platform::Value> posted;
    std::mutex postedMutex;
    auto registration = platform::NotificationCenter::defaultCenter().addObserverForName(
        NotificationName::PNVideoDeleted, nullptr, nullptr,
        [&](const platform::Notification& notification) {
            std::lock_guard lock(postedMutex);
            posted.push_back(notification.object);
        });

    Outcome<bool> deleted;
    videos_.deleteVideoId(ids_[0], [&](bool success) {
        {
            std::lock_guard lock(postedMutex);
            EXPECT_EQ(posted.size(), 1u);  // posted before the completion
        }
        deleted.set(success);
    });
    EXPECT_TRUE(deleted.wait());
    EXPECT_FALSE(emulator_.store().get(ids_[0]));

    PNVideo::Fields gone;
    gone.videoID = ids_[0];
    Outcome<bool> missing;
    videos_.remove(PNVideo::make(std::move(gone)), [&](bool success) { missing.set(success); });
    EXPECT_FALSE(missing.wait());

    platform::NotificationCenter::defaultCenter().removeObserver(registration);
    std::lock_guard lock(postedMutex);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], platform::Value(platform::Array{ids_[0]}));
}

}  // namespace
}  // namespace pindle
