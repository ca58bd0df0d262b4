#include <gtest/gtest.h>

#include "LegacyPlaylistFixture.hpp"
#include "platform/dispatch/private/WorkerPool.hpp"
#include "tools/emulator/Fault.hpp"

namespace pindle {
namespace {

using testing::LegacyRecorder;
using testing::LegacyReport;
using testing::Outcome;

constexpr const char* syncPath = "/v1/videos/sync";

class PNLegacyPlaylistSyncTest : public testing::LegacyPlaylistFixture {
  protected:
    void SetUp() override {
        LegacyPlaylistFixture::SetUp();
        ids_ = putRemotes(10);
    }

    // A backend video of the tag created now, after any playlist of the test was synced.
    std::string createRemote() {
        emulator::VideoRecord record;
        record.id = "fresh";
        record.identity = "tester";
        record.setTags({kTag});
        record.createdAt = emulator_.store().now() + 1;
        record.updatedAt = record.createdAt;
        emulator_.store().put(record);
        return record.id;
    }
    std::size_t syncRequests() {
        return emulator_.server().requestLog().requestsFor("GET", syncPath).size();
    }
    static void post(const char* name, platform::Value object, platform::Dictionary userInfo = {}) {
        platform::NotificationCenter::defaultCenter().post(name, std::move(object),
                                                           std::move(userInfo));
    }
    // Both channels report the same change.
    static std::vector<LegacyReport> twice(LegacyReport report) {
        LegacyReport notified = report;
        report.fromDelegate = true;
        notified.fromDelegate = false;
        return {report, notified};
    }

