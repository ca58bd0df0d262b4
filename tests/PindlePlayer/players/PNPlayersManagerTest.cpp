// The players manager pooling real player controllers around a playlist position, on
// virtual time with scripted media: players prepared for the head of the window, one player
// for two concurrent requests, release of what the window and the host no longer hold, and
// pausing only players that are ready.
#include "PindlePlayer/players/PNPlayersManager.hpp"

#include <gtest/gtest.h>

#include <mutex>

#include "platform/media/ScriptedMediaSource.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "support/VirtualTimeTest.hpp"
#include "tests/PindleCore/api/EmulatorFixture.hpp"
#include "tests/PindlePlayer/views/PNPlayerViewControllerTestDoor.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/Gate.hpp"

namespace pindle {
namespace {

using platform::ScriptedMediaSource;
using platform::ui::UIThreadChecker;

// Gives every new player scripted media; items of `stalled` never get a frame. It implements
// only the method the manager sends, so every test also checks that the manager asks for it.
struct ScriptingDelegate : PNPlayersManagerProtocol {
    bool implements(Method method) const override { return method == Method::newPlayerCreated; }
    void pnPlayersManagerNewPlayerCreated(PNPlayersManager&,
                                          const PNPlayerViewControllerPtr& player) override {
        ++created;
        player->setItemFactory([this](const std::shared_ptr<platform::URLAsset>& asset) {
            auto source = std::make_shared<ScriptedMediaSource>();
            source->setDuration(10);
            std::string path = asset->url().absoluteString();
            std::lock_guard lock(mutex);
            if (stalled.empty() || path.find(stalled) == std::string::npos) {
                source->setFirstFramePresent(true);
                source->setLoadedRanges({{0, 10}});
            }
            return platform::PlayerItem::make(asset, source);
        });
    }
    std::atomic<int> created{0};
    std::mutex mutex;
    std::string stalled;  // guarded by mutex
};

class PNPlayersManagerTest : public platform::testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        UIThreadChecker::reset();
        manager_->setDelegate(delegate_);
        for (int i = 0; i < 6; ++i) {
            PNVideo::Fields fields;
            fields.videoID = "feed" + std::to_string(i);
            fields.mediaMP4URL720p =
                *platform::URL::fromString("http://127.0.0.1:1/" + fields.videoID + ".mp4");
            videos_.push_back(PNVideo::make(std::move(fields)));
        }
        playlist_->setVideos(videos_);
        playlist_->setTotalCount(6);
    }
    void TearDown() override {
        until([] { return true; });
        EXPECT_EQ(UIThreadChecker::offMainMutations(), 0u);
        VirtualTimeTest::TearDown();
    }
    void until(const std::function<bool()>& condition) {
        ASSERT_TRUE(platform::testing::eventually([&] {
            for (const auto& player : manager_->players())
                for (const auto& view : PNPlayerViewControllerTestDoor(*player).players())
                    EXPECT_TRUE(testing::drain(view->queue()));
            return condition();
        }));
    }
    // The id each pooled player holds, "-" for none.
    std::vector<std::string> held() {
        std::vector<std::string> ids;
        for (const auto& player : manager_->players()) {
            // Read once: the manager can hand the player another video between two reads.
            const auto video = player->video();
            ids.push_back(video ? video->videoID() : "-");
        }
        return ids;
    }
    PNPlayerViewControllerPtr request(const std::string& id) {
        PNPlayerViewControllerPtr got;
        std::atomic<bool> done{false};
        manager_->getPlayerFor(id, [&](PNPlayerViewControllerPtr player, auto error) {
            EXPECT_FALSE(error);
            got = player;
            done = true;
        });
        until([&] { return done.load(); });
        return got;
    }

    std::shared_ptr<PNPlayersManager> manager_ = PNPlayersManager::make(2, 3);
    std::shared_ptr<ScriptingDelegate> delegate_ = std::make_shared<ScriptingDelegate>();
    std::vector<PNVideoPtr> videos_;
    PNPlaylistPtr playlist_ = std::make_shared<PNPlaylist>();
};

TEST_F(PNPlayersManagerTest, WithoutAPlaylistRequestsFailAtOnce) {
    EXPECT_EQ(manager_->playlistIndex(), -1);
    std::optional<PNPlayersManager::Error> error;
    manager_->getPlayerFor(std::int64_t{3}, [&](auto player, auto e) {
        EXPECT_EQ(player, nullptr);
        error = e;
    });
    EXPECT_EQ(error, PNPlayersManager::Error::indexOutOfRange);
    manager_->getPlayerFor(std::string("nope"), [&](auto, auto e) { error = e; });
    EXPECT_EQ(error, PNPlayersManager::Error::videoIdNotFound);
    EXPECT_EQ(PNPlayersManager::localizedDescription(PNPlayersManager::Error::indexOutOfRange),
              "Current playlist doesn't have video for requested index");
}

