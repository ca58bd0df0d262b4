// `play --window` on a real X server in memory: the player shows in a desktop window, a click
// on the panel's pause button pauses what is on screen and a second click plays it, dragging
// its slider seeks, a swipe up slides the playlist's next video in from below, closing the
// window ends the command with success, and so does playing to the last video's end. The
// screen is read back with XGetImage; the pictures carry their frame numbers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "examples/pindle-example/PlayWindow.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/display/Display.hpp"
#include "platform/ui/Window.hpp"
#include "support/MediaFixtures.hpp"
#include "support/XvfbServer.hpp"
#include "tests/PindleCore/api/EmulatorFixture.hpp"
#include "tests/PindlePlayer/views/PNPlayerViewControllerTestDoor.hpp"
#include "tests/tools/ExampleProgram.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace pindle::example {
namespace {

using emulator::BackendEmulator;
using nlohmann::json;
namespace ui = platform::ui;
using platform::Display;
using platform::MainThread;

constexpr double patience = 30;
// Long enough that a slow build still sees the second video of a playlist play after the
// slide that brings it in.
constexpr int clipSeconds = 12;
// Portrait, as the controller's full-screen fill keeps the whole picture and its code.
constexpr int clipWidth = 180;
constexpr int clipHeight = 320;
constexpr double screenWidth = 375;
constexpr double screenHeight = 667;

// The frame number of a picture whose top edge is `top` rows down the screen, if one is there.
std::optional<int> frameNumberAt(const platform::Image& screen, int top) {
    const int width = screen.pixelWidth(), height = screen.pixelHeight();
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> rgba(row * height, 0);
    if (top >= 0 && top < height)
        std::memcpy(rgba.data(), screen.rgba().data() + row * top, row * (height - top));
    auto shifted = platform::Image::make(width, height, std::move(rgba));
    return shifted ? platform::testing::readFrameNumber(*shifted) : std::nullopt;
}

class ExampleHostWindowTest : public pindle::testing::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped())
            return;
        platform::testing::ClipOptions clip;
        clip.seconds = clipSeconds;
        clip.width = clipWidth;
        clip.height = clipHeight;
        clip.bFrames = false;
        emulator_ = emulatorServing({"v1", "v2"}, clip);
        ASSERT_TRUE(emulator_);
    }

    void TearDown() override {
        if (controller_) {
            controller_->pause();
            controller_->reset();
            if (auto loader = door().videoLoader())
                loader->setVideosToPreload({});
            window_->setRootViewController(nullptr);
            controller_.reset();
            playWindow_.reset();
            window_.reset();
            MainThread::drain();
        }
        if (emulator_) {
            PNSession::current()->stop();
            emulator_->stop();
            PNAPIConstants::setGateway(PNAPIConstants::defaultGatewayHost, true);
        }
        DesktopTest::TearDown();
    }

    // Every rendition of every video: a movie of `seconds` whose pictures carry their number.
    void serveMovie(int seconds) {
        platform::testing::ClipOptions clip;
        clip.seconds = seconds;
        clip.width = clipWidth;
        clip.height = clipHeight;
        clip.bFrames = false;
        const std::string movie = platform::testing::clipBytes(clip);
        emulator_->videos().setRenditions({{"720p", movie}, {"540p", movie}, {"360p", movie}});
    }

    // `play` with `arguments`, run in-process against the emulator.
    struct Played {
        int status = -1;
        std::string printed;
        std::vector<json> lines;
        double seconds = 0;  // of wall time
    };
    Played play(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(),
                         {"--gateway", "127.0.0.1:" + std::to_string(emulator_->port()), "--local",
                          "--api-token", BackendEmulator::defaultAPIToken, "--identity", "tester"});
        Played played;
        std::string error;
        auto line = CommandLine::parse(arguments, error);
        EXPECT_TRUE(line) << error;
        if (!line)
            return played;
        std::ostringstream out;
        JsonLines lines(out);
        const auto started = std::chrono::steady_clock::now();
        played.status = Commands(*line, lines, &pindleExamplePlay).run();
        played.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        lines.close();
        played.printed = out.str();
        std::istringstream printed(played.printed);
        for (std::string text; std::getline(printed, text);)
            played.lines.push_back(json::parse(text, nullptr, false));
        return played;
    }

    // The player controller in a desktop window, as `play --window` shows it, playing `ids`
    // (a playlist when more than one).
    void showPlayer(const std::vector<std::string>& ids) {
        PNAPIConstants::setGateway("127.0.0.1:" + std::to_string(emulator_->port()), false);
        PNSession::current()->setApiToken(std::nullopt);
        PNSession::current()->start(emulator_->openSession("tester"));
        testing::Outcome<std::vector<PNVideoPtr>> listed;
        PNVideoAPI::shared().videosByIds(
            ids, [&](const std::shared_ptr<PNVideosResponse>& response, const auto&) {
                listed.set(response ? response->videos() : std::vector<PNVideoPtr>{});
            });
        const auto videos = listed.wait();
        ASSERT_EQ(videos.size(), ids.size());

        playWindow_ = std::make_unique<PlayWindow>(true, lines_);
        window_ = ui::Window::make(ui::Rect::make(0, 0, screenWidth, screenHeight));
        controller_ = std::make_shared<PNPlayerViewController>();
        window_->setRootViewController(controller_);
        window_->makeKeyAndVisible();
        ASSERT_TRUE(playWindow_->watch(window_).ok());
        playWindow_->addSwipes(controller_);
        if (videos.size() == 1) {
            controller_->play(videos.front());
        } else {
            auto playlist = std::make_shared<PNPlaylist>();
            playlist->setVideos(videos);
            playlist->setTotalCount(static_cast<std::int64_t>(videos.size()));
            controller_->play(playlist, 0);
        }
    }

    // The screen once at least one more refresh has been presented.
    platform::ImagePtr screen() {
        const auto count = Display::statistics(*window_).refreshes;
        MainThread::runUntil([&] { return Display::statistics(*window_).refreshes > count + 1; },
                             patience);
        return server().capture(Display::nativeHandle(*window_));
    }
    std::optional<int> frameOnScreen() {
        auto image = screen();
        return image ? platform::testing::readFrameNumber(*image) : std::nullopt;
    }
    // Waits until the frame on screen is past `frame`.
    bool playsPast(int frame) {
        return MainThread::runUntil(
            [&] {
                const auto shown = frameOnScreen();
                return shown && *shown > frame;
            },
            patience);
    }
    void click(ui::Point at) {
        const auto handle = Display::nativeHandle(*window_);
        server().press(handle, at);
        screen();
        server().release(handle, at);
    }

    PNPlayerViewControllerTestDoor door() { return PNPlayerViewControllerTestDoor(*controller_); }

    std::unique_ptr<BackendEmulator> emulator_;
    std::ostringstream printed_;
    JsonLines lines_{printed_};
    std::unique_ptr<PlayWindow> playWindow_;
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<PNPlayerViewController> controller_;
};

