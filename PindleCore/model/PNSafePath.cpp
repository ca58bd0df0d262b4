#include "PindleCore/model/PNSafePath.hpp"

#include "platform/foundation/URL.hpp"

namespace pindle {

bool PNSafePath::isSafeName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > maximumNameLength)
        return false;
    return name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool PNSafePath::isSafeIdentifier(std::string_view identifier) {
    if (identifier.empty() || identifier == "." || identifier == "..")
        return false;
    if (identifier.find_first_of("/?#%") != std::string_view::npos)
        return false;
    // The strict URL parser refuses blanks, control and non-ASCII bytes and the characters a
    // path cannot hold unescaped.
    return platform::URL::fromString("http://h/" + std::string(identifier)).has_value();
}

std::optional<std::string> PNSafePath::inFolder(std::string_view folder, std::string_view name) {
    if (!isSafeName(name))
        return std::nullopt;
    std::string path(folder);
    path += '/';
    path += name;
    return path;
}

std::optional<std::string> PNSafePath::forIdentifier(std::string_view folder,
                                                     std::string_view identifier,
                                                     std::string_view suffix) {
    if (!isSafeIdentifier(identifier))
        return std::nullopt;
    std::string name(identifier);
    name += suffix;
    return inFolder(folder, name);
}

}  // namespace pindle
