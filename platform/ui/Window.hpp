// Window: the root view of an interface tree. Views inside a window are laid out once per
// main-queue turn after any of them asks for layout (the requests are coalesced into one
// pass of the whole window). makeKeyAndVisible() shows the window and makes it the
// application's key window.
//
// Thread-safety: as View. The coalesced layout pass runs on the main queue.
#pragma once

#include <atomic>
#include <memory>

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class Window : public View {
  public:
    // A window of `frame`; a window starts hidden, as on the phone platform.
    static std::shared_ptr<Window> make(const Rect& frame);

    explicit Window(const Rect& frame);

    void makeKeyAndVisible();
    bool isKeyWindow() const;

  private:
    friend class View;
    // Queues one layout pass on the main queue unless one is queued already.
    void scheduleLayout();

    std::atomic<bool> layoutScheduled_{false};
};

}  // namespace pindle::platform::ui
