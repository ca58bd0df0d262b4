#include "tools/emulator/Headers.hpp"

#include <algorithm>
#include <cctype>

namespace pindle::emulator {

Headers::Headers(std::initializer_list<Field> fields) : fields_(fields) {}

void Headers::add(std::string name, std::string value) {
    fields_.emplace_back(std::move(name), std::move(value));
}

void Headers::set(std::string name, std::string value) {
    remove(name);
    add(std::move(name), std::move(value));
}

void Headers::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& field) { return sameName(field.first, name); });
}

std::optional<std::string> Headers::get(std::string_view name) const {
    auto it = std::find_if(fields_.begin(), fields_.end(),
                           [&](const Field& field) { return sameName(field.first, name); });
    if (it == fields_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool Headers::sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace pindle::emulator
