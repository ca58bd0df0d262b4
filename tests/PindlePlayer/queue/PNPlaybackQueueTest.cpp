// The playback queue's windows, its momentum, and how it waits for and resumes on playlist
// pages, with a plain playlist and with a filtered playlist paging the backend emulator.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/playlists/PNTagsPlaylist.hpp"
#include "PindlePlayer/queue/PNPlaybackQueue.hpp"
#include "tests/PindleCore/playlists/PlaylistFixture.hpp"

namespace pindle {
namespace {

using Indices = std::vector<std::int64_t>;

PNPlaylistPtr playlistOf(std::int64_t loaded, std::optional<std::int64_t> total) {
    auto playlist = std::make_shared<PNPlaylist>();
    std::vector<PNVideoPtr> videos;
    for (std::int64_t i = 0; i < loaded; ++i) {
        PNVideo::Fields fields;
        fields.videoID = "v" + std::to_string(i);
        videos.push_back(PNVideo::make(std::move(fields)));
    }
    playlist->setVideos(std::move(videos));
    playlist->setTotalCount(total);
    return playlist;
}

// Told on whichever thread updated the queue: a page arrives on the requester's queue.
struct Recorder : PNPlaybackQueueDelegate {
    void playbackQueueUpdated(const std::vector<PNVideoPtr>& videos) override {
        std::lock_guard lock(mutex);
        updates_.push_back(testing::idsOf(videos));
    }
    std::vector<std::vector<std::string>> updates() const {
        std::lock_guard lock(mutex);
        return updates_;
    }
    mutable std::mutex mutex;
    std::vector<std::vector<std::string>> updates_;  // guarded by mutex
};

void postUpdate(const PNPlaylistPtr& playlist) {
    platform::NotificationCenter::defaultCenter().post(
        NotificationName::PNPlaylistUpdated,
        platform::Value(platform::Dictionary{{PNPlaylist::playlistKey, platform::Value(playlist)},
                                             {PNPlaylist::updatedIndexesKey, platform::Array{}}}));
}

TEST(PNPlaybackQueueTest, WindowsLeanTowardTheDirectionOfTravel) {
    struct Case {
        std::int64_t index, total, length;
        std::vector<std::int64_t> moves;  // indices visited before `index`
        Indices expected;
    };
    const Case cases[] = {
        {5, 100, 4, {}, {5, 6, 4, 7, 3}},
        {5, 100, 4, {4}, {5, 6, 7, 4, 8, 9, 3}},  // direction 1
        {5, 100, 4, {7, 6}, {5, 4, 3, 2, 6}},     // direction -2
        {0, 3, 10, {}, {0, 1, 2}},                // both sides spent
        {99, 100, 2, {}, {99, 98, 97}},
        {5, 100, 0, {}, {5}},
        {-3, 10, 4, {}, {-3, -2, -1, 0, 1}},  // a negative index ends
        {12, 10, 4, {}, {12, 11, 10, 9, 8}},  // past the end, walks back
    };
    for (const auto& c : cases) {
        auto queue = PNPlaybackQueue::make(playlistOf(c.total, c.total),
                                           c.moves.empty() ? c.index : c.moves.front(), c.length);
        for (std::size_t i = 1; i < c.moves.size(); ++i) queue->setVideoIndex(c.moves[i]);
        if (!c.moves.empty())
            queue->setVideoIndex(c.index);
        EXPECT_EQ(queue->videosOrder(), c.expected) << "index " << c.index;
    }
}

TEST(PNPlaybackQueueTest, MomentumBuildsToTwoAndDropsOnReversal) {
    auto queue = PNPlaybackQueue::make(playlistOf(20, 20), 5, 2);
    std::vector<int> directions;
    for (std::int64_t index : {6, 7, 8, 8, 7, 6, 7}) {
        queue->setVideoIndex(index);
        directions.push_back(queue->playbackDirection());
    }
    // A move of zero counts as backward: against 2 it drops to 0.
    EXPECT_EQ(directions, (std::vector<int>{1, 2, 2, 0, -1, -2, 0}));
}

TEST(PNPlaybackQueueTest, AnnouncesOnlyChangedListsToALiveDelegate) {
    auto playlist = playlistOf(10, 10);
    auto queue = PNPlaybackQueue::make(playlist, 0, 1);
    EXPECT_EQ(testing::idsOf(queue->videos()), (std::vector<std::string>{"v0", "v1"}));
    auto recorder = std::make_shared<Recorder>();
    queue->setDelegate(recorder);
    queue->updateVideosOrder();  // the same window: nothing to say
    queue->setVideoIndex(1);
    EXPECT_EQ(recorder->updates(),
              (std::vector<std::vector<std::string>>{{"v1", "v2", "v3", "v0"}}));

    std::weak_ptr<Recorder> weak = recorder;
    recorder.reset();
    EXPECT_TRUE(weak.expired());  // the queue does not keep its delegate
    queue->setVideoIndex(2);
    EXPECT_EQ(queue->delegate(), nullptr);
}

TEST(PNPlaybackQueueTest, UnknownTotalWaitsForTheFirstUpdateOfItsOwnPlaylist) {
    auto playlist = playlistOf(0, std::nullopt);
    auto queue = PNPlaybackQueue::make(playlist, 1, 2);
    auto recorder = std::make_shared<Recorder>();
    queue->setDelegate(recorder);
    EXPECT_TRUE(queue->videosOrder().empty());
    EXPECT_TRUE(queue->loadingNextVideos());

    auto other = playlistOf(5, 5);
    postUpdate(other);
    platform::NotificationCenter::defaultCenter().post(NotificationName::PNPlaylistUpdated,
                                                       platform::Value("not a dictionary"));
    EXPECT_TRUE(queue->loadingNextVideos());

    playlist->setVideos(playlistOf(5, 5)->videos());
    playlist->setTotalCount(5);
    postUpdate(playlist);
    EXPECT_FALSE(queue->loadingNextVideos());
    EXPECT_EQ(queue->videosOrder(), (Indices{1, 2, 0}));
    EXPECT_EQ(recorder->updates(), (std::vector<std::vector<std::string>>{{"v1", "v2", "v0"}}));
}

TEST(PNPlaybackQueueTest, AShortWindowOfAPlainPlaylistAnnouncesNothingUntilItsUpdate) {
    auto playlist = playlistOf(2, 50);
    auto queue = PNPlaybackQueue::make(playlist, 0, 4);
    auto recorder = std::make_shared<Recorder>();
    queue->setDelegate(recorder);
    queue->setVideoIndex(1);
    EXPECT_TRUE(recorder->updates().empty());
    EXPECT_FALSE(queue->loadingNextVideos());

    playlist->setVideos(playlistOf(6, 6)->videos());
    postUpdate(playlist);
    ASSERT_EQ(recorder->updates().size(), 1u);
    EXPECT_EQ(recorder->updates()[0].size(), queue->videosOrder().size());
}

class PNPlaybackQueuePagingTest : public testing::PlaylistFixture {};

TEST_F(PNPlaybackQueuePagingTest, AFilteredPlaylistIsAskedForOnePageAndTheWindowResumes) {
    auto [playlist, events] =
        makeRecorded([] { return PNTagsPlaylist::make({}, PNSortOrder::asc); });
    ASSERT_TRUE(events->waitForNotifications(1));
    ASSERT_EQ(playlist->count(), 10);  // one page of the emulator's 25 videos

    // The next page is held at the backend until the queue has been asked again.
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().holdReplies(gate);
    auto queue = PNPlaybackQueue::make(playlist, 8, 4);
    // 8, 9, 7, 10, 6: index 10 is not loaded yet.
    EXPECT_EQ(testing::idsOf(queue->videos()).size(), 3u);
    EXPECT_TRUE(queue->loadingNextVideos());
    auto recorder = std::make_shared<Recorder>();
    queue->setDelegate(recorder);
    queue->updateVideos();  // still short, but the page is already asked for
    emulator_.server().holdReplies(nullptr);
    gate->open();
    ASSERT_TRUE(events->waitForNotifications(2));
    EXPECT_TRUE(
        testing::eventually([&] { return !queue->loadingNextVideos(); }, std::chrono::seconds(20)));
    EXPECT_EQ(listRequests().size(), 2u);
    ASSERT_TRUE(testing::eventually([&] { return !recorder->updates().empty(); }));
    const auto updates = recorder->updates();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].size(), 5u);
    ASSERT_TRUE(playlist->videoAt(10));
    EXPECT_EQ(updates[0][3], playlist->videoAt(10)->videoID());
}

