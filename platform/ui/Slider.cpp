#include "platform/ui/Slider.hpp"

#include <algorithm>
#include <cmath>

#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {

SliderPtr Slider::make(const Rect& frame) {
    return std::make_shared<Slider>(frame);
}

Slider::Slider(const Rect& frame)
    : Control(frame), trackLayer_(Layer::make()), thumbLayer_(Layer::make()) {
    trackLayer_->setBackgroundColor(Color::white(0.7, 1));
    thumbLayer_->setBackgroundColor(Color::white(1, 1));
    layer()->addSublayer(trackLayer_);
    layer()->addSublayer(thumbLayer_);
}

float Slider::value() const {
    UIGuard lock(UILock::mutex());
    return value_;
}

void Slider::setValue(float value, bool animated) {
    // NaN passes std::clamp untouched and would leave the thumb nowhere.
    if (!std::isfinite(value))
        return;
    UIThreadChecker::recordMutation("Slider::setValue");
    {
        UIGuard lock(UILock::mutex());
        value_ = std::clamp(value, minimum_, std::max(minimum_, maximum_));
        lastAnimated_ = animated;
    }
    setNeedsLayout();
}

bool Slider::lastSetAnimated() const {
    UIGuard lock(UILock::mutex());
    return lastAnimated_;
}

float Slider::minimumValue() const {
    UIGuard lock(UILock::mutex());
    return minimum_;
}

void Slider::setMinimumValue(float value) {
    UIGuard lock(UILock::mutex());
    minimum_ = value;
    value_ = std::max(value_, minimum_);
}

float Slider::maximumValue() const {
    UIGuard lock(UILock::mutex());
    return maximum_;
}

void Slider::setMaximumValue(float value) {
    UIGuard lock(UILock::mutex());
    maximum_ = value;
    value_ = std::min(value_, std::max(minimum_, maximum_));
}

bool Slider::isContinuous() const {
    UIGuard lock(UILock::mutex());
    return continuous_;
}

void Slider::setContinuous(bool continuous) {
    UIGuard lock(UILock::mutex());
    continuous_ = continuous;
}

ImagePtr Slider::thumbImage() const {
    UIGuard lock(UILock::mutex());
    return thumbImage_;
}

void Slider::setThumbImage(ImagePtr image) {
    {
        UIGuard lock(UILock::mutex());
        thumbImage_ = image;
    }
    thumbLayer_->setContents(std::move(image));
}

Rect Slider::trackRect(const Rect& bounds) const {
    const double inset = kThumbSide / 2;
    const double width = std::max(0.0, bounds.width() - 2 * inset);
    return Rect::make(bounds.minX() + inset, bounds.midY() - 2, width, 4);
}

Rect Slider::thumbRect(const Rect&, const Rect& track, float value) const {
    float lo, hi;
    {
        UIGuard lock(UILock::mutex());
        lo = minimum_;
        hi = maximum_;
    }
    const double fraction = hi > lo ? (value - lo) / (hi - lo) : 0;
    const double x = track.minX() + fraction * track.width();
    return Rect::make(x - kThumbSide / 2, track.midY() - kThumbSide / 2, kThumbSide, kThumbSide);
}

bool Slider::track(Point point) {
    const Rect track = trackRect(bounds());
    const double fraction =
        track.width() > 0 ? std::clamp((point.x - track.minX()) / track.width(), 0.0, 1.0) : 0;
    bool changed;
    {
        UIGuard lock(UILock::mutex());
        const float next = minimum_ + static_cast<float>(fraction) * (maximum_ - minimum_);
        changed = next != value_;
        value_ = next;
        lastAnimated_ = false;
    }
    setNeedsLayout();
    return changed;
}

void Slider::beginTracking(Point point) {
    if (track(point) && isContinuous())
        sendActions(Event::valueChanged);
}

void Slider::continueTracking(Point point) {
    if (track(point) && isContinuous())
        sendActions(Event::valueChanged);
}

void Slider::endTracking(Point point) {
    const bool changed = track(point);
    if (changed || !isContinuous())
        sendActions(Event::valueChanged);
}

void Slider::layoutSubviews() {
    Control::layoutSubviews();
    const Rect b = bounds();
    const Rect track = trackRect(b);
    trackLayer_->setFrame(track);
    thumbLayer_->setFrame(thumbRect(b, track, value()));
}

}  // namespace pindle::platform::ui
