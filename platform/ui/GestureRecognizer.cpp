#include "platform/ui/GestureRecognizer.hpp"

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

GestureRecognizer::GestureRecognizer(Action action) {
    actions_.push_back(std::move(action));
}

void GestureRecognizer::addTarget(Action action) {
    std::lock_guard lock(mutex_);
    actions_.push_back(std::move(action));
}

GestureRecognizer::State GestureRecognizer::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::shared_ptr<View> GestureRecognizer::view() const {
    std::lock_guard lock(mutex_);
    return view_.lock();
}

bool GestureRecognizer::isEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

void GestureRecognizer::setEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
}

bool GestureRecognizer::cancelsTouchesInView() const {
    std::lock_guard lock(mutex_);
    return cancelsTouchesInView_;
}

void GestureRecognizer::setCancelsTouchesInView(bool cancels) {
    std::lock_guard lock(mutex_);
    cancelsTouchesInView_ = cancels;
}

void GestureRecognizer::setDelegate(std::weak_ptr<GestureRecognizerDelegate> delegate) {
    delegate_.set(std::move(delegate));
}

Point GestureRecognizer::location(const View* view) const {
    std::lock_guard lock(mutex_);
    return view ? view->convertPointFrom(last_, nullptr) : last_;
}

Point GestureRecognizer::startLocation() const {
    std::lock_guard lock(mutex_);
    return start_;
}

void GestureRecognizer::attach(std::weak_ptr<View> view) {
    std::lock_guard lock(mutex_);
    view_ = std::move(view);
}

bool GestureRecognizer::handle(const Touch& touch) {
    std::shared_ptr<GestureRecognizerDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        if (!enabled_)
            return false;
        if (touch.phase == TouchPhase::began) {
            state_ = State::possible;
            start_ = touch.locationInWindow;
        } else if (state_ != State::possible && state_ != State::began &&
                   state_ != State::changed) {
            return false;  // this sequence is decided already
        }
        last_ = touch.locationInWindow;
    }
    delegate = delegate_.get();
    if (touch.phase == TouchPhase::began && delegate &&
        !delegate->gestureRecognizerShouldReceiveTouch(*this, touch)) {
        std::lock_guard lock(mutex_);
        state_ = State::failed;
        return false;
    }
    State next = State::failed;
    switch (touch.phase) {
        case TouchPhase::began:
            next = touchesBegan(touch);
            break;
        case TouchPhase::moved:
            next = touchesMoved(touch);
            break;
        case TouchPhase::ended:
            next = touchesEnded(touch);
            break;
        case TouchPhase::cancelled:
            next = State::cancelled;
            break;
    }
    const bool recognised = next == State::began || next == State::changed || next == State::ended;
    if (recognised && state() == State::possible && delegate &&
        !delegate->gestureRecognizerShouldBegin(*this))
        next = State::failed;
    std::vector<Action> actions;
    bool cancels = false;
    {
        std::lock_guard lock(mutex_);
        state_ = next;
        if (next == State::began || next == State::changed || next == State::ended ||
            next == State::cancelled) {
            actions = actions_;
            cancels = cancelsTouchesInView_ && next != State::cancelled;
        }
    }
    for (const auto& action : actions) action(*this);
    return cancels;
}

}  // namespace pindle::platform::ui
