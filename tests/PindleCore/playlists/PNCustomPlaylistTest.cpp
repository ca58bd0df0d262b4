#include <gtest/gtest.h>

#include "PindleCore/caches/PNVideoCache.hpp"
#include "PindleCore/playlists/PNCustomPlaylist.hpp"
#include "PlaylistFixture.hpp"

namespace pindle {
namespace {

using testing::PlaylistEvent;
using testing::PlaylistRecorder;

PNVideoPtr video(const std::string& id) {
    PNVideo::Fields fields;
    fields.videoID = id;
    return PNVideo::make(std::move(fields));
}

std::vector<PNVideoPtr> videos(std::initializer_list<const char*> ids) {
    std::vector<PNVideoPtr> result;
    for (const char* id : ids) result.push_back(video(id));
    return result;
}

TEST(PNCustomPlaylistTest, AdditionsInsertOrAppendAndReportTheirPositions) {
    struct Case {
        const char* name;
        std::vector<const char*> added;
        std::optional<std::int64_t> at;
        std::vector<std::string> expected;
        std::vector<std::int64_t> positions;
    };
    const std::vector<Case> cases = {
        {"inside", {"x", "y"}, 1, {"a", "x", "y", "b", "c"}, {1, 2}},
        {"at the front", {"x"}, 0, {"x", "a", "b", "c"}, {0}},
        {"at the end", {"x"}, 3, {"a", "b", "c", "x"}, {3}},
        {"past the end", {"x"}, 7, {"a", "b", "c", "x"}, {3}},
        {"negative", {"x"}, -1, {"a", "b", "c", "x"}, {3}},
        {"no position", {"x", "y"}, std::nullopt, {"a", "b", "c", "x", "y"}, {3, 4}},
        {"nothing", {}, 1, {"a", "b", "c"}, {}},
    };
    for (const auto& c : cases) {
        auto playlist = PNCustomPlaylist::withVideos(videos({"a", "b", "c"}));
        EXPECT_FALSE(playlist->totalCount()) << c.name;
        auto recorder = PlaylistRecorder::attach(playlist);
        std::vector<PNVideoPtr> added;
        for (const char* id : c.added) added.push_back(video(id));
        playlist->addVideos(added, c.at);

        EXPECT_EQ(testing::idsOf(playlist->videos()), c.expected) << c.name;
        EXPECT_EQ(playlist->totalCount(), static_cast<std::int64_t>(c.expected.size())) << c.name;
        // Told on this thread before the call returns; no "loaded" for additions.
        EXPECT_EQ(recorder->events(),
                  (std::vector<PlaylistEvent>{
                      PlaylistEvent::updated(c.positions, PNPlaylistUpdateType::added),
                      PlaylistEvent::notified(c.positions)}))
            << c.name;
    }
}

TEST(PNCustomPlaylistTest, RemovalDropsEveryMatchAndTellsNobody) {
    auto playlist = PNCustomPlaylist::withVideos(videos({"a", "b", "a", "c"}));
    playlist->setTotalCount(99);
    auto recorder = PlaylistRecorder::attach(playlist);

    playlist->removeVideoId("a");
    EXPECT_EQ(testing::idsOf(playlist->videos()), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(playlist->totalCount(), 2);
    playlist->removeVideoIds({"c", "unknown"});
    EXPECT_EQ(testing::idsOf(playlist->videos()), (std::vector<std::string>{"b"}));
    EXPECT_EQ(playlist->totalCount(), 1);
    EXPECT_TRUE(recorder->events().empty());
}

class PNCustomPlaylistLoadTest : public testing::PlaylistFixture {};

TEST_F(PNCustomPlaylistLoadTest, IdentifiersResolveInTheRequestedOrder) {
    const auto ids = backendIDs();
    const std::string a = ids.at(0), b = ids.at(1);
    auto [playlist, recorder] = makeRecorded([&] {
        return PNCustomPlaylist::withVideoIds({b, a, "unknown-video", b});
    });
    EXPECT_FALSE(playlist->totalCount());
    ASSERT_TRUE(recorder->waitForNotifications(1));

    // Unknown identifiers are skipped; one listed twice brings the same record twice.
    EXPECT_EQ(testing::idsOf(playlist->videos()), (std::vector<std::string>{b, a, b}));
    EXPECT_EQ(playlist->videoAt(0), playlist->videoAt(2));
    EXPECT_EQ(playlist->totalCount(), 3);
    EXPECT_EQ(recorder->events(),
              (std::vector<PlaylistEvent>{
                  PlaylistEvent::updated({0, 1, 2}, PNPlaylistUpdateType::added),
                  PlaylistEvent::loaded({b, a, b}),
                  PlaylistEvent::notified({0, 1, 2}),
              }));
}

TEST_F(PNCustomPlaylistLoadTest, IdentifiersAddedAtAPositionLandThere) {
    const auto ids = backendIDs();
    auto playlist = PNCustomPlaylist::withVideos(videos({"a", "b"}));
    auto recorder = PlaylistRecorder::attach(playlist);
    playlist->addVideoIds({ids.at(4), ids.at(3)}, 1);
    ASSERT_TRUE(recorder->waitForNotifications(1));
    playlist->addVideoId(ids.at(5));
    ASSERT_TRUE(recorder->waitForNotifications(2));

    EXPECT_EQ(testing::idsOf(playlist->videos()),
              (std::vector<std::string>{"a", ids.at(4), ids.at(3), "b", ids.at(5)}));
    EXPECT_EQ(playlist->totalCount(), 5);
    EXPECT_EQ(recorder->events(), (std::vector<PlaylistEvent>{
                                      PlaylistEvent::updated({1, 2}, PNPlaylistUpdateType::added),
                                      PlaylistEvent::notified({1, 2}),
                                      PlaylistEvent::updated({4}, PNPlaylistUpdateType::added),
                                      PlaylistEvent::notified({4}),
                                  }));
}

TEST_F(PNCustomPlaylistLoadTest, AFailedLoadCountsAsFindingNothing) {
    emulator_.server().addJSONReply("GET", "/v1/videos", 500, {{"error", "boom"}}, {}, 1);
    auto [playlist, recorder] =
        makeRecorded([&] { return PNCustomPlaylist::withVideoIds({backendIDs().at(0)}); });
    ASSERT_TRUE(recorder->waitForNotifications(1));
    EXPECT_EQ(playlist->count(), 0);
    EXPECT_EQ(playlist->totalCount(), 0);
    EXPECT_EQ(recorder->events(), (std::vector<PlaylistEvent>{
                                      PlaylistEvent::updated({}, PNPlaylistUpdateType::added),
                                      PlaylistEvent::loaded({}),
                                      PlaylistEvent::notified({}),
                                  }));
}

TEST_F(PNCustomPlaylistLoadTest, APlaylistReleasedBeforeItsVideosArriveDoesNothing) {
    const std::string id = backendIDs().at(0);
    PNVideoCache::shared().didReceiveMemoryWarning();  // empties the record cache
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault("/v1/videos", emulator::Fault::heldBy(gate).times(1));
    PlaylistRecorder everyone;
    everyone.observe(nullptr);

    std::weak_ptr<PNCustomPlaylist> released = PNCustomPlaylist::withVideoIds({id});
    // Nothing keeps it alive while its load runs.
    EXPECT_TRUE(released.expired());
    ASSERT_TRUE(gate->waitForArrivals(1));
    gate->open();

    // The endpoint caches the records after the load's completion has run.
    ASSERT_TRUE(
        testing::eventually([&] { return PNVideoCache::shared().getCachedVideo(id) != nullptr; }));
    EXPECT_EQ(everyone.notificationCount(), 0u);
}

}  // namespace
}  // namespace pindle
