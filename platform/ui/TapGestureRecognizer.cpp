#include "platform/ui/TapGestureRecognizer.hpp"

#include <cmath>

namespace pindle::platform::ui {

bool TapGestureRecognizer::near(const Touch& touch) const {
    const Point start = startLocation();
    return std::hypot(touch.locationInWindow.x - start.x, touch.locationInWindow.y - start.y) <=
           allowableMovement;
}

GestureRecognizer::State TapGestureRecognizer::touchesMoved(const Touch& touch) {
    return near(touch) ? State::possible : State::failed;
}

GestureRecognizer::State TapGestureRecognizer::touchesEnded(const Touch& touch) {
    return near(touch) && touch.tapCount >= tapsRequired_ ? State::ended : State::failed;
}

}  // namespace pindle::platform::ui
