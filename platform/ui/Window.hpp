// Window: the root view of an interface tree. Views inside a window are laid out once per
// main-queue turn after any of them asks for layout (the requests are coalesced into one
// pass of the whole window). makeKeyAndVisible() shows the window and makes it the
// application's key window.
//
// Touches: sendEvent() hit-tests a touch that begins and keeps its view for the rest of the
// sequence. A touch that begins on an enabled control goes to the control alone; otherwise
// the gesture recognisers of the hit view and its ancestors see it first, and once one of
// them recognises its gesture (and cancels touches in view) the view gets touchesCancelled
// and no more of the sequence.
//
// The root view controller's view fills the window; setting a root sends the appearance
// callbacks (disappear to the old root, appear to the new one).
//
// Thread-safety: as View. The coalesced layout pass runs on the main queue.
#pragma once

#include <atomic>
#include <memory>

#include <mutex>
#include <vector>

#include "platform/ui/GestureRecognizer.hpp"
#include "platform/ui/Touch.hpp"
#include "platform/ui/View.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle::platform::ui {

class Window : public View {
  public:
    // Posted on the main thread, with the window as object, when its desktop window goes
    // away: userInfo "reason" is "closed" (the person closed it), "escape" (Escape pressed
    // with nothing being edited) or "displayLost" (the display itself went away).
    static constexpr const char* didCloseNotification = "PindleWindowDidCloseNotification";

    // A window of `frame`; a window starts hidden, as on the phone platform.
    static std::shared_ptr<Window> make(const Rect& frame);

    explicit Window(const Rect& frame);

    void makeKeyAndVisible();
    bool isKeyWindow() const;

    ViewControllerPtr rootViewController() const;
    void setRootViewController(const ViewControllerPtr& controller);

    // Delivers one touch (one finger at a time). REQUIRES: called on the main thread.
    void sendEvent(const Touch& touch);

  private:
    friend class View;
    // Queues one layout pass on the main queue unless one is queued already.
    void scheduleLayout();

    std::atomic<bool> layoutScheduled_{false};

    mutable std::mutex mutex_;
    ViewControllerPtr root_;                              // guarded by mutex_
    ViewPtr touchedView_;                                 // guarded by mutex_
    std::vector<GestureRecognizerPtr> touchRecognizers_;  // guarded by mutex_
    bool touchCancelledInView_ = false;                   // guarded by mutex_
};

}  // namespace pindle::platform::ui
