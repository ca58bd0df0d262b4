#include <gtest/gtest.h>

#include "LegacyPlaylistFixture.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/playlists/PNPlaylistCancellationToken.hpp"
#include "tools/emulator/Fault.hpp"
#include "tools/emulator/QueryString.hpp"

namespace pindle {
namespace {

using testing::Item;
using testing::LegacyRecorder;
using testing::LegacyReport;
using testing::Outcome;
using CountChange = std::pair<std::int64_t, std::int64_t>;  // old, new

// What an "internalCount" observer saw. The handler shares it: the observation lasts as long
// as the playlist, which work still queued may keep past the test, and a late change (the
// fixture removing the local videos) must find it alive.
class CountChanges {
  public:
    static std::shared_ptr<CountChanges> observe(PNLegacyPlaylist& playlist) {
        auto changes = std::make_shared<CountChanges>();
        playlist.observe(PNLegacyPlaylist::internalCountKey,
                         platform::KVOOption::oldValue | platform::KVOOption::newValue,
                         [changes](const platform::KVOChange& change) {
                             std::lock_guard lock(changes->mutex_);
                             changes->seen_.emplace_back(*change.oldValue.asWholeNumber(),
                                                         *change.newValue.asWholeNumber());
                         });
        return changes;
    }
    std::vector<CountChange> seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<CountChange> seen_;  // guarded by mutex_
};

class PNLegacyPlaylistTest : public testing::LegacyPlaylistFixture {
  protected:
    // (offset, limit) of every list request, in order.
    std::vector<std::pair<std::string, std::string>> pagesAsked() {
        std::vector<std::pair<std::string, std::string>> pages;
        for (const auto& request : listRequests()) {
            emulator::QueryString query(request.rawQuery());
            pages.emplace_back(query.get("offset").value_or("?"), query.get("limit").value_or("?"));
        }
        return pages;
    }
};

TEST_F(PNLegacyPlaylistTest, PagesThroughTheRemoteListFiftyAtATime) {
    const auto ids = putRemotes(120);
    auto playlist = makePlaylist(120);
    EXPECT_EQ(playlist->internalCount(), 120);

    EXPECT_EQ(idAt(*playlist, 0), ids[0]);
    EXPECT_EQ(idAt(*playlist, 49), ids[49]);
    EXPECT_EQ(idAt(*playlist, 75), ids[75]);
    EXPECT_EQ(idAt(*playlist, 119), ids[119]);
    EXPECT_EQ(idAt(*playlist, 1), ids[1]);
    // Pages 1, 2 and 3 once each; index 119 sits at position 19 of the third.
    EXPECT_EQ(pagesAsked(), (std::vector<std::pair<std::string, std::string>>{
                                {"0", "50"}, {"50", "50"}, {"100", "50"}}));
    for (auto index : {-1, 120}) {
        auto item = itemAt(*playlist, index);
        EXPECT_FALSE(item.video);
        ASSERT_TRUE(item.error) << index;
        EXPECT_EQ(PNError::fromPlatformError(*item.error), PNError::videoOutOfBounds);
    }
    // Cached items answer at once.
    ASSERT_TRUE(playlist->videoAt(75));
    EXPECT_EQ(playlist->videoAt(75)->videoID(), ids[75]);
    ASSERT_TRUE(playlist->itemAtIndexCached(0));
    EXPECT_EQ(playlist->itemAtIndexCached(0)->videoID(), ids[0]);
}

TEST_F(PNLegacyPlaylistTest, NewestFirstCountsFromTheEnd) {
    const auto ids = putRemotes(60);
    auto playlist = makePlaylist(60, true);
    EXPECT_EQ(idAt(*playlist, 0), ids[59]);
    EXPECT_EQ(idAt(*playlist, 59), ids[0]);
    EXPECT_EQ(idAt(*playlist, 10), ids[49]);
}

TEST_F(PNLegacyPlaylistTest, OnePageRequestServesSeveralWaitingPositions) {
    const auto ids = putRemotes(60);
    auto playlist = makePlaylist(60);
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault("/v1/videos", emulator::Fault::heldBy(gate));

    Outcome<Item> third, fortieth;
    playlist->asyncVideoAt(3, [&](const PNVideoPtr& video, const auto& error) {
        third.set({video, error});
    });
    playlist->itemAtIndex(40, [&](const PNVideoPtr& video, const auto& error) {
        fortieth.set({video, error});
    });
    ASSERT_TRUE(gate->waitForArrivals(1));
    // Something holds the playlist while the page is on its way.
    EXPECT_FALSE(playlist->videoAt(3));
    gate->open();

    ASSERT_TRUE(third.wait().video);
    ASSERT_TRUE(fortieth.wait().video);
    EXPECT_EQ(third.wait().video->videoID(), ids[3]);
    EXPECT_EQ(fortieth.wait().video->videoID(), ids[40]);
    EXPECT_EQ(pageRequests(), 1u);
}

TEST_F(PNLegacyPlaylistTest, LocalVideosMergeWithRemoteOnesByCreationDate) {
    // Local at slots 1 and 5, remote at slots 2, 3 and 4.
    putRemote("r2", 2);
    putRemote("r3", 3);
    putRemote("r4", 4);
    putLocal("l1", 1);
    putLocal("l5", 5);

    auto oldestFirst = makePlaylist(3);
    ASSERT_EQ(oldestFirst->internalCount(), 5);
    std::vector<std::string> seen;
    for (int index = 0; index < 5; ++index) seen.push_back(idAt(*oldestFirst, index));
    EXPECT_EQ(seen, (std::vector<std::string>{"l1", "r2", "r3", "r4", "l5"}));

    auto newestFirst = makePlaylist(3, true);
    seen.clear();
    for (int index = 0; index < 5; ++index) seen.push_back(idAt(*newestFirst, index));
    EXPECT_EQ(seen, (std::vector<std::string>{"l5", "r4", "r3", "r2", "l1"}));
}

TEST_F(PNLegacyPlaylistTest, WithoutRemoteVideosItemsComeFromTheLocalListAlone) {
    putLocal("l1", 1);
    putLocal("l2", 2);
    auto playlist = makePlaylist(0);
    EXPECT_EQ(idAt(*playlist, 0), "l1");
    EXPECT_EQ(idAt(*playlist, 1), "l2");
    ASSERT_TRUE(playlist->videoAt(1));
    EXPECT_EQ(playlist->videoAt(1)->videoID(), "l2");
    EXPECT_EQ(pageRequests(), 0u);
}

TEST_F(PNLegacyPlaylistTest, ABackendCopyReplacesItsLocalVideo) {
    putRemote("r2", 2);
    putRemote("shared", 3);
    putRemote("r4", 4);
    putLocal("l1", 1);
    putLocal("shared", 3);
    auto playlist = makePlaylist(3);
    auto recorder = LegacyRecorder::attach(playlist);
    ASSERT_EQ(playlist->internalCount(), 5);
    const auto counts = CountChanges::observe(*playlist);

    // The page brings the backend copy of "shared", which leaves the local list.
    EXPECT_EQ(idAt(*playlist, 0), "l1");
    EXPECT_EQ(playlist->internalCount(), 4);
    EXPECT_EQ(counts->seen(), (std::vector<CountChange>{{5, 4}}));
    EXPECT_EQ(playlist->replacedLocalVideos(), std::vector<std::string>{"shared"});
    std::vector<std::string> seen;
    for (int index = 0; index < 4; ++index) seen.push_back(idAt(*playlist, index));
    EXPECT_EQ(seen, (std::vector<std::string>{"l1", "r2", "shared", "r4"}));
    ASSERT_TRUE(recorder->waitForReports(2));
    EXPECT_EQ(recorder->reports(),
              (std::vector<LegacyReport>{{true, {}, {0}, 4, false}, {false, {}, {0}, 4, false}}));
}

TEST_F(PNLegacyPlaylistTest, ACancelledRequestAnswersNothingAndLetsTheOthersFinish) {
    putRemotes(10);
    auto playlist = makePlaylist(10);
    // The first resolution holds the playlist while its page is held up.
    emulator_.server().addFault("/v1/videos", emulator::Fault::delayed(std::chrono::seconds(2)));
    Outcome<Item> first, waiting, after;
    playlist->asyncVideoAt(0, [&](const PNVideoPtr& video, const auto& error) {
        first.set({video, error});
    });
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(1, std::chrono::seconds(10)));
    auto token = playlist->asyncVideoAt(7, [&](const PNVideoPtr& video, const auto& error) {
        waiting.set({video, error});
    });
    playlist->asyncVideoAt(1, [&](const PNVideoPtr& video, const auto& error) {
        after.set({video, error});
    });
    token->cancelIt();

