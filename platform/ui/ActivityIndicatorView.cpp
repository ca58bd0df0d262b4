#include "platform/ui/ActivityIndicatorView.hpp"

#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {
namespace {
double sideOf(ActivityIndicatorView::Style style) {
    return style == ActivityIndicatorView::Style::whiteLarge ? 37 : 20;
}
}  // namespace

ActivityIndicatorViewPtr ActivityIndicatorView::make(Style style) {
    return std::make_shared<ActivityIndicatorView>(style);
}

ActivityIndicatorView::ActivityIndicatorView(Style style)
    : View(Rect::make(0, 0, sideOf(style), sideOf(style))), style_(style) {
    setHidden(true);
}

void ActivityIndicatorView::startAnimating() {
    {
        UIGuard lock(UILock::mutex());
        animating_ = true;
    }
    setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    bool hide;
    {
        UIGuard lock(UILock::mutex());
        animating_ = false;
        hide = hidesWhenStopped_;
    }
    if (hide)
        setHidden(true);
}

bool ActivityIndicatorView::isAnimating() const {
    UIGuard lock(UILock::mutex());
    return animating_;
}

bool ActivityIndicatorView::hidesWhenStopped() const {
    UIGuard lock(UILock::mutex());
    return hidesWhenStopped_;
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
    bool hide;
    {
        UIGuard lock(UILock::mutex());
        hidesWhenStopped_ = hides;
        hide = hides && !animating_;
    }
    setHidden(hide);
}

Size ActivityIndicatorView::intrinsicContentSize() const {
    return Size{sideOf(style_), sideOf(style_)};
}

}  // namespace pindle::platform::ui
