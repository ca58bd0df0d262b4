#include "platform/app/Screen.hpp"

namespace pindle::platform {

Screen& Screen::main() {
    static auto* screen = new Screen();
    return *screen;
}

ui::Rect Screen::bounds() const {
    std::lock_guard lock(mutex_);
    return bounds_;
}

void Screen::setBounds(const ui::Rect& bounds) {
    std::lock_guard lock(mutex_);
    bounds_ = bounds;
}

double Screen::scale() const {
    std::lock_guard lock(mutex_);
    return scale_;
}

void Screen::setScale(double scale) {
    std::lock_guard lock(mutex_);
    scale_ = scale;
}

}  // namespace pindle::platform
