#include <gtest/gtest.h>

#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNVideoSyncService.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {
namespace {

using platform::StringDictionary;

class PNVideoMetadataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PNVideoSyncService::sharedInstance().removeAllQueuedChanges();
        registration_ = platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNMetadataValidationError, nullptr, nullptr,
            [this](const platform::Notification& n) { refusals_.push_back(n); });
    }
    void TearDown() override {
        platform::NotificationCenter::defaultCenter().removeObserver(registration_);
        setTokens(std::nullopt, std::nullopt);
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

    static std::vector<StringDictionary> queuedMetadata() {
        std::vector<StringDictionary> result;
        for (const auto& change : PNVideoSyncService::sharedInstance().queuedChanges()) {
            EXPECT_EQ(change.entityID, "vid");
            EXPECT_EQ(change.className, "PNVideo");
            EXPECT_EQ(change.key, "metadata");
            result.push_back(*change.value.asStringDictionary());
        }
        return result;
    }

    static StringDictionary oversized() { return {{"big", std::string(1200, 'x')}}; }

    platform::NotificationCenter::RegistrationPtr registration_;
    std::vector<platform::Notification> refusals_;
};

TEST_F(PNVideoMetadataTest, HiddenEntriesAreKeptButNotShown) {
    auto v = video({{"a", "1"}, {"__rating__", "3"}});
    EXPECT_EQ(v->metadata(), (StringDictionary{{"a", "1"}}));
    EXPECT_EQ(v->rating(), 3);

    for (auto [text, value] :
         std::vector<std::pair<const char*, std::int64_t>>{{"+4", 4},
                                                           {"-4", -4},
                                                           {"4.5", 0},
                                                           {" 4", 0},
                                                           {"four", 0},
                                                           {"99999999999999999999", 0}}) {
        EXPECT_EQ(video({{"__rating__", text}})->rating(), value) << text;
    }
}

TEST_F(PNVideoMetadataTest, SetMetadataMergesOrResetsKeepingStoredHiddenEntries) {
    auto merged = video({{"a", "1"}, {"__rating__", "3"}});
    merged->setMetadata({{"b", "2"}}, false);
    EXPECT_EQ(merged->internalMetadata(),
              (StringDictionary{{"a", "1"}, {"b", "2"}, {"__rating__", "3"}}));

    auto reset = video({{"a", "1"}, {"__rating__", "3"}});
    reset->setMetadata({{"b", "2"}, {"__rating__", "9"}}, true);
    EXPECT_EQ(reset->internalMetadata(), (StringDictionary{{"b", "2"}, {"__rating__", "3"}}));

    auto unrated = video({{"a", "1"}});
    unrated->setMetadata({{"__rating__", "9"}}, true);
    EXPECT_EQ(unrated->rating(), 9);

    // Accepted edits reach the sync service whole, hidden entries included, in order.
    EXPECT_EQ(queuedMetadata(), (std::vector<StringDictionary>{
                                    {{"a", "1"}, {"b", "2"}, {"__rating__", "3"}},
                                    {{"b", "2"}, {"__rating__", "3"}},
                                    {{"__rating__", "9"}},
                                }));
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
    EXPECT_TRUE(queuedMetadata().empty());
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
    EXPECT_EQ(queuedMetadata(), (std::vector<StringDictionary>{
                                    {{"__rated_identities__", "alice"}},
                                    {{"__rated_identities__", "alice"}, {"__rating__", "1"}},
                                }));

    v->rate("alice", 1);  // already rated: nothing
    v->rate("bob", -1);   // not rated, negative: nothing
    v->rate("alice", 2);  // rated, positive: nothing
    EXPECT_EQ(queuedMetadata().size(), 2u);
    EXPECT_EQ(v->rating(), 1);

    v->rate("bob", 5);
    EXPECT_EQ(v->ratedIdentities(), (std::vector<std::string>{"alice", "bob"}));
    EXPECT_EQ(v->rating(), 6);

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
    EXPECT_TRUE(queuedMetadata().empty());
    EXPECT_FALSE(v->isRated("a,b"));
}

TEST_F(PNVideoMetadataTest, ARefusedRatingMovesNeitherCounterNorIdentities) {
    StringDictionary nearlyFull{{"filler", std::string(990, 'f')}};
    auto v = video(nearlyFull);
    v->rate("a-long-identity", 1);
    EXPECT_EQ(v->rating(), 0);
    EXPECT_FALSE(v->isRated("a-long-identity"));
    EXPECT_TRUE(queuedMetadata().empty());
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
    EXPECT_TRUE(queuedMetadata().empty());
}

}  // namespace
}  // namespace pindle
