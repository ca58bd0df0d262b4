#include "tools/emulator/ByteRange.hpp"

#include <charconv>

namespace pindle::emulator {

namespace {

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

ByteRange ByteRange::resolve(std::optional<std::string_view> header, std::uint64_t total) {
    constexpr std::string_view unit = "bytes=";
    ByteRange whole;
    if (!header) {
        return whole;
    }
    auto rangeText = trim(*header);
    if (rangeText.substr(0, unit.size()) != unit) {
        return whole;
    }
    rangeText = trim(rangeText.substr(unit.size()));
    if (rangeText.find(',') != std::string_view::npos) {
        return whole;
    }
    auto dash = rangeText.find('-');
    if (dash == std::string_view::npos) {
        return whole;
    }
    auto firstText = trim(rangeText.substr(0, dash));
    auto lastText = trim(rangeText.substr(dash + 1));

    ByteRange unsatisfiable;
    unsatisfiable.kind = Kind::unsatisfiable;
    ByteRange range;
    range.kind = Kind::partial;

    if (firstText.empty()) {
        auto suffix = parseNumber(lastText);
        if (!suffix) {
            return whole;
        }
        if (*suffix == 0 || total == 0) {
            return unsatisfiable;
        }
        range.first = *suffix >= total ? 0 : total - *suffix;
        range.last = total - 1;
        return range;
    }

    auto first = parseNumber(firstText);
    if (!first) {
        return whole;
    }
    std::optional<std::uint64_t> last;
    if (!lastText.empty()) {
        last = parseNumber(lastText);
        if (!last || *last < *first) {
            return whole;
        }
    }
    if (*first >= total) {
        return unsatisfiable;
    }
    range.first = *first;
    range.last = (!last || *last >= total) ? total - 1 : *last;
    return range;
}

}  // namespace pindle::emulator
