// The player layer shows the player's frame with its video gravity, is ready for display
// once the item is, and follows a replaced item; with a real clip it shows the frame of the
// playhead, and gives the screen no frame earlier than one it gave until the player seeks.
#include "platform/ui/PlayerLayer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>

#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/media/ScriptedMediaSource.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/ui/View.hpp"
#include "support/MediaFixtures.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle::platform::ui {
namespace {

using Pixel = Image::Pixel;
constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};
constexpr Pixel none{0, 0, 0, 0};

class PlayerLayerTest : public testing::VirtualTimeTest {
  protected:
    PlayerItemPtr scriptedItem(std::shared_ptr<ScriptedMediaSource> source) {
        auto asset = URLAsset::make(*URL::fromString("scripted://clip"));
        return PlayerItem::make(asset, std::move(source));
    }
    // A 10x10 view whose layer holds `layer` over its whole bounds.
    ImagePtr snapshot(const PlayerLayerPtr& layer) {
        auto view = View::make(Rect::make(0, 0, 10, 10));
        layer->setFrame(view->bounds());
        view->layer()->addSublayer(layer);
        return view->snapshotImage();
    }
};

TEST_F(PlayerLayerTest, ReadyForDisplayFollowsTheItemAndGravityFitsTheFrame) {
    auto source = std::make_shared<ScriptedMediaSource>();
    source->setDuration(10);
    source->setLoadedRanges({{0, 10}});
    // Red on the left half, blue on the right.
    source->setFrameImage(Image::make(2, 1, {255, 0, 0, 255, 0, 0, 255, 255}));
    auto player = Player::make();
    auto layer = PlayerLayer::make(player);
    std::vector<Value> announced;
    auto observation = layer->observe("readyForDisplay", static_cast<unsigned>(KVOOption::newValue),
                                      [&](const KVOChange& c) { announced.push_back(c.newValue); });
    const auto blank = snapshot(layer);
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->pixelAt(5, 5), none);

    player->replaceCurrentItem(scriptedItem(source));
    source->setFirstFramePresent(true);
    ASSERT_TRUE(testing::eventually([&] { return layer->isReadyForDisplay(); }));

    struct Case {
        VideoGravity gravity;
        Pixel top, left, right;
    };
    const Case cases[] = {
        {VideoGravity::resize, kBlue, kRed, kBlue},
        {VideoGravity::resizeAspect, none, kRed, kBlue},       // 10x5, letterboxed
        {VideoGravity::resizeAspectFill, kBlue, kRed, kBlue},  // 20x10, cropped
    };
    for (const auto& c : cases) {
        layer->setVideoGravity(c.gravity);
        auto image = snapshot(layer);
        EXPECT_EQ(image->pixelAt(5, 0), c.top);
        EXPECT_EQ(image->pixelAt(1, 5), c.left);
        EXPECT_EQ(image->pixelAt(8, 5), c.right);
    }

    player->replaceCurrentItem(nullptr);
    ASSERT_TRUE(testing::eventually([&] { return !layer->isReadyForDisplay(); }));
    const auto cleared = snapshot(layer);
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->pixelAt(5, 5), none);
    EXPECT_EQ(announced, (std::vector<Value>{true, false}));
}

TEST_F(PlayerLayerTest, ShowsTheFrameAtThePlayheadOfARealClip) {
    const std::string path = AppContainer::home() + "/layer-clip.mp4";
    testing::ClipOptions options;
    options.seconds = 3;
    options.bFrames = false;
    ASSERT_TRUE(testing::writeClip(path, options).ok());
    auto player = Player::make(PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path))));
    auto layer = PlayerLayer::make(player);
    layer->setFrame(Rect::make(0, 0, 320, 240));
    ASSERT_TRUE(testing::eventually([&] { return layer->isReadyForDisplay(); }));

    bool sought = false;
    player->seek(MediaTime::makeWithSeconds(2.0), [&](bool finished) { sought = finished; });
    ASSERT_TRUE(testing::eventually([&] { return sought; }));
    auto frame = layer->currentImage();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(testing::readFrameNumber(*frame), 60);
}

// A refresh asks for the frame of a time run on from the playhead; if the timeline then holds
// (for a sound a little behind it), the next refresh's time comes out earlier. The screen
// keeps what it has, paused too, until a seek moves the player back.
TEST_F(PlayerLayerTest, TheScreenIsGivenNoEarlierFrameUntilASeek) {
    const std::string path = AppContainer::home() + "/layer-hold-clip.mp4";
    testing::ClipOptions options;
    options.seconds = 3;
    options.bFrames = false;
    ASSERT_TRUE(testing::writeClip(path, options).ok());
    auto item = PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path)));
    auto player = Player::make(item);
    auto layer = PlayerLayer::make(player);
    ASSERT_TRUE(testing::eventually([&] { return layer->isReadyForDisplay(); }));
    player->play();
    ASSERT_TRUE(testing::eventually(
        [&] { return player->timeControlStatus() == Player::TimeControlStatus::playing; }));
    advance(1.0);
    const auto uptime = [&] {
        return std::chrono::duration<double>(clock_->uptime()).count();
    };
    const auto shownFor = [&](double hostTime) {
        const auto content = layer->videoContent(hostTime);
        EXPECT_NE(content.frame, nullptr);
        return content.frame ? static_cast<int>(std::lround(content.frameTime * 30)) : -1;
    };
    const int ahead = shownFor(uptime() + 0.2);
    EXPECT_GE(ahead, 35);
    // The sound, 50 ms behind the playhead, holds the timeline until it gets there.
    const auto playhead = player->currentTime().convertScale(1000000).value;
    item->audioClockReport(item->audioGeneration(), playhead - 50000, clock_->uptime());
    EXPECT_EQ(shownFor(uptime() + 0.1), ahead);
    EXPECT_EQ(shownFor(uptime()), ahead);
    player->pause();
    EXPECT_EQ(shownFor(uptime()), ahead);

    bool sought = false;
    player->seek(MediaTime::makeWithSeconds(0.5), [&](bool finished) { sought = finished; });
    ASSERT_TRUE(testing::eventually([&] { return sought; }));
    EXPECT_EQ(shownFor(uptime()), 15);
}

}  // namespace
}  // namespace pindle::platform::ui