// A playlist whose videoAt() holds one index until the test lets it go, so that one rebuild
// of the window can be caught half-way while the test changes things around it.
class HeldPlaylist : public PNPlaylist {
  public:
    explicit HeldPlaylist(std::int64_t heldIndex) : heldIndex_(heldIndex) {}
    PNVideoPtr videoAt(std::int64_t index) override {
        if (index == heldIndex_ && !released_.exchange(true)) {
            reached_.set_value();
            release_.get_future().wait_for(std::chrono::seconds(20));
        }
        return PNPlaylist::videoAt(index);
    }
    bool waitUntilReached() {
        return reached_.get_future().wait_for(std::chrono::seconds(20)) ==
               std::future_status::ready;
    }
    void release() { release_.set_value(); }

  private:
    const std::int64_t heldIndex_;
    std::atomic<bool> released_{false};
    std::promise<void> reached_, release_;
};

TEST(PNPlaybackQueueTest, TheLastMoveWinsWhateverOrderTheRebuildsFinishIn) {
    for (const bool pageLands : {false, true}) {
        SCOPED_TRACE(pageLands ? "a page lands meanwhile" : "a newer move overtakes");
        auto playlist = std::make_shared<HeldPlaylist>(3);
        const auto loaded = playlistOf(10, 10)->videos();
        playlist->setVideos(loaded);
        playlist->setTotalCount(12);
        auto queue = PNPlaybackQueue::make(playlist, 0, 0);
        auto recorder = std::make_shared<Recorder>();
        queue->setDelegate(recorder);

        std::thread mover([&] { queue->setVideoIndex(3); });  // held at index 3
        ASSERT_TRUE(playlist->waitUntilReached());
        if (pageLands) {
            auto more = loaded;
            more.push_back(playlistOf(11, 11)->videos()[10]);
            playlist->setVideos(more);
        } else {
            queue->setVideoIndex(5);
        }
        playlist->release();
        mover.join();

        const std::vector<std::string> expected{pageLands ? "v3" : "v5"};
        EXPECT_EQ(testing::idsOf(queue->videos()), expected);
        ASSERT_FALSE(recorder->updates().empty());
        EXPECT_EQ(recorder->updates().back(), expected);
    }
}

}  // namespace
}  // namespace pindle
