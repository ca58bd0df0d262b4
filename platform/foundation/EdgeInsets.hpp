// EdgeInsets: distances inward from the four edges of a rectangle.
//
// Thread-safety: a plain value.
#pragma once

namespace pindle::platform::ui {

struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    bool operator==(const EdgeInsets&) const = default;
};

}  // namespace pindle::platform::ui
