// The full-screen player controller end to end: a playlist of five videos listed by the
// emulator, whose renditions are real movies, played through the controller's own video loader
// and the process's player cache. The controller's timers and the players' timelines run on
// virtual time; the downloads are real, so waits for them are bounded in real time. Pictures
// (the preloaded neighbours', the screen's as it plays, advances and follows a slider drag) are
// checked by the frame number every picture of the movie carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/media/GraphicsContext.hpp"
#include "platform/ui/TouchSynthesizer.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/Window.hpp"
#include "support/MediaFixtures.hpp"
#include "support/VirtualTimeTest.hpp"
#include "tests/PindleCore/api/EmulatorFixture.hpp"
#include "tests/PindlePlayer/views/PNPlayerViewControllerTestDoor.hpp"
#include "tests/PindlePlayer/views/PlayerViewTestSupport.hpp"
#include "tests/support/Barriers.hpp"
#include "tools/emulator/Tokens.hpp"

namespace pindle::testing {
namespace {

namespace ui = platform::ui;
using ui::UIThreadChecker;

constexpr int kVideos = 5;
constexpr double kFps = 30;
constexpr double clipSeconds = 2;

struct Ends : PNPlayerViewControllerDelegate {
    void pnPlayerViewControllerDidPlayToEnd(PNPlayerViewController&) override { ++ends; }
    void pnPlayerViewControllerBuffering(PNPlayerViewController&, bool value) override {
        buffering = value;
    }
    std::atomic<int> ends{0};
    std::atomic<bool> buffering{false};  // the last report
};

// The frame a layer draws, in a picture the size of its bounds. A hidden view draws nothing in
// a snapshot, so a preloaded neighbour's picture is taken from its player layer directly.
std::optional<int> frameDrawnBy(const ui::Layer& layer) {
    const ui::Rect bounds = layer.bounds();
    auto context = platform::GraphicsContext::make(static_cast<int>(bounds.width()),
                                                   static_cast<int>(bounds.height()), 1.0);
    if (!context)
        return std::nullopt;
    const ui::Point position = layer.position();
    context->translate(bounds.width() / 2 - position.x, bounds.height() / 2 - position.y);
    layer.render(*context);
    auto image = context->makeImage();
    return image ? platform::testing::readFrameNumber(*image) : std::nullopt;
}

class PNPlayerViewControllerPlaybackTest : public EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        // Portrait, as the sample videos' records say, so the full-screen fill keeps the code.
        platform::testing::ClipOptions clip;
        clip.width = 180;
        clip.height = 320;
        clip.fps = kFps;
        clip.seconds = clipSeconds;
        clip.bFrames = false;
        // Heavier than what a preload brings (noise spends the whole bit rate), so that
        // playing needs the full download.
        clip.noise = true;
        const std::string movie = platform::testing::clipBytes(clip);
        ASSERT_FALSE(movie.empty());
        emulator_.videos().setRenditions({{"720p", movie}, {"540p", movie}, {"360p", movie}});
        authorize();
        videos_ = listed();
        ASSERT_EQ(videos_.size(), static_cast<std::size_t>(kVideos));
        // The process's cache may know these addresses from another test's emulator that had
        // the same port: start from nothing.
        for (const auto& video : videos_) PNPlayerCache::shared()->clearCacheFor(*video);
        playlist_->setVideos(videos_);
        playlist_->setTotalCount(kVideos);

        clock_ = std::make_shared<platform::VirtualClock>();
        platform::Clock::setCurrent(clock_);
        UIThreadChecker::reset();
        controller_ = std::make_shared<PNPlayerViewController>();
        controller_->setDelegate(ends_);
        window_->setRootViewController(controller_);
        window_->makeKeyAndVisible();
    }
    void TearDown() override {
        if (controller_) {
            settle();
            EXPECT_EQ(UIThreadChecker::offMainMutations(), 0u)
                << ::testing::PrintToString(UIThreadChecker::firstSites());
            controller_->reset();
            // The loader stays registered for the process: let go of its downloads.
            if (auto loader = door().videoLoader()) {
                loader->setVideosToPreload({});
                for (const auto& listener : loader->listeners()) loader->removeListener(listener);
            }
            window_->setRootViewController(nullptr);
            controller_.reset();
            settle();
        }
        platform::Clock::setCurrent(nullptr);
        EmulatorFixture::TearDown();
    }

