#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <nlohmann/json.hpp>

#include "PindleCore/playlists/PNVideoSyncService.hpp"
#include "PlaylistFixture.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/StandardOutput.hpp"
#include "platform/foundation/Status.hpp"
#include "tests/support/TemporaryHome.hpp"

namespace pindle {
namespace {

using platform::StringDictionary;
using platform::StringSet;
using platform::Value;

// A service of its own over a store in a temporary home, sending to the emulator, on a
// virtual clock so that retry delays pass only when the test says so.
class PNVideoSyncServiceTest : public testing::PlaylistFixture {
  protected:
    void SetUp() override {
        PlaylistFixture::SetUp();
        platform::Clock::setCurrent(clock_);
        ids_ = backendIDs();
    }
    void TearDown() override {
        EXPECT_TRUE(service_->isIdle());
        platform::Clock::setCurrent(nullptr);
        PlaylistFixture::TearDown();
    }

    std::string path(const std::string& id) const { return "/v1/videos/" + id; }

    // The update requests the backend received, as (video identifier, body).
    std::vector<std::pair<std::string, nlohmann::json>> updates() {
        std::vector<std::pair<std::string, nlohmann::json>> result;
        for (const auto& request : emulator_.server().requestLog().requests()) {
            if (request.method == "PUT")
                result.emplace_back(request.path().substr(path("").size()),
                                    nlohmann::json::parse(request.body));
        }
        return result;
    }

    // Lets time pass, retry delay by retry delay, until the service has nothing left to send.
    bool runUntilIdle() {
        return testing::eventually(
            [&] {
                if (service_->isIdle())
                    return true;
                clock_->advance(PNVideoSyncService::retryDelay);
                return false;
            },
            std::chrono::seconds(30));
    }

    StringDictionary backendMetadata(const std::string& id) {
        return emulator_.store().get(id)->metadata;
    }

    static nlohmann::json metadataBody(const StringDictionary& metadata) {
        return {{"metadata", metadata}};
    }

    testing::TemporaryHome home_;
    std::shared_ptr<platform::VirtualClock> clock_ = std::make_shared<platform::VirtualClock>();
    std::shared_ptr<PNVideoSyncServiceStorage> storage_ =
        std::make_shared<PNVideoSyncServiceStorage>(PNVideoSyncServiceStorage::defaultFileURL());
    std::shared_ptr<PNVideoSyncService> service_ = PNVideoSyncService::make(storage_);
    std::vector<std::string> ids_;
};

TEST_F(PNVideoSyncServiceTest, SendsOneAtATimeAndRetriesAfterTheConnectionFails) {
    emulator_.server().addFault(path(ids_[0]),
                                emulator::Fault::closeImmediately().onlyFor("PUT").times(1));
    const StringDictionary edited{{"mood", "sunny"}, {"__rating__", "2"}};
    EXPECT_TRUE(service_->queue(ids_[0], "PNVideo", "metadata", Value(edited)));
    EXPECT_TRUE(service_->queue(ids_[1], "PNVideo", "tags", Value(StringSet{"b", "a"})));
    EXPECT_FALSE(service_->isIdle());
    ASSERT_TRUE(runUntilIdle());

    // The change behind waits for the retried one: sending is strictly one at a time.
    const nlohmann::json tagsBody = {{"tags", {"a", "b"}}};
    EXPECT_EQ(updates(), (std::vector<std::pair<std::string, nlohmann::json>>{
                             {ids_[0], metadataBody(edited)},
                             {ids_[0], metadataBody(edited)},
                             {ids_[1], tagsBody},
                         }));
    EXPECT_EQ(backendMetadata(ids_[0]), edited);
    ASSERT_TRUE(emulator_.store().get(ids_[1]));
    EXPECT_EQ(emulator_.store().get(ids_[1])->tags, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(storage_->pending().empty());
}

TEST_F(PNVideoSyncServiceTest, AnEditMadeDuringItsSendGoesOutAfterIt) {
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault(path(ids_[0]),
                                emulator::Fault::heldBy(gate).onlyFor("PUT").times(1));
    service_->queue(ids_[0], "PNVideo", "metadata", Value(StringDictionary{{"v", "first"}}));
    ASSERT_TRUE(gate->waitForArrivals(1));
    service_->queue(ids_[0], "PNVideo", "metadata", Value(StringDictionary{{"v", "second"}}));
    EXPECT_EQ(storage_->pending().size(), 1u);
    gate->open();
    ASSERT_TRUE(runUntilIdle());

    EXPECT_EQ(updates(), (std::vector<std::pair<std::string, nlohmann::json>>{
                             {ids_[0], metadataBody({{"v", "first"}})},
                             {ids_[0], metadataBody({{"v", "second"}})},
                         }));
    EXPECT_EQ(backendMetadata(ids_[0]), (StringDictionary{{"v", "second"}}));
    EXPECT_TRUE(storage_->pending().empty());
}

TEST_F(PNVideoSyncServiceTest, RefusedSendsAreDroppedWhileUnavailableServersAreRetried) {
    struct Case {
        unsigned status;
        std::vector<int> sentOrder;  // indexes into ids_
    };
    // A gateway status sends the change to the back of the line for a while: the one behind
    // it goes first.
    const std::vector<Case> cases{{404, {0, 1}}, {401, {0, 1}}, {500, {0, 1}}, {503, {0, 1, 0}}};
    for (const auto& [status, sentOrder] : cases) {
        emulator_.server().requestLog().clear();
        emulator_.server().addJSONReply("PUT", path(ids_[0]), status, {{"error", "scripted"}}, {},
                                        1);
        const StringDictionary edited{{"status", std::to_string(status)}};
        service_->queue(ids_[0], "PNVideo", "metadata", Value(edited));
        service_->queue(ids_[1], "PNVideo", "metadata", Value(edited));
        ASSERT_TRUE(runUntilIdle()) << status;

        std::vector<std::string> sent, expected;
        for (const auto& update : updates()) sent.push_back(update.first);
        for (int index : sentOrder) expected.push_back(ids_[static_cast<std::size_t>(index)]);
        EXPECT_EQ(sent, expected) << status;
        EXPECT_EQ(backendMetadata(ids_[0]) == edited, sentOrder.size() > 2) << status;
        EXPECT_TRUE(storage_->pending().empty()) << status;
    }
}

TEST_F(PNVideoSyncServiceTest, AChangeAStuckGatewayRefusesIsDroppedAfterItsRetries) {
    platform::StandardOutput::Capture output;
    emulator_.server().addJSONReply("PUT", path(ids_[0]), 503, {{"error", "stuck"}});
    service_->queue(ids_[0], "PNVideo", "metadata", Value(StringDictionary{{"v", "stuck"}}));
    service_->queue(ids_[1], "PNVideo", "metadata", Value(StringDictionary{{"v", "fine"}}));

    // Time moves, a second at a time, only while nothing is being sent, so each send is seen
    // at the moment it was made.
    std::vector<double> sentAt;
    ASSERT_TRUE(testing::eventually(
        [&] {
            // The state is read before the sends: a send that led to it is then already seen,
            // and is timed before the clock moves on.
            const bool idle = service_->isIdle();
            const bool backingOff = service_->isBackingOff();
            for (auto seen = sentAt.size(); seen < updates().size(); ++seen)
                sentAt.push_back(std::chrono::duration<double>(clock_->uptime()).count());
            if (idle)
                return true;
            if (backingOff)
                clock_->advance(1.0);
            return false;
        },
        std::chrono::seconds(30)));

    std::vector<std::string> sent;
    for (const auto& update : updates()) sent.push_back(update.first);
    ASSERT_EQ(sent.size(), 1u + PNVideoSyncService::maximumRetries + 1u);
    // The edit behind the stuck one went out right after the first refusal.
    EXPECT_EQ(sent[1], ids_[1]);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), ids_[0]),
              1 + PNVideoSyncService::maximumRetries);
    EXPECT_EQ(backendMetadata(ids_[1]), (StringDictionary{{"v", "fine"}}));
    EXPECT_TRUE(storage_->pending().empty());

