// LGReport: how the file logger and its files report their own failures (a log file that
// cannot be written, renamed or removed): a line on standard error, since the log itself is
// what failed.
//
// Thread-safety: safe from any thread; each line goes out in one write.
#pragma once

#include <string>
#include <string_view>

#include "platform/log/StandardError.hpp"

namespace pindle {

inline void LGReport(const std::string& line) {
    std::string text = line + "\n";
    std::string_view pieces[] = {text};
    platform::StandardError::writeGathered(pieces);
}

}  // namespace pindle
