// The player view on virtual time with a scripted media source: readiness and the play
// intent, the stall rule and its arithmetic, the end of an item, the time callbacks, the
// failure for a video it cannot play, and what its snapshot shows. Every scenario ends
// with no interface change made off the main thread.
#include "PindlePlayer/views/PNPlayerTransition.hpp"
#include "PindlePlayer/views/PNPlayerView.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>

#include "PindleCore/caches/PNImageCache.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"
#include "platform/foundation/StandardOutput.hpp"
#include "platform/media/AssetResourceLoader.hpp"
#include "platform/media/ScriptedMediaSource.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "support/VirtualTimeTest.hpp"
#include "tests/PindlePlayer/views/PlayerViewTestSupport.hpp"
#include "tests/support/Gate.hpp"

namespace pindle {
namespace {

using platform::ScriptedMediaSource;
using platform::ui::Rect;
using platform::ui::UIThreadChecker;

// What the view told its delegate, from whatever thread.
struct Recorder : PNPlayerViewDelegate {
    bool implements(Method method) const override {
        return (declined.load() & (1u << static_cast<unsigned>(method))) == 0;
    }
    void decline(Method method) { declined |= 1u << static_cast<unsigned>(method); }
    void pnPlayerViewReadyToPlay(PNPlayerView&) override { add("ready"); }
    void pnPlayerViewBuffering(PNPlayerView&, bool buffering) override {
        add(buffering ? "buffering" : "buffered");
    }
    void pnPlayerViewCurrentTimeChanged(PNPlayerView&) override {
        std::lock_guard lock(mutex);
        ++timeCallbacks;
    }
    void pnPlayerViewFailedToPlay(PNPlayerView&, int error) override {
        add("failed_" + std::to_string(error));
    }
    void pnPlayerViewDidPlayToEnd(PNPlayerView&) override { add("end"); }

    void add(std::string event) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return events.size();
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex);
        return std::exchange(events, {});
    }
    int takeTimeCallbacks() {
        std::lock_guard lock(mutex);
        return std::exchange(timeCallbacks, 0);
    }

    std::mutex mutex;
    std::vector<std::string> events;    // guarded by mutex
    int timeCallbacks = 0;              // guarded by mutex
    std::atomic<unsigned> declined{0};  // one bit per Method
};

class PNPlayerViewTest : public platform::testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        UIThreadChecker::reset();
        source_->setDuration(60);
        source_->setFirstFramePresent(true);
        view_ = PNPlayerView::make(Rect::make(0, 0, 40, 30));
        view_->setUID(std::string("view-test-") +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        view_->setItemFactory([this](const std::shared_ptr<platform::URLAsset>& asset) {
            assetURL_ = asset->url().absoluteString();
            return platform::PlayerItem::make(asset, source_);
        });
        view_->setDelegate(recorder_);
    }
    void TearDown() override {
        settle();
        EXPECT_EQ(UIThreadChecker::offMainMutations(), 0u)
            << ::testing::PrintToString(UIThreadChecker::firstSites());
        if (auto uid = view_->uid())
            testing::stopPreloading(*uid);
        view_.reset();
        VirtualTimeTest::TearDown();
    }

    static PNVideoPtr video(const std::string& id, bool with720p = true) {
        PNVideo::Fields fields;
        fields.videoID = id;
        const auto url = *platform::URL::fromString("http://127.0.0.1:1/" + id + ".mp4");
        fields.mediaMP4URL360p = url;
        if (with720p)
            fields.mediaMP4URL720p = url;
        return PNVideo::make(std::move(fields));
    }

    // Lets the item's queue, the view's queue and the main queue finish what they were given.
    void settle() {
        ASSERT_TRUE(testing::settlePlayerViews([this] { return std::vector{view_}; }));
    }
    void until(const std::function<bool()>& condition) {
        ASSERT_TRUE(platform::testing::eventually(condition));
    }
    // Settled: the item's queue reacts to what follows, and a test that then moves the clock
    // must not race that (a timeline started late would start after the move).
    void playUntilReady(const PNVideoPtr& v) {
        runSettled([&] { view_->play(v); });
        until([&] { return view_->isReadyToPlay() && view_->player()->rate() > 0; });
        settle();
    }
    // Scripts the loaded spans and waits until the item has taken them in.
    void loaded(std::vector<std::pair<double, double>> spans) {
        const double end = spans.back().second;
        runSettled([&] { source_->setLoadedRanges(std::move(spans)); });
        auto item = view_->player()->currentItem();
        if (!item)
            return;
        until([&] {
            auto ranges = item->loadedTimeRanges();
            return !ranges.empty() && std::abs(ranges.back().end().seconds() - end) < 1e-6;
        });
        settle();
    }
    void loaded(double end) { loaded({{0, end}}); }
    // Advances to `time`, where the data runs out, and waits for the stall.
    void stallAt(double time) {
        advance(time - now());
        until([&] { return view_->isBuffering(); });
        settle();
    }
    double now() const { return view_->currentTime(); }
    // Holds the view's queue until the gate opens, so that what is queued on it meanwhile
    // runs in the order the test chose.
    std::shared_ptr<testing::Gate> holdQueue() {
        auto gate = std::make_shared<testing::Gate>();
        view_->queue()->async([gate] { gate->wait(); });
        return gate;
    }
    // Counts the times the player is set running from now on, on any thread.
    std::shared_ptr<std::atomic<int>> countStarts() {
        auto starts = std::make_shared<std::atomic<int>>(0);
        std::weak_ptr<platform::Player> player = view_->player();
        view_->player()->observe("rate", static_cast<unsigned>(platform::KVOOption::newValue),
                                 [player, starts](const platform::KVOChange&) {
                                     auto p = player.lock();
                                     if (p && p->rate() > 0)
                                         ++*starts;
                                 });
        return starts;
    }

    std::shared_ptr<ScriptedMediaSource> source_ = std::make_shared<ScriptedMediaSource>();
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    std::shared_ptr<PNPlayerView> view_;
    std::string assetURL_;
};

