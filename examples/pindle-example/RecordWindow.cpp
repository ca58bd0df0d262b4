#include "examples/pindle-example/RecordWindow.hpp"

#include "PindleCore/model/PNError.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/display/Display.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle::example {

namespace {

// The preset's picture, 960x540, halved: the window's long and short sides.
constexpr double longSide = 480;
constexpr double shortSide = 270;

}  // namespace

RecordWindow::RecordWindow(JsonLines& out) : desktop_(out) {}

RecordWindow::~RecordWindow() {
    if (window_)
        platform::Display::hide(*window_);
    if (preview_)
        preview_->removeFromSuperlayer();
}

platform::Status RecordWindow::show(const platform::CaptureSessionPtr& session,
                                    platform::CaptureConnection::VideoOrientation orientation) {
    using Orientation = platform::CaptureConnection::VideoOrientation;
    const bool upright =
        orientation == Orientation::portrait || orientation == Orientation::portraitUpsideDown;
    if (!platform::MainThread::adoptCurrentThread() && !platform::MainThread::isMainThread())
        return platform::Error(
            PNError::platformErrorDomain, PNError::unknown,
            {{platform::Error::localizedDescriptionKey, "the main queue runs on another thread"}});
    window_ =
        platform::ui::Window::make(upright ? platform::ui::Rect::make(0, 0, shortSide, longSide)
                                           : platform::ui::Rect::make(0, 0, longSide, shortSide));
    auto controller = std::make_shared<platform::ui::ViewController>();
    window_->setRootViewController(controller);
    preview_ = platform::CapturePreviewLayer::make(session);
    preview_->setVideoOrientation(orientation);
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