    std::vector<std::string> ids_;
};

TEST_F(PNLegacyPlaylistSyncTest, ASyncWithoutChangesOnlyMovesTheDate) {
    auto playlist = makePlaylist(10);
    auto recorder = LegacyRecorder::attach(playlist);
    const auto before = playlist->syncedDate();
    EXPECT_TRUE(syncNow(*playlist));
    EXPECT_GT(playlist->syncedDate(), before);
    EXPECT_EQ(syncRequests(), 1u);
    EXPECT_EQ(pageRequests(), 0u);  // no recount
    EXPECT_FALSE(playlist->isSyncing());

    // A sync reports after its completion has run, so a later sync that finds a change shows
    // what this one reported: its own reports are the only ones.
    createRemote();
    EXPECT_TRUE(syncNow(*playlist));
    ASSERT_TRUE(recorder->waitForReports(2));
    EXPECT_EQ(recorder->reports(), twice({false, {10}, {}, 11, false}));
}

TEST_F(PNLegacyPlaylistSyncTest, ACreatedVideoSyncsRecountsAndReportsAtTheNewestEnd) {
    for (bool order : {false, true}) {
        SCOPED_TRACE(order);
        emulator_.store().remove("fresh");
        auto playlist = makePlaylist(10, order);
        auto recorder = LegacyRecorder::attach(playlist);
        idAt(*playlist, 0);  // something in the cache that the recount must drop
        const auto id = createRemote();

        post(NotificationName::PNVideoCreated,
             platform::Dictionary{{"videoID", id}, {"mp4Url", platform::Dictionary{}}});
        ASSERT_TRUE(recorder->waitForReports(2));
        EXPECT_EQ(recorder->reports(),
                  twice({false,
                         order ? std::vector<std::int64_t>{0} : std::vector<std::int64_t>{10},
                         {},
                         11,
                         false}));
        EXPECT_EQ(playlist->internalCount(), 11);
        EXPECT_EQ(idAt(*playlist, order ? 0 : 10), id);
        EXPECT_EQ(idAt(*playlist, order ? 10 : 0), ids_[0]);
        emulator_.server().requestLog().clear();
    }
}

TEST_F(PNLegacyPlaylistSyncTest, ADeletedVideoShrinksTheOldestEnd) {
    auto playlist = makePlaylist(10);
    auto recorder = LegacyRecorder::attach(playlist);
    ASSERT_TRUE(emulator_.store().remove(ids_[4]));
    // The facade's delete attaches a list of one identifier; the playlist reads no object.
    post(NotificationName::PNVideoDeleted, platform::Array{ids_[4]});
    ASSERT_TRUE(recorder->waitForReports(2));
    EXPECT_EQ(recorder->reports(), twice({false, {}, {0}, 9, false}));
    EXPECT_EQ(idAt(*playlist, 4), ids_[5]);
}

TEST_F(PNLegacyPlaylistSyncTest, UpdatedVideosLeaveTheCacheWithoutAReport) {
    auto playlist = makePlaylist(10);
    auto recorder = LegacyRecorder::attach(playlist);
    EXPECT_EQ(idAt(*playlist, 3), ids_[3]);
    ASSERT_EQ(pageRequests(), 1u);

    // Every shape a poster uses, each identifier of a list included.
    post(NotificationName::PNVideoUpdated, platform::Dictionary{{"videoID", ids_[4]}});
    post(NotificationName::PNVideoUpdated, ids_[3]);
    post(NotificationName::PNVideoUpdated, platform::Array{ids_[5], ids_[6]});
    // videoAt() also answers nothing while a handler holds the playlist, so misses count only
    // between two hits.
    ASSERT_TRUE(testing::eventually([&] {
        return playlist->videoAt(7) && !playlist->videoAt(3) && !playlist->videoAt(4) &&
               !playlist->videoAt(5) && !playlist->videoAt(6) && playlist->videoAt(7);
    }));
    EXPECT_EQ(playlist->internalCount(), 10);
    // The next access fetches the page again.
    EXPECT_EQ(idAt(*playlist, 3), ids_[3]);
    EXPECT_EQ(pageRequests(), 2u);
    EXPECT_TRUE(recorder->reports().empty());
}

TEST_F(PNLegacyPlaylistSyncTest, ABurstOfNotificationsParksNoPoolWorkers) {
    auto playlist = makePlaylist(10);
    EXPECT_EQ(idAt(*playlist, 3), ids_[3]);
    // The sync holds the playlist while its answer is held up; the handlers queue behind it.
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault(syncPath, emulator::Fault::heldBy(gate));
    Outcome<bool> synced;
    playlist->sync([&](bool success) { synced.set(success); });
    const bool arrived = gate->waitForArrivals(1);
    if (!arrived)
        gate->open();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(syncRequests(), 1u);

    auto& pool = platform::detail::WorkerPool::shared();
    const std::size_t before = pool.threadCount();
    // Only the playlist observes these, so no other work of the burst needs a worker.
    constexpr int burst = 200;
    for (int i = 0; i < burst; ++i)
        post(NotificationName::PNVideoUploadStarted, {},
             platform::Dictionary{{"videoID", "recorded"}, {"progress", 0.0}});
    const std::size_t grown = pool.threadCount() - std::min(before, pool.threadCount());
    EXPECT_LT(grown, 50u);

    // Then they run, one after the other: the local video recorded meanwhile comes in once.
    putLocal("recorded", 100);
    gate->open();
    EXPECT_TRUE(synced.wait());
    ASSERT_TRUE(testing::eventually([&] { return playlist->internalCount() == 11; }));
}

TEST_F(PNLegacyPlaylistSyncTest, LocalVideosComingAndGoingAreReported) {
    auto playlist = makePlaylist(10);
    auto recorder = LegacyRecorder::attach(playlist);

    putLocal("recorded", 100);
    post(NotificationName::PNVideoUploadStarted, {},
         platform::Dictionary{{"videoID", "recorded"}, {"progress", 0.0}});
    ASSERT_TRUE(recorder->waitForReports(2));
    EXPECT_EQ(recorder->reports(), twice({false, {10}, {}, 11, true}));
    EXPECT_EQ(idAt(*playlist, 10), "recorded");

    // Cleaning up a video the playlist does not hold changes nothing; its own is reported.
    putLocal("elsewhere", 101);
    PNLocalVideoCache::shared().remove("elsewhere");
    PNLocalVideoCache::shared().remove("recorded");
    ASSERT_TRUE(recorder->waitForReports(4));
    auto reports = recorder->reports();
    reports.erase(reports.begin(), reports.begin() + 2);
    EXPECT_EQ(reports, twice({false, {}, {0}, 10, false}));
    EXPECT_EQ(playlist->internalCount(), 10);
}

TEST_F(PNLegacyPlaylistSyncTest, AFailedSyncLeavesEverythingAndCanBeRetried) {
    auto playlist = makePlaylist(10);
    auto recorder = LegacyRecorder::attach(playlist);
    const auto before = playlist->syncedDate();
    createRemote();

    emulator_.server().addJSONReply("GET", syncPath, 500, {{"error", "down"}}, {}, 1);
    EXPECT_FALSE(syncNow(*playlist));
    EXPECT_EQ(playlist->syncedDate(), before);
    EXPECT_FALSE(playlist->isSyncing());

    // A failed recount keeps the playlist as it was, and the change is found again later.
    emulator_.server().addJSONReply("GET", "/v1/videos", 500, {{"error", "down"}}, {}, 1);
    EXPECT_FALSE(syncNow(*playlist));
    EXPECT_EQ(playlist->syncedDate(), before);
    EXPECT_EQ(playlist->internalCount(), 10);

    // Reports follow a sync's completion: the ones of the sync that succeeds are the only ones.
    EXPECT_TRUE(syncNow(*playlist));
    ASSERT_TRUE(recorder->waitForReports(2));
    EXPECT_EQ(recorder->reports(), twice({false, {10}, {}, 11, false}));
}

TEST_F(PNLegacyPlaylistSyncTest, ASecondSyncDuringTheFirstStartsNothing) {
    auto playlist = makePlaylist(10);
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault(syncPath, emulator::Fault::heldBy(gate));
    Outcome<bool> first, second;
    playlist->sync([&](bool success) { first.set(success); });
    ASSERT_TRUE(gate->waitForArrivals(1));
    ASSERT_TRUE(testing::eventually([&] { return playlist->isSyncing(); }));
    playlist->sync([&](bool success) { second.set(success); });
    EXPECT_FALSE(second.wait());
    gate->open();
    EXPECT_TRUE(first.wait());
    EXPECT_EQ(syncRequests(), 1u);
}

TEST_F(PNLegacyPlaylistSyncTest, BecomingActiveSyncs) {
    auto playlist = makePlaylist(10);
    auto recorder = LegacyRecorder::attach(playlist);
    createRemote();
    post(PNLegacyPlaylist::applicationDidBecomeActiveNotification, {});
    ASSERT_TRUE(recorder->waitForReports(2));
    EXPECT_EQ(recorder->reports(), twice({false, {10}, {}, 11, false}));
}

}  // namespace
}  // namespace pindle