    // Back-offs of 3 seconds, doubling, capped at 300.
    const double expected[] = {3, 6, 12, 24, 48, 96, 192, 300};
    for (std::size_t retry = 0; retry < std::size(expected); ++retry) {
        const double gap = sentAt[retry + 2] - (retry == 0 ? sentAt[0] : sentAt[retry + 1]);
        EXPECT_GE(gap, expected[retry]) << retry;
        EXPECT_LE(gap, expected[retry] + 1.0) << retry;
    }
    // The drop is logged after the service went idle, on the thread that saw the refusal.
    const auto droppedLines = [&] {
        const auto lines = output.lines();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find("VDSR") != std::string::npos &&
                   line.find(ids_[0]) != std::string::npos;
        });
    };
    EXPECT_TRUE(testing::eventually([&] { return droppedLines() > 0; }));
    EXPECT_EQ(droppedLines(), 1);
}

TEST_F(PNVideoSyncServiceTest, LeftoverChangesWaitForTheFirstEditAndUnsendableOnesAreDropped) {
    // Left by an earlier run (or written elsewhere): two that cannot be sent, one that can.
    storage_->add(PNPendingChange(ids_[0], "PNVideo", "title", Value("a title")));
    storage_->add(PNPendingChange(ids_[1], "PNVideo", "metadata", Value(5)));
    storage_->add(
        PNPendingChange(ids_[2], "PNVideo", "metadata", Value(StringDictionary{{"left", "over"}})));
    EXPECT_TRUE(service_->isIdle());

    service_->queue(ids_[3], "PNVideo", "tags", Value(StringSet{"new"}));
    ASSERT_TRUE(runUntilIdle());
    EXPECT_EQ(updates(), (std::vector<std::pair<std::string, nlohmann::json>>{
                             {ids_[2], metadataBody({{"left", "over"}})},
                             {ids_[3], {{"tags", {"new"}}}},
                         }));
    EXPECT_TRUE(storage_->pending().empty());
}

