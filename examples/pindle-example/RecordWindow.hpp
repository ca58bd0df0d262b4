// RecordWindow: what `record --window` adds to the record command: the camera's preview in a
// desktop window while it records. Closing the window or Escape ends the recording early
// (the files are kept). Prints {"event": "window", "shown": ...} once the window is up and
// {"event": "closed", "reason": ...} when it goes; without a desktop, an error.
//
// Lives in the program, not in the player's module: it needs only the platform library.
//
// Thread-safety: use from the command's thread, which becomes the main thread; the close
// arrives there.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "examples/pindle-example/JsonLines.hpp"
#include "examples/pindle-example/WindowOnDesktop.hpp"
#include "platform/capture/CaptureConnection.hpp"
#include "platform/capture/CapturePreviewLayer.hpp"
#include "platform/capture/CaptureSession.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::example {

class RecordWindow {
  public:
    explicit RecordWindow(JsonLines& out);
    ~RecordWindow();
    RecordWindow(const RecordWindow&) = delete;
    RecordWindow& operator=(const RecordWindow&) = delete;

    // Shows `session`'s camera in a window on the desktop, in the shape and `orientation` of
    // what it records; an error when there is no main thread to show it from or no desktop.
    platform::Status show(const platform::CaptureSessionPtr& session,
                          platform::CaptureConnection::VideoOrientation orientation);
    // Runs the main loop (the window's refreshes and input) until `done` holds, the window
    // closes, or `seconds` pass.
    void runUntil(const std::function<bool()>& done, double seconds);
    bool closed() const { return desktop_.closed(); }
    // The preview shown; null before show().
    const std::shared_ptr<platform::CapturePreviewLayer>& preview() const { return preview_; }

  private:
    WindowOnDesktop desktop_;
    std::shared_ptr<platform::ui::Window> window_;
    std::shared_ptr<platform::CapturePreviewLayer> preview_;
};

}  // namespace pindle::example
