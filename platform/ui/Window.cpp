#include "platform/ui/Window.hpp"

#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle::platform::ui {

std::shared_ptr<Window> Window::make(const Rect& frame) {
    return std::make_shared<Window>(frame);
}

Window::Window(const Rect& frame) : View(frame) {
    layer()->setHidden(true);
}

void Window::makeKeyAndVisible() {
    setHidden(false);
    Application::shared().setKeyWindow(std::static_pointer_cast<Window>(shared_from_this()));
    scheduleLayout();
}

bool Window::isKeyWindow() const {
    return Application::shared().keyWindow().get() == this;
}

void Window::scheduleLayout() {
    if (layoutScheduled_.exchange(true))
        return;
    std::weak_ptr<Window> weak = std::static_pointer_cast<Window>(shared_from_this());
    DispatchQueue::main()->async([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->layoutScheduled_ = false;
        self->layoutIfNeeded();
    });
}

}  // namespace pindle::platform::ui
