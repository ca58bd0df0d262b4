#include "tools/emulator/QueryString.hpp"

#include "tools/emulator/Router.hpp"

namespace pindle::emulator {

QueryString::QueryString(std::string_view rawQuery) {
    while (!rawQuery.empty()) {
        auto amp = rawQuery.find('&');
        auto piece = rawQuery.substr(0, amp);
        rawQuery = amp == std::string_view::npos ? std::string_view() : rawQuery.substr(amp + 1);
        if (piece.empty()) {
            continue;
        }
        auto equals = piece.find('=');
        auto name = piece.substr(0, equals);
        auto value =
            equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
        pairs_.emplace_back(Router::percentDecode(name), Router::percentDecode(value));
    }
}

std::optional<std::string> QueryString::get(std::string_view name) const {
    for (const auto& [key, value] : pairs_) {
        if (key == name) {
            return value;
        }
    }
    return std::nullopt;
}

std::vector<std::string> QueryString::all(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : pairs_) {
        if (key == name) {
            values.push_back(value);
        }
    }
    return values;
}

std::vector<QueryString::Pair> QueryString::bracketed(std::string_view prefix) const {
    std::vector<Pair> found;
    for (const auto& [key, value] : pairs_) {
        if (key.size() > prefix.size() + 2 && key.compare(0, prefix.size(), prefix) == 0 &&
            key[prefix.size()] == '[' && key.back() == ']') {
            found.emplace_back(key.substr(prefix.size() + 1, key.size() - prefix.size() - 2),
                               value);
        }
    }
    return found;
}

}  // namespace pindle::emulator
