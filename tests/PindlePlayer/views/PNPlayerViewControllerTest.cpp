// The full-screen player controller in a window, on virtual time, with scripted media for
// every item its views build: the pool with the current video and its preloaded neighbours,
// the transitions and their interruption, the panel's buttons driven by taps, the end of a
// video advancing, the delayed spinner, the error display and notification, a slider drag
// seeking, what the delegate hears of neighbours, switches faster than the main queue shows
// them, and switches waiting on the player cache's disk or on a playlist. Every scenario ends
// with no interface change made off the main thread.
#include "PindlePlayer/views/PNPlayerViewController.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>

#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/media/AudioSession.hpp"
#include "platform/media/ScriptedMediaSource.hpp"
#include "platform/ui/TouchSynthesizer.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/Window.hpp"
#include "support/VirtualTimeTest.hpp"
#include "tests/PindlePlayer/views/PNPlayerViewControllerTestDoor.hpp"
#include "tests/PindlePlayer/views/PlayerViewTestSupport.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/Gate.hpp"

namespace pindle {
namespace {

namespace ui = platform::ui;
using platform::ScriptedMediaSource;
using ui::TouchSynthesizer;
using ui::UIThreadChecker;

constexpr double clipSeconds = 10;

struct Events : PNPlayerViewControllerDelegate {
    bool implements(Method method) const override {
        return (declined.load() & (1u << static_cast<unsigned>(method))) == 0;
    }
    void decline(Method method) { declined |= 1u << static_cast<unsigned>(method); }
    void pnPlayerViewControllerReadyToPlay(PNPlayerViewController&) override { add("ready"); }
    void pnPlayerViewControllerFailedToPlay(PNPlayerViewController&, int error) override {
        add("failed_" + std::to_string(error));
    }
    void pnPlayerViewControllerDidPlayToEnd(PNPlayerViewController&) override { add("end"); }
    void pnPlayerViewControllerBuffering(PNPlayerViewController&, bool value) override {
        buffering = value;
    }
    void add(std::string event) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }
    bool saw(const std::string& event) { return count(event) > 0; }
    long count(const std::string& event) {
        std::lock_guard lock(mutex);
        return std::count(events.begin(), events.end(), event);
    }
    std::mutex mutex;
    std::vector<std::string> events;     // guarded by mutex
    std::atomic<bool> buffering{false};  // the last report
    std::atomic<unsigned> declined{0};   // one bit per Method
};

class PNPlayerViewControllerTest : public platform::testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        UIThreadChecker::reset();
        controller_ = std::make_shared<PNPlayerViewController>();
        controller_->setItemFactory([this](const std::shared_ptr<platform::URLAsset>& asset) {
            auto source = std::make_shared<ScriptedMediaSource>();
            source->setDuration(clipSeconds);
            const std::string path = asset->url().absoluteString();
            if (stalled_.empty() || path.find(stalled_) == std::string::npos) {
                source->setFirstFramePresent(true);
                source->setLoadedRanges({{0, clipSeconds}});
            }
            return platform::PlayerItem::make(asset, source);
        });
        controller_->setDelegate(events_);
        window_->setRootViewController(controller_);
        window_->makeKeyAndVisible();
        for (int i = 0; i < 5; ++i) videos_.push_back(video("clip" + std::to_string(i)));
        playlist_->setVideos(videos_);
        playlist_->setTotalCount(5);
    }
    void TearDown() override {
        settle();
        EXPECT_EQ(UIThreadChecker::offMainMutations(), 0u)
            << ::testing::PrintToString(UIThreadChecker::firstSites());
        testing::stopPreloading(door().uid());
        window_->setRootViewController(nullptr);
        controller_.reset();
        VirtualTimeTest::TearDown();
    }

    PNPlayerViewControllerTestDoor door() { return PNPlayerViewControllerTestDoor(*controller_); }
    static PNVideoPtr video(const std::string& id, bool playable = true) {
        PNVideo::Fields fields;
        fields.videoID = id;
        const auto url = *platform::URL::fromString("http://127.0.0.1:1/" + id + ".mp4");
        fields.mediaMP4URL360p = url;
        if (playable)
            fields.mediaMP4URL720p = url;
        return PNVideo::make(std::move(fields));
    }
    // Lets the views' items' queues, the views' queues and the main queue finish what they
    // were given.
    void settle() {
        ASSERT_TRUE(testing::settlePlayerViews([this] { return door().players(); }, 4));
    }
    void until(const std::function<bool()>& condition) {
        ASSERT_TRUE(platform::testing::eventually([&] {
            settle();
            return condition();
        }));
    }
    std::vector<std::string> heldVideos() {
        std::vector<std::string> ids;
        for (const auto& view : door().players())
            ids.push_back(view->video() ? view->video()->videoID() : "-");
        return ids;
    }
    std::string shown() {
        auto current = controller_->currentPlayer();
        return current && current->video() ? current->video()->videoID() : "-";
    }
    void playReady(std::int64_t index) {
        controller_->play(playlist_, index);
        until([&] { return controller_->isReadyToPlay() && shown() == videos_[index]->videoID(); });
    }
    // Waits until a view other than the current one holds `video`, ready to play.
    void untilNeighbourReady(const PNVideoPtr& video) {
        until([&] {
            for (const auto& view : door().players())
                if (view != controller_->currentPlayer() && view->video() == video &&
                    view->isReadyToPlay())
                    return true;
            return false;
        });
    }

    std::shared_ptr<ui::Window> window_ = ui::Window::make(ui::Rect::make(0, 0, 375, 667));
    std::shared_ptr<PNPlayerViewController> controller_;
    std::shared_ptr<Events> events_ = std::make_shared<Events>();
    std::vector<PNVideoPtr> videos_;
    PNPlaylistPtr playlist_ = std::make_shared<PNPlaylist>();
    std::string stalled_;  // a video id whose items never get a frame
};

