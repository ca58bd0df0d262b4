// PNPlayerViewController::Listener: the player controller's ear for its player views, its
// playback queue and its control panel. It adopts their delegate protocols so that the
// controller's public face stays what a host calls, and passes each message to the
// controller's handler of the same name.
//
// The controller owns it and hands it out as a pointer that shares the controller's own
// ownership: the views, the queue and the panel hold it weakly, so it lives exactly as long
// as the controller, and a message being delivered keeps the controller alive until it is
// handled.
//
// Thread-safety: messages arrive on the threads their senders use (see PNPlayerView,
// PNPlaybackQueue, PNPlayerControlPanelControlViewController); it keeps no state.
#pragma once

#include "PindlePlayer/queue/PNPlaybackQueueDelegate.hpp"
#include "PindlePlayer/views/PNPlayerControlPanelControlViewControllerProtocol.hpp"
#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "PindlePlayer/views/PNPlayerViewDelegate.hpp"

namespace pindle {

class PNPlayerViewController::Listener : public PNPlaybackQueueDelegate,
                                         public PNPlayerViewDelegate,
                                         public PNPlayerControlPanelControlViewControllerProtocol {
  public:
    explicit Listener(PNPlayerViewController& controller) : controller_(controller) {}
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void playbackQueueUpdated(const std::vector<PNVideoPtr>& videos) override;

    void pnPlayerViewReadyToPlay(PNPlayerView& view) override;
    void pnPlayerViewBuffering(PNPlayerView& view, bool buffering) override;
    void pnPlayerViewCurrentTimeChanged(PNPlayerView& view) override;
    void pnPlayerViewPlayStateDidChange(PNPlayerView& view) override;
    void pnPlayerViewFailedToPlay(PNPlayerView& view, int error) override;
    void pnPlayerViewDidPlayToEnd(PNPlayerView& view) override;

    void playerControlPanelControlViewControllerPlayPauseTap(
        PNPlayerControlPanelControlViewController& panel) override;
    void playerControlPanelControlViewControllerPrevTap(
        PNPlayerControlPanelControlViewController& panel) override;
    void playerControlPanelControlViewControllerNextTap(
        PNPlayerControlPanelControlViewController& panel) override;
    void playerControlPanelControlViewControllerSliderDragged(
        PNPlayerControlPanelControlViewController& panel, double value) override;

  private:
    PNPlayerViewController& controller_;
};

}  // namespace pindle
