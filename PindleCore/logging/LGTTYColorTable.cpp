#include "PindleCore/logging/LGTTYColorTable.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace pindle {

namespace {

constexpr double initialBestDistance = 100.0;
constexpr int firstExtendedColorNumber = 16;
constexpr int extendedColorCount = 240;
constexpr int cubeSide = 6;
constexpr int firstGrayNumber = 232;

struct BasicColor {
    const char* foreground;
    const char* background;
    std::uint8_t red, green, blue;
};

constexpr std::array<BasicColor, 16> basicColors{{
    {"30m", "40m", 0, 0, 0},
    {"31m", "41m", 194, 54, 33},
    {"32m", "42m", 37, 188, 36},
    {"33m", "43m", 173, 173, 39},
    {"34m", "44m", 73, 46, 225},
    {"35m", "45m", 211, 56, 211},
    {"36m", "46m", 51, 187, 200},
    {"37m", "47m", 203, 204, 205},
    {"1;30m", "1;40m", 129, 131, 131},
    {"1;31m", "1;41m", 252, 57, 31},
    {"1;32m", "1;42m", 49, 231, 34},
    {"1;33m", "1;43m", 234, 236, 35},
    {"1;34m", "1;44m", 88, 51, 255},
    {"1;35m", "1;45m", 249, 53, 248},
    {"1;36m", "1;46m", 20, 240, 240},
    {"1;37m", "1;47m", 233, 235, 235},
}};

// The first terminal colours of the extended range as this logger has always shown them;
// the rest follow the usual colour cube and grey ramp.
constexpr std::array<std::array<std::uint8_t, 3>, 7> leadingExtendedColors{{
    {47, 49, 49},
    {60, 42, 144},
    {66, 44, 183},
    {73, 46, 222},
    {81, 50, 253},
    {88, 51, 255},
    {42, 128, 37},
}};

std::uint8_t cubeLevel(int step) {
    return step == 0 ? 0 : static_cast<std::uint8_t>(55 + step * 40);
}

LGColor extendedColor(int number) {
    int offset = number - firstExtendedColorNumber;
    if (offset < static_cast<int>(leadingExtendedColors.size())) {
        const auto& rgb = leadingExtendedColors[offset];
        return LGColor::fromBytes(rgb[0], rgb[1], rgb[2]);
    }
    if (number < firstGrayNumber) {
        int red = offset / (cubeSide * cubeSide);
        int green = (offset / cubeSide) % cubeSide;
        int blue = offset % cubeSide;
        return LGColor::fromBytes(cubeLevel(red), cubeLevel(green), cubeLevel(blue));
    }
    auto gray = static_cast<std::uint8_t>(8 + (number - firstGrayNumber) * 10);
    return LGColor::fromBytes(gray, gray, gray);
}

bool containsIgnoringCase(std::string text, std::string part) {
    auto lower = [](std::string& s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    };
    lower(text);
    lower(part);
    return text.find(part) != std::string::npos;
}

}  // namespace

LGTTYColorTable::Mode LGTTYColorTable::modeForEnvironment(
    const std::optional<std::string>& xcodeColors, const std::optional<std::string>& term) {
    if (xcodeColors && *xcodeColors == "YES") {
        return Mode::xcodeColors;
    }
    if (term && containsIgnoringCase(*term, "color")) {
        return containsIgnoringCase(*term, "256") ? Mode::ansi256 : Mode::ansi16;
    }
    return Mode::none;
}

LGTTYColorTable::LGTTYColorTable(Mode mode) : mode_(mode) {
    if (mode == Mode::ansi16) {
        build16();
    } else if (mode == Mode::ansi256) {
        build256();
    }
}

void LGTTYColorTable::build16() {
    for (const auto& entry : basicColors) {
        foreground_.emplace_back(entry.foreground);
        background_.emplace_back(entry.background);
        colors_.push_back(LGColor::fromBytes(entry.red, entry.green, entry.blue));
    }
}

void LGTTYColorTable::build256() {
    for (int i = 0; i < extendedColorCount; ++i) {
        int number = i + firstExtendedColorNumber;
        foreground_.push_back("38;5;" + std::to_string(number) + "m");
        background_.push_back("48;5;" + std::to_string(number) + "m");
        colors_.push_back(extendedColor(number));
    }
}

std::size_t LGTTYColorTable::codeIndexForColor(const LGColor& color) const {
    double best = initialBestDistance;
    std::size_t bestIndex = 0;
    for (std::size_t i = 0; i < colors_.size(); ++i) {
        const LGColor& entry = colors_[i];
        double distance =
            std::sqrt(std::pow(entry.red - color.red, 2) + std::pow(entry.green - color.green, 2) +
                      std::pow(entry.blue - color.blue, 2));
        if (distance < best) {
            best = distance;
            bestIndex = i;
        }
    }
    return bestIndex;
}

}  // namespace pindle
