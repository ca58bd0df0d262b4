#include "PindlePlayer/views/private/PNPlayerTransitions.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/View.hpp"

namespace pindle {

namespace ui = platform::ui;
using platform::DispatchQueue;

std::shared_ptr<PNPlayerTransitions> PNPlayerTransitions::make() {
    return std::make_shared<PNPlayerTransitions>(Private{});
}

void PNPlayerTransitions::bind(Hooks hooks) {
    std::lock_guard lock(mutex_);
    hooks_ = std::move(hooks);
}

PNPlayerTransitions::Hooks PNPlayerTransitions::hooks() const {
    std::lock_guard lock(mutex_);
    return hooks_;
}

void PNPlayerTransitions::present(std::shared_ptr<PNPlayerView> from,
                                  std::shared_ptr<PNPlayerView> to,
                                  std::optional<PNPlayerTransition> transition,
                                  std::function<void()> completion) {
    auto weak = weak_from_this();
    if (from == to) {
        DispatchQueue::main()->async(
            platform::weakly(this, [to, completion](PNPlayerTransitions& self) {
                if (to->isReadyToPlay() || to->isThumbShown()) {
                    to->setHidden(false);
                    if (auto shown = self.hooks().currentShown)
                        shown();
                }
                if (completion)
                    completion();
            }));
    } else if (!transition) {
        DispatchQueue::main()->async(
            platform::weakly(this, [from, to, completion](PNPlayerTransitions& self) {
                const auto hooks = self.hooks();
                if (retire(hooks, *from))
                    from->setHidden(true);
                if (isCurrent(hooks, *to)) {
                    to->setHidden(false);
                    // The old view is gone from the screen at once: what is there now is the
                    // current view, picture or not, and the old one is free to take a neighbour.
                    if (hooks.currentShown)
                        hooks.currentShown();
                }
                if (completion)
                    completion();
            }));
    } else {
        animate(from, to, *transition, [weak, from, completion] {
            // by hand: the view retires and the completion runs even when this has gone
            auto self = weak.lock();
            retire(self ? self->hooks() : Hooks{}, *from);
            if (completion)
                completion();
        });
    }
}

bool PNPlayerTransitions::retire(const Hooks& hooks, PNPlayerView& view) {
    if (hooks.retire)
        return hooks.retire(view);
    view.stop();
    return true;
}

bool PNPlayerTransitions::isCurrent(const Hooks& hooks, const PNPlayerView& view) {
    return !hooks.isCurrent || hooks.isCurrent(view);
}

void PNPlayerTransitions::animate(std::shared_ptr<PNPlayerView> from,
                                  std::shared_ptr<PNPlayerView> to, PNPlayerTransition transition,
                                  std::function<void()> completion) {
    isAnimating_ = true;
    auto weak = weak_from_this();
    DispatchQueue::main()->async([weak, from, to, transition, completion] {
        // by hand: the completion runs even when this has gone
        auto self = weak.lock();
        if (!self) {
            if (completion)
                completion();
            return;
        }
        const auto hooks = self->hooks();
        if (hooks.currentShown)
            hooks.currentShown();
        const std::uint64_t generation = ++self->animations_;
        if (hooks.views)
            for (const auto& view : hooks.views()) view->layer()->removeAllAnimations();
        from->setHidden(false);
        to->setHidden(false);
        using Kind = PNPlayerTransition::Kind;
        const auto shift = [&](const std::shared_ptr<PNPlayerView>& view, double sign) {
            const ui::Point c = view->center();
            const ui::Rect b = view->bounds();
            switch (transition.kind) {
                case Kind::up:
                    view->setCenter({c.x, c.y + sign * b.height()});
                    break;
                case Kind::down:
                    view->setCenter({c.x, c.y - sign * b.height()});
                    break;
                case Kind::left:
                    view->setCenter({c.x + sign * b.width(), c.y});
                    break;
                case Kind::right:
                    view->setCenter({c.x - sign * b.width(), c.y});
                    break;
                case Kind::fade:
                    break;
            }
        };
        shift(to, -1);  // the incoming view starts one screen away
        if (transition.kind == Kind::fade)
            to->layer()->setOpacity(0);
        self.reset();
        ui::View::animate(
            transition.duration, 0,
            ui::View::AnimationOptions::curveEaseInOut |
                ui::View::AnimationOptions::allowUserInteraction,
            [&] {
                if (transition.kind == Kind::fade) {
                    from->setAlpha(0);
                    to->setAlpha(1);
                } else {
                    shift(from, 1);
                    shift(to, 1);
                }
                from->layoutIfNeeded();
                to->layoutIfNeeded();
            },
            [weak, from, to, transition, completion, generation](bool finished) {
                for (const auto& view : {from, to}) {
                    const ui::Rect b = view->bounds();
                    const ui::Point c = view->center();
                    if (transition.kind == Kind::up || transition.kind == Kind::down)
                        view->setCenter({c.x, b.height() / 2});
                    else if (transition.kind == Kind::left || transition.kind == Kind::right)
                        view->setCenter({b.width() / 2, c.y});
                    else
                        view->setAlpha(1);
                }
                // by hand: the views are settled even when this has gone
                auto self = weak.lock();
                // Cut short by a newer animation, which now owns the views and the flag.
                if (self && self->animations_ != generation)
                    return;
                const auto hooks = self ? self->hooks() : Hooks{};
                if (hooks.views && hooks.isCurrent) {
                    // A switch made while the views slid (straight back, say) decides what
                    // stays on screen: the view current now, and no other.
                    for (const auto& view : hooks.views()) view->setHidden(!hooks.isCurrent(*view));
                } else {
                    from->setHidden(true);
                    to->setHidden(false);
                }
                if (self)
                    self->isAnimating_ = false;
                if (finished && completion)
                    completion();
            });
    });
}

}  // namespace pindle