TEST_F(PNPlayerViewTest, StallsResumeOnceTheNeedGrowsWithEachStallCappedAtTwoSeconds) {
    loaded(10);
    playUntilReady(video("stall"));
    EXPECT_EQ(
        assetURL_,
        "pinlet://view-test-StallsResumeOnceTheNeedGrowsWithEachStallCappedAtTwoSeconds/stall");
    recorder_->take();

    // Each row: where the loaded data ends when playback stalls, then the ends that are not
    // yet enough and the one that is.
    struct Stall {
        double at;
        double notEnough;
        double enough;
    };
    const Stall stalls[] = {{10, 10.9, 11}, {11, 12.9, 13}, {13, 14.9, 15}};
    int count = 0;
    for (const auto& s : stalls) {
        stallAt(s.at);
        ++count;
        EXPECT_EQ(view_->stallsCount(), count);
        EXPECT_EQ(view_->player()->rate(), 0.0);
        EXPECT_TRUE(view_->shouldPlay());  // the intent survives the stall
        loaded(s.notEnough);
        EXPECT_TRUE(view_->isBuffering()) << s.at;
        loaded(s.enough);
        until([&] { return !view_->isBuffering() && view_->player()->rate() > 0; });
        settle();
        EXPECT_EQ(recorder_->take(), (std::vector<std::string>{"buffering", "buffered"}));
    }

    // Near the end only the time left is needed: 0.5 s at 59.5 s of 60.
    loaded(59.5);
    view_->seekTo(59);
    until([&] { return std::abs(now() - 59) < 1e-6; });
    stallAt(59.5);
    loaded(59.9);
    EXPECT_TRUE(view_->isBuffering());
    loaded(60);
    until([&] { return !view_->isBuffering(); });
}

TEST_F(PNPlayerViewTest, BufferedSecondsCountOnlyWhatLiesAheadOfThePlayhead) {
    loaded(10);
    playUntilReady(video("ranges"));
    stallAt(10);
    platform::StandardOutput::Capture output;
    auto logged = [&] {
        for (const auto& line : output.lines()) {
            if (line.find("notes__buffer__true_4_10") != std::string::npos)
                return true;
        }
        return false;
    };
    loaded({{0, 3}, {5, 12}, {12, 14}});
    until(logged);
}