TEST_F(PNVideoSyncServiceTest, AnEditTheStoreCannotKeepIsReportedAndStillSent) {
    std::atomic<bool> diskFull{true};
    platform::FileManager::Options failing;
    failing.beforeAtomicRename = [&](const std::string&) -> platform::Status {
        if (!diskFull.load())
            return std::nullopt;
        return platform::Error("NSCocoaErrorDomain", 640, {});
    };
    auto storage = std::make_shared<PNVideoSyncServiceStorage>(
        PNVideoSyncServiceStorage::defaultFileURL(), failing);
    auto full = PNVideoSyncService::make(storage);
    platform::StandardOutput::Capture output;
    // Held up so that the second edit is queued while the first is being sent.
    auto firstGate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault(path(ids_[0]),
                                emulator::Fault::heldBy(firstGate).onlyFor("PUT").times(1));
    EXPECT_TRUE(full->queue(ids_[0], "PNVideo", "metadata", Value(StringDictionary{{"v", "1"}})));
    const bool firstArrived = firstGate->waitForArrivals(1);
    EXPECT_TRUE(full->queue(ids_[1], "PNVideo", "tags", Value(StringSet{"t"})));
    firstGate->open();
    ASSERT_TRUE(firstArrived);
    EXPECT_TRUE(storage->pending().empty());
    const auto lines = output.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("not_stored") != std::string::npos;
                            }),
              2);

    ASSERT_TRUE(testing::eventually([&] { return full->isIdle(); }));
    EXPECT_EQ(updates(), (std::vector<std::pair<std::string, nlohmann::json>>{
                             {ids_[0], metadataBody({{"v", "1"}})},
                             {ids_[1], {{"tags", {"t"}}}},
                         }));

    // Once the store takes writes again, edits kept in memory reach it first, in order.
    // Held up, so that the edit is still pending while the next one is queued.
    auto lateGate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault(path(ids_[2]),
                                emulator::Fault::heldBy(lateGate).onlyFor("PUT").times(1));
    EXPECT_TRUE(full->queue(ids_[2], "PNVideo", "tags", Value(StringSet{"late"})));
    const bool lateArrived = lateGate->waitForArrivals(1);
    diskFull = false;
    EXPECT_TRUE(full->queue(ids_[3], "PNVideo", "tags", Value(StringSet{"later"})));
    const auto pending = storage->pending();
    lateGate->open();
    ASSERT_TRUE(lateArrived);
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].entityID(), ids_[2]);
    EXPECT_EQ(pending[1].entityID(), ids_[3]);
    ASSERT_TRUE(testing::eventually([&] {
        if (full->isIdle())
            return true;
        clock_->advance(PNVideoSyncService::retryDelay);
        return false;
    }));
    EXPECT_TRUE(storage->pending().empty());
}

TEST_F(PNVideoSyncServiceTest, PendingEditsAreLaidOverFetchedRecords) {
    auto record = [](const std::string& id, StringSet tags, StringDictionary metadata) {
        PNVideo::Fields fields;
        fields.videoID = id;
        fields.tags = std::move(tags);
        fields.metadata = std::move(metadata);
        return PNVideo::make(std::move(fields));
    };
    auto v1 = record("v1", {"old"}, {{"keep", "me"}});
    auto v2 = record("v2", {"keep"}, {{"a", "1"}, {"b", "2"}});
    auto v3 = record("v3", {}, {{"x", "1"}});
    auto v4 = record("v4", {}, {{"y", "1"}});
    storage_->add(PNPendingChange("v1", "PNVideo", "tags", Value(StringSet{"new"})));
    storage_->add(
        PNPendingChange("v2", "PNVideo", "metadata", Value(StringDictionary{{"b", "3"}})));
    storage_->add(
        PNPendingChange("v3", "PNOther", "metadata", Value(StringDictionary{{"x", "2"}})));
    storage_->add(PNPendingChange("v4", "PNVideo", "metadata", Value(5)));
    storage_->add(PNPendingChange("v9", "PNVideo", "tags", Value(StringSet{"absent"})));
    const auto before = storage_->pending();

    service_->pass({v1, v2, v3, v4});
    EXPECT_EQ(v1->internalTags(), (StringSet{"new"}));
    EXPECT_EQ(v1->internalMetadata(), (StringDictionary{{"keep", "me"}}));
    // The pending value replaces the whole property.
    EXPECT_EQ(v2->internalMetadata(), (StringDictionary{{"b", "3"}}));
    EXPECT_EQ(v2->internalTags(), (StringSet{"keep"}));
    EXPECT_EQ(v3->internalMetadata(), (StringDictionary{{"x", "1"}}));
    EXPECT_EQ(v4->internalMetadata(), (StringDictionary{{"y", "1"}}));
    // Applying queues nothing again.
    EXPECT_EQ(storage_->pending(), before);
    EXPECT_TRUE(service_->isIdle());
    storage_->flushStorage();

    service_->pass({v1});  // an empty store changes nothing
    EXPECT_EQ(v1->internalTags(), (StringSet{"new"}));
}

}  // namespace
}  // namespace pindle
