// WindowOnDesktop: what `play --window` and `record --window` share: says whether a window made
// key and visible is on the desktop ({"event": "window", "shown": ...}) and hears it close
// ({"event": "closed", "reason": ...}), after which closed() is true.
//
// Thread-safety: use from the command's thread, the main thread; the close arrives there.
#pragma once

#include <memory>
#include <string>

#include "examples/pindle-example/JsonLines.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::example {

class WindowOnDesktop {
  public:
    explicit WindowOnDesktop(JsonLines& out) : out_(out) {}
    ~WindowOnDesktop();
    WindowOnDesktop(const WindowOnDesktop&) = delete;
    WindowOnDesktop& operator=(const WindowOnDesktop&) = delete;

    // Watches `window`; an error naming `what` the window was to show when no desktop shows
    // it.
    platform::Status watch(const std::shared_ptr<platform::ui::Window>& window,
                           const std::string& what);
    bool closed() const { return closed_; }

  private:
    JsonLines& out_;
    bool closed_ = false;
    platform::NotificationCenter::RegistrationPtr observer_;
};

}  // namespace pindle::example
