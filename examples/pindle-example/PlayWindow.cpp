#include "examples/pindle-example/PlayWindow.hpp"

#include <stdlib.h>

#include "PindleCore/model/PNError.hpp"
#include "platform/display/Display.hpp"

namespace pindle::example {

PlayWindow::PlayWindow(bool onDesktop, JsonLines& out) : onDesktop_(onDesktop), out_(out) {
    // A command-line tool that plays for a few seconds opens no window unless asked to.
    if (!onDesktop_)
        ::setenv(platform::Display::environmentVariable, "headless", 1);
}

PlayWindow::~PlayWindow() {
    if (observer_)
        platform::NotificationCenter::defaultCenter().removeObserver(observer_);
    if (auto window = window_.lock())
        platform::Display::hide(*window);
}

std::optional<platform::Error> PlayWindow::watch(
    const std::shared_ptr<platform::ui::Window>& window) {
    if (!onDesktop_)
        return std::nullopt;
    window_ = window;
    const bool shown = platform::Display::isPresented(*window);
    out_.print({{"event", "window"}, {"shown", shown}});
    if (!shown)
        return platform::Error(PNError::platformErrorDomain, PNError::unknown,
                               {{platform::Error::localizedDescriptionKey,
                                 "no desktop to show the window on (DISPLAY or WAYLAND_DISPLAY "
                                 "unset, or PINDLE_DISPLAY=headless)"}});
    observer_ = platform::NotificationCenter::defaultCenter().addObserverForName(
        platform::ui::Window::didCloseNotification, window.get(), nullptr,
        [this](const platform::Notification& notification) {
            const auto found = notification.userInfo.find("reason");
            const std::string* reason =
                found != notification.userInfo.end() ? found->second.asString() : nullptr;
            out_.print({{"event", "closed"}, {"reason", reason ? *reason : ""}});
            closed_ = true;
        });
    return std::nullopt;
}

}  // namespace pindle::example
