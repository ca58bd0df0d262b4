#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNVideoSyncService.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "tests/PindleCore/api/EmulatorFixture.hpp"
#include "tests/support/TemporaryHome.hpp"

namespace pindle {
namespace {

using platform::StringDictionary;

class PNVideoMetadataTest : public ::testing::Test {
  protected:
    // The service holds its sends, so every accepted edit stays in its store where the test
    // can read it; the store keeps the latest whole value per property.
    void SetUp() override {
        PNVideoSyncService::sharedInstance().setSuspended(true);
        PNVideoSyncService::sharedInstance().storage()->flushStorage();
        registration_ = platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNMetadataValidationError, nullptr, nullptr,
            [this](const platform::Notification& n) { refusals_.push_back(n); });
    }
    void TearDown() override {
        platform::NotificationCenter::defaultCenter().removeObserver(registration_);
        setTokens(std::nullopt, std::nullopt);
        // Without a session the held send is refused at once, which ends the cycle.
        auto& service = PNVideoSyncService::sharedInstance();
        service.storage()->flushStorage();
        service.setSuspended(false);
        EXPECT_TRUE(testing::eventually([&] { return service.isIdle(); }));
    }

    static void setTokens(std::optional<std::string> session, std::optional<std::string> api) {
        PNSession::current()->setSessionToken(std::move(session));
        PNSession::current()->setApiToken(std::move(api));
    }

    static std::shared_ptr<PNVideo> video(StringDictionary metadata) {
        PNVideo::Fields fields;
        fields.videoID = "vid";
        fields.metadata = std::move(metadata);
        return PNVideo::make(std::move(fields));
    }

    // The metadata edit the service holds for "vid"; nothing when it holds none.
    static std::optional<StringDictionary> queuedMetadata() {
        auto pending = PNVideoSyncService::sharedInstance().storage()->pending();
        EXPECT_LE(pending.size(), 1u);
        if (pending.empty())
            return std::nullopt;
        const auto& change = pending.back();
        EXPECT_EQ(change.entityID(), "vid");
        EXPECT_EQ(change.className(), "PNVideo");
        EXPECT_EQ(change.key(), "metadata");
        return change.value().asStringDictionary();
    }

    static StringDictionary oversized() { return {{"big", std::string(1200, 'x')}}; }

    platform::NotificationCenter::RegistrationPtr registration_;
    std::vector<platform::Notification> refusals_;
    testing::TemporaryHome home_;
};

TEST_F(PNVideoMetadataTest, HiddenEntriesAreKeptButNotShown) {
    auto v = video({{"a", "1"}, {"__rating__", "3"}});
    EXPECT_EQ(v->metadata(), (StringDictionary{{"a", "1"}}));
    EXPECT_EQ(v->rating(), 3);

    for (auto [text, value] :
         std::vector<std::pair<const char*, std::int64_t>>{{"+4", 4},
                                                           {"-4", -4},
                                                           {"+-4", 0},
                                                           {"-+4", 0},
                                                           {"++4", 0},
                                                           {"4.5", 0},
                                                           {" 4", 0},
                                                           {"four", 0},
                                                           {"99999999999999999999", 0}}) {
        EXPECT_EQ(video({{"__rating__", text}})->rating(), value) << text;
    }
}

TEST_F(PNVideoMetadataTest, SetMetadataMergesOrResetsKeepingStoredHiddenEntries) {
    // Each accepted edit reaches the sync service whole, hidden entries included, and takes
    // the place of the one before it.
    auto merged = video({{"a", "1"}, {"__rating__", "3"}});
    merged->setMetadata({{"b", "2"}}, false);
    EXPECT_EQ(merged->internalMetadata(),
              (StringDictionary{{"a", "1"}, {"b", "2"}, {"__rating__", "3"}}));
    EXPECT_EQ(queuedMetadata(), merged->internalMetadata());

    auto reset = video({{"a", "1"}, {"__rating__", "3"}});
    reset->setMetadata({{"b", "2"}, {"__rating__", "9"}}, true);
    EXPECT_EQ(reset->internalMetadata(), (StringDictionary{{"b", "2"}, {"__rating__", "3"}}));
    EXPECT_EQ(queuedMetadata(), reset->internalMetadata());

    auto unrated = video({{"a", "1"}});
    unrated->setMetadata({{"__rating__", "9"}}, true);
    EXPECT_EQ(unrated->rating(), 9);
    EXPECT_EQ(queuedMetadata(), (StringDictionary{{"__rating__", "9"}}));
    EXPECT_TRUE(refusals_.empty());
}

TEST_F(PNVideoMetadataTest, DirectWriteWithoutHiddenEntriesClearsTheRating) {
    auto v = video({{"__rating__", "3"}, {"__rated_identities__", "x"}});
    v->assignMetadata({{"a", "1"}});
    EXPECT_EQ(v->rating(), 0);
    EXPECT_TRUE(v->ratedIdentities().empty());
}

TEST_F(PNVideoMetadataTest, RefusedMetadataPostsOnceAndChangesNothing) {
    auto v = video({{"a", "1"}});
    v->setMetadata(oversized(), false);
    EXPECT_EQ(v->metadata(), (StringDictionary{{"a", "1"}}));
    EXPECT_FALSE(queuedMetadata());
    ASSERT_EQ(refusals_.size(), 1u);
    EXPECT_EQ(refusals_[0].object.asObject(), v);
    auto error = refusals_[0].userInfo.at("error").asError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "PindleCore.PNError");
    EXPECT_EQ(error->code(), PNError::valuesTooLarge);
}