    const Item& cancelled = waiting.wait();
    EXPECT_FALSE(cancelled.video);
    EXPECT_FALSE(cancelled.error);
    EXPECT_EQ(first.calls(), 0);  // answered before the held-up page came
    ASSERT_TRUE(first.wait().video);
    ASSERT_TRUE(after.wait().video);
    EXPECT_EQ(after.wait().video->videoID(), "r001");
    EXPECT_EQ(waiting.calls(), 1);
    EXPECT_EQ(pageRequests(), 1u);
}

TEST_F(PNLegacyPlaylistTest, AFailedPageHandsItsErrorOn) {
    putRemotes(10);
    auto playlist = makePlaylist(10);
    emulator_.server().addJSONReply("GET", "/v1/videos", 500, {{"error", "boom"}}, {}, 1);
    auto failed = itemAt(*playlist, 2);
    EXPECT_FALSE(failed.video);
    EXPECT_TRUE(failed.error);
    // Nothing was stored: the next access asks again and succeeds.
    EXPECT_EQ(idAt(*playlist, 2), "r002");
}

TEST_F(PNLegacyPlaylistTest, SessionNotStartedRefusesEveryItem) {
    putRemotes(3);
    auto playlist = makePlaylist(3);
    PNSession::current()->setState(PNSessionState::stopped);
    auto item = itemAt(*playlist, 0);
    ASSERT_TRUE(item.error);
    EXPECT_EQ(PNError::fromPlatformError(*item.error), PNError::sessionNotStarted);
    EXPECT_FALSE(playlist->videoAt(0));
    EXPECT_EQ(pageRequests(), 0u);
}

TEST_F(PNLegacyPlaylistTest, ReportedPositionsFollowTheOrder) {
    struct Case {
        bool order;
        std::int64_t from, to;
        std::vector<std::int64_t> inserted, removed;
    };
    const Case cases[] = {
        {false, 10, 12, {10, 11}, {}}, {true, 10, 12, {0, 1}, {}}, {false, 12, 10, {}, {0, 1}},
        {true, 12, 10, {}, {10, 11}},  {false, 7, 7, {}, {}},      {true, 7, 7, {}, {}},
    };
    auto oldestFirst = makePlaylist(0, false);
    auto newestFirst = makePlaylist(0, true);
    for (const auto& c : cases) {
        auto [inserted, removed] = (c.order ? newestFirst : oldestFirst)->indexes(c.from, c.to);
        EXPECT_EQ(inserted, c.inserted) << c.order << " " << c.from << "->" << c.to;
        EXPECT_EQ(removed, c.removed) << c.order << " " << c.from << "->" << c.to;
    }
}

// A new backend count adds to the local videos, is announced to "internalCount" observers and
// is not reported as a change: updateCount's callers report themselves.
TEST_F(PNLegacyPlaylistTest, UpdateCountRecountsWithoutAReport) {
    putLocal("l1", 1);
    putLocal("l2", 2);
    auto playlist = makePlaylist(10);
    auto recorder = LegacyRecorder::attach(playlist);
    ASSERT_EQ(playlist->internalCount(), 12);
    const auto counts = CountChanges::observe(*playlist);

    playlist->updateCount(20);
    EXPECT_EQ(playlist->internalCount(), 22);
    playlist->updateCount(-3);
    EXPECT_EQ(playlist->internalCount(), 2);
    EXPECT_EQ(counts->seen(), (std::vector<CountChange>{{12, 22}, {22, 2}}));
    // Both local videos are still there, and nothing past them.
    EXPECT_EQ(idAt(*playlist, 1), "l2");
    const Item beyond = itemAt(*playlist, 2);
    ASSERT_TRUE(beyond.error);
    EXPECT_EQ(PNError::fromPlatformError(*beyond.error), PNError::videoOutOfBounds);
    // Reports are posted on the thread that changes the count: none came.
    EXPECT_TRUE(recorder->reports().empty());
}

TEST_F(PNLegacyPlaylistTest, GetIDsTakesTheIdOfEachWellFormedEntry) {
    const platform::Array answer{
        platform::Dictionary{{"id", "a"}},
        platform::Value("stray"),
        platform::Dictionary{{"id", 7}},
        platform::Dictionary{{"id", "b"}, {"other", "x"}},
    };
    EXPECT_EQ(PNLegacyPlaylist::getIDs(answer), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(PNLegacyPlaylist::getIDs({}).empty());
}

}  // namespace
}  // namespace pindle