TEST_F(PNPlayerViewControllerTest, APlaylistPlaysWithItsNeighboursPreloadedInThePool) {
    EXPECT_FALSE(controller_->isReadyToPlay());
    playReady(0);
    until([&] {
        auto held = heldVideos();
        std::sort(held.begin(), held.end());
        return held == std::vector<std::string>{"clip0", "clip1", "clip2", "clip3", "clip4"};
    });
    auto current = controller_->currentPlayer();
    EXPECT_FALSE(current->isPreload());
    EXPECT_FALSE(current->isHidden());
    for (const auto& view : door().players())
        if (view != current) {
            EXPECT_TRUE(view->isPreload()) << view->video()->videoID();
            EXPECT_TRUE(view->isHidden());
        }
    EXPECT_EQ(controller_->playState(), PNPlayState::playing);
    EXPECT_DOUBLE_EQ(controller_->duration(), clipSeconds);
    EXPECT_TRUE(events_->saw("ready"));

    // The controller's view is laid out as its storyboard scenes and formats say.
    window_->layoutIfNeeded();
    EXPECT_EQ(door().playerControlPanelContainer()->frame(), ui::Rect::make(20, 557, 335, 80));
    EXPECT_EQ(door().volumeIndicator()->view()->frame(), ui::Rect::make(0, 0, 375, 50));
    EXPECT_EQ(door().playerView()->frame(), window_->bounds());

    // Moving to a neighbour takes the view that holds it, without loading it again.
    auto holder = door().players()[1];
    for (const auto& view : door().players())
        if (view->video() == videos_[1])
            holder = view;
    controller_->play(1);
    until([&] { return controller_->currentPlayer() == holder && !holder->isPreload(); });
    EXPECT_EQ(controller_->playlistIndex(), 1);
    EXPECT_DOUBLE_EQ(controller_->duration(), clipSeconds);
}

