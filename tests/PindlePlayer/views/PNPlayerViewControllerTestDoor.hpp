// PNPlayerViewControllerTestDoor: what the player controller's tests read and drive beyond a
// host's reach: the pool of player views, the parts made when the view loads, the settings
// the players manager gives, and the steps that the views, the panel and the transitions
// set off. Each call is the controller's own member or part, unchanged, so a test through the
// door proves what it would prove inside the controller.
//
// Thread-safety: as the controller's members it reaches.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PindlePlayer/views/PNPlayerControlPanelControlViewController.hpp"
#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "PindlePlayer/views/PNPlayerVolumeIndicatorViewController.hpp"
#include "PindlePlayer/views/private/PNPlayerBuffering.hpp"
#include "PindlePlayer/views/private/PNPlayerPanelBinding.hpp"
#include "PindlePlayer/views/private/PNPlayerViewControllerListener.hpp"

namespace pindle {

class PNPlayerViewControllerTestDoor {
  public:
    explicit PNPlayerViewControllerTestDoor(PNPlayerViewController& controller)
        : controller_(controller) {}

    // The settings the players manager gives before the view loads.
    std::string uid() const { return controller_.uid(); }
    void setPlayersCount(int count) { controller_.setPlayersCount(count); }

    std::vector<std::shared_ptr<PNPlayerView>> players() const { return controller_.players(); }
    std::shared_ptr<PNVideoLoader> videoLoader() const { return controller_.videoLoader(); }
    std::map<std::string, PNError> videoErrors() const {
        std::lock_guard lock(controller_.lock_);
        return controller_.videoErrors_;
    }
    bool isSeeking() const { return controller_.seeking_; }

    platform::ui::ViewPtr playerView() const { return controller_.playerView_; }
    platform::ui::LabelPtr errorLabel() const {
        std::lock_guard lock(controller_.lock_);
        return controller_.errorLabel_;
    }
    platform::ui::ViewPtr spinnerView() const { return controller_.buffering_->spinnerView(); }
    bool isSpinnerActive() const { return controller_.buffering_->isSpinnerActive(); }
    std::shared_ptr<PNPlayerControlPanelControlViewController> playerControlPanel() const {
        return controller_.panel_->panel();
    }
    std::shared_ptr<PNPlayerVolumeIndicatorViewController> volumeIndicator() const {
        return controller_.panel_->volumeIndicator();
    }
    platform::ui::ViewPtr playerControlPanelContainer() const {
        return controller_.panel_->container();
    }

    void toggleSpinner(bool show) { controller_.toggleSpinner(show); }
    void switchTo(PNVideoPtr video, PNPlayerViewController::Transition transition,
                  std::function<void()> completion) {
        controller_.switchTo(std::move(video), transition, std::move(completion));
    }
    void playersTransition(std::shared_ptr<PNPlayerView> from, std::shared_ptr<PNPlayerView> to,
                           PNPlayerTransition transition, std::function<void()> completion) {
        controller_.playersTransition(std::move(from), std::move(to), transition,
                                      std::move(completion));
    }
    // As the view reports it (to the controller's listener), on the caller's thread.
    void pnPlayerViewCurrentTimeChanged(PNPlayerView& view) {
        controller_.listener()->pnPlayerViewCurrentTimeChanged(view);
    }

  private:
    PNPlayerViewController& controller_;
};

}  // namespace pindle
