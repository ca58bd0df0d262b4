#include "platform/ui/Window.hpp"

#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/Control.hpp"
#include "platform/ui/private/WindowDisplay.hpp"

namespace pindle::platform::ui {

std::shared_ptr<Window> Window::make(const Rect& frame) {
    return std::make_shared<Window>(frame);
}

Window::Window(const Rect& frame) : View(frame) {
    layer()->setHidden(true);
}

void Window::makeKeyAndVisible() {
    setHidden(false);
    auto self = std::static_pointer_cast<Window>(shared_from_this());
    Application::shared().setKeyWindow(self);
    scheduleLayout();
    if (MainThread::isMainThread())
        WindowDisplay::show(self);
}

bool Window::isKeyWindow() const {
    return Application::shared().keyWindow().get() == this;
}

void Window::scheduleLayout() {
    if (layoutScheduled_.exchange(true))
        return;
    DispatchQueue::main()->async(weakly(this, [](Window& self) {
        self.layoutScheduled_ = false;
        self.layoutIfNeeded();
    }));
}

ViewControllerPtr Window::rootViewController() const {
    std::lock_guard lock(mutex_);
    return root_;
}

void Window::setRootViewController(const ViewControllerPtr& controller) {
    ViewControllerPtr old;
    {
        std::lock_guard lock(mutex_);
        if (root_ == controller)
            return;
        old = root_;
        root_ = controller;
    }
    if (old) {
        old->beginAppearanceTransition(false, false);
        if (old->isViewLoaded())
            old->view()->removeFromSuperview();
        old->endAppearanceTransition(false, false);
    }
    if (controller) {
        ViewPtr view = controller->view();
        view->setFrame(bounds());
        view->setAutoresizingMask(flexibleWidth | flexibleHeight);
        controller->beginAppearanceTransition(true, false);
        addSubview(view);
        controller->endAppearanceTransition(true, false);
    }
}

void Window::sendEvent(const Touch& touch) {
    ViewPtr target;
    std::vector<GestureRecognizerPtr> recognizers;
    if (touch.phase == TouchPhase::began) {
        target = hitTest(touch.locationInWindow);
        auto control = std::dynamic_pointer_cast<Control>(target);
        if (target && !(control && control->isEnabled())) {
            for (ViewPtr v = target; v; v = v->superview())
                for (const auto& r : v->gestureRecognizers())
                    if (r->isEnabled())
                        recognizers.push_back(r);
        }
        std::lock_guard lock(mutex_);
        touchedView_ = target;
        touchRecognizers_ = recognizers;
        touchCancelledInView_ = false;
    } else {
        std::lock_guard lock(mutex_);
        target = touchedView_;
        recognizers = touchRecognizers_;
    }
    if (!target)
        return;
    bool cancel = false;
    for (const auto& r : recognizers) cancel = r->handle(touch) || cancel;
    bool cancelledBefore;
    {
        std::lock_guard lock(mutex_);
        cancelledBefore = touchCancelledInView_;
        if (cancel)
            touchCancelledInView_ = true;
        if (touch.phase == TouchPhase::ended || touch.phase == TouchPhase::cancelled) {
            touchedView_.reset();
            touchRecognizers_.clear();
        }
    }
    if (cancelledBefore)
        return;
    if (cancel) {
        target->touchesCancelled(touch);
        return;
    }
    switch (touch.phase) {
        case TouchPhase::began:
            target->touchesBegan(touch);
            break;
        case TouchPhase::moved:
            target->touchesMoved(touch);
            break;
        case TouchPhase::ended:
            target->touchesEnded(touch);
            break;
        case TouchPhase::cancelled:
            target->touchesCancelled(touch);
            break;
    }
}

}  // namespace pindle::platform::ui
