// LGTTYColorTable: how the console logger writes colours: the terminal's colour mode, and
// for ANSI terminals the table of colours it can show with each one's escape codes.
//
// The mode follows the environment: "XcodeColors" set to "YES" selects the console plug-in
// mode (escapes carry the RGB value itself); otherwise a "TERM" that contains "color"
// selects ANSI with 256 colours when it also contains "256", else 16. Otherwise no colours.
//
// Thread-safety: immutable after construction.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/logging/LGColor.hpp"

namespace pindle {

class LGTTYColorTable {
  public:
    enum class Mode { none, ansi16, ansi256, xcodeColors };

    static Mode modeForEnvironment(const std::optional<std::string>& xcodeColors,
                                   const std::optional<std::string>& term);

    // The table for `mode`: 16 or 240 entries (terminal colours 16 to 255) for the ANSI
    // modes, empty for the others.
    explicit LGTTYColorTable(Mode mode);

    Mode mode() const { return mode_; }
    bool isANSI() const { return mode_ == Mode::ansi16 || mode_ == Mode::ansi256; }
    std::size_t size() const { return colors_.size(); }

    // The entry nearest to `color` (Euclidean over red, green and blue; the first of equal
    // entries wins); 0 for an empty table.
    std::size_t codeIndexForColor(const LGColor& color) const;
    // Escape-code bodies of an entry, such as "31m" or "38;5;21m".
    const std::string& foregroundCode(std::size_t index) const { return foreground_.at(index); }
    const std::string& backgroundCode(std::size_t index) const { return background_.at(index); }
    const LGColor& color(std::size_t index) const { return colors_.at(index); }

  private:
    void build16();
    void build256();

    Mode mode_;
    std::vector<std::string> foreground_;
    std::vector<std::string> background_;
    std::vector<LGColor> colors_;
};

}  // namespace pindle
