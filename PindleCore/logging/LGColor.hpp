// LGColor: a colour as the console logger takes it: red, green and blue from 0.0 to 1.0.
//
// Thread-safety: a plain value type.
#pragma once

#include <cstdint>

namespace pindle {

struct LGColor {
    double red = 0;
    double green = 0;
    double blue = 0;

    static constexpr double componentScale = 255.0;
    // A colour from 0-255 components.
    static constexpr LGColor fromBytes(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
        return LGColor{red / componentScale, green / componentScale, blue / componentScale};
    }
    bool operator==(const LGColor&) const = default;
};

}  // namespace pindle
