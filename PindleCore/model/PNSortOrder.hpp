// PNSortOrder: the direction in which the backend orders a list; its text goes on the wire.
#pragma once

#include <optional>
#include <string_view>

namespace pindle {

enum class PNSortOrder { asc, desc };

// "asc" or "desc".
constexpr std::string_view rawValue(PNSortOrder order) {
    return order == PNSortOrder::asc ? "asc" : "desc";
}

// The order named exactly "asc" or "desc"; nothing otherwise.
constexpr std::optional<PNSortOrder> sortOrderFromRawValue(std::string_view text) {
    if (text == "asc")
        return PNSortOrder::asc;
    if (text == "desc")
        return PNSortOrder::desc;
    return std::nullopt;
}

}  // namespace pindle