TEST_F(PNPlayerViewTest, PreloadPausesAtTheFirstReadyStatusAndGetsNoTimeCallbacks) {
    loaded(60);
    runSettled([&] { view_->set(video("preload")); });
    until([&] { return view_->isReadyToPlay(); });
    settle();
    until([&] { return view_->player()->rate() == 0.0; });
    EXPECT_TRUE(view_->isPreload());
    EXPECT_FALSE(view_->shouldPlay());
    EXPECT_EQ(view_->player()->rate(), 0.0);
    EXPECT_EQ(view_->playState(), PNPlayState::paused);

    // Even a running player reports no time to a view in preload mode.
    // The new state reaches the view through the item's queue, which may still be busy.
    view_->player()->setRate(0.5);
    until([&] { return view_->playState() == PNPlayState::playing; });
    advance(1.0);
    settle();
    EXPECT_EQ(recorder_->takeTimeCallbacks(), 0);

    view_->play();
    settle();
    recorder_->takeTimeCallbacks();
    advance(1.0);
    settle();
    EXPECT_NEAR(recorder_->takeTimeCallbacks(), 33, 2);
}

TEST_F(PNPlayerViewTest, PauseBeforeReadyKeepsTheItemPausedWhenItBecomesReady) {
    source_->setFirstFramePresent(false);
    loaded(60);
    view_->play(video("early-pause"));
    view_->pause();
    settle();
    EXPECT_TRUE(view_->isPreload());
    EXPECT_EQ(view_->player()->rate(), 1.0);  // the item was told to play, as always
    source_->setFirstFramePresent(true);
    until([&] { return view_->isReadyToPlay() && view_->player()->rate() == 0.0; });
}

TEST_F(PNPlayerViewTest, TheEndLoopsOrDropsThePlayIntent) {
    source_->setDuration(2);
    loaded(2);
    view_->setLoop(true);
    playUntilReady(video("loop"));
    recorder_->take();
    for (int pass = 0; pass < 2; ++pass) {
        advance(2.0);
        settle();
        EXPECT_EQ(recorder_->take(), std::vector<std::string>{"end"});
        EXPECT_GT(view_->player()->rate(), 0.0);
        EXPECT_LT(now(), 0.5);
    }

    view_->setLoop(false);
    advance(2.0);
    settle();
    EXPECT_EQ(recorder_->take(), std::vector<std::string>{"end"});
    EXPECT_FALSE(view_->shouldPlay());
    EXPECT_EQ(view_->player()->rate(), 0.0);
}

TEST_F(PNPlayerViewTest, ADelegateHearsOnlyTheMethodsItImplements) {
    recorder_->decline(PNPlayerViewDelegate::Method::readyToPlay);
    recorder_->decline(PNPlayerViewDelegate::Method::didPlayToEnd);
    source_->setDuration(2);
    loaded(1);
    playUntilReady(video("declining"));
    stallAt(1);
    loaded(2);
    until([&] { return !view_->isBuffering(); });
    advance(1.0);
    settle();
    EXPECT_EQ(recorder_->take(), (std::vector<std::string>{"buffering", "buffered"}));
    EXPECT_GT(recorder_->takeTimeCallbacks(), 0);
    EXPECT_FALSE(view_->shouldPlay());  // it did reach its end
}

// The view's queue is held while the stall ends, so the pause and the resume meet there in
// the order of each row; the batches of data come straight from the test thread, which the
// clock does not wait for.
TEST_F(PNPlayerViewTest, APauseWinsOverTheResumeAfterAStallInEitherOrder) {
    for (const bool pauseFirst : {true, false}) {
        SCOPED_TRACE(pauseFirst ? "pause, then the resume" : "the resume, then pause");
        runSettled([&] { source_->setLoadedRanges({{0, 10}}); });
        playUntilReady(video(pauseFirst ? "pause-first" : "resume-first"));
        stallAt(10);
        recorder_->take();
        auto starts = countStarts();
        auto item = view_->player()->currentItem();
        {
            auto gate = holdQueue();
            if (pauseFirst)
                view_->pause();
            source_->setLoadedRanges({{0, 11}});  // enough for a first stall
            until([&] { return recorder_->count() > 0; });
            EXPECT_EQ(recorder_->take(), std::vector<std::string>{"buffered"});
            // The item's queue takes this batch only after the one that ended the stall.
            source_->setLoadedRanges({{0, 11.5}});
            until([&] {
                auto ranges = item->loadedTimeRanges();
                return !ranges.empty() && ranges.back().end().seconds() > 11.4;
            });
            if (!pauseFirst)
                view_->pause();
            EXPECT_EQ(starts->load(), 0);
            EXPECT_TRUE(gate->open());
        }
        settle();
        EXPECT_EQ(starts->load(), pauseFirst ? 0 : 1);
        EXPECT_EQ(view_->player()->rate(), 0.0);
        EXPECT_FALSE(view_->isBuffering());

        // Neither more data nor time restarts it; play() does.
        loaded(20);
        advance(1.0);
        settle();
        EXPECT_EQ(view_->player()->rate(), 0.0);
        EXPECT_NEAR(now(), 10, 1e-6);
        view_->play();
        until([&] { return view_->player()->rate() > 0; });
        settle();
        view_->reset();
        settle();
    }
}

