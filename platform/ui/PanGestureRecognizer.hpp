// PanGestureRecognizer: recognises a drag: it begins once the touch has moved
// minimumDistance points, changes with every move after that, and ends with the touch.
// translation() is the movement since the touch began; velocity() the points per second
// of the last move (touch timestamps, so virtual time in tests).
//
// Thread-safety: as GestureRecognizer.
#pragma once

#include <mutex>

#include "platform/ui/GestureRecognizer.hpp"

namespace pindle::platform::ui {

class PanGestureRecognizer : public GestureRecognizer {
  public:
    static constexpr double minimumDistance = 10;

    using GestureRecognizer::GestureRecognizer;

    // In `view`'s coordinate units (null: the window's); transforms are not applied.
    Point translation() const;
    Point velocity() const;

  protected:
    State touchesBegan(const Touch& touch) override;
    State touchesMoved(const Touch& touch) override;
    State touchesEnded(const Touch& touch) override;

  private:
    void track(const Touch& touch);

    mutable std::mutex panMutex_;
    Point translation_;     // guarded by panMutex_
    Point velocity_;        // guarded by panMutex_
    Touch last_;            // guarded by panMutex_
    bool panning_ = false;  // guarded by panMutex_
};

}  // namespace pindle::platform::ui