    // Five sample videos, as the backend lists them.
    std::vector<PNVideoPtr> listed() {
        std::vector<std::string> ids;
        for (int i = 1; i <= kVideos; ++i)
            ids.push_back(emulator::Tokens::stableUUID("sample-video-" + std::to_string(i)));
        Outcome<std::vector<PNVideoPtr>> outcome;
        PNVideoAPI::shared().videosByIds(
            ids, [&](const std::shared_ptr<PNVideosResponse>& response, const auto& error) {
                EXPECT_FALSE(error);
                outcome.set(response ? response->videos() : std::vector<PNVideoPtr>{});
            });
        return outcome.wait();
    }

    void settle() {
        ASSERT_TRUE(testing::settlePlayerViews(
            [this] {
                return controller_ ? door().players()
                                   : std::vector<std::shared_ptr<PNPlayerView>>{};
            },
            4));
    }
    // For what the downloads bring: bounded in real time.
    void until(const std::function<bool()>& condition) {
        ASSERT_TRUE(platform::testing::eventually([&] {
            settle();
            return condition();
        }));
    }
    void advance(double seconds) {
        clock_->advance(seconds);
        settle();
    }

    std::string shown() {
        auto current = controller_->currentPlayer();
        return current && current->video() ? current->video()->videoID() : "-";
    }
    std::shared_ptr<PNPlayerView> holderOf(const PNVideoPtr& video) {
        for (const auto& view : door().players())
            if (view->video() == video)
                return view;
        return nullptr;
    }
    std::optional<int> frameOnScreen() {
        auto image = window_->snapshotImage(1.0);
        return image ? platform::testing::readFrameNumber(*image) : std::nullopt;
    }
    static bool wholeClipLoaded(const PNPlayerView& view) {
        auto item = view.player()->currentItem();
        if (!item)
            return false;
        for (const auto& range : item->loadedTimeRanges())
            if (range.start.seconds() <= 0 && range.end().seconds() >= clipSeconds - 0.05)
                return true;
        return false;
    }

    PNPlayerViewControllerTestDoor door() { return PNPlayerViewControllerTestDoor(*controller_); }

    std::shared_ptr<platform::VirtualClock> clock_;
    std::shared_ptr<ui::Window> window_ = ui::Window::make(ui::Rect::make(0, 0, 375, 667));
    std::shared_ptr<PNPlayerViewController> controller_;
    std::shared_ptr<Ends> ends_ = std::make_shared<Ends>();
    std::vector<PNVideoPtr> videos_;
    PNPlaylistPtr playlist_ = std::make_shared<PNPlaylist>();
};