TEST_F(ExampleHostWindowTest, ThePanelsPauseButtonPausesWhatIsOnScreenAndAClickMorePlays) {
    showPlayer({"v1"});
    ASSERT_TRUE(playsPast(5)) << "the video does not play on screen";
    auto panel = door().playerControlPanel();
    ASSERT_NE(panel, nullptr);
    auto pause = panel->pauseButton();
    ASSERT_TRUE(pause && !pause->isHidden());
    const ui::Rect button = pause->convertRectTo(pause->bounds(), nullptr);
    const ui::Point centre{button.midX(), button.midY()};

    click(centre);
    ASSERT_TRUE(MainThread::runUntil(
        [&] { return controller_->playState() == PNPlayState::paused; }, patience));
    const auto held = frameOnScreen();
    ASSERT_TRUE(held);
    // A third of a second of refreshes later the same picture is there.
    for (int i = 0; i < 10; ++i) screen();
    EXPECT_EQ(frameOnScreen(), held);

    click(centre);
    EXPECT_TRUE(playsPast(*held + 3)) << "the second click did not play";
    EXPECT_EQ(controller_->playState(), PNPlayState::playing);
}

TEST_F(ExampleHostWindowTest, DraggingThePanelsSliderSeeksWhatIsOnScreen) {
    showPlayer({"v1"});
    ASSERT_TRUE(playsPast(5)) << "the video does not play on screen";
    auto panel = door().playerControlPanel();
    ASSERT_NE(panel, nullptr);
    auto slider = panel->slider();
    ASSERT_NE(slider, nullptr);
    const ui::Rect bounds = slider->bounds();
    const ui::Rect thumb = slider->convertRectTo(
        slider->thumbRect(bounds, slider->trackRect(bounds), slider->value()), nullptr);
    const ui::Rect track = slider->convertRectTo(slider->trackRect(bounds), nullptr);
    const auto handle = Display::nativeHandle(*window_);
    // Hold the thumb and drag it three quarters of the way along the track.
    const double y = thumb.midY();
    server().press(handle, {thumb.midX(), y});
    const double target = track.minX() + track.width() * 0.75;
    for (int step = 1; step <= 5; ++step) {
        screen();
        server().moveTo(handle, {thumb.midX() + (target - thumb.midX()) * step / 5, y});
    }
    screen();
    server().release(handle, {target, y});

    // Three quarters of the clip at 30 frames a second, give or take a third of a second.
    const int threeQuarters = clipSeconds * 30 * 3 / 4;
    EXPECT_TRUE(MainThread::runUntil(
        [&] {
            const auto shown = frameOnScreen();
            return shown && *shown >= threeQuarters - 10;
        },
        patience))
        << "the picture did not move to where the slider was dragged";
}

