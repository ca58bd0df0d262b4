#include "platform/ui/SwipeGestureRecognizer.hpp"

#include <cmath>

namespace pindle::platform::ui {

GestureRecognizer::State SwipeGestureRecognizer::touchesEnded(const Touch& touch) {
    const Point start = startLocation();
    const double dx = touch.locationInWindow.x - start.x;
    const double dy = touch.locationInWindow.y - start.y;
    unsigned stroke = 0;
    if (std::abs(dx) >= minimumDistance && std::abs(dy) < std::abs(dx) / 2)
        stroke = dx > 0 ? Direction::right : Direction::left;
    else if (std::abs(dy) >= minimumDistance && std::abs(dx) < std::abs(dy) / 2)
        stroke = dy > 0 ? Direction::down : Direction::up;
    return (stroke & direction_) ? State::ended : State::failed;
}

}  // namespace pindle::platform::ui
