// Font: which typeface and size a text is drawn in: a family name (empty for the system's
// sans-serif face), a weight and a size in points. It names a font; the text engine asks
// fontconfig for the face that best matches it, and uses DejaVu Sans when nothing does.
//
// Thread-safety: a plain value.
#pragma once

#include <string>

namespace pindle::platform::ui {

struct Font {
    // Weights on the usual 100-900 scale of font files.
    enum class Weight { light = 300, regular = 400, medium = 500, semibold = 600, bold = 700 };

    static constexpr double defaultPointSize = 17;

    std::string family;  // empty: the system font
    double pointSize = defaultPointSize;
    Weight weight = Weight::regular;

    static Font systemFont(double pointSize, Weight weight = Weight::regular) {
        return Font{"", pointSize, weight};
    }
    static Font boldSystemFont(double pointSize) { return Font{"", pointSize, Weight::bold}; }
    static Font named(std::string family, double pointSize, Weight weight = Weight::regular) {
        return Font{std::move(family), pointSize, weight};
    }

    bool operator==(const Font&) const = default;
};

}  // namespace pindle::platform::ui
