// Point: a position in points, in the coordinate space of some view or layer (origin top
// left, y growing downwards).
//
// Thread-safety: a plain value.
#pragma once

namespace pindle::platform::ui {

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

}  // namespace pindle::platform::ui
