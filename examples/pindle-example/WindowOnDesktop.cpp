#include "examples/pindle-example/WindowOnDesktop.hpp"

#include "PindleCore/model/PNError.hpp"
#include "platform/display/Display.hpp"

namespace pindle::example {

WindowOnDesktop::~WindowOnDesktop() {
    if (observer_)
        platform::NotificationCenter::defaultCenter().removeObserver(observer_);
}

platform::Status WindowOnDesktop::watch(const std::shared_ptr<platform::ui::Window>& window,
                                        const std::string& what) {
    const bool shown = platform::Display::isPresented(*window);
    out_.print({{"event", "window"}, {"shown", shown}});
    if (!shown) {
        const std::string why = platform::Display::kind() == platform::Display::Kind::headless
                                    ? platform::Display::reason()
                                    : "the desktop did not take the window";
        return platform::Error(PNError::platformErrorDomain, PNError::unknown,
                               {{platform::Error::localizedDescriptionKey,
                                 "no desktop to show the " + what + " on (" + why + ")"}});
    }
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
