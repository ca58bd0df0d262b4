// The desktop display against a real X server in memory: what reaches the screen (read back
// with XGetImage) is the frame for the time played, the layer's background before any frame,
// and the interface laid out again after a resize; closing and a display that dies reach the
// host.
#include "platform/display/Display.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/log/StandardError.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/PlayerLayer.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/Window.hpp"
#include "support/MediaFixtures.hpp"
#include "support/XvfbServer.hpp"

namespace pindle::platform {
namespace {

using ui::Color;
using ui::Rect;

constexpr double patience = 20;
constexpr double kFps = 30;

class DisplayTest : public pindle::testing::DesktopTest {
  protected:
    std::shared_ptr<ui::Window> showWindow(double width, double height) {
        auto window = ui::Window::make(Rect::make(0, 0, width, height));
        window->setBackgroundColor(Color::make(0, 0, 1, 1));
        window->makeKeyAndVisible();
        return window;
    }

    // The window as it is on the screen once at least one more refresh has been presented;
    // `before` runs right after that refresh, before the screen is read.
    ImagePtr screenOf(const ui::Window& window, const std::function<void()>& before = {}) {
        const auto count = Display::statistics(window).refreshes;
        MainThread::runUntil([&] { return Display::statistics(window).refreshes > count + 1; },
                             patience);
        if (before)
            before();
        return server().capture(Display::nativeHandle(window));
    }

    static bool near(Image::Pixel pixel, int red, int green, int blue) {
        return std::abs(pixel.red - red) < 24 && std::abs(pixel.green - green) < 24 &&
               std::abs(pixel.blue - blue) < 24;
    }
};

TEST_F(DisplayTest, TheFrameOnScreenIsTheFrameForTheTimePlayed) {
    const std::string path = AppContainer::home() + "/screen-clip.mp4";
    testing::ClipOptions options;
    options.seconds = 4;
    options.fps = kFps;
    ASSERT_TRUE(testing::writeClip(path, options).ok());
    auto player = Player::make(PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path))));
    auto layer = ui::PlayerLayer::make(player);
    auto window = showWindow(320, 240);
    ASSERT_TRUE(Display::isPresented(*window)) << "the display did not choose the desktop";
    layer->setFrame(window->bounds());
    window->layer()->addSublayer(layer);
    ASSERT_TRUE(MainThread::runUntil([&] { return layer->isReadyForDisplay(); }, patience));

    player->play();
    for (const double at : {0.8, 1.7, 2.6}) {
        ASSERT_TRUE(
            MainThread::runUntil([&] { return player->currentTime().seconds() >= at; }, patience));
        double played = 0;
        auto image = screenOf(*window, [&] { played = player->currentTime().seconds(); });
        ASSERT_NE(image, nullptr);
        const auto shown = testing::readFrameNumber(*image);
        ASSERT_TRUE(shown) << "no frame code on screen at " << played << " s";
        // Read just after a refresh, which picked its frame for the time it would be shown.
        EXPECT_NEAR(*shown, std::floor(played * kFps), 1) << "at " << played << " s";
    }
    const auto statistics = Display::statistics(*window);
    EXPECT_GT(statistics.videoFramesShown, 40u);
    // The interface did not change while the video played: it was drawn a few times only.
    EXPECT_LT(statistics.rasterisations, statistics.refreshes / 4);
}

TEST_F(DisplayTest, APresenterThatFallsBehindDropsTheFramesItMissedAndCountsThem) {
    const std::string path = AppContainer::home() + "/behind-clip.mp4";
    testing::ClipOptions options;
    options.seconds = 4;
    options.fps = kFps;
    ASSERT_TRUE(testing::writeClip(path, options).ok());
    auto player = Player::make(PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path))));
    auto layer = ui::PlayerLayer::make(player);
    auto window = showWindow(320, 240);
    ASSERT_TRUE(Display::isPresented(*window));
    layer->setFrame(window->bounds());
    window->layer()->addSublayer(layer);
    ASSERT_TRUE(MainThread::runUntil([&] { return layer->isReadyForDisplay(); }, patience));
    player->play();
    ASSERT_TRUE(
        MainThread::runUntil([&] { return player->currentTime().seconds() >= 0.5; }, patience));
    screenOf(*window);
    const auto before = Display::statistics(*window);

    // The main thread stalls for half a second, as a host's long block would: the display
    // does not refresh meanwhile.
    const double stalledAt = player->currentTime().seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double played = 0;
    auto image = screenOf(*window, [&] { played = player->currentTime().seconds(); });
    ASSERT_NE(image, nullptr);
    const auto after = Display::statistics(*window);
    // The next picture is the one for now, not the one after the last shown: what passed
    // meanwhile is dropped and counted.
    const auto shown = testing::readFrameNumber(*image);
    ASSERT_TRUE(shown);
    EXPECT_NEAR(*shown, std::floor(played * kFps), 1) << "at " << played << " s";
    const double missed = (played - stalledAt) * kFps;
    EXPECT_GE(static_cast<double>(after.videoFramesDropped - before.videoFramesDropped),
              missed - 4);
    EXPECT_LE(after.videoFramesShown - before.videoFramesShown, 4u);
    player->pause();
}

