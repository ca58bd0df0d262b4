#include "PindlePlayer/views/private/PNPlayerViewControllerListener.hpp"

namespace pindle {

using Panel = PNPlayerControlPanelControlViewController;

void PNPlayerViewController::Listener::playbackQueueUpdated(const std::vector<PNVideoPtr>& videos) {
    controller_.playbackQueueUpdated(videos);
}

void PNPlayerViewController::Listener::pnPlayerViewReadyToPlay(PNPlayerView& view) {
    controller_.pnPlayerViewReadyToPlay(view);
}

void PNPlayerViewController::Listener::pnPlayerViewBuffering(PNPlayerView& view, bool buffering) {
    controller_.pnPlayerViewBuffering(view, buffering);
}

void PNPlayerViewController::Listener::pnPlayerViewCurrentTimeChanged(PNPlayerView& view) {
    controller_.pnPlayerViewCurrentTimeChanged(view);
}

void PNPlayerViewController::Listener::pnPlayerViewPlayStateDidChange(PNPlayerView& view) {
    controller_.pnPlayerViewPlayStateDidChange(view);
}

void PNPlayerViewController::Listener::pnPlayerViewFailedToPlay(PNPlayerView& view, int error) {
    controller_.pnPlayerViewFailedToPlay(view, error);
}

void PNPlayerViewController::Listener::pnPlayerViewDidPlayToEnd(PNPlayerView& view) {
    controller_.pnPlayerViewDidPlayToEnd(view);
}

void PNPlayerViewController::Listener::playerControlPanelControlViewControllerPlayPauseTap(Panel&) {
    controller_.playerControlPanelControlViewControllerPlayPauseTap();
}

void PNPlayerViewController::Listener::playerControlPanelControlViewControllerPrevTap(Panel&) {
    controller_.playerControlPanelControlViewControllerPrevTap();
}

void PNPlayerViewController::Listener::playerControlPanelControlViewControllerNextTap(Panel&) {
    controller_.playerControlPanelControlViewControllerNextTap();
}

void PNPlayerViewController::Listener::playerControlPanelControlViewControllerSliderDragged(
    Panel&, double value) {
    controller_.playerControlPanelControlViewControllerSliderDragged(value);
}

}  // namespace pindle
