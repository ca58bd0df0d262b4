#include "platform/app/Application.hpp"

#include "platform/foundation/NotificationCenter.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::platform {

Application& Application::shared() {
    static Application* application = new Application();
    return *application;
}

void Application::postWillTerminate() {
    NotificationCenter::defaultCenter().post(willTerminateNotification);
}

void Application::postDidReceiveMemoryWarning() {
    NotificationCenter::defaultCenter().post(didReceiveMemoryWarningNotification);
}

std::shared_ptr<ui::Window> Application::keyWindow() const {
    std::lock_guard lock(mutex_);
    return keyWindow_.lock();
}

void Application::setKeyWindow(const std::shared_ptr<ui::Window>& window) {
    std::lock_guard lock(mutex_);
    keyWindow_ = window;
}

int Application::statusBarOrientation() const {
    std::lock_guard lock(mutex_);
    return statusBarOrientation_;
}

void Application::setStatusBarOrientation(int orientation) {
    std::lock_guard lock(mutex_);
    statusBarOrientation_ = orientation;
}

}  // namespace pindle::platform
