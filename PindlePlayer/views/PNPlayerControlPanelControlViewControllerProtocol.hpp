// PNPlayerControlPanelControlViewControllerProtocol: what the control panel tells its
// delegate (the player view controller). All methods are required. The panel holds its
// delegate weakly and calls it only while it lives.
//
// Thread-safety: called on the main queue, where the panel's controls report touches.
#pragma once

namespace pindle {

class PNPlayerControlPanelControlViewController;

class PNPlayerControlPanelControlViewControllerProtocol {
  public:
    virtual ~PNPlayerControlPanelControlViewControllerProtocol() = default;

    // The play or the pause button was tapped.
    virtual void playerControlPanelControlViewControllerPlayPauseTap(
        PNPlayerControlPanelControlViewController& panel) = 0;
    virtual void playerControlPanelControlViewControllerPrevTap(
        PNPlayerControlPanelControlViewController& panel) = 0;
    virtual void playerControlPanelControlViewControllerNextTap(
        PNPlayerControlPanelControlViewController& panel) = 0;
    // The user let go of the progress slider at `value`, the fraction of the duration.
    virtual void playerControlPanelControlViewControllerSliderDragged(
        PNPlayerControlPanelControlViewController& panel, double value) = 0;
};

}  // namespace pindle
