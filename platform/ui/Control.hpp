// Control: a view that turns touches into actions for its targets: touch-down when a touch
// begins on it, drags while it moves, touch-up-inside or -outside when it ends, and
// value-changed for controls with a value (the slider). A disabled control ignores touches.
//
// Subclasses track a touch through beginTracking / continueTracking / endTracking.
//
// Thread-safety: state is guarded by UILock and safe from any thread; actions run on the
// thread that delivers the touch or calls sendActions (the main thread for real touches),
// with no lock held.
#pragma once

#include <functional>
#include <vector>

#include "platform/ui/Touch.hpp"
#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class Control : public View {
  public:
    // Bits of the events an action is registered for.
    struct Event {
        static constexpr unsigned touchDown = 1u << 0;
        static constexpr unsigned touchDragInside = 1u << 2;
        static constexpr unsigned touchDragOutside = 1u << 3;
        static constexpr unsigned touchUpInside = 1u << 6;
        static constexpr unsigned touchUpOutside = 1u << 7;
        static constexpr unsigned touchCancel = 1u << 8;
        static constexpr unsigned valueChanged = 1u << 12;
        static constexpr unsigned editingChanged = 1u << 17;
        static constexpr unsigned allTouchEvents = 0xFFFu;
    };
    // An action receives the control that sent it. Targets are captured by the action
    // itself: capture them weakly, as the phone platform holds targets weakly.
    using Action = std::function<void(Control& sender)>;

    // `layer` backs the control (a plain layer when null), as for View.
    explicit Control(const Rect& frame, LayerPtr layer = nullptr);

    bool isEnabled() const;
    void setEnabled(bool enabled);
    bool isSelected() const;
    void setSelected(bool selected);
    bool isHighlighted() const;
    bool isTracking() const;

    void addTarget(unsigned events, Action action);
    void removeAllTargets();
    // Runs the actions registered for any of `events`, in the order they were added.
    void sendActions(unsigned events);

    void touchesBegan(const Touch& touch) override;
    void touchesMoved(const Touch& touch) override;
    void touchesEnded(const Touch& touch) override;
    void touchesCancelled(const Touch& touch) override;

  protected:
    // Tracking hooks, called with the touch in this control's coordinates.
    virtual void beginTracking(Point) {}
    virtual void continueTracking(Point) {}
    virtual void endTracking(Point) {}

  private:
    struct Target {
        unsigned events;
        Action action;
    };
    Point localPoint(const Touch& touch) const;

    // All guarded by UILock.
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
    std::vector<Target> targets_;
};

}  // namespace pindle::platform::ui