TEST_F(PNPlayerViewControllerTest, TransitionsEndInPlaceAndAnInterruptedOneNeverCompletes) {
    using Kind = PNPlayerTransition::Kind;
    playReady(0);
    const ui::Point centre{187.5, 333.5};
    std::int64_t index = 0;
    for (auto transition :
         {PNPlayerTransition::up(0.5), PNPlayerTransition::down(0.5), PNPlayerTransition::left(0.5),
          PNPlayerTransition::right(0.5), PNPlayerTransition::fade(0.5)}) {
        auto from = controller_->currentPlayer();
        ++index;
        controller_->play(index % 5, transition);
        settle();
        auto to = controller_->currentPlayer();
        ASSERT_NE(from, to);
        EXPECT_TRUE(controller_->isAnimating());
        // Half-way the incoming view is still on its way in.
        advance(0.25);
        settle();
        if (transition.kind == Kind::fade) {
            EXPECT_NEAR(to->layer()->presentationValue("opacity").asDouble().value_or(-1), 0.5,
                        0.01);
        }
        advance(0.3);
        settle();
        EXPECT_FALSE(controller_->isAnimating());
        EXPECT_EQ(to->center(), centre) << static_cast<int>(transition.kind);
        EXPECT_EQ(from->center(), centre);
        EXPECT_DOUBLE_EQ(to->alpha(), 1.0);
        EXPECT_DOUBLE_EQ(from->alpha(), 1.0);
        EXPECT_TRUE(from->isHidden());
        EXPECT_FALSE(to->isHidden());
        // Switching calls made while a transition runs are ignored.
    }

    auto players = door().players();
    int completions = 0;
    door().playersTransition(players[0], players[1], PNPlayerTransition::up(1.0),
                             [&] { ++completions; });
    settle();
    advance(0.2);
    settle();
    for (const auto& view : players) view->layer()->removeAllAnimations();
    advance(2.0);
    settle();
    EXPECT_EQ(completions, 0);
    EXPECT_FALSE(controller_->isAnimating());
}

TEST_F(PNPlayerViewControllerTest, ThePanelsButtonsFollowThePositionAndMoveThroughThePlaylist) {
    playReady(0);
    auto panel = door().playerControlPanel();
    const auto enabled = [&] {
        return std::vector<bool>{panel->playButton()->isEnabled(), panel->prevButton()->isEnabled(),
                                 panel->nextButton()->isEnabled()};
    };
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, true}));
    EXPECT_FALSE(panel->pauseButton()->isHidden());  // playing: pause is offered

    TouchSynthesizer::tap(panel->nextButton());
    until([&] { return shown() == "clip1" && controller_->isReadyToPlay(); });
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true}));
    TouchSynthesizer::tap(panel->prevButton());
    until([&] { return shown() == "clip0"; });

    controller_->play(4);
    until([&] { return shown() == "clip4"; });
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false}));
    TouchSynthesizer::tap(panel->nextButton());  // disabled at the last index
    settle();
    EXPECT_EQ(controller_->playlistIndex(), 4);

    TouchSynthesizer::tap(panel->pauseButton());
    settle();
    EXPECT_EQ(controller_->playState(), PNPlayState::paused);
    EXPECT_FALSE(panel->playButton()->isHidden());

    // A single video: both neighbours' buttons are off, play stays on.
    controller_->play(videos_[2]);
    settle();
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false}));
}

TEST_F(PNPlayerViewControllerTest, TheEndOfAVideoAdvancesAndTheLastOneStops) {
    playReady(3);
    advance(clipSeconds + 0.1);
    until([&] { return shown() == "clip4" && controller_->isReadyToPlay(); });
    EXPECT_TRUE(events_->saw("end"));
    EXPECT_EQ(controller_->playlistIndex(), 4);
    advance(clipSeconds + 0.1);
    settle();
    EXPECT_EQ(controller_->playlistIndex(), 4);
}