TEST_F(DisplayTest, AVideoLayerWithoutAFrameShowsItsBackground) {
    auto window = showWindow(200, 100);
    ASSERT_TRUE(Display::isPresented(*window));
    // A player with nothing to play, and one whose item never gets a byte.
    auto empty = ui::PlayerLayer::make(Player::make());
    empty->setFrame(Rect::make(0, 0, 100, 100));
    empty->setBackgroundColor(Color::make(1, 0, 0, 1));
    auto starving = ui::PlayerLayer::make(Player::make(PlayerItem::make(
        URLAsset::make(URL::fileURLWithPath(AppContainer::home() + "/missing.mp4")))));
    starving->setFrame(Rect::make(100, 0, 100, 100));
    starving->setBackgroundColor(Color::make(0, 1, 0, 1));
    window->layer()->addSublayer(empty);
    window->layer()->addSublayer(starving);

    auto image = screenOf(*window);
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(image->pixelAt(50, 50), 255, 0, 0));
    EXPECT_TRUE(near(image->pixelAt(150, 50), 0, 255, 0));
}

TEST_F(DisplayTest, AResizeLaysTheWindowOutAgain) {
    auto window = showWindow(200, 100);
    ASSERT_TRUE(Display::isPresented(*window));
    // A bar along the right edge that keeps to it.
    auto bar = ui::View::make(Rect::make(180, 0, 20, 100));
    bar->setBackgroundColor(Color::make(1, 1, 0, 1));
    bar->setAutoresizingMask(ui::View::flexibleLeftMargin | ui::View::flexibleHeight);
    window->addSubview(bar);
    ASSERT_TRUE(near(screenOf(*window)->pixelAt(190, 50), 255, 255, 0));

    server().resize(Display::nativeHandle(*window), 300, 150);
    ASSERT_TRUE(MainThread::runUntil([&] { return window->bounds().width() == 300; }, patience));
    EXPECT_EQ(window->bounds().height(), 150);
    EXPECT_EQ(bar->frame(), Rect::make(280, 0, 20, 150));
    auto image = screenOf(*window);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->pixelWidth(), 300);
    EXPECT_TRUE(near(image->pixelAt(290, 140), 255, 255, 0));
    EXPECT_TRUE(near(image->pixelAt(190, 50), 0, 0, 255));
}

TEST_F(DisplayTest, EscapeReachesTheHost) {
    auto window = showWindow(200, 100);
    ASSERT_TRUE(Display::isPresented(*window));
    std::vector<std::string> reasons;
    auto observer = NotificationCenter::defaultCenter().addObserverForName(
        ui::Window::didCloseNotification, window.get(), nullptr,
        [&](const Notification& n) { reasons.push_back(*n.userInfo.at("reason").asString()); });
    screenOf(*window);
    server().typeKey(0xff1b /* Escape */);
    ASSERT_TRUE(MainThread::runUntil([&] { return !reasons.empty(); }, patience));
    EXPECT_EQ(reasons, std::vector<std::string>{"escape"});
    NotificationCenter::defaultCenter().removeObserver(observer);
}

// The dark pixels of `image` inside `rect` and outside it, and the mean column of those inside.
struct Ink {
    int inside = 0;
    int outside = 0;
    double meanX = 0;
};