TEST_F(PNPlayerViewTest, ALoopRestartQueuedBehindAPauseRewindsButDoesNotPlay) {
    source_->setDuration(2);
    loaded(2);
    view_->setLoop(true);
    playUntilReady(video("loop-pause"));
    advance(1.0);
    settle();
    recorder_->take();
    auto item = view_->player()->currentItem();
    {
        auto gate = holdQueue();
        view_->pause();
        // The end as the item posts it, here while the pause still waits on the view's queue.
        platform::NotificationCenter::defaultCenter().post(
            platform::PlayerItem::didPlayToEndTimeNotification,
            platform::Value(std::static_pointer_cast<platform::Object>(item)));
        EXPECT_TRUE(gate->open());
    }
    settle();
    EXPECT_EQ(recorder_->take(), std::vector<std::string>{"end"});
    EXPECT_EQ(view_->player()->rate(), 0.0);
    EXPECT_NEAR(now(), 0, 1e-6);
    view_->play();
    until([&] { return view_->player()->rate() > 0; });
}

TEST_F(PNPlayerViewTest, AVideoWithoutA720pAddressOrRecordingFailsWithErrorNine) {
    view_->play(video("low-only", false));
    until([&] { return recorder_->count() > 0; });
    settle();
    EXPECT_EQ(recorder_->take(), std::vector<std::string>{"failed_9"});
    EXPECT_EQ(view_->player()->currentItem(), nullptr);
    EXPECT_TRUE(assetURL_.empty());
    EXPECT_EQ(view_->playState(), PNPlayState::idle);
}

// A view that steers its own loading takes the loader it made with it, and with the loader
// go its downloads (here one retried against a closed port); a group's loader it found is
// left to the group.
TEST_F(PNPlayerViewTest, AViewTakesTheLoaderItMadeWithItAndLeavesAGroupsLoader) {
    auto own = PNPlayerView::make(video("own"));
    ASSERT_TRUE(own->uid());
    const std::string uid = *own->uid();
    std::weak_ptr<PNVideoLoader> made = own->loader();
    ASSERT_TRUE(testing::settlePlayerViews([&] { return std::vector{own}; }));
    ASSERT_EQ(PNVideoLoader::loader(uid), own->loader());
    until([&] {
        platform::MainThread::drain();
        const auto requests = made.lock()->requests();
        return !requests.empty() && !requests.front()->listeners().empty();
    });
    own.reset();
    until([&] {
        platform::MainThread::drain();
        return PNVideoLoader::loader(uid) == nullptr && made.expired();
    });

    // Moving to another group lets go of the loader made for the first.
    auto moving = PNPlayerView::make(Rect::make(0, 0, 10, 10));
    moving->setUID("first-group-of-" + uid);
    moving->setUID("second-group-of-" + uid);
    EXPECT_EQ(PNVideoLoader::loader("first-group-of-" + uid), nullptr);
    EXPECT_EQ(PNVideoLoader::loader("second-group-of-" + uid), moving->loader());

    const std::string group = "group-of-" + uid;
    auto shared = PNVideoLoader::make(group, 1);
    auto member = PNPlayerView::make(Rect::make(0, 0, 10, 10));
    member->setUID(group);
    EXPECT_EQ(member->loader(), shared);
    member.reset();
    EXPECT_EQ(PNVideoLoader::loader(group), shared);
    PNVideoLoader::unregister(*shared);
}