TEST_F(PNPlayerViewControllerTest, TheSpinnerShowsOnlyAfterASecondOfBuffering) {
    stalled_ = "clip0";
    controller_->play(playlist_, 0);
    settle();
    auto spinner = door().spinnerView();
    advance(0.9);
    settle();
    EXPECT_DOUBLE_EQ(spinner->layer()->opacity(), 0.0);
    EXPECT_FALSE(door().isSpinnerActive());
    advance(0.1);
    settle();
    EXPECT_TRUE(door().isSpinnerActive());
    advance(0.2);  // fading in over 0.4 s
    EXPECT_NEAR(spinner->layer()->presentationValue("opacity").asDouble().value_or(-1), 0.5, 0.01);
    advance(0.2);
    EXPECT_DOUBLE_EQ(spinner->layer()->presentationValue("opacity").asDouble().value_or(-1), 1.0);

    // A ready video stops it.
    controller_->play(1);
    until([&] { return controller_->isReadyToPlay(); });
    until([&] { return !door().isSpinnerActive(); });
    advance(0.5);
    EXPECT_DOUBLE_EQ(spinner->layer()->presentationValue("opacity").asDouble().value_or(-1), 0.0);
}

TEST_F(PNPlayerViewControllerTest, AFailedVideoShowsItsErrorAndStopsTheSpinner) {
    std::vector<std::pair<std::string, std::string>> posted;
    std::mutex postedMutex;
    platform::NotificationCenter::ScopedRegistration registration(
        platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNVideoPlaybackFailed, nullptr, nullptr,
            [&](const platform::Notification& n) {
                auto id = n.userInfo.at("videoID").asString();
                auto object = n.object.asObject();
                std::lock_guard lock(postedMutex);
                posted.emplace_back(id ? *id : "", object.get() == controller_.get() ? "me" : "?");
            }));
    videos_[0] = video("broken", false);
    playlist_->setVideos(videos_);
    controller_->play(playlist_, 0);
    until([&] { return events_->saw("failed_9"); });
    settle();
    auto label = door().errorLabel();
    EXPECT_FALSE(label->isHidden());
    EXPECT_EQ(label->text(), "Video is unavailable");
    {
        std::lock_guard lock(postedMutex);
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0], (std::pair<std::string, std::string>{"broken", "me"}));
    }
    advance(1.5);
    settle();
    EXPECT_FALSE(door().isSpinnerActive());

    controller_->setShowErrorMessages(false);
    settle();
    EXPECT_TRUE(label->isHidden());
}

TEST_F(PNPlayerViewControllerTest, ASliderDragSeeksToItsFraction) {
    playReady(0);
    auto panel = door().playerControlPanel();
    auto slider = panel->slider();
    window_->layoutIfNeeded();
    const ui::Rect track = slider->trackRect(slider->bounds());
    TouchSynthesizer::drag(slider, {track.minX(), track.midY()},
                           {track.minX() + 0.5 * track.width(), track.midY()});
    settle();
    EXPECT_TRUE(door().isSeeking());
    EXPECT_NEAR(controller_->currentTime(), clipSeconds / 2, 1e-6);
    until([&] { return std::abs(controller_->currentPlayer()->currentTime() - 5.0) < 0.05; });
    advance(0.35);
    settle();
    EXPECT_FALSE(door().isSeeking());

    // The volume bar follows the audio session.
    platform::AudioSession::sharedInstance().simulateOutputVolumeChange(0.25f);
    EXPECT_FLOAT_EQ(door().volumeIndicator()->volumeBar()->progress(), 0.25f);
}

TEST_F(PNPlayerViewControllerTest, PlayingTheVideoShownPlaysItAndPausingItPausesIt) {
    controller_->set(videos_[0]);
    until([&] { return controller_->isReadyToPlay(); });
    auto view = controller_->currentPlayer();
    EXPECT_FALSE(view->shouldPlay());

    controller_->play(videos_[0]);
    settle();
    EXPECT_EQ(controller_->playState(), PNPlayState::playing);
    EXPECT_EQ(controller_->currentPlayer(), view);
    EXPECT_TRUE(view->shouldPlay());
    EXPECT_FALSE(view->isPreload());
    EXPECT_EQ(view->playState(), PNPlayState::playing);

    controller_->set(videos_[0]);
    settle();
    EXPECT_FALSE(view->shouldPlay());
    EXPECT_EQ(view->playState(), PNPlayState::paused);
}

