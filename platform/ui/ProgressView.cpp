#include "platform/ui/ProgressView.hpp"

#include <algorithm>

#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {
namespace {
constexpr double barHeight = 2;
}  // namespace

ProgressViewPtr ProgressView::make(const Rect& frame) {
    return std::make_shared<ProgressView>(frame);
}

ProgressView::ProgressView(const Rect& frame) : View(frame), fill_(Layer::make()) {
    setBackgroundColor(Color::white(0.5, 0.5));
    fill_->setBackgroundColor(Color::make(0, 0.48, 1));
    layer()->addSublayer(fill_);
}

float ProgressView::progress() const {
    UIGuard lock(UILock::mutex());
    return progress_;
}

void ProgressView::setProgress(float progress, bool animated) {
    UIThreadChecker::recordMutation("ProgressView::setProgress");
    {
        UIGuard lock(UILock::mutex());
        progress_ = std::clamp(progress, 0.0f, 1.0f);
        lastAnimated_ = animated;
    }
    setNeedsLayout();
}

bool ProgressView::lastSetAnimated() const {
    UIGuard lock(UILock::mutex());
    return lastAnimated_;
}

Color ProgressView::progressTintColor() const {
    return fill_->backgroundColor();
}

void ProgressView::setProgressTintColor(Color colour) {
    fill_->setBackgroundColor(colour);
}

Size ProgressView::intrinsicContentSize() const {
    return Size{noIntrinsicMetric, barHeight};
}

void ProgressView::layoutSubviews() {
    View::layoutSubviews();
    const Rect b = bounds();
    fill_->setFrame(Rect::make(b.minX(), b.minY(), b.width() * progress(), b.height()));
}

}  // namespace pindle::platform::ui