TEST_F(PNPlayerViewTest, AViewWithoutAUidRefusesVideos) {
    auto bare = PNPlayerView::make(Rect::make(0, 0, 10, 10));
    platform::StandardOutput::Capture output;
    bare->play(video("no-uid"));
    platform::MainThread::drain();
    EXPECT_EQ(bare->video(), nullptr);
    bool logged = false;
    for (const auto& line : output.lines())
        logged = logged || line.find("no_uid") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(PNPlayerViewTest, SnapshotShowsTheThumbnailThenTheVideoFrameAndResetEmptiesIt) {
    using Pixel = platform::Image::Pixel;
    const Pixel thumbColour{200, 10, 10, 255};
    const Pixel frameColour{10, 10, 200, 255};
    auto v = video("pictures");
    v->setThumbnailImageURL(*platform::URL::fromString("http://127.0.0.1:1/pictures.png"));
    PNImageCache::instance().cache(platform::Image::filled(4, 3, thumbColour),
                                   *v->thumbnailImageURL());
    source_->setFirstFramePresent(false);
    source_->setFrameImage(platform::Image::filled(4, 3, frameColour));
    loaded(60);

    view_->play(v);
    until([&] { return view_->isThumbShown(); });
    settle();
    EXPECT_EQ(view_->snapshotImage()->pixelAt(20, 15), thumbColour);

    source_->setFirstFramePresent(true);
    until([&] {
        return view_->playerLayer()->isReadyForDisplay() && !view_->playerLayer()->isHidden();
    });
    EXPECT_EQ(view_->snapshotImage()->pixelAt(20, 15), frameColour);

    view_->reset();
    settle();
    EXPECT_EQ(view_->video(), nullptr);
    EXPECT_EQ(view_->player()->currentItem(), nullptr);
    EXPECT_EQ(view_->snapshotImage()->pixelAt(20, 15), (Pixel{0, 0, 0, 0}));
}

struct SilentReceiver : platform::AssetResourceLoadingRequest::Receiver {
    void requestDidRespond(const platform::AssetResourceLoadingRequestPtr&, std::int64_t,
                           std::span<const std::uint8_t>) override {}
    void requestDidFinish(const platform::AssetResourceLoadingRequestPtr&,
                          const std::optional<platform::Error>&) override {}
};

TEST_F(PNPlayerViewTest, ACancelledLoadingRequestIsFinishedAndOnlyItsListenerLeaves) {
    using Request = platform::AssetResourceLoadingRequest;
    auto receiver = std::make_shared<SilentReceiver>();
    const auto url = *platform::URL::fromString("pinlet://group/idle");
    auto first = Request::make(url, false, Request::Range{0, 100, false}, receiver);
    auto second = Request::make(url, false, Request::Range{100, 100, false}, receiver);
    platform::AssetResourceLoader loader;
    EXPECT_TRUE(view_->shouldWaitForLoadingOfRequestedResource(loader, first));
    EXPECT_TRUE(view_->shouldWaitForLoadingOfRequestedResource(loader, second));
    ASSERT_EQ(view_->requestListeners().size(), 2u);

    view_->didCancelLoadingRequest(loader, first);
    EXPECT_TRUE(first->isFinished());
    EXPECT_FALSE(second->isFinished());
    ASSERT_EQ(view_->requestListeners().size(), 1u);
    EXPECT_EQ(view_->requestListeners()[0]->loadingRequest(), second);
    view_->didCancelLoadingRequest(loader, first);  // already gone: nothing more
    EXPECT_EQ(first->diagnostics().finishesAfterEnd, 0);
    EXPECT_EQ(view_->requestListeners().size(), 1u);
}

TEST(PNPlayerTypesTest, RawValuesAndTransitions) {
    EXPECT_EQ(playStateFromRawValue(2), PNPlayState::playing);
    EXPECT_EQ(aspectModeFromRawValue(0), PNAspectMode::aspectFit);
    for (int raw : {-1, 3}) {
        EXPECT_FALSE(playStateFromRawValue(raw));
        EXPECT_FALSE(aspectModeFromRawValue(raw));
    }
    EXPECT_NE(PNPlayerTransition::up(0.3), PNPlayerTransition::up(0.5));
    EXPECT_EQ(PNPlayerTransition::fade(-1).duration, -1);
}

}  // namespace
}  // namespace pindle
