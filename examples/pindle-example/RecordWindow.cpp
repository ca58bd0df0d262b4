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

RecordWindow::RecordWindow(JsonLines& out) : desktop_(out) {}

RecordWindow::~RecordWindow() {
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
    return desktop_.watch(window_, "preview");
}

void RecordWindow::runUntil(const std::function<bool()>& done, double seconds) {
    platform::MainThread::runUntil([&] { return done() || desktop_.closed(); }, seconds);
}

}  // namespace pindle::example
