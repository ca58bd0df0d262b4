#include "PindleCore/model/PNSafePath.hpp"

#include <string>

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
    // A running upload names the same video's files several times a range, and the answer
    // depends on the text alone: the last identifier found safe on this thread skips the parse.
    thread_local std::string lastSafe;
    if (identifier == lastSafe)
        return true;
    // The strict URL parser refuses blanks, control and non-ASCII bytes and the characters a
    // path cannot hold unescaped.
    std::string probe = "http://h/";
    probe += identifier;
    if (!platform::URL::fromString(probe).has_value())
        return false;
    lastSafe.assign(identifier);
    return true;
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
