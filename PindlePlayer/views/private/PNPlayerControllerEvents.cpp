#include "PindlePlayer/views/private/PNPlayerControllerEvents.hpp"

#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

using Delegate = PNPlayerViewControllerDelegate;

PNPlayerControllerEvents::PNPlayerControllerEvents(std::weak_ptr<PNPlayerViewController> controller,
                                                   Defer defer)
    : controller_(std::move(controller)), defer_(std::move(defer)) {}

void PNPlayerControllerEvents::tell(
    Delegate::Method method,
    std::function<void(PNPlayerViewControllerDelegate&, PNPlayerViewController&)> call) const {
    defer_(platform::weakly(controller_,
                            [method, call = std::move(call)](PNPlayerViewController& controller) {
                                auto delegate = controller.delegate();
                                if (delegate && delegate->implements(method))
                                    call(*delegate, controller);
                            }));
}

void PNPlayerControllerEvents::readyToPlay() const {
    tell(Delegate::Method::readyToPlay,
         [](Delegate& d, PNPlayerViewController& c) { d.pnPlayerViewControllerReadyToPlay(c); });
}

void PNPlayerControllerEvents::buffering(bool buffering) const {
    tell(Delegate::Method::buffering, [buffering](Delegate& d, PNPlayerViewController& c) {
        d.pnPlayerViewControllerBuffering(c, buffering);
    });
}

void PNPlayerControllerEvents::currentTimeChanged() const {
    tell(Delegate::Method::currentTimeChanged, [](Delegate& d, PNPlayerViewController& c) {
        d.pnPlayerViewControllerCurrentTimeChanged(c);
    });
}

void PNPlayerControllerEvents::failedToPlay(PNError error) const {
    const int raw = static_cast<int>(error.code());
    tell(Delegate::Method::failedToPlay, [raw](Delegate& d, PNPlayerViewController& c) {
        d.pnPlayerViewControllerFailedToPlay(c, raw);
    });
}

void PNPlayerControllerEvents::didPlayToEnd() const {
    tell(Delegate::Method::didPlayToEnd,
         [](Delegate& d, PNPlayerViewController& c) { d.pnPlayerViewControllerDidPlayToEnd(c); });
}

}  // namespace pindle