TEST_F(PNPlayerViewControllerTest, AJumpToAVideoNoViewHoldsShowsTheSpinnerWhileItLoads) {
    // More videos than views: the last one is in no view, and never gets a frame.
    for (int i = 5; i < 8; ++i) videos_.push_back(video("clip" + std::to_string(i)));
    playlist_->setVideos(videos_);
    playlist_->setTotalCount(8);
    stalled_ = "clip7";
    playReady(0);
    until([&] { return door().players().back()->isReadyToPlay(); });

    controller_->play(7);
    settle();
    EXPECT_EQ(shown(), "clip7");
    advance(1.0);
    settle();
    EXPECT_TRUE(door().isSpinnerActive());
    EXPECT_FALSE(controller_->isReadyToPlay());
}

TEST_F(PNPlayerViewControllerTest, MovingOnFromAFailedVideoToOneStillLoadingShowsTheSpinner) {
    videos_[0] = video("clip0", false);  // no address to play: fails at once
    playlist_->setVideos(videos_);
    stalled_ = "clip1";  // its neighbour never gets a frame
    controller_->play(playlist_, 0);
    until([&] { return events_->saw("failed_9"); });
    advance(1.0);
    settle();
    EXPECT_FALSE(events_->buffering);
    EXPECT_FALSE(door().isSpinnerActive());

    controller_->play(1);
    settle();
    EXPECT_EQ(shown(), "clip1");
    EXPECT_TRUE(events_->buffering);
    advance(1.0);
    settle();
    EXPECT_TRUE(door().isSpinnerActive());
}

TEST_F(PNPlayerViewControllerTest, AHideOfTheSpinnerAskedWhileItsShowIsQueuedWins) {
    playReady(0);
    door().toggleSpinner(true);
    door().toggleSpinner(false);
    settle();
    EXPECT_FALSE(door().isSpinnerActive());
    advance(0.5);
    EXPECT_DOUBLE_EQ(door().spinnerView()->layer()->opacity(), 0.0);
}

TEST_F(PNPlayerViewControllerTest, ACancelledSliderTouchLetsTheProgressMoveTheSliderAgain) {
    playReady(0);
    auto panel = door().playerControlPanel();
    auto slider = panel->slider();
    window_->layoutIfNeeded();
    const ui::Rect track = slider->trackRect(slider->bounds());
    const ui::Point at = slider->convertPointTo({track.midX(), track.midY()}, window_.get());
    window_->sendEvent(ui::Touch{ui::TouchPhase::began, at, 1, 0});
    EXPECT_TRUE(panel->dragging());
    window_->sendEvent(ui::Touch{ui::TouchPhase::cancelled, at, 1, 0});
    EXPECT_FALSE(panel->dragging());
    EXPECT_FALSE(door().isSeeking());

    panel->setProgress(0.25);
    settle();
    EXPECT_FLOAT_EQ(slider->value(), 0.25f);
}

TEST_F(PNPlayerViewControllerTest, TimesThatAreNoFiniteNumberNeitherBlockSwitchingNorStick) {
    playReady(0);
    // An endless transition switches at once.
    controller_->play(1, PNPlayerTransition::up(std::numeric_limits<double>::infinity()));
    until([&] { return shown() == "clip1" && !controller_->isAnimating(); });
    controller_->play(2);
    until([&] { return shown() == "clip2" && controller_->isReadyToPlay(); });

    // A seek to no number is refused: the time and the slider keep their values.
    controller_->seek(2.5);
    settle();
    controller_->seek(std::numeric_limits<double>::quiet_NaN());
    settle();
    EXPECT_DOUBLE_EQ(controller_->currentTime(), 2.5);
    auto slider = door().playerControlPanel()->slider();
    EXPECT_FLOAT_EQ(slider->value(), 0.25f);
    slider->setValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ(slider->value(), 0.25f);
}