TEST_F(ExampleHostWindowTest, ASwipeUpSlidesThePlaylistsNextVideoInFromBelow) {
    showPlayer({"v1", "v2"});
    ASSERT_TRUE(playsPast(5)) << "the first video does not play on screen";
    // The next video is preloaded: its picture is there to slide in.
    ASSERT_TRUE(MainThread::runUntil(
        [&] {
            for (const auto& view : door().players())
                if (view != controller_->currentPlayer() && view->video() &&
                    view->video()->videoID() == "v2" && view->playerLayer()->videoContent(0).frame)
                    return true;
            return false;
        },
        patience))
        << "the next video was not preloaded";
    // From its start again: on a loaded machine the preloading and the gesture can take long
    // enough for the first video to reach its end, which moves the playlist on by itself,
    // without a slide.
    controller_->seek(0);
    const auto handle = Display::nativeHandle(*window_);
    const double x = screenWidth / 2;
    // A refresh between the steps of the stroke, rather than a picture read back after two:
    // on a loaded machine that read makes the stroke take seconds.
    const auto refreshed = [&] {
        const auto count = Display::statistics(*window_).refreshes;
        MainThread::runUntil([&] { return Display::statistics(*window_).refreshes > count; },
                             patience);
    };
    server().press(handle, {x, 450});
    for (double y = 400; y >= 150; y -= 50) {
        refreshed();
        server().moveTo(handle, {x, y});
    }
    refreshed();
    server().release(handle, {x, 150});

    // While it slides, the incoming picture starts part of the way down the screen. Every
    // picture presented meanwhile is read.
    bool seenMidway = false;
    int looked = 0;
    MainThread::runUntil(
        [&] {
            if (controller_->isAnimating() && !seenMidway) {
                const auto presented = Display::statistics(*window_).presents;
                MainThread::runUntil(
                    [&] { return Display::statistics(*window_).presents > presented; }, patience);
                if (auto image = server().capture(handle)) {
                    ++looked;
                    for (int top = screenHeight / 10; top <= screenHeight * 9 / 10 && !seenMidway;
                         top += 16)
                        seenMidway = frameNumberAt(*image, top).has_value();
                }
            }
            return controller_->playlistIndex() == 1 && !controller_->isAnimating();
        },
        patience);
    EXPECT_TRUE(seenMidway) << "no picture was seen part of the way in, of " << looked
                            << " presented while it slid";
    EXPECT_EQ(controller_->playlistIndex(), 1);
    EXPECT_FALSE(controller_->isAnimating());
    // The second video plays, filling the screen again.
    const auto first = frameOnScreen();
    ASSERT_TRUE(first);
    EXPECT_TRUE(playsPast(*first + 3));
}

