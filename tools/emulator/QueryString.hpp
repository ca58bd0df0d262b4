#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindle::emulator {

// The decoded name-value pairs of a raw query string, in their order. Names and values are
// percent-decoded; "+" stays a plus sign, because the clients of the backend escape a space
// as %20 and Base64 values may hold a literal "+".
// Thread-safety: a plain value.
class QueryString {
  public:
    using Pair = std::pair<std::string, std::string>;

    explicit QueryString(std::string_view rawQuery);

    // The value of the first pair of that name.
    std::optional<std::string> get(std::string_view name) const;
    // The values of every pair of that name, in order ("tags[]" gives the array form).
    std::vector<std::string> all(std::string_view name) const;
    // The pairs named prefix "[" key "]", as (key, value): the dictionary form.
    std::vector<Pair> bracketed(std::string_view prefix) const;

    const std::vector<Pair>& pairs() const { return pairs_; }

  private:
    std::vector<Pair> pairs_;
};

}  // namespace pindle::emulator