// A controller that steers its own loading made its loader for itself: it goes with the
// controller, and so do the downloads it was retrying (here against a closed port).
TEST_F(PNPlayerViewControllerTest, AControllersOwnLoaderGoesWithIt) {
    auto other = std::make_shared<PNPlayerViewController>();
    other->play(playlist_, 0);
    PNPlayerViewControllerTestDoor inside(*other);
    ASSERT_TRUE(testing::settlePlayerViews([&] { return inside.players(); }, 4));
    const std::string uid = inside.uid();
    std::weak_ptr<PNVideoLoader> loader = inside.videoLoader();
    ASSERT_EQ(PNVideoLoader::loader(uid), inside.videoLoader());
    until([&] { return !loader.lock()->requests().empty(); });
    other.reset();
    until([&] { return PNVideoLoader::loader(uid) == nullptr && loader.expired(); });
}

TEST_F(PNPlayerViewControllerTest, AVideoWhoseIdentifierMakesNoAddressFailsWithItsError) {
    PNVideo::Fields fields;
    fields.videoID = "no address";  // a blank cannot be part of an address
    fields.mediaMP4URL720p = *platform::URL::fromString("http://127.0.0.1:1/clip.mp4");
    videos_[0] = PNVideo::make(std::move(fields));
    playlist_->setVideos(videos_);
    controller_->play(playlist_, 0);
    until([&] { return events_->saw("failed_9"); });
    settle();
    EXPECT_FALSE(door().errorLabel()->isHidden());
    EXPECT_EQ(door().errorLabel()->text(), "Video is unavailable");
}

// Set, then play, of the index on screen plays it, whichever way the queue takes the move: a
// window that stays as it was is never announced.
TEST_F(PNPlayerViewControllerTest, PlayingTheIndexShownAfterSettingItPlaysIt) {
    const std::vector<std::pair<std::string, std::function<void()>>> plays = {
        {"the playlist again",
         [&] {
             controller_->play(playlist_, 0);
         }},
        {"the index",
         [&] {
             controller_->play(0);
         }},
    };
    for (const auto& [name, play] : plays) {
        SCOPED_TRACE(name);
        controller_->reset();
        controller_->set(playlist_, 0);
        until([&] { return controller_->isReadyToPlay() && shown() == "clip0"; });
        auto view = controller_->currentPlayer();
        EXPECT_EQ(view->playState(), PNPlayState::paused);

        play();
        settle();
        EXPECT_EQ(controller_->playState(), PNPlayState::playing);
        EXPECT_EQ(controller_->currentPlayer(), view);
        EXPECT_TRUE(view->shouldPlay());
        EXPECT_EQ(view->playState(), PNPlayState::playing);
    }
}

// Next, then straight back before the main queue has shown the first switch: that switch's
// retiring of its old view must not land on the view that is current again.
TEST_F(PNPlayerViewControllerTest, NextThenStraightBackKeepsTheFirstVideoOnScreenAndPlaying) {
    playReady(0);
    untilNeighbourReady(videos_[1]);
    auto first = controller_->currentPlayer();

    controller_->play(1);
    controller_->play(0);
    settle();
    advance(0.5);
    settle();
    EXPECT_EQ(controller_->currentPlayer(), first);
    EXPECT_EQ(first->video(), videos_[0]);
    EXPECT_TRUE(first->isReadyToPlay());
    EXPECT_FALSE(first->isHidden());
    EXPECT_EQ(first->playState(), PNPlayState::playing);
    for (const auto& view : door().players()) EXPECT_TRUE(view == first || view->isHidden());
}