TEST_F(PNPlayersManagerTest, PlayersArePreparedSharedAndReleasedAroundThePosition) {
    manager_->setPlaylist(playlist_, 0);
    // The head of the first window gets paused players at once.
    until([&] { return held() == std::vector<std::string>{"feed0", "feed1"}; });
    EXPECT_EQ(manager_->playlistIndex(), 0);
    for (const auto& player : manager_->players()) {
        EXPECT_EQ(PNPlayerViewControllerTestDoor(*player).uid(), manager_->uid());
        EXPECT_EQ(PNPlayerViewControllerTestDoor(*player).players().size(), 1u);
        EXPECT_EQ(player->playState(), PNPlayState::paused);
        EXPECT_FALSE(player->view()->isHidden());
    }

    // Two requests for a video without a player before it exists: one player for both,
    // the earlier completion first.
    std::vector<std::pair<int, PNPlayerViewControllerPtr>> got;
    std::mutex gotMutex;
    for (int n = 0; n < 2; ++n)
        manager_->getPlayerFor(std::string("feed5"), [&, n](auto player, auto) {
            std::lock_guard lock(gotMutex);
            got.emplace_back(n, player);
        });
    until([&] {
        std::lock_guard lock(gotMutex);
        return got.size() == 2;
    });
    EXPECT_EQ(got[0].first, 0);
    EXPECT_EQ(got[0].second, got[1].second);
    EXPECT_EQ(delegate_->created.load(), 3);
    EXPECT_EQ(held(), (std::vector<std::string>{"feed0", "feed1", "feed5"}));

    // Moving on: feed0 leaves the head of the window and is freed, feed5 is held by the
    // host and keeps its player; the freed player takes the new head video.
    manager_->setPlaylistIndex(2);
    until([&] {
        auto ids = held();
        std::sort(ids.begin(), ids.end());
        return ids == std::vector<std::string>{"feed2", "feed3", "feed5"};
    });
    EXPECT_EQ(delegate_->created.load(), 3);
    manager_->releasePlayerFor("feed5");
    until([&] { return held()[2] == "-"; });

    // After a reset the players keep their videos; a request reuses the one that shows it.
    manager_->reset();
    until([&] { return manager_->playlistIndex() == -1; });
    manager_->setPlaylist(playlist_, 2);
    until([&] { return manager_->playlistIndex() == 2; });
    auto again = request("feed3");
    ASSERT_TRUE(again);
    const auto shown = again->video();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->videoID(), "feed3");
    EXPECT_EQ(delegate_->created.load(), 3);
}

TEST_F(PNPlayersManagerTest, AVideoAskedForAgainWhileItsPlayerIsBeingMadeGetsThatPlayer) {
    manager_->setPlaylist(playlist_, 0);
    until([&] { return held() == std::vector<std::string>{"feed0", "feed1"}; });
    std::mutex gotMutex;
    std::vector<PNPlayerViewControllerPtr> got;  // guarded by gotMutex
    const auto collect = [&](PNPlayerViewControllerPtr player, auto) {
        std::lock_guard lock(gotMutex);
        got.push_back(player);
    };
    // No player is free: this one is made on the main queue, which the test pumps.
    manager_->getPlayerFor(std::string("feed5"), collect);
    // A request whose completion holds the manager's queue: the first request has been
    // handled once it holds.
    testing::Outcome<bool> holding;
    testing::Gate gate;
    manager_->getPlayerFor(std::string("feed0"), [&](auto, auto) {
        holding.set(true);
        gate.wait();
    });
    ASSERT_TRUE(holding.wait());
    manager_->getPlayerFor(std::string("feed5"), collect);
    // The player is made while the second request waits behind the held queue.
    platform::MainThread::drain();
    EXPECT_TRUE(gate.open());
    until([&] {
        std::lock_guard lock(gotMutex);
        return got.size() == 2;
    });
    EXPECT_EQ(got[0], got[1]);
    EXPECT_EQ(delegate_->created.load(), 3) << "one new player for one video";
}

TEST_F(PNPlayersManagerTest, AManagersLoaderGoesWithIt) {
    auto manager = PNPlayersManager::make(1, 1);
    const std::string uid = manager->uid();
    std::weak_ptr<PNVideoLoader> loader = manager->videoLoader();
    EXPECT_EQ(PNVideoLoader::loader(uid), manager->videoLoader());
    manager.reset();
    EXPECT_EQ(PNVideoLoader::loader(uid), nullptr);
    until([&] { return loader.expired(); });
}

TEST_F(PNPlayersManagerTest, PausingLeavesPlayersThatAreNotReadyAlone) {
    {
        std::lock_guard lock(delegate_->mutex);
        delegate_->stalled = "feed1";
    }
    manager_->setPlaylist(playlist_, 0);
    until([&] { return held() == std::vector<std::string>{"feed0", "feed1"}; });
    auto ready = manager_->players()[0];
    auto stalled = manager_->players()[1];
    until([&] { return ready->isReadyToPlay(); });
    ready->play();
    stalled->play();
    until([&] { return ready->currentPlayer()->player()->rate() > 0; });

    manager_->pausePlayers();
    until([&] { return ready->currentPlayer()->player()->rate() == 0; });
    EXPECT_EQ(ready->playState(), PNPlayState::paused);
    EXPECT_EQ(stalled->playState(), PNPlayState::playing);
    EXPECT_FALSE(stalled->isReadyToPlay());
}

}  // namespace
}  // namespace pindle
