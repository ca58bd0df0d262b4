#include "platform/ui/Control.hpp"

#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {

Control::Control(const Rect& frame, LayerPtr layer) : View(frame, std::move(layer)) {}

bool Control::isEnabled() const {
    UIGuard guard(UILock::mutex());
    return enabled_;
}

void Control::setEnabled(bool enabled) {
    UIThreadChecker::recordMutation("Control::setEnabled");
    UIGuard guard(UILock::mutex());
    enabled_ = enabled;
}

bool Control::isSelected() const {
    UIGuard guard(UILock::mutex());
    return selected_;
}

void Control::setSelected(bool selected) {
    UIThreadChecker::recordMutation("Control::setSelected");
    UIGuard guard(UILock::mutex());
    selected_ = selected;
}

bool Control::isHighlighted() const {
    UIGuard guard(UILock::mutex());
    return highlighted_;
}

bool Control::isTracking() const {
    UIGuard guard(UILock::mutex());
    return tracking_;
}

void Control::addTarget(unsigned events, Action action) {
    UIGuard guard(UILock::mutex());
    targets_.push_back(Target{events, std::move(action)});
}

void Control::removeAllTargets() {
    UIGuard guard(UILock::mutex());
    targets_.clear();
}

void Control::sendActions(unsigned events) {
    std::vector<Action> actions;
    {
        UIGuard guard(UILock::mutex());
        for (const auto& target : targets_)
            if (target.events & events)
                actions.push_back(target.action);
    }
    for (const auto& action : actions) action(*this);
}

Point Control::localPoint(const Touch& touch) const {
    return convertPointFrom(touch.locationInWindow, nullptr);
}

void Control::touchesBegan(const Touch& touch) {
    {
        UIGuard guard(UILock::mutex());
        if (!enabled_)
            return;
        tracking_ = true;
        highlighted_ = true;
    }
    beginTracking(localPoint(touch));
    sendActions(Event::touchDown);
}

void Control::touchesMoved(const Touch& touch) {
    if (!isTracking())
        return;
    const Point point = localPoint(touch);
    const bool inside = bounds().contains(point);
    {
        UIGuard guard(UILock::mutex());
        highlighted_ = inside;
    }
    continueTracking(point);
    sendActions(inside ? Event::touchDragInside : Event::touchDragOutside);
}

void Control::touchesEnded(const Touch& touch) {
    if (!isTracking())
        return;
    const Point point = localPoint(touch);
    {
        UIGuard guard(UILock::mutex());
        tracking_ = false;
        highlighted_ = false;
    }
    endTracking(point);
    sendActions(bounds().contains(point) ? Event::touchUpInside : Event::touchUpOutside);
}

void Control::touchesCancelled(const Touch&) {
    {
        UIGuard guard(UILock::mutex());
        if (!tracking_)
            return;
        tracking_ = false;
        highlighted_ = false;
    }
    sendActions(Event::touchCancel);
}

}  // namespace pindle::platform::ui