TEST_F(ExampleHostWindowTest, ClosingTheWindowEndsPlayWindowWithSuccess) {
    // Without --seconds the close ends the command, long before the video's end.
    std::thread closer = server().closeFirstWindowShown(patience);
    const Played played = play({"play", "v1", "--window"});
    closer.join();
    EXPECT_EQ(played.status, Commands::succeeded) << played.printed;
    std::set<std::string> events;
    for (const json& line : played.lines)
        if (line.contains("event"))
            events.insert(line["event"].get<std::string>());
    ASSERT_FALSE(played.lines.empty());
    const json& summary = played.lines.back();
    EXPECT_TRUE(events.count("window")) << played.printed;
    EXPECT_TRUE(events.count("closed")) << played.printed;
    EXPECT_EQ(summary.value("closed", false), true) << played.printed;
    EXPECT_EQ(summary.value("ok", false), true) << played.printed;
}

// With --seconds longer than what there is to play, `play --window` ends with the last video,
// a success: every video that came on screen said it was ready, and the playback counted is
// what played.
TEST_F(ExampleHostWindowTest, PlayingToTheEndInAWindowEndsWithSuccess) {
    constexpr int shortSeconds = 2;
    serveMovie(shortSeconds);
    // The longer movie of another test at the same addresses must not serve this one.
    PNPlayerCache::shared()->clearCache();
    struct Case {
        std::vector<std::string> arguments;
        int videos;
    };
    const Case cases[] = {
        {{"play", "v1", "--window", "--seconds", "30"}, 1},
        {{"play", "--playlist", "a", "--window", "--seconds", "30"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[1]);
        const Played played = play(c.arguments);
        EXPECT_EQ(played.status, Commands::succeeded) << played.printed;
        int ready = 0;
        for (const json& line : played.lines) ready += line.value("event", "") == "ready" ? 1 : 0;
        EXPECT_EQ(ready, c.videos) << played.printed;
        ASSERT_FALSE(played.lines.empty());
        const json& summary = played.lines.back();
        EXPECT_EQ(summary.value("ok", false), true) << played.printed;
        EXPECT_EQ(summary.value("ends", 0), c.videos) << played.printed;
        EXPECT_FALSE(summary.contains("stalled")) << played.printed;
        const double seconds = summary.value("played", 0.0);
        EXPECT_GT(seconds, c.videos * shortSeconds - 0.6) << played.printed;
        EXPECT_LE(seconds, c.videos * shortSeconds + 0.1) << played.printed;
        // Ended by the last video, not by --seconds and the timeout.
        EXPECT_LT(played.seconds, 20.0) << played.printed;
    }
}

// A DISPLAY that names no server: `play --window` fails at once, saying why the display is
// headless (not that DISPLAY is unset), and `devices` says the same.
TEST_F(ExampleHostWindowTest, ADisplayNamingNoServerIsNoDesktopAndSaysWhy) {
    const std::string nowhere = pindle::testing::XvfbServer::unusedDisplayName();
    ::setenv("DISPLAY", nowhere.c_str(), 1);
    const Played played = play({"play", "v1", "--window", "--seconds", "1"});
    EXPECT_EQ(played.status, Commands::failed) << played.printed;
    ASSERT_FALSE(played.lines.empty());
    const std::string why = played.lines.back()["error"].value("description", "");
    EXPECT_EQ(why, "no desktop to show the window on (" + Display::reason() + ")");
    EXPECT_NE(why.find(nowhere), std::string::npos) << why;

    std::string error;
    const auto line = CommandLine::parse({"devices"}, error);
    ASSERT_TRUE(line) << error;
    std::ostringstream out;
    JsonLines lines(out);
    EXPECT_EQ(Commands(*line, lines).run(), Commands::succeeded);
    lines.close();
    std::string display;
    std::istringstream text(out.str());
    for (std::string printed; std::getline(text, printed);)
        if (const json parsed = json::parse(printed, nullptr, false); parsed.contains("display"))
            display = parsed["display"];
    EXPECT_EQ(display, "headless (" + Display::reason() + ")");
}

}  // namespace
}  // namespace pindle::example
