#include <gtest/gtest.h>

#include "PindleCore/playlists/PNFilteredPlaylist.hpp"
#include "PindleCore/playlists/PNMetadataPlaylist.hpp"
#include "PindleCore/playlists/PNTagsPlaylist.hpp"
#include "PindleCore/playlists/PNUserPlaylist.hpp"
#include "PlaylistFixture.hpp"
#include "platform/foundation/StandardOutput.hpp"
#include "tools/emulator/QueryString.hpp"

namespace pindle {
namespace {

using testing::PlaylistEvent;
using testing::PlaylistRecorder;

constexpr std::size_t seededVideos = 25;  // the emulator's sample videos
constexpr std::int64_t pageSize = 10;     // a new filter's limit

// Whether the playlist has printed a failed page.
bool printedError(const platform::StandardOutput::Capture& output) {
    for (const auto& line : output.lines()) {
        if (line.rfind("Error: ", 0) == 0)
            return true;
    }
    return false;
}

std::int64_t queryNumber(const emulator::Request& request, const char* name) {
    auto text = emulator::QueryString(request.rawQuery()).get(name);
    return text ? std::stoll(*text) : -1;
}

class PNFilteredPlaylistTest : public testing::PlaylistFixture {};

TEST_F(PNFilteredPlaylistTest, PagesThroughTheWholeListAndPastItsEnd) {
    auto [playlist, recorder] =
        makeRecorded([] { return PNTagsPlaylist::make({}, PNSortOrder::asc); });
    ASSERT_TRUE(recorder->waitForNotifications(1));
    // The delegate came after the first request went out; the rest is reported to it.
    recorder->clear();

    const auto all = backendIDs();
    ASSERT_EQ(all.size(), seededVideos);
    EXPECT_EQ(testing::idsOf(playlist->videos()),
              std::vector<std::string>(all.begin(), all.begin() + pageSize));
    EXPECT_EQ(playlist->totalCount(), static_cast<std::int64_t>(seededVideos));
    EXPECT_EQ(playlist->filter()->page, 2);

    playlist->loadNextVideos();
    ASSERT_TRUE(recorder->waitForNotifications(1));
    playlist->loadNextVideos();
    ASSERT_TRUE(recorder->waitForNotifications(2));
    // Past the end: an empty page that still advances the page number.
    playlist->loadNextVideos();
    ASSERT_TRUE(recorder->waitForNotifications(3));

    EXPECT_EQ(testing::idsOf(playlist->videos()), all);
    EXPECT_EQ(playlist->totalCount(), static_cast<std::int64_t>(seededVideos));
    EXPECT_EQ(playlist->filter()->page, 5);
    const std::vector<std::string> second(all.begin() + 10, all.begin() + 20);
    const std::vector<std::string> third(all.begin() + 20, all.end());
    EXPECT_EQ(recorder->events(),
              (std::vector<PlaylistEvent>{
                  PlaylistEvent::loaded(second),
                  PlaylistEvent::updated({10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
                                         PNPlaylistUpdateType::added),
                  PlaylistEvent::notified({10, 11, 12, 13, 14, 15, 16, 17, 18, 19}),
                  PlaylistEvent::loaded(third),
                  PlaylistEvent::updated({20, 21, 22, 23, 24}, PNPlaylistUpdateType::added),
                  PlaylistEvent::notified({20, 21, 22, 23, 24}),
                  PlaylistEvent::loaded({}),
                  PlaylistEvent::updated({}, PNPlaylistUpdateType::added),
                  PlaylistEvent::notified({}),
              }));

    std::vector<std::pair<std::int64_t, std::int64_t>> pages;
    for (const auto& request : listRequests())
        pages.emplace_back(queryNumber(request, "offset"), queryNumber(request, "limit"));
    EXPECT_EQ(pages, (std::vector<std::pair<std::int64_t, std::int64_t>>{
                         {0, 10}, {10, 10}, {20, 10}, {30, 10}}));
}

TEST_F(PNFilteredPlaylistTest, EachKindAsksForItsOwnSelection) {
    const auto sample = emulator_.store().list({}).videos.at(3);
    const std::string tag = sample.tags.front();
    const std::string identity = sample.identity;

    struct Case {
        const char* name;
        std::function<std::shared_ptr<PNFilteredPlaylist>()> make;
        emulator::VideoQuery expected;
    };
    std::vector<Case> cases;
    emulator::VideoQuery byTag;
    byTag.tags = {tag};
    cases.push_back({"tags", [&] { return PNTagsPlaylist::make({tag}, PNSortOrder::asc); }, byTag});
    emulator::VideoQuery byMetadata;
    byMetadata.metadata = {{"category", sample.metadata.at("category")}};
    cases.push_back(
        {"metadata",
         [&] { return PNMetadataPlaylist::make(byMetadata.metadata, PNSortOrder::asc); },
         byMetadata});
    emulator::VideoQuery byUser;
    byUser.identity = identity;
    byUser.descending = true;
    cases.push_back(
        {"user", [&] { return PNUserPlaylist::make(identity, PNSortOrder::desc); }, byUser});

    for (const auto& c : cases) {
        auto playlist = c.make();
        ASSERT_TRUE(testing::eventually([&] { return playlist->count() > 0; })) << c.name;
        auto expected = backendIDs(c.expected);
        expected.resize(std::min<std::size_t>(expected.size(), pageSize));
        EXPECT_EQ(testing::idsOf(playlist->videos()), expected) << c.name;
        EXPECT_EQ(playlist->totalCount(),
                  static_cast<std::int64_t>(emulator_.store().list(c.expected).totalCount))
            << c.name;
    }
}

TEST_F(PNFilteredPlaylistTest, ASecondCallWhileAPageIsOnItsWayAsksForNothing) {
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault("/v1/videos", emulator::Fault::heldBy(gate).times(1));
    auto [playlist, recorder] =
        makeRecorded([] { return PNTagsPlaylist::make({}, PNSortOrder::asc); });
    playlist->loadNextVideos();
    playlist->loadNextVideos();
    ASSERT_TRUE(gate->waitForArrivals(1));
    gate->open();
    ASSERT_TRUE(recorder->waitForNotifications(1));
    EXPECT_EQ(listRequests().size(), 1u);
    EXPECT_EQ(playlist->count(), pageSize);
}

TEST_F(PNFilteredPlaylistTest, AFailedPageChangesNothingAndIsAskedForAgain) {
    platform::StandardOutput::Capture output;
    emulator_.server().addJSONReply("GET", "/v1/videos", 500, {{"error", "boom"}}, {}, 1);
    auto [playlist, recorder] =
        makeRecorded([] { return PNTagsPlaylist::make({}, PNSortOrder::asc); });
    ASSERT_TRUE(testing::eventually([&] { return printedError(output); }));
    EXPECT_EQ(playlist->count(), 0);
    EXPECT_FALSE(playlist->totalCount());
    EXPECT_EQ(playlist->filter()->page, 1);

    // The playlist is idle again (the line comes after that), and asks for the same page.
    playlist->loadNextVideos();
    ASSERT_TRUE(recorder->waitForNotifications(1));
    EXPECT_EQ(listRequests().size(), 2u);
    EXPECT_EQ(queryNumber(listRequests().back(), "offset"), 0);
    EXPECT_EQ(playlist->count(), pageSize);
    EXPECT_EQ(playlist->filter()->page, 2);
}

TEST_F(PNFilteredPlaylistTest, TheTotalNeverFallsBelowTheLoadedCount) {
    emulator::VideoQuery firstFive;
    firstFive.limit = 5;
    nlohmann::json body = nlohmann::json::array();
    for (const auto& video : emulator_.store().list(firstFive).videos)
        body.push_back(video.toBackendJSON(emulator_.baseURL()));
    emulator_.server().addJSONReply("GET", "/v1/videos", 200, body, {{"video-total-count", "2"}},
                                    1);
    auto [playlist, recorder] =
        makeRecorded([] { return PNTagsPlaylist::make({}, PNSortOrder::asc); });
    ASSERT_TRUE(recorder->waitForNotifications(1));
    EXPECT_EQ(playlist->count(), 5);
    EXPECT_EQ(playlist->totalCount(), 5);
}

TEST_F(PNFilteredPlaylistTest, ResetStartsOverFromTheFirstPage) {
    auto [playlist, recorder] =
        makeRecorded([] { return PNTagsPlaylist::make({}, PNSortOrder::asc); });
    ASSERT_TRUE(recorder->waitForNotifications(1));
    playlist->loadNextVideos();
    ASSERT_TRUE(recorder->waitForNotifications(2));
    recorder->clear();

    playlist->reset();
    EXPECT_EQ(playlist->count(), 0);
    EXPECT_EQ(playlist->totalCount(), static_cast<std::int64_t>(seededVideos));
    EXPECT_EQ(playlist->filter()->page, 1);
    playlist->loadNextVideos();
    ASSERT_TRUE(recorder->waitForNotifications(1));

    const auto all = backendIDs();
    EXPECT_EQ(testing::idsOf(playlist->videos()),
              std::vector<std::string>(all.begin(), all.begin() + pageSize));
    EXPECT_EQ(recorder->events().front(), PlaylistEvent::updated({}, PNPlaylistUpdateType::reset));
    EXPECT_EQ(queryNumber(listRequests().back(), "offset"), 0);
}

TEST_F(PNFilteredPlaylistTest, ResetWhileLoadingDropsThatPage) {
    platform::StandardOutput::Capture output;
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault("/v1/videos", emulator::Fault::heldBy(gate).times(1));
    auto [playlist, recorder] =
        makeRecorded([] { return PNTagsPlaylist::make({}, PNSortOrder::asc); });
    ASSERT_TRUE(gate->waitForArrivals(1));
    playlist->reset();

    // The cancelled request reports back as an error and its page never lands; then the
    // next one can start, from the first page.
    ASSERT_TRUE(testing::eventually([&] { return printedError(output); }));
    gate->open();
    EXPECT_EQ(playlist->count(), 0);
    EXPECT_EQ(listRequests().size(), 1u);
    playlist->loadNextVideos();
    ASSERT_TRUE(recorder->waitForNotifications(1));
    EXPECT_EQ(listRequests().size(), 2u);
    EXPECT_EQ(playlist->count(), pageSize);
    EXPECT_EQ(playlist->filter()->page, 2);
    EXPECT_EQ(queryNumber(listRequests().back(), "offset"), 0);
    EXPECT_EQ(recorder->notificationCount(), 1u);
}

}  // namespace
}  // namespace pindle
