// PNPlayerControllerEvents: what the player controller tells its delegate, one typed call per
// event. Each call finds the delegate, asks it whether it implements the method (implements())
// and makes the call through the controller's deferral, so never while the controller's lock
// is held on the calling thread. A failure travels as a PNError up to the protocol, which
// receives its raw value.
//
// Thread-safety: every call is safe from any thread; the delegate is called on that thread
// (or, when the controller's lock is held there, when the outermost hold ends).
#pragma once

#include <functional>
#include <memory>

#include "PindleCore/model/PNError.hpp"
#include "PindlePlayer/views/PNPlayerViewControllerDelegate.hpp"

namespace pindle {

class PNPlayerViewController;

class PNPlayerControllerEvents {
  public:
    // Runs a call now, or later when the caller's thread no longer holds the controller.
    using Defer = std::function<void(std::function<void()>)>;

    PNPlayerControllerEvents(std::weak_ptr<PNPlayerViewController> controller, Defer defer);

    void readyToPlay() const;
    void buffering(bool buffering) const;
    void currentTimeChanged() const;
    void failedToPlay(PNError error) const;
    void didPlayToEnd() const;

  private:
    void tell(
        PNPlayerViewControllerDelegate::Method method,
        std::function<void(PNPlayerViewControllerDelegate&, PNPlayerViewController&)> call) const;

    const std::weak_ptr<PNPlayerViewController> controller_;
    const Defer defer_;
};

}  // namespace pindle