Ink inkOf(const Image& image, const Rect& rect) {
    Ink ink;
    double columns = 0;
    for (int y = 0; y < image.pixelHeight(); ++y)
        for (int x = 0; x < image.pixelWidth(); ++x) {
            const auto pixel = image.pixelAt(x, y);
            if (pixel.red + pixel.green + pixel.blue > 3 * 160)
                continue;
            if (rect.contains(ui::Point{x + 0.5, y + 0.5})) {
                ++ink.inside;
                columns += x;
            } else {
                ++ink.outside;
            }
        }
    if (ink.inside)
        ink.meanX = columns / ink.inside;
    return ink;
}

TEST_F(DisplayTest, ALabelsGlyphsAreOnScreenWhereTheLabelIsAndFollowAResize) {
    auto window = showWindow(200, 100);
    window->setBackgroundColor(Color::whiteColor());
    ASSERT_TRUE(Display::isPresented(*window));
    // Centred text in a label that keeps its margins as the window widens.
    auto label = ui::Label::make(Rect::make(20, 30, 160, 40));
    label->setText("Pindle");
    label->setTextColor(Color::black());
    label->setTextAlignment(ui::TextAlignment::center);
    label->setAutoresizingMask(ui::View::flexibleWidth);
    window->addSubview(label);

    auto image = screenOf(*window);
    ASSERT_NE(image, nullptr);
    Ink ink = inkOf(*image, label->frame());
    EXPECT_GT(ink.inside, 40);
    EXPECT_EQ(ink.outside, 0);
    EXPECT_NEAR(ink.meanX, 100, 12);

    server().resize(Display::nativeHandle(*window), 300, 100);
    ASSERT_TRUE(MainThread::runUntil([&] { return window->bounds().width() == 300; }, patience));
    EXPECT_EQ(label->frame(), Rect::make(20, 30, 260, 40));
    image = screenOf(*window);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->pixelWidth(), 300);
    ink = inkOf(*image, label->frame());
    EXPECT_GT(ink.inside, 40);
    EXPECT_EQ(ink.outside, 0);
    EXPECT_NEAR(ink.meanX, 150, 12);
}

TEST_F(DisplayTest, KeysAndTextReachTheFirstResponder) {
    auto window = showWindow(200, 100);
    ASSERT_TRUE(Display::isPresented(*window));
    auto field = ui::TextField::make(Rect::make(10, 10, 180, 30));
    window->addSubview(field);
    int closes = 0;
    auto observer = NotificationCenter::defaultCenter().addObserverForName(
        ui::Window::didCloseNotification, window.get(), nullptr,
        [&](const Notification&) { ++closes; });
    ASSERT_TRUE(field->becomeFirstResponder());
    screenOf(*window);

    for (const unsigned long key :
         {0x68ul /* h */, 0x69ul /* i */, 0xff08ul /* BackSpace */, 0x6ful /* o */})
        server().typeKey(key);
    EXPECT_TRUE(MainThread::runUntil([&] { return field->text() == "ho"; }, patience))
        << field->text();
    // Escape while editing ends the editing; the window stays.
    server().typeKey(0xff1b /* Escape */);
    EXPECT_TRUE(MainThread::runUntil([&] { return !ui::View::currentFirstResponder(); }, patience));
    screenOf(*window);
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(Display::isPresented(*window));
    // Typing with no one editing goes nowhere.
    server().typeKey(0x78 /* x */);
    screenOf(*window);
    EXPECT_EQ(field->text(), "ho");
    NotificationCenter::defaultCenter().removeObserver(observer);
}

TEST(DisplayChoiceTest, TheHeadlessChoiceIsSaidOnceAndWindowsStayInMemory) {
    Display::reset();
    ::testing::internal::CaptureStderr();
    auto first = ui::Window::make(Rect::make(0, 0, 40, 40));
    first->makeKeyAndVisible();
    auto second = ui::Window::make(Rect::make(0, 0, 40, 40));
    second->makeKeyAndVisible();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "Display: headless (PINDLE_DISPLAY=headless)\n");
    EXPECT_EQ(Display::kind(), Display::Kind::headless);
    EXPECT_FALSE(Display::isPresented(*first));
    EXPECT_FALSE(Display::isPresented(*second));
    EXPECT_NE(first->snapshotImage(1.0), nullptr);
}

