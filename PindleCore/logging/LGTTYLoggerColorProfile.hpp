// LGTTYLoggerColorProfile: the colours the console logger gives the lines of one flag mask
// and context (or of one tag): the escape sequences written before and after the line.
//
// Thread-safety: immutable after construction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "PindleCore/logging/LGColor.hpp"
#include "PindleCore/logging/LGLogFlag.hpp"
#include "PindleCore/logging/LGTTYColorTable.hpp"

namespace pindle {

class LGTTYLoggerColorProfile {
  public:
    // A profile context that matches any message context.
    static constexpr std::int64_t anyContext = 0x7fffffff;

    // Codes follow the table's mode: ANSI codes of the nearest table colour, the RGB escape
    // of the console plug-in, or nothing. A missing colour gives an empty code.
    LGTTYLoggerColorProfile(std::optional<LGColor> foreground, std::optional<LGColor> background,
                            LGLogFlag mask, std::int64_t context, const LGTTYColorTable& table);

    LGLogFlag mask() const { return mask_; }
    std::int64_t context() const { return context_; }
    const std::string& fgCode() const { return fgCode_; }
    const std::string& bgCode() const { return bgCode_; }
    const std::string& resetCode() const { return resetCode_; }

    std::string description() const;

  private:
    LGLogFlag mask_;
    std::int64_t context_;
    std::uint8_t fg_r_ = 0, fg_g_ = 0, fg_b_ = 0;
    std::uint8_t bg_r_ = 0, bg_g_ = 0, bg_b_ = 0;
    std::string fgCodeRaw_;
    std::string bgCodeRaw_;
    std::string fgCode_;
    std::string bgCode_;
    std::string resetCode_;
};

}  // namespace pindle
