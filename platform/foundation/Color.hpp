// Color: a straight-alpha RGBA colour with components in [0, 1].
//
// Thread-safety: a plain value.
#pragma once

#include <cstdint>

namespace pindle::platform::ui {

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;

    static constexpr Color make(double red, double green, double blue, double alpha = 1.0) {
        return Color{red, green, blue, alpha};
    }
    static constexpr Color clear() { return Color{}; }
    static constexpr Color white(double white, double alpha) {
        return Color{white, white, white, alpha};
    }
    static constexpr Color black() { return Color{0, 0, 0, 1}; }
    static constexpr Color whiteColor() { return Color{1, 1, 1, 1}; }

    bool isClear() const { return alpha <= 0; }
    Color withAlpha(double newAlpha) const { return Color{red, green, blue, newAlpha}; }

    bool operator==(const Color&) const = default;
};

}  // namespace pindle::platform::ui
