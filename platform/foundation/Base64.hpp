// Base64: the standard alphabet with '=' padding and no line breaks.
//
// Thread-safety: stateless; every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.hpp"

namespace pindle::platform {

class Base64 {
  public:
    Base64() = delete;

    static std::string encode(const Data& data);
    static std::string encode(std::string_view bytes);
    // The bytes of `text`, or nothing when it is not padded standard Base64 (wrong length,
    // a character outside the alphabet, blanks or line breaks, misplaced padding, or
    // non-zero bits in the unused part of the last group).
    static std::optional<Data> decode(std::string_view text);
};

}  // namespace pindle::platform
