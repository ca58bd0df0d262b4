// PNPlayerControlPanelControlViewController: the playback controls shown over the player
// view controller: play and pause buttons in one place (at most one visible), previous and
// next buttons, and a progress slider. It acts on no player: it turns taps and slider drags
// into calls of its delegate and shows what its owner tells it (progress, play or pause
// mode, whether the buttons are shown). Its views come from the "controlView" scene of the
// player library's storyboard, which connects the outlets and actions.
//
// Visibility: play is hidden while `playing` or without showButtonsControls; pause while
// not `playing` or without showButtonsControls; previous and next without
// showButtonsControls (applied only when that flag changes).
//
// Thread-safety: the flags are atomics. The actions run on the thread that delivers the
// touch (the main thread); setPlayPauseButtonMode runs on the caller's thread; the
// showButtonsControls visibility and slider updates run on the main queue. The delegate
// (held weakly) is called on the thread of the action.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "PindlePlayer/views/PNPlayerControlPanelControlViewControllerProtocol.hpp"
#include "platform/ui/Button.hpp"
#include "platform/ui/Slider.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle {

class PNPlayerControlPanelControlViewController : public platform::ui::ViewController {
  public:
    // The storyboard's outlets, held weakly.
    struct Outlets {
        std::weak_ptr<platform::ui::Button> playButton, pauseButton, prevButton, nextButton;
        std::weak_ptr<platform::ui::Slider> slider;
    };

    explicit PNPlayerControlPanelControlViewController(
        std::string nibName = {}, platform::ResourceBundlePtr bundle = nullptr);
    explicit PNPlayerControlPanelControlViewController(const platform::ui::Coder& coder);

    std::shared_ptr<PNPlayerControlPanelControlViewControllerProtocol> delegate() const;
    void setDelegate(std::weak_ptr<PNPlayerControlPanelControlViewControllerProtocol> delegate);

    bool showButtonsControls() const { return showButtonsControls_; }
    // Stores the flag, then applies the visibility rule to all four buttons on the main
    // queue.
    void setShowButtonsControls(bool show);

    std::shared_ptr<platform::ui::Button> playButton() const;
    std::shared_ptr<platform::ui::Button> pauseButton() const;
    std::shared_ptr<platform::ui::Button> prevButton() const;
    std::shared_ptr<platform::ui::Button> nextButton() const;
    std::shared_ptr<platform::ui::Slider> slider() const;
    void connectOutlets(Outlets outlets);

    bool dragging() const { return dragging_; }
    bool playing() const { return playing_; }

    // Ignored while the user holds the slider; otherwise sets the slider on the main queue,
    // animated unless the progress is 0.
    void setProgress(double progress);
    // Stores `playing` and applies the visibility rule to play and pause, synchronously.
    void setPlayPauseButtonMode(bool playing);

    // The actions the storyboard connects.
    void playPauseTap(platform::ui::Control& sender);
    void prevTap(platform::ui::Control& sender);
    void nextTap(platform::ui::Control& sender);
    void draggingStarted(platform::ui::Control& sender);
    void dragged(platform::ui::Control& sender);
    // The system took the touch away (a gesture won it): no seek, and the progress moves the
    // slider again.
    void draggingCancelled(platform::ui::Control& sender);

  protected:
    void viewDidLoad() override;

  private:
    void applyVisibility(bool allFour);

    std::atomic<bool> showButtonsControls_{true};
    std::atomic<bool> dragging_{false};
    std::atomic<bool> playing_{false};

    mutable std::mutex mutex_;
    std::weak_ptr<PNPlayerControlPanelControlViewControllerProtocol> delegate_;  // mutex_
    Outlets outlets_;                                                            // mutex_
};

}  // namespace pindle