TEST_F(PNPlayerViewControllerPlaybackTest, PlaysAListedPlaylistWithItsNeighboursPreloaded) {
    controller_->play(playlist_, 0);
    until([&] { return controller_->isReadyToPlay() && shown() == videos_[0]->videoID(); });

    // Every view of the pool holds one video of the playlist; all of them come to show their
    // first picture, the current one on screen and the neighbours paused behind it.
    until([&] {
        return std::all_of(videos_.begin(), videos_.end(),
                           [&](const PNVideoPtr& video) { return holderOf(video) != nullptr; });
    });
    auto current = controller_->currentPlayer();
    until([&] {
        for (const auto& view : door().players())
            if (!view->isReadyToPlay() || !view->playerLayer()->isReadyForDisplay())
                return false;
        return true;
    });
    for (const auto& view : door().players()) {
        SCOPED_TRACE(view->video()->videoID());
        EXPECT_EQ(view->isPreload(), view != current);
        EXPECT_EQ(frameDrawnBy(*view->playerLayer()), 0);
    }
    EXPECT_EQ(frameOnScreen(), 0);
    EXPECT_DOUBLE_EQ(controller_->duration(), clipSeconds);

    // Playback moves with the clock once the bytes are in.
    until([&] { return wholeClipLoaded(*current); });
    advance(1.0);
    EXPECT_EQ(frameOnScreen(), static_cast<int>(1.0 * kFps));
    EXPECT_EQ(controller_->playState(), PNPlayState::playing);

    // The end advances to the next video, shown by the view that had preloaded it. The clock
    // stops right at the end, so the next video has not moved yet.
    auto next = holderOf(videos_[1]);
    ASSERT_NE(next, nullptr);
    advance(clipSeconds - 1.0);
    until([&] { return shown() == videos_[1]->videoID() && controller_->isReadyToPlay(); });
    EXPECT_EQ(ends_->ends, 1);
    EXPECT_EQ(controller_->playlistIndex(), 1);
    EXPECT_EQ(controller_->currentPlayer(), next);
    EXPECT_FALSE(next->isPreload());
    EXPECT_EQ(frameOnScreen(), 0);
    until([&] { return wholeClipLoaded(*next); });
    advance(0.5);
    EXPECT_EQ(frameOnScreen(), static_cast<int>(0.5 * kFps));

    // A drag of the panel's slider to three quarters of the track shows that frame.
    auto slider = door().playerControlPanel()->slider();
    window_->layoutIfNeeded();
    const ui::Rect track = slider->trackRect(slider->bounds());
    ui::TouchSynthesizer::drag(slider, {track.minX(), track.midY()},
                               {track.minX() + 0.75 * track.width(), track.midY()});
    const double target = 0.75 * clipSeconds;
    until([&] { return std::abs(next->currentTime() - target) < 0.01; });
    EXPECT_EQ(frameOnScreen(), static_cast<int>(target * kFps));
}

TEST_F(PNPlayerViewControllerPlaybackTest, APlaylistSetPausedThenPlayedLoadsAndPlaysToItsEnd) {
    controller_->set(playlist_, 0);
    until([&] { return controller_->isReadyToPlay() && shown() == videos_[0]->videoID(); });
    auto current = controller_->currentPlayer();
    EXPECT_EQ(controller_->playState(), PNPlayState::paused);

    controller_->play();
    until([&] { return wholeClipLoaded(*current); });
    advance(clipSeconds);
    until([&] { return ends_->ends == 1 && shown() == videos_[1]->videoID(); });
    EXPECT_EQ(controller_->playlistIndex(), 1);
}

TEST_F(PNPlayerViewControllerPlaybackTest, AJumpToAVideoNoViewHoldsIsBufferingUntilItsBytesCome) {
    // Two views: the current video and one neighbour; the fourth video is in neither.
    window_->setRootViewController(nullptr);
    controller_ = std::make_shared<PNPlayerViewController>();
    door().setPlayersCount(2);
    controller_->setDelegate(ends_);
    window_->setRootViewController(controller_);
    // Its bytes, the preload's included, wait for the test.
    auto gate = std::make_shared<emulator::FaultGate>();
    for (auto resolution :
         {PNVideoResolution::r720p, PNVideoResolution::r540p, PNVideoResolution::r360p})
        emulator_.server().addFault(videos_[3]->mp4URL(resolution)->path(),
                                    emulator::Fault::heldBy(gate));
    controller_->play(playlist_, 0);
    until([&] { return controller_->isReadyToPlay() && shown() == videos_[0]->videoID(); });
    until([&] {
        auto neighbour = holderOf(videos_[1]);
        return neighbour && neighbour->isReadyToPlay();
    });

    controller_->play(3);
    settle();
    EXPECT_EQ(shown(), videos_[3]->videoID());
    EXPECT_TRUE(ends_->buffering);
    advance(1.0);
    EXPECT_TRUE(door().isSpinnerActive());

    gate->open();
    until([&] { return controller_->isReadyToPlay(); });
    EXPECT_FALSE(ends_->buffering);
    until([&] { return !door().isSpinnerActive(); });
}

}  // namespace
}  // namespace pindle::testing
