#include "platform/ui/PanGestureRecognizer.hpp"

#include <cmath>

namespace pindle::platform::ui {

Point PanGestureRecognizer::translation() const {
    std::lock_guard lock(panMutex_);
    return translation_;
}

Point PanGestureRecognizer::velocity() const {
    std::lock_guard lock(panMutex_);
    return velocity_;
}

void PanGestureRecognizer::track(const Touch& touch) {
    const Point start = startLocation();
    std::lock_guard lock(panMutex_);
    translation_ = Point{touch.locationInWindow.x - start.x, touch.locationInWindow.y - start.y};
    const double dt = touch.timestamp - last_.timestamp;
    if (dt > 0)
        velocity_ = Point{(touch.locationInWindow.x - last_.locationInWindow.x) / dt,
                          (touch.locationInWindow.y - last_.locationInWindow.y) / dt};
    last_ = touch;
}

GestureRecognizer::State PanGestureRecognizer::touchesBegan(const Touch& touch) {
    std::lock_guard lock(panMutex_);
    translation_ = velocity_ = Point{};
    last_ = touch;
    panning_ = false;
    return State::possible;
}

GestureRecognizer::State PanGestureRecognizer::touchesMoved(const Touch& touch) {
    track(touch);
    std::lock_guard lock(panMutex_);
    if (panning_)
        return State::changed;
    if (std::hypot(translation_.x, translation_.y) < minimumDistance)
        return State::possible;
    panning_ = true;
    return State::began;
}

GestureRecognizer::State PanGestureRecognizer::touchesEnded(const Touch& touch) {
    track(touch);
    std::lock_guard lock(panMutex_);
    return panning_ ? State::ended : State::failed;
}

}  // namespace pindle::platform::ui