// Next, and back once the first switch is on screen but before the old view's queue has run
// the stop that switch gave it: the stop gives way, and the view keeps its video, on screen,
// in the state asked for.
TEST_F(PNPlayerViewControllerTest, AStopStillQueuedGivesWayToASwitchBack) {
    struct Case {
        const char* name;
        PNPlayState state;
        std::function<void(std::int64_t)> go;
    };
    const Case cases[] = {
        {"playing", PNPlayState::playing,
         [&](std::int64_t i) {
             controller_->play(i);
         }},
        {"paused", PNPlayState::paused,
         [&](std::int64_t i) {
             controller_->set(i);
         }},
    };
    playReady(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.go(0);
        until([&] { return controller_->isReadyToPlay() && shown() == "clip0"; });
        // The view the switch back left preloads its video again.
        untilNeighbourReady(videos_[1]);
        auto first = controller_->currentPlayer();

        testing::Gate held;
        first->queue()->async([&] { held.wait(); });
        c.go(1);
        // The switch reaches the screen: the first view is stopped, its queue held.
        platform::MainThread::drain();
        ASSERT_NE(controller_->currentPlayer(), first);
        c.go(0);
        EXPECT_TRUE(held.open());
        settle();

        EXPECT_EQ(controller_->currentPlayer(), first);
        EXPECT_EQ(first->targetVideo(), videos_[0]);
        EXPECT_EQ(first->video(), videos_[0]);
        EXPECT_TRUE(first->isReadyToPlay());
        EXPECT_FALSE(first->isHidden());
        EXPECT_EQ(first->playState(), c.state);
    }
}

// A switch that passed its check just before a slide began (the end of a video moving on
// while the user swipes back) lands while the views slide: when the slide ends, the view
// that switch made current is the one on screen, and no other.
TEST_F(PNPlayerViewControllerTest, ASlideEndsShowingTheViewCurrentThen) {
    playReady(1);
    untilNeighbourReady(videos_[0]);
    untilNeighbourReady(videos_[2]);
    controller_->play(0, PNPlayerTransition::down(0.5));
    settle();
    ASSERT_TRUE(controller_->isAnimating());
    door().switchTo(videos_[2], std::nullopt, nullptr);
    settle();
    advance(0.6);
    settle();
    EXPECT_FALSE(controller_->isAnimating());
    auto current = controller_->currentPlayer();
    EXPECT_EQ(current->video(), videos_[2]);
    for (const auto& view : door().players())
        EXPECT_EQ(view->isHidden(), view != current)
            << (view->video() ? view->video()->videoID() : "-");
    EXPECT_EQ(current->playState(), PNPlayState::playing);
}

// Time reports arrive every few hundredths of a second; a main queue that runs slower than
// that (a busy screen) must not gather one progress update per report, or whatever it is asked
// next (a transition's end) waits behind all of them.
TEST_F(PNPlayerViewControllerTest, TimeReportsFasterThanTheMainQueueLeaveOneProgressUpdate) {
    playReady(0);
    auto current = controller_->currentPlayer();
    current->seekTo(4.0);
    // The reports come from the view's queue, while the main queue runs nothing.
    for (int i = 0; i < 200; ++i)
        current->queue()->async([&] { door().pnPlayerViewCurrentTimeChanged(*current); });
    ASSERT_TRUE(testing::drain(current->queue()));

    bool reached = false;
    platform::DispatchQueue::main()->async([&] { reached = true; });
    // The predicate is looked at before and after every block the main queue runs.
    int looks = 0;
    ASSERT_TRUE(platform::testing::eventually([&] {
        ++looks;
        return reached;
    }));
    EXPECT_LE(looks, 4) << "blocks queued ahead of the next one";
    settle();
    EXPECT_FLOAT_EQ(door().playerControlPanel()->slider()->value(), 0.4f);
}

// The delegate hears about the video on screen: a neighbour that fails while it preloads is
// recorded, and told about once it is current; a neighbour that became ready while it
// preloaded is told ready when a switch shows it.
TEST_F(PNPlayerViewControllerTest, TheDelegateHearsOfTheVideoOnScreenOnly) {
    videos_[1] = video("clip1", false);  // no address to play: fails as soon as a view loads it
    playlist_->setVideos(videos_);
    playReady(0);
    until([&] { return door().videoErrors().count("clip1") == 1; });
    untilNeighbourReady(videos_[2]);
    EXPECT_FALSE(events_->saw("failed_9"));
    EXPECT_TRUE(door().errorLabel()->isHidden());
    EXPECT_EQ(events_->count("ready"), 1);

    controller_->play(1);
    until([&] { return events_->saw("failed_9"); });
    EXPECT_EQ(shown(), "clip1");
    EXPECT_FALSE(door().errorLabel()->isHidden());

    controller_->play(2);
    until([&] { return shown() == "clip2"; });
    EXPECT_EQ(events_->count("ready"), 2);
    EXPECT_EQ(events_->count("failed_9"), 1);
    EXPECT_TRUE(door().errorLabel()->isHidden());
}

