// Rect: an origin and a size in points. A rectangle with a negative width or height is
// read as its standardised form by the edge accessors, as the phone platform does.
//
// Thread-safety: a plain value.
#pragma once

#include <string>

#include "platform/foundation/EdgeInsets.hpp"
#include "platform/foundation/Point.hpp"
#include "platform/foundation/Size.hpp"

namespace pindle::platform::ui {

struct Rect {
    Point origin;
    Size size;

    static constexpr Rect make(double x, double y, double width, double height) {
        return Rect{Point{x, y}, Size{width, height}};
    }
    static constexpr Rect zero() { return Rect{}; }

    double width() const { return size.width < 0 ? -size.width : size.width; }
    double height() const { return size.height < 0 ? -size.height : size.height; }
    double minX() const;
    double minY() const;
    double maxX() const { return minX() + width(); }
    double maxY() const { return minY() + height(); }
    double midX() const { return minX() + width() / 2; }
    double midY() const { return minY() + height() / 2; }
    Point center() const { return Point{midX(), midY()}; }

    // True when the width or the height is zero.
    bool isEmpty() const { return width() == 0 || height() == 0; }
    // Edges are half-open: the maximum edges lie outside.
    bool contains(Point point) const;
    // The common part of two rectangles; a zero rectangle when they do not overlap.
    Rect intersection(const Rect& other) const;
    Rect offsetBy(double dx, double dy) const;
    Rect inset(const EdgeInsets& insets) const;
    Rect standardized() const { return make(minX(), minY(), width(), height()); }

    std::string description() const;

    bool operator==(const Rect&) const = default;
};

}  // namespace pindle::platform::ui
