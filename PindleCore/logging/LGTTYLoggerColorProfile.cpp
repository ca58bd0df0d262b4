#include "PindleCore/logging/LGTTYLoggerColorProfile.hpp"

#include <cstdio>

namespace pindle {

namespace {

constexpr const char* escape = "\033[";
constexpr const char* ansiReset = "\033[0m";
constexpr const char* xcodeColorsReset = "\033[;";

std::uint8_t toByte(double component) {
    double scaled = component * LGColor::componentScale;
    if (scaled <= 0) {
        return 0;
    }
    return scaled >= LGColor::componentScale ? 255 : static_cast<std::uint8_t>(scaled);
}

}  // namespace

LGTTYLoggerColorProfile::LGTTYLoggerColorProfile(std::optional<LGColor> foreground,
                                                 std::optional<LGColor> background, LGLogFlag mask,
                                                 std::int64_t context, const LGTTYColorTable& table)
    : mask_(mask), context_(context) {
    if (foreground) {
        fg_r_ = toByte(foreground->red);
        fg_g_ = toByte(foreground->green);
        fg_b_ = toByte(foreground->blue);
    }
    if (background) {
        bg_r_ = toByte(background->red);
        bg_g_ = toByte(background->green);
        bg_b_ = toByte(background->blue);
    }
    auto rgbEscape = [](const char* prefix, unsigned r, unsigned g, unsigned b) {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "%s%s%u,%u,%u;", escape, prefix, r, g, b);
        return std::string(buffer);
    };
    if (table.isANSI()) {
        if (foreground) {
            fgCodeRaw_ = table.foregroundCode(table.codeIndexForColor(*foreground));
            fgCode_ = escape + fgCodeRaw_;
        }
        if (background) {
            bgCodeRaw_ = table.backgroundCode(table.codeIndexForColor(*background));
            bgCode_ = escape + bgCodeRaw_;
        }
        resetCode_ = ansiReset;
    } else if (table.mode() == LGTTYColorTable::Mode::xcodeColors) {
        if (foreground) {
            fgCode_ = rgbEscape("fg", fg_r_, fg_g_, fg_b_);
        }
        if (background) {
            bgCode_ = rgbEscape("bg", bg_r_, bg_g_, bg_b_);
        }
        resetCode_ = xcodeColorsReset;
    }
}

std::string LGTTYLoggerColorProfile::description() const {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer,
                  "<LGTTYLoggerColorProfile: %p mask:%i ctxt:%ld fg:%u,%u,%u bg:%u,%u,%u "
                  "fgCode:%s bgCode:%s>",
                  static_cast<const void*>(this), static_cast<int>(mask_),
                  static_cast<long>(context_), fg_r_, fg_g_, fg_b_, bg_r_, bg_g_, bg_b_,
                  fgCodeRaw_.c_str(), bgCodeRaw_.c_str());
    return buffer;
}

}  // namespace pindle
