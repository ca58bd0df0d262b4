// The player view end to end: in a window, an emulator movie through "pinlet://" and the
// real loader; the snapshot shows the thumbnail, then the decoded frame, and follows seeks
// and playback; a throttled download stalls and resumes. No interface change is made off
// the main thread.
#include <gtest/gtest.h>

#include <cmath>

#include "PindleCore/caches/PNImageCache.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/views/PNPlayerView.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/Window.hpp"
#include "support/MediaFixtures.hpp"
#include "tests/PindlePlayer/loading/LoaderTestSupport.hpp"
#include "tools/emulator/FaultGate.hpp"

namespace pindle::testing {
namespace {

using platform::ui::Rect;
using platform::ui::UIThreadChecker;

constexpr double kFps = 30;

struct Events : PNPlayerViewDelegate {
    void pnPlayerViewBuffering(PNPlayerView&, bool buffering) override {
        (buffering ? stalls : resumes)++;
    }
    void pnPlayerViewFailedToPlay(PNPlayerView&, int error) override { failure = error; }
    std::atomic<int> stalls{0};
    std::atomic<int> resumes{0};
    std::atomic<int> failure{-1};
};

class PNPlayerViewPlaybackTest : public PlayerCacheFixture {
  protected:
    void SetUp() override {
        PlayerCacheFixture::SetUp();
        UIThreadChecker::reset();
        window_ = platform::ui::Window::make(Rect::make(0, 0, 320, 240));
        window_->makeKeyAndVisible();
        view_ = PNPlayerView::make(Rect::make(0, 0, 320, 240));
        view_->setUID(std::string("playback-") +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        view_->setDelegate(events_);
        window_->addSubview(view_);
    }
    void TearDown() override {
        view_->reset();
        ASSERT_TRUE(pump([&] { return view_->player()->currentItem() == nullptr; }));
        EXPECT_EQ(UIThreadChecker::offMainMutations(), 0u)
            << ::testing::PrintToString(UIThreadChecker::firstSites());
        if (auto loader = view_->loader()) {
            loader->setVideosToPreload({});
            for (const auto& listener : loader->listeners()) loader->removeListener(listener);
        }
        view_.reset();
        window_.reset();
        PlayerCacheFixture::TearDown();
    }

    static bool pump(const std::function<bool()>& condition) {
        return platform::MainThread::runUntil(condition, 20.0);
    }
    // A fresh identifier on every run: the process's player cache keeps what it learnt of an
    // earlier one (its bytes, its JPEG thumbnail), which would change what is shown first.
    PNVideoPtr servedVideo(const std::string& name, const platform::testing::ClipOptions& options) {
        static std::atomic<int> runs{0};
        const std::string id = name + std::to_string(++runs);
        PNVideo::Fields fields;
        fields.videoID = id;
        fields.mediaMP4URL720p = serve("/v/" + id + ".mp4", platform::testing::clipBytes(options));
        fields.thumbnailImageURL = *platform::URL::fromString(emulator_.baseURL() + "/t/" + id);
        return PNVideo::make(std::move(fields));
    }
    std::optional<int> shownFrame() {
        auto image = view_->snapshotImage();
        return image ? platform::testing::readFrameNumber(*image) : std::nullopt;
    }

    std::shared_ptr<platform::ui::Window> window_;
    std::shared_ptr<PNPlayerView> view_;
    std::shared_ptr<Events> events_ = std::make_shared<Events>();
};

TEST_F(PNPlayerViewPlaybackTest, ShowsTheThumbnailThenTheFramesOfPlaySeekAndPause) {
    platform::testing::ClipOptions options;
    options.seconds = 4;
    options.bFrames = false;
    auto video = servedVideo("e2e", options);
    const platform::Image::Pixel thumbColour{0, 200, 0, 255};
    PNImageCache::instance().cache(platform::Image::filled(32, 24, thumbColour),
                                   *video->thumbnailImageURL());

    // The movie is held until the thumbnail has been checked: a preload that finished first
    // would leave the player cache a thumbnail of the movie's first frame, shown instead.
    auto movieGate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault("/v/" + video->videoID() + ".mp4",
                                emulator::Fault::heldBy(movieGate));

    view_->set(video);
    ASSERT_TRUE(pump([&] { return view_->isThumbShown(); }));
    EXPECT_EQ(view_->snapshotImage()->pixelAt(160, 200), thumbColour);
    movieGate->open();

    ASSERT_TRUE(pump([&] {
        return view_->isReadyToPlay() && !view_->playerLayer()->isHidden() &&
               view_->playerLayer()->isReadyForDisplay();
    }));
    EXPECT_EQ(shownFrame(), 0);
    EXPECT_EQ(view_->playState(), PNPlayState::paused);

    view_->seekTo(2.0);
    ASSERT_TRUE(pump([&] { return shownFrame() == 60; })) << shownFrame().value_or(-1);

    view_->play();
    ASSERT_TRUE(pump([&] { return view_->currentTime() > 2.5; }));
    view_->pause();
    ASSERT_TRUE(pump([&] { return view_->playState() == PNPlayState::paused; }));
    const double at = view_->currentTime();
    ASSERT_TRUE(pump([&] {
        auto frame = shownFrame();
        return frame && std::abs(*frame - at * kFps) <= 1;
    })) << at
        << " " << shownFrame().value_or(-1);
}

TEST_F(PNPlayerViewPlaybackTest, AThrottledDownloadStallsAndThenResumes) {
    platform::testing::ClipOptions options;
    options.seconds = 3;
    options.bFrames = false;
    options.noise = true;  // about 250 KB a second of media
    auto video = servedVideo("slow", options);
    emulator_.server().addFault("/v/" + video->videoID() + ".mp4",
                                emulator::Fault::throttle(120'000));

    view_->play(video);
    ASSERT_TRUE(pump([&] { return events_->stalls > 0; }));
    EXPECT_TRUE(view_->isBuffering());
    EXPECT_EQ(view_->player()->rate(), 0.0);
    ASSERT_TRUE(pump([&] { return events_->resumes > 0 && view_->player()->rate() > 0; }));
    EXPECT_GE(view_->stallsCount(), 1);
}

// A file the server refuses never becomes ready: the view says its load failed, rather than
// show the thumbnail for good.
TEST_F(PNPlayerViewPlaybackTest, AFileTheServerRefusesIsReportedAsAFailedLoad) {
    platform::testing::ClipOptions options;
    options.seconds = 1;
    auto video = servedVideo("refused", options);
    emulator_.server().addReply(
        "GET", "/v/" + video->videoID() + ".mp4",
        emulator::Response::text(404, "<html><body>not here</body></html>", "text/html"));

    view_->play(video);
    ASSERT_TRUE(pump([&] { return events_->failure >= 0; }));
    EXPECT_EQ(events_->failure, PNError::videoLoadFailed);
    auto item = view_->player()->currentItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status(), platform::PlayerItem::Status::failed);
    ASSERT_TRUE(item->error());
    EXPECT_EQ(statusCode(*item->error()), 404);
    EXPECT_FALSE(view_->isReadyToPlay());
}

}  // namespace
}  // namespace pindle::testing