TEST_F(PNPlayerViewControllerTest, ADelegateHearsOnlyTheMethodsItImplements) {
    events_->decline(PNPlayerViewControllerDelegate::Method::readyToPlay);
    videos_[1] = video("clip1", false);
    playlist_->setVideos(videos_);
    playReady(0);
    settle();
    advance(clipSeconds + 0.1);
    until([&] { return events_->saw("end") && events_->saw("failed_9"); });
    EXPECT_EQ(shown(), "clip1");
    EXPECT_FALSE(events_->saw("ready"));
}

// A playlist of the host's whose reads wait, on one thread, until the test lets them go: a
// host playlist reading its own store.
class WaitingPlaylist : public PNPlaylist {
  public:
    PNVideoPtr videoAt(std::int64_t index) override {
        if (std::this_thread::get_id() == waiter.load()) {
            entered.open();
            release.wait();
        }
        return PNPlaylist::videoAt(index);
    }
    std::atomic<std::thread::id> waiter{};
    testing::Gate entered, release;
};

// What a switch waits on outside the controller (the player cache's disk, to learn what it
// holds of the new video; a new playlist's first reads) it waits on without the controller's
// lock: a view's callback that takes the lock goes on meanwhile, and the switch then ends.
TEST_F(PNPlayerViewControllerTest, ASwitchWaitingOutsideTheControllerLeavesTheLockFree) {
    controller_->play(videos_[0]);
    until([&] { return controller_->isReadyToPlay(); });
    // Runs `call` on a thread of its own, where it opens `entered` and waits for `release`.
    const auto lockStaysFree = [&](const std::function<void()>& call, testing::Gate& entered,
                                   testing::Gate& release) {
        // The view on screen before the switch: its callback takes the lock.
        const auto current = controller_->currentPlayer();
        std::thread switching(call);
        EXPECT_TRUE(entered.wait()) << "the switch did not wait where the test holds it";
        testing::Gate called;
        std::thread callback([&] {
            door().pnPlayerViewCurrentTimeChanged(*current);
            called.open();
        });
        EXPECT_TRUE(called.wait(std::chrono::seconds(5))) << "the callback waited for the switch";
        EXPECT_TRUE(release.open());
        switching.join();
        callback.join();
    };

    {
        SCOPED_TRACE("the player cache's disk");
        auto slow = video("slowdisk");
        const auto url = *slow->mp4URL(PNVideoResolution::r720p);
        const auto& cache = PNPlayerCache::shared();
        ASSERT_TRUE(cache->isFileCacheEnabled());
        cache->recordSize(url, 1000);  // a known size: the cache looks at the file
        const auto path = cache->cacheFilePath(url);
        ASSERT_TRUE(path);
        std::atomic<std::thread::id> switcher{};
        testing::Gate entered, disk;
        cache->setFileWorkHookForTesting([&](const std::string& at) {
            if (at == *path && std::this_thread::get_id() == switcher.load()) {
                entered.open();
                disk.wait();
            }
        });
        lockStaysFree(
            [&] {
                switcher = std::this_thread::get_id();
                controller_->play(slow);
            },
            entered, disk);
        cache->setFileWorkHookForTesting(nullptr);
        until([&] { return shown() == "slowdisk"; });
    }
    {
        SCOPED_TRACE("a new playlist's first reads");
        auto hosts = std::make_shared<WaitingPlaylist>();
        hosts->setVideos(videos_);
        hosts->setTotalCount(5);
        lockStaysFree(
            [&] {
                hosts->waiter = std::this_thread::get_id();
                controller_->play(hosts, 2);
            },
            hosts->entered, hosts->release);
        until([&] { return shown() == "clip2"; });
        EXPECT_EQ(controller_->playlist(), hosts);
    }
}

}  // namespace
}  // namespace pindle