// A DISPLAY that names no server is no desktop, whatever SDL falls back to: nobody could see
// a window there.
TEST_F(DisplayTest, ADisplayNamingNoServerIsHeadlessAndSaysWhy) {
    const std::string nowhere = pindle::testing::XvfbServer::unusedDisplayName();
    ::setenv("DISPLAY", nowhere.c_str(), 1);
    StandardError::Capture said;
    auto window = ui::Window::make(Rect::make(0, 0, 40, 40));
    window->makeKeyAndVisible();
    EXPECT_EQ(Display::kind(), Display::Kind::headless);
    EXPECT_FALSE(Display::isPresented(*window));
    ASSERT_EQ(said.writes().size(), 1u);
    EXPECT_EQ(said.writes().front(), "Display: headless (" + Display::reason() + ")\n");
    EXPECT_NE(Display::reason().find(nowhere), std::string::npos) << Display::reason();
}

// What a lost X server leaves behind, checked in a child process of its own: the display stays
// headless for the rest of a process that lost it.
std::string loseTheXServer() {
    std::string whyNot;
    auto doomed = pindle::testing::XvfbServer::start(&whyNot);
    if (!doomed)
        return "no X server to lose: " + whyNot;
    Display::reset();
    ::setenv("DISPLAY", doomed->displayName().c_str(), 1);
    const auto show = [](double width, double height) {
        auto window = ui::Window::make(Rect::make(0, 0, width, height));
        window->makeKeyAndVisible();
        return window;
    };

    const std::string path = AppContainer::home() + "/doomed-clip.mp4";
    testing::ClipOptions options;
    options.seconds = 4;
    if (!testing::writeClip(path, options).ok())
        return "no clip";
    auto player = Player::make(PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path))));
    auto layer = ui::PlayerLayer::make(player);
    auto window = show(160, 120);
    auto other = show(80, 60);
    if (!Display::isPresented(*window) || !Display::isPresented(*other))
        return "the windows are not on the desktop";
    layer->setFrame(window->bounds());
    window->layer()->addSublayer(layer);
    if (!MainThread::runUntil([&] { return layer->isReadyForDisplay(); }, patience))
        return "the clip did not become ready";
    player->play();
    std::vector<std::string> reasons;
    auto observer = NotificationCenter::defaultCenter().addObserverForName(
        ui::Window::didCloseNotification, nullptr, nullptr,
        [&](const Notification& n) { reasons.push_back(*n.userInfo.at("reason").asString()); });
    if (!MainThread::runUntil([&] { return Display::statistics(*window).videoFramesShown > 2; },
                              patience))
        return "no frame presented";

    ::testing::internal::CaptureStderr();
    doomed->kill();
    const bool heard = MainThread::runUntil([&] { return reasons.size() >= 2; }, patience);
    // More turns of the loop: nothing more is said or posted.
    MainThread::runUntil([] { return false; }, 0.2);
    const std::string said = ::testing::internal::GetCapturedStderr();
    NotificationCenter::defaultCenter().removeObserver(observer);
    if (!heard || reasons != std::vector<std::string>{"display lost", "display lost"})
        return "the windows did not hear it once each; said: " + said;
    if (std::count(said.begin(), said.end(), '\n') != 1 || said.find("Display: ") != 0)
        return "not one line said: " + said;
    if (Display::isPresented(*window) || Display::isPresented(*other))
        return "still presented";

    // The player plays on, unaware; a window shown now stays in memory.
    if (player->timeControlStatus() != Player::TimeControlStatus::playing)
        return "playback stopped";
    const double before = player->currentTime().seconds();
    if (!MainThread::runUntil([&] { return player->currentTime().seconds() > before + 0.1; },
                              patience))
        return "playback no longer advances";
    player->pause();
    Display::reset();
    if (Display::kind() != Display::Kind::headless)
        return "the desktop was chosen again";
    auto later = show(50, 50);
    if (Display::isPresented(*later) || !later->snapshotImage(1.0))
        return "a later window is not in memory";
    return "";
}

TEST_F(DisplayTest, AnXServerThatDiesClosesTheWindowsOnceAndLeavesPlaybackAlone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string failure = loseTheXServer();
            std::fprintf(stderr, "%s\n", failure.empty() ? "lost soundly" : failure.c_str());
            std::fflush(stderr);
            std::_Exit(failure.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "lost soundly");
}

}  // namespace
}  // namespace pindle::platform
