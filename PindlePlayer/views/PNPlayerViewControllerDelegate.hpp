// PNPlayerViewControllerDelegate: what the player view controller tells the host about the
// video it shows. Every method is optional, as for PNPlayerViewDelegate: the defaults do
// nothing, and implements() tells the controller which ones a delegate implements. The
// controller holds its delegate weakly.
//
// Thread-safety: called on the threads the controller's player views report on, or, for what
// a neighbour said before a switch made it current (its failure, its readiness), on the
// thread of that switch.
#pragma once

namespace pindle {

class PNPlayerViewController;

class PNPlayerViewControllerDelegate {
  public:
    // One per optional method, named after it less its `pnPlayerViewController` prefix, in
    // declaration order.
    enum class Method {
        readyToPlay,
        buffering,
        currentTimeChanged,
        failedToPlay,
        didPlayToEnd,
    };

    virtual ~PNPlayerViewControllerDelegate() = default;

    // Whether the delegate implements `method`; all of them by default. A delegate that
    // answers false for a method never receives it.
    virtual bool implements(Method /*method*/) const { return true; }

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
