#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "PindleCore/playlists/PNVideoSyncService.hpp"
#include "PlaylistFixture.hpp"
#include "platform/dispatch/Clock.hpp"
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
        std::size_t attempts;
    };
    for (auto [status, attempts] : std::vector<Case>{{404, 1}, {401, 1}, {500, 1}, {503, 2}}) {
        emulator_.server().requestLog().clear();
        emulator_.server().addJSONReply("PUT", path(ids_[0]), status, {{"error", "scripted"}}, {},
                                        1);
        const StringDictionary edited{{"status", std::to_string(status)}};
        service_->queue(ids_[0], "PNVideo", "metadata", Value(edited));
        service_->queue(ids_[1], "PNVideo", "metadata", Value(edited));
        ASSERT_TRUE(runUntilIdle()) << status;

        const auto sent = updates();
        ASSERT_EQ(sent.size(), attempts + 1) << status;
        for (std::size_t i = 0; i < attempts; ++i) EXPECT_EQ(sent[i].first, ids_[0]) << status;
        EXPECT_EQ(sent.back().first, ids_[1]) << status;
        EXPECT_EQ(backendMetadata(ids_[0]) == edited, attempts > 1) << status;
        EXPECT_TRUE(storage_->pending().empty()) << status;
    }
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

TEST_F(PNVideoSyncServiceTest, AnEditTheStoreCannotKeepIsReportedAndNotSent) {
    platform::FileManager::Options failing;
    failing.beforeAtomicRename = [](const std::string&) -> std::optional<platform::Error> {
        return platform::Error("NSCocoaErrorDomain", 640, {});
    };
    auto full = PNVideoSyncService::make(std::make_shared<PNVideoSyncServiceStorage>(
        PNVideoSyncServiceStorage::defaultFileURL(), failing));
    EXPECT_FALSE(full->queue(ids_[0], "PNVideo", "metadata", Value(StringDictionary{})));
    EXPECT_TRUE(full->isIdle());
    EXPECT_TRUE(updates().empty());
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
