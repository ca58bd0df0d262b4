// StringsFile: reads the text of a localised strings table, lines of the form
//   "KEY" = "text";
// with C and C++ comments between entries and the escapes \" \\ \n \t \r and \uXXXX (a UTF-16
// unit; surrogate pairs are joined) inside the quotes. A later entry of the same key wins.
//
// Thread-safety: stateless; safe from any thread. No callbacks.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::platform {

class StringsFile {
  public:
    StringsFile() = delete;

    // The table, or nothing when the text is not a strings table (the line of the first fault in
    // `errorLine` when given).
    static std::optional<std::map<std::string, std::string>> parse(std::string_view text,
                                                                   int* errorLine = nullptr);
};

}  // namespace pindle::platform
