#include "examples/pindle-example/RecordWindow.hpp"

#include "PindleCore/model/PNError.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/display/Display.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle::example {

namespace {

// A window of the preset's shape, 960x540 halved.
constexpr platform::ui::Rect frame = platform::ui::Rect::make(0, 0, 480, 270);

}  // namespace

RecordWindow::RecordWindow(JsonLines& out) : out_(out) {}

RecordWindow::~RecordWindow() {
    if (observer_)
        platform::NotificationCenter::defaultCenter().removeObserver(observer_);
    if (window_)
        platform::Display::hide(*window_);
    if (preview_)
        preview_->removeFromSuperlayer();
}

platform::Status RecordWindow::show(const platform::CaptureSessionPtr& session) {
    if (!platform::MainThread::adoptCurrentThread() && !platform::MainThread::isMainThread())
        return platform::Error(
            PNError::platformErrorDomain, PNError::unknown,
            {{platform::Error::localizedDescriptionKey, "the main queue runs on another thread"}});
    window_ = platform::ui::Window::make(frame);
    auto controller = std::make_shared<platform::ui::ViewController>();
    window_->setRootViewController(controller);
    preview_ = platform::CapturePreviewLayer::make(session);
    const auto view = controller->view();
    view->setBackgroundColor(platform::ui::Color::black());
    preview_->setFrame(view->bounds());
    view->layer()->addSublayer(preview_);
    window_->makeKeyAndVisible();
    const bool shown = platform::Display::isPresented(*window_);
    out_.print({{"event", "window"}, {"shown", shown}});
    if (!shown)
        return platform::Error(PNError::platformErrorDomain, PNError::unknown,
                               {{platform::Error::localizedDescriptionKey,
                                 "no desktop to show the preview on (DISPLAY or WAYLAND_DISPLAY "
                                 "unset, or PINDLE_DISPLAY=headless)"}});
    observer_ = platform::NotificationCenter::defaultCenter().addObserverForName(
        platform::ui::Window::didCloseNotification, window_.get(), nullptr,
        [this](const platform::Notification& notification) {
            const auto found = notification.userInfo.find("reason");
            const std::string* reason =
                found != notification.userInfo.end() ? found->second.asString() : nullptr;
            out_.print({{"event", "closed"}, {"reason", reason ? *reason : ""}});
            closed_ = true;
        });
    return std::nullopt;
}

void RecordWindow::runUntil(const std::function<bool()>& done, double seconds) {
    platform::MainThread::runUntil([&] { return done() || closed_; }, seconds);
}

}  // namespace pindle::example