TEST_F(PNVideoMetadataTest, RatingRoundTripsThroughTheHiddenEntries) {
    auto v = video({});
    v->rate("alice", 1);
    EXPECT_TRUE(v->isRated("alice"));
    EXPECT_EQ(v->rating(), 1);
    const StringDictionary rated{{"__rated_identities__", "alice"}, {"__rating__", "1"}};
    EXPECT_EQ(queuedMetadata(), rated);

    PNVideoSyncService::sharedInstance().storage()->flushStorage();
    v->rate("alice", 1);  // already rated: nothing
    v->rate("bob", -1);   // not rated, negative: nothing
    v->rate("alice", 2);  // rated, positive: nothing
    EXPECT_FALSE(queuedMetadata());
    EXPECT_EQ(v->rating(), 1);

    v->rate("bob", 5);
    EXPECT_EQ(v->ratedIdentities(), (std::vector<std::string>{"alice", "bob"}));
    EXPECT_EQ(v->rating(), 6);
    EXPECT_EQ(queuedMetadata(), v->internalMetadata());

    v->rate("alice", -1);
    v->rate("bob", -5);
    EXPECT_EQ(v->rating(), 0);
    EXPECT_TRUE(v->ratedIdentities().empty());
    EXPECT_EQ(v->internalMetadata().at("__rated_identities__"), "");

    // The record dictionary carries the hidden entries, so a decoded record is still rated.
    v->rate("carol", 1);
    auto decoded = PNVideo::decode([&] {
        platform::Dictionary d = v->encode();
        d["createdAt"] = "2019-03-01T10:20:30.456Z";
        d["shotOn"] = "2019-03-01T10:20:30.456Z";
        return d;
    }());
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->isRated("carol"));
}

TEST_F(PNVideoMetadataTest, IdentityFallsBackToTheSessionTokensAndRefusesUnstorableOnes) {
    auto v = video({{"__rated_identities__", "session-token,api-token,a"}});
    setTokens("session-token", "api-token");
    EXPECT_TRUE(v->isRated(std::nullopt));
    setTokens(std::nullopt, "api-token");
    EXPECT_TRUE(v->isRated(std::nullopt));
    setTokens(std::nullopt, std::nullopt);
    EXPECT_FALSE(v->isRated(std::nullopt));

    // An empty identity or one holding the separator could never be found again: it counts
    // as no identity, so rating with it cannot inflate the counter.
    v->rate("", 1);
    v->rate("a,b", 1);
    v->rate(std::nullopt, 1);
    EXPECT_EQ(v->rating(), 0);
    EXPECT_FALSE(queuedMetadata());
    EXPECT_FALSE(v->isRated("a,b"));
}

TEST_F(PNVideoMetadataTest, ARefusedRatingMovesNeitherCounterNorIdentities) {
    StringDictionary nearlyFull{{"filler", std::string(990, 'f')}};
    auto v = video(nearlyFull);
    v->rate("a-long-identity", 1);
    EXPECT_EQ(v->rating(), 0);
    EXPECT_FALSE(v->isRated("a-long-identity"));
    EXPECT_FALSE(queuedMetadata());
    EXPECT_EQ(refusals_.size(), 1u);

    auto atMaximum = video({{"__rating__", std::to_string(INT64_MAX)}});
    atMaximum->rate("x", 1);
    EXPECT_EQ(atMaximum->rating(), INT64_MAX);
    EXPECT_FALSE(atMaximum->isRated("x"));
}

TEST_F(PNVideoMetadataTest, TagsChangeAtOnceAndQueueNothing) {
    auto v = video({});
    v->setTags({"x", "y"});
    EXPECT_EQ(v->tags(), (platform::StringSet{"x", "y"}));
    EXPECT_FALSE(queuedMetadata());
}

// End to end: a rating made on a record goes out to the backend as the whole metadata,
// hidden entries included.
class PNVideoMetadataSyncTest : public testing::EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        PNVideoSyncService::sharedInstance().storage()->flushStorage();
    }
    void TearDown() override {
        EXPECT_TRUE(
            testing::eventually([] { return PNVideoSyncService::sharedInstance().isIdle(); }));
        PNSession::current()->setSessionToken(std::nullopt);
        EmulatorFixture::TearDown();
    }
    testing::TemporaryHome home_;
};

TEST_F(PNVideoMetadataSyncTest, ARatingReachesTheBackendWhole) {
    authorize("tester");
    emulator::VideoRecord stored;
    stored.id = "rated-video";
    stored.identity = "tester";
    emulator_.store().put(stored);
    PNVideo::Fields fields;
    fields.videoID = stored.id;
    fields.metadata = {{"a", "1"}};
    auto v = PNVideo::make(std::move(fields));
    v->rate("alice", 1);

    const std::string path = "/v1/videos/" + stored.id;
    ASSERT_TRUE(testing::eventually([&] {
        return PNVideoSyncService::sharedInstance().isIdle() &&
               !emulator_.server().requestLog().requestsFor("PUT", path).empty();
    }));
    auto puts = emulator_.server().requestLog().requestsFor("PUT", path);
    ASSERT_GE(puts.size(), 1u);
    EXPECT_EQ(
        nlohmann::json::parse(puts.back().body),
        (nlohmann::json{
            {"metadata", {{"a", "1"}, {"__rated_identities__", "alice"}, {"__rating__", "1"}}}}));
    EXPECT_TRUE(PNVideoSyncService::sharedInstance().storage()->pending().empty());
}

}  // namespace
}  // namespace pindle
