// GestureRecognizer: watches the touches that reach a view (and the views inside it) and
// recognises one gesture in them; subclasses (tap, swipe) say which. When the gesture is
// recognised, the actions run, and with cancelsTouchesInView (the default) the view that
// was touched gets touchesCancelled instead of the rest of the sequence.
//
// States follow the phone platform: possible, then began/changed for continuous gestures
// or ended ("recognised") for discrete ones, or failed/cancelled; the next touch sequence
// starts again from possible.
//
// Thread-safety: state is guarded by an internal mutex and safe from any thread; actions
// and the delegate run on the thread that delivers the touches (the main thread), with no
// lock held.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/Object.hpp"
#include "platform/foundation/WeakDelegate.hpp"
#include "platform/ui/Touch.hpp"

namespace pindle::platform::ui {

class View;
class GestureRecognizer;

class GestureRecognizerDelegate {
  public:
    virtual ~GestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldReceiveTouch(GestureRecognizer&, const Touch&) {
        return true;
    }
    virtual bool gestureRecognizerShouldBegin(GestureRecognizer&) { return true; }
};

class GestureRecognizer : public Object {
  public:
    enum class State { possible, began, changed, ended, cancelled, failed };
    using Action = std::function<void(GestureRecognizer&)>;

    GestureRecognizer() = default;
    explicit GestureRecognizer(Action action);
    GestureRecognizer(const GestureRecognizer&) = delete;
    GestureRecognizer& operator=(const GestureRecognizer&) = delete;

    void addTarget(Action action);
    State state() const;
    std::shared_ptr<View> view() const;
    bool isEnabled() const;
    void setEnabled(bool enabled);
    bool cancelsTouchesInView() const;
    void setCancelsTouchesInView(bool cancels);
    // Held weakly.
    void setDelegate(std::weak_ptr<GestureRecognizerDelegate> delegate);
    // Where the last touch is, in `view`'s coordinates (null: the window's).
    Point location(const View* view) const;

    // Fed by the window; true when this touch made the gesture recognised (so the touched
    // view's sequence is to be cancelled).
    bool handle(const Touch& touch);

  protected:
    // Subclasses read touches here and answer the state they move to (possible to stay).
    virtual State touchesBegan(const Touch& touch) = 0;
    virtual State touchesMoved(const Touch& touch) = 0;
    virtual State touchesEnded(const Touch& touch) = 0;
    // Where the sequence began, in window coordinates.
    Point startLocation() const;

  private:
    friend class View;
    void attach(std::weak_ptr<View> view);

    WeakDelegate<GestureRecognizerDelegate> delegate_;
    mutable std::mutex mutex_;
    std::vector<Action> actions_;       // guarded by mutex_
    State state_ = State::possible;     // guarded by mutex_
    std::weak_ptr<View> view_;          // guarded by mutex_
    bool enabled_ = true;               // guarded by mutex_
    bool cancelsTouchesInView_ = true;  // guarded by mutex_
    Point start_, last_;                // guarded by mutex_
};

using GestureRecognizerPtr = std::shared_ptr<GestureRecognizer>;

}  // namespace pindle::platform::ui
