// PNPlayerViewControllerDelegate: what the player view controller tells the host about the
// video it shows. Every method is optional, as for PNPlayerViewDelegate: the defaults do
// nothing, and respondsTo() names the implemented ones by selector. The controller holds
// its delegate weakly.
//
// Thread-safety: called on the threads the controller's player views report on, or, for what
// a neighbour said before a switch made it current (its failure, its readiness), on the
// thread of that switch.
#pragma once

#include <string_view>

namespace pindle {

class PNPlayerViewController;

class PNPlayerViewControllerDelegate {
  public:
    static constexpr std::string_view readyToPlaySelector = "pnPlayerViewControllerReadyToPlay:";
    static constexpr std::string_view bufferingSelector =
        "pnPlayerViewControllerBuffering:buffering:";
    static constexpr std::string_view currentTimeChangedSelector =
        "pnPlayerViewControllerCurrentTimeChanged:";
    static constexpr std::string_view failedToPlaySelector =
        "pnPlayerViewControllerFailedToPlay:error:";
    static constexpr std::string_view didPlayToEndSelector = "pnPlayerViewControllerDidPlayToEnd:";

    virtual ~PNPlayerViewControllerDelegate() = default;

    virtual bool respondsTo(std::string_view /*selector*/) const { return true; }

    virtual void pnPlayerViewControllerReadyToPlay(PNPlayerViewController& /*controller*/) {}
    virtual void pnPlayerViewControllerBuffering(PNPlayerViewController& /*controller*/,
                                                 bool /*buffering*/) {}
    virtual void pnPlayerViewControllerCurrentTimeChanged(PNPlayerViewController& /*controller*/) {}
    // `error` is a PNError raw value.
    virtual void pnPlayerViewControllerFailedToPlay(PNPlayerViewController& /*controller*/,
                                                    int /*error*/) {}
    virtual void pnPlayerViewControllerDidPlayToEnd(PNPlayerViewController& /*controller*/) {}
};

}  // namespace pindle
