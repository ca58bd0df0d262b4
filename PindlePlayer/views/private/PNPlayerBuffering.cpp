#include "PindlePlayer/views/private/PNPlayerBuffering.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/Layer.hpp"

namespace pindle {

namespace ui = platform::ui;
using platform::DispatchQueue;

namespace {

constexpr double spinnerDelay = 1.0;
constexpr double spinnerFade = 0.4;

}  // namespace

std::shared_ptr<PNPlayerBuffering> PNPlayerBuffering::make() {
    return std::make_shared<PNPlayerBuffering>(Private{});
}

void PNPlayerBuffering::bind(Hooks hooks) {
    std::lock_guard lock(mutex_);
    hooks_ = std::move(hooks);
}

PNPlayerBuffering::Hooks PNPlayerBuffering::hooks() const {
    std::lock_guard lock(mutex_);
    return hooks_;
}

void PNPlayerBuffering::attach(ui::ViewPtr spinnerView) {
    std::lock_guard lock(mutex_);
    spinnerView_ = std::move(spinnerView);
}

ui::ViewPtr PNPlayerBuffering::spinnerView() const {
    std::lock_guard lock(mutex_);
    return spinnerView_;
}

void PNPlayerBuffering::check() {
    auto current = hooks().currentView;
    auto view = current ? current() : nullptr;
    if (!view)
        return;
    view->queue()->async(
        platform::weakly(this, [view](PNPlayerBuffering& self) { self.judge(view); }));
}

void PNPlayerBuffering::judge(const std::shared_ptr<PNPlayerView>& view) {
    auto hooks = this->hooks();
    if (!hooks.currentView || hooks.currentView() != view)
        return;
    const bool failed = hooks.shownVideoFailed && hooks.shownVideoFailed();
    const bool buffering =
        !failed && !view->isPreload() && (view->isBuffering() || !view->isReadyToPlay());
    if (hooks.report)
        hooks.report(buffering);
    DispatchQueue::main()->async(platform::weakly(this, [view, buffering](PNPlayerBuffering& self) {
        auto current = self.hooks().currentView;
        if (current && current() == view)
            self.follow(buffering);
    }));
}

void PNPlayerBuffering::follow(bool buffering) {
    const auto judgement = ++judgements_;
    if (!showSpinner_)
        return;
    if (!buffering) {
        applySpinner(false);
        return;
    }
    DispatchQueue::main()->asyncAfter(spinnerDelay,
                                      platform::weakly(this, [judgement](PNPlayerBuffering& self) {
                                          if (self.judgements_ == judgement)
                                              self.applySpinner(true);
                                      }));
}

void PNPlayerBuffering::toggleSpinner(bool show) {
    DispatchQueue::main()->async(
        platform::weakly(this, [show](PNPlayerBuffering& self) { self.applySpinner(show); }));
}

void PNPlayerBuffering::applySpinner(bool show) {
    if (isSpinnerActive_ == show || !showSpinner_)
        return;
    isSpinnerActive_ = show;
    auto spinnerView = this->spinnerView();
    if (!spinnerView)
        return;
    auto layer = spinnerView->layer();
    layer->removeAllAnimations();
    ui::BasicAnimation fade;
    fade.keyPath = "opacity";
    fade.fromValue = platform::Value(show ? 0.0 : 1.0);
    fade.toValue = platform::Value(show ? 1.0 : 0.0);
    fade.duration = spinnerFade;
    layer->setOpacity(show ? 1.0 : 0.0);
    layer->add(fade, "opacity");
}

void PNPlayerBuffering::setShowSpinner(bool show) {
    showSpinner_ = show;
    DispatchQueue::main()->async(platform::weakly(this, [show](PNPlayerBuffering& self) {
        auto spinnerView = self.spinnerView();
        if (!spinnerView)
            return;
        spinnerView->setHidden(!show);
        if (!show && self.isSpinnerActive_) {
            spinnerView->layer()->removeAllAnimations();
            spinnerView->layer()->setOpacity(0);
            self.isSpinnerActive_ = false;
        }
    }));
}

}  // namespace pindle
