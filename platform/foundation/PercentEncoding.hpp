// PercentEncoding: escaping text for URLs as "%XX" (upper-case hexadecimal) per UTF-8 byte.
//
// Thread-safety: stateless; every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/CharacterSet.hpp"

namespace pindle::platform {

class PercentEncoding {
  public:
    PercentEncoding() = delete;

    // `text` with every byte that is not in `allowed` written as '%' and two upper-case
    // hexadecimal digits (a blank becomes "%20", never '+').
    static std::string encode(std::string_view text, const CharacterSet& allowed);
    // `text` with every "%XX" decoded; nothing when an escape is malformed or the result
    // is not valid UTF-8.
    static std::optional<std::string> decode(std::string_view text);
};

}  // namespace pindle::platform
