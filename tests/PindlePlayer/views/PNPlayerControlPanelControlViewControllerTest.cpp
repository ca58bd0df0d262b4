// The control panel from the player library's storyboard, driven by synthetic touches in a
// window: which buttons show, what reaches the delegate, and the slider left alone while
// the user holds it.
#include <gtest/gtest.h>

#include "PindlePlayer/views/PNPlayerControlPanelControlViewController.hpp"
#include "PindlePlayer/views/private/PNPlayerStoryboard.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/ui/Storyboard.hpp"
#include "platform/ui/TextLayer.hpp"
#include "platform/ui/TouchSynthesizer.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/Window.hpp"

namespace pindle {
namespace {

namespace ui = platform::ui;
using platform::MainThread;
using ui::TouchSynthesizer;

struct RecordingDelegate : PNPlayerControlPanelControlViewControllerProtocol {
    void playerControlPanelControlViewControllerPlayPauseTap(
        PNPlayerControlPanelControlViewController&) override {
        calls.push_back("playPause");
    }
    void playerControlPanelControlViewControllerPrevTap(
        PNPlayerControlPanelControlViewController&) override {
        calls.push_back("prev");
    }
    void playerControlPanelControlViewControllerNextTap(
        PNPlayerControlPanelControlViewController&) override {
        calls.push_back("next");
    }
    void playerControlPanelControlViewControllerSliderDragged(
        PNPlayerControlPanelControlViewController&, double value) override {
        calls.push_back("dragged");
        values.push_back(value);
    }
    std::vector<std::string> calls;
    std::vector<double> values;
};

class PNPlayerControlPanelControlViewControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::UIThreadChecker::reset();
        auto board =
            ui::Storyboard::named(PNPlayerStoryboard::storyboardName, PNPlayerStoryboard::bundle());
        ASSERT_NE(board, nullptr);
        panel = std::dynamic_pointer_cast<PNPlayerControlPanelControlViewController>(
            board->instantiateViewController(PNPlayerStoryboard::controlViewScene));
        ASSERT_NE(panel, nullptr);
        panel->setDelegate(delegate);
        window->setRootViewController(panel);
        window->makeKeyAndVisible();
        MainThread::drain();
    }
    void TearDown() override {
        MainThread::drain();
        EXPECT_EQ(ui::UIThreadChecker::offMainMutations(), 0u);
    }
    std::vector<bool> shown() const {
        return {!panel->playButton()->isHidden(), !panel->pauseButton()->isHidden(),
                !panel->prevButton()->isHidden(), !panel->nextButton()->isHidden()};
    }

    std::shared_ptr<ui::Window> window = ui::Window::make(ui::Rect::make(0, 0, 335, 80));
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<PNPlayerControlPanelControlViewController> panel;
};

// The library's bundle is compiled in and registered at load; the buttons' titles are its texts.
TEST_F(PNPlayerControlPanelControlViewControllerTest,
       TheButtonsAreTitledFromTheLibrarysBundleAndTheTitlesFit) {
    auto bundle = platform::ResourceBundle::withIdentifier(PNPlayerStoryboard::bundleIdentifier);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle, PNPlayerStoryboard::bundle());
    const std::vector<std::pair<ui::ButtonPtr, std::string>> titles = {
        {panel->prevButton(), "controlView.previous"},
        {panel->playButton(), "controlView.play"},
        {panel->pauseButton(), "controlView.pause"},
        {panel->nextButton(), "controlView.next"}};
    for (const auto& [button, key] : titles) {
        // Without a default, a missing text would give back the key.
        EXPECT_EQ(button->title(), bundle->localizedString(key, "", ""));
        EXPECT_NE(button->title(), key);
    }

    // Each title is drawn whole, and the row's buttons do not overlap.
    window->layoutIfNeeded();
    for (const auto& [button, key] : titles) {
        auto text = std::dynamic_pointer_cast<ui::TextLayer>(button->layer());
        ASSERT_NE(text, nullptr);
        EXPECT_FALSE(text->isTruncated()) << button->title();
        EXPECT_GE(button->frame().minX(), 0) << button->title();
        EXPECT_LE(button->frame().maxX(), panel->view()->bounds().width()) << button->title();
    }
    EXPECT_LE(panel->prevButton()->frame().maxX(), panel->pauseButton()->frame().minX());
    EXPECT_LE(panel->pauseButton()->frame().maxX(), panel->nextButton()->frame().minX());
}

TEST_F(PNPlayerControlPanelControlViewControllerTest, AtMostOneOfPlayAndPauseShows) {
    EXPECT_FALSE(panel->view()->translatesAutoresizingMaskIntoConstraints());
    struct Case {
        bool showButtons;
        bool playing;
        std::vector<bool> expected;  // play, pause, prev, next
    };
    const Case cases[] = {
        {true, false, {true, false, true, true}},
        {true, true, {false, true, true, true}},
        {false, true, {false, false, false, false}},
        {false, false, {false, false, false, false}},
    };
    for (const auto& c : cases) {
        panel->setShowButtonsControls(c.showButtons);
        MainThread::drain();
        panel->setPlayPauseButtonMode(c.playing);  // synchronous
        EXPECT_EQ(shown(), c.expected) << c.showButtons << c.playing;
    }
}

TEST_F(PNPlayerControlPanelControlViewControllerTest, TapsAndDragsReachTheDelegate) {
    TouchSynthesizer::tap(panel->playButton());
    TouchSynthesizer::tap(panel->prevButton());
    TouchSynthesizer::tap(panel->nextButton());
    panel->setPlayPauseButtonMode(true);
    TouchSynthesizer::tap(panel->pauseButton());
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"playPause", "prev", "next", "playPause"}));

    // The user holds the slider: progress updates leave it alone until the release.
    auto slider = panel->slider();
    const ui::Rect track = slider->trackRect(slider->bounds());
    auto window = slider->window();
    const auto at = [&](double fraction) {
        return slider->convertPointTo(
            ui::Point{track.minX() + fraction * track.width(), track.midY()}, window.get());
    };
    window->sendEvent(ui::Touch{ui::TouchPhase::began, at(0.1)});
    window->sendEvent(ui::Touch{ui::TouchPhase::moved, at(0.6)});
    EXPECT_TRUE(panel->dragging());
    panel->setProgress(0.25);
    MainThread::drain();
    EXPECT_NEAR(slider->value(), 0.6, 1e-6);
    window->sendEvent(ui::Touch{ui::TouchPhase::ended, at(0.6)});
    EXPECT_FALSE(panel->dragging());
    ASSERT_EQ(delegate->values.size(), 1u);
    EXPECT_NEAR(delegate->values[0], 0.6, 1e-6);

    panel->setProgress(0.25);
    MainThread::drain();
    EXPECT_FLOAT_EQ(slider->value(), 0.25f);
    EXPECT_TRUE(slider->lastSetAnimated());
    panel->setProgress(0);
    MainThread::drain();
    EXPECT_FLOAT_EQ(slider->value(), 0.0f);
    EXPECT_FALSE(slider->lastSetAnimated());
}

TEST_F(PNPlayerControlPanelControlViewControllerTest, WithoutADelegateNothingIsCalled) {
    delegate.reset();  // the panel held it weakly
    panel->draggingStarted(*panel->slider());
    TouchSynthesizer::tap(panel->playButton());
    panel->dragged(*panel->slider());
    EXPECT_FALSE(panel->dragging());
}

}  // namespace
}  // namespace pindle
