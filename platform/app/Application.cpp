#include "platform/app/Application.hpp"

#include "platform/app/private/FirstResponder.hpp"
#include "platform/foundation/NotificationCenter.hpp"

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

bool Application::isIdleTimerDisabled() const {
    std::lock_guard lock(mutex_);
    return idleTimerDisabled_;
}

void Application::setIdleTimerDisabled(bool disabled) {
    std::lock_guard lock(mutex_);
    idleTimerDisabled_ = disabled;
}

bool Application::openURL(const std::string& url) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(mutex_);
        openedURLs_.push_back(url);
        handler = openURLHandler_;
    }
    if (handler)
        handler(url);
    return true;
}

std::vector<std::string> Application::openedURLs() const {
    std::lock_guard lock(mutex_);
    return openedURLs_;
}

void Application::setOpenURLHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(mutex_);
    openURLHandler_ = std::move(handler);
}

void Application::reset() {
    std::lock_guard lock(mutex_);
    openedURLs_.clear();
    idleTimerDisabled_ = false;
}

bool Application::endEditing() {
    return FirstResponder::resign();
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
