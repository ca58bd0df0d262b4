#include "platform/foundation/Rect.hpp"

#include <algorithm>
#include <sstream>

namespace pindle::platform::ui {

double Rect::minX() const {
    return size.width < 0 ? origin.x + size.width : origin.x;
}

double Rect::minY() const {
    return size.height < 0 ? origin.y + size.height : origin.y;
}

bool Rect::contains(Point point) const {
    return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
}

Rect Rect::intersection(const Rect& other) const {
    const double left = std::max(minX(), other.minX());
    const double top = std::max(minY(), other.minY());
    const double right = std::min(maxX(), other.maxX());
    const double bottom = std::min(maxY(), other.maxY());
    if (right <= left || bottom <= top)
        return zero();
    return make(left, top, right - left, bottom - top);
}

Rect Rect::offsetBy(double dx, double dy) const {
    return make(minX() + dx, minY() + dy, width(), height());
}

Rect Rect::inset(const EdgeInsets& insets) const {
    return make(minX() + insets.left, minY() + insets.top,
                std::max(0.0, width() - insets.left - insets.right),
                std::max(0.0, height() - insets.top - insets.bottom));
}

std::string Rect::description() const {
    std::ostringstream out;
    out << "(" << origin.x << ", " << origin.y << ", " << size.width << ", " << size.height << ")";
    return out.str();
}

}  // namespace pindle::platform::ui
