#include <gtest/gtest.h>

#include "PindleCore/playlists/PNMetadataPlaylist.hpp"
#include "PindleCore/playlists/PNPlaylist.hpp"
#include "PindleCore/playlists/PNPlaylistCancellationToken.hpp"
#include "PlaylistFixture.hpp"

namespace pindle {
namespace {

using testing::PlaylistEvent;
using testing::PlaylistRecorder;

PNVideoPtr video(const std::string& id, const std::string& title = "") {
    PNVideo::Fields fields;
    fields.videoID = id;
    fields.title = title;
    return PNVideo::make(std::move(fields));
}

TEST(PNPlaylistTest, PositionsAndIdentifiersAgreeAcrossTheBounds) {
    auto playlist = std::make_shared<PNPlaylist>();
    EXPECT_EQ(playlist->count(), 0);
    EXPECT_FALSE(playlist->totalCount());
    EXPECT_FALSE(playlist->videoAt(0));
    EXPECT_FALSE(playlist->hasVideoAt(0));

    playlist->setVideos({video("a", "first"), video("b"), video("a", "second")});
    struct Case {
        std::int64_t index;
        const char* id;  // nullptr: no video there
    };
    for (auto [index, id] : std::vector<Case>{
             {-1, nullptr}, {0, "a"}, {1, "b"}, {2, "a"}, {3, nullptr}, {INT64_MAX, nullptr}}) {
        auto found = playlist->videoAt(index);
        EXPECT_EQ(playlist->hasVideoAt(index), found != nullptr) << index;
        EXPECT_EQ(found ? std::optional(found->videoID()) : std::nullopt,
                  id ? std::optional<std::string>(id) : std::nullopt)
            << index;
    }

    // The earlier of two records with one identifier wins; matching is exact.
    ASSERT_TRUE(playlist->videoById("a"));
    EXPECT_EQ(playlist->videoById("a")->title(), "first");
    EXPECT_TRUE(playlist->hasVideoById("b"));
    EXPECT_FALSE(playlist->hasVideoById("A"));
    EXPECT_FALSE(playlist->videoById(""));
}

TEST(PNPlaylistTest, ResetEmptiesTellsTheDelegateAndKeepsTheTotal) {
    auto playlist = std::make_shared<PNPlaylist>();
    playlist->setVideos({video("a"), video("b")});
    playlist->setTotalCount(40);
    auto recorder = PlaylistRecorder::attach(playlist);

    playlist->reset();
    EXPECT_EQ(playlist->count(), 0);
    EXPECT_EQ(playlist->totalCount(), 40);
    // The delegate hears of it; nothing is posted.
    EXPECT_EQ(
        recorder->events(),
        (std::vector<PlaylistEvent>{PlaylistEvent::updated({}, PNPlaylistUpdateType::reset)}));
}

TEST(PNPlaylistTest, TheDelegateIsHeldWeaklyAndMayLackTheCalls) {
    auto playlist = std::make_shared<PNPlaylist>();
    {
        auto silent = std::make_shared<PNPlaylistDelegate>();
        playlist->setDelegate(silent);
        playlist->setVideos({video("a")});
        playlist->reset();  // a delegate without the call: nothing to call
        EXPECT_EQ(playlist->count(), 0);
    }
    EXPECT_FALSE(playlist->delegate());
    playlist->setVideos({video("b")});
    playlist->reset();  // the delegate is gone: skipped
    EXPECT_EQ(playlist->count(), 0);
}

TEST(PNPlaylistTest, UpdateTypesComeOnlyFromTheirRawValues) {
    EXPECT_EQ(playlistUpdateTypeFromRawValue(0), PNPlaylistUpdateType::added);
    EXPECT_EQ(playlistUpdateTypeFromRawValue(1), PNPlaylistUpdateType::reset);
    EXPECT_FALSE(playlistUpdateTypeFromRawValue(2));
    EXPECT_FALSE(playlistUpdateTypeFromRawValue(-1));
}

TEST(PNPlaylistCancellationTokenTest, CancellingOnlyRaisesTheFlagForGood) {
    auto token = std::make_shared<PNPlaylistCancellationToken>();
    EXPECT_FALSE(token->cancelled());
    PNCancellablePtr asCancellable = token;
    asCancellable->cancelIt();
    asCancellable->cancelIt();
    EXPECT_TRUE(token->cancelled());
}

TEST(PNMetadataSubsetTest, EveryRequestedEntryMustBeThereWithTheSameText) {
    using platform::Dictionary;
    struct Case {
        Dictionary requested;
        Dictionary videoMetadata;
        bool matches;
    };
    const std::vector<Case> cases = {
        {{}, {}, true},
        {{}, {{"a", "1"}}, true},
        {{{"a", "1"}}, {{"a", "1"}, {"b", "2"}}, true},
        {{{"a", "1"}}, {{"a", "2"}}, false},
        {{{"a", "1"}}, {}, false},
        {{{"a", "1"}, {"b", "2"}}, {{"a", "1"}}, false},
        // Values that are not texts count as absent on either side.
        {{{"n", 5}}, {}, true},
        {{{"n", 5}}, {{"n", 5}}, true},
        {{{"n", "5"}}, {{"n", 5}}, false},
        {{{"n", 5}}, {{"n", "5"}}, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(isSubdictionary(cases[i].requested, cases[i].videoMetadata), cases[i].matches)
            << "case " << i;

    EXPECT_TRUE(isSubdictionary(platform::StringDictionary{{"a", "1"}},
                                platform::StringDictionary{{"a", "1"}, {"b", "2"}}));
    EXPECT_FALSE(isSubdictionary(platform::StringDictionary{{"a", "1"}},
                                 platform::StringDictionary{{"a", ""}}));
}

}  // namespace
}  // namespace pindle
