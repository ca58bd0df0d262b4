#include "PindleCore/model/PNFileSystemHelper.hpp"

#include <limits>
#include <string>

#include "platform/files/FileManager.hpp"
#include "platform/foundation/StandardOutput.hpp"

namespace pindle {

namespace {

std::int64_t signedSize(std::uint64_t size) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return size <= largest ? static_cast<std::int64_t>(size) : 0;
}

// Error::localizedDescription() looks its entry up in a temporary copy of the user info and
// reads it after the copy is gone; take the entry from the error's own user info instead.
std::string descriptionOf(const platform::Error& error) {
    const auto& info = error.userInfo();
    const auto entry = info.find(platform::Error::localizedDescriptionKey);
    if (entry != info.end()) {
        if (const std::string* text = entry->second.asString())
            return *text;
    }
    return error.localizedDescription();
}

}  // namespace

std::int64_t PNFileSystemHelper::fileSize(const platform::URL& url) {
    return fileSize(url.path());
}

std::int64_t PNFileSystemHelper::fileSize(const std::string& path) {
    const auto attributes = platform::FileManager::defaultManager().attributesOfItem(path);
    return attributes ? signedSize(attributes->size) : 0;
}

std::int64_t PNFileSystemHelper::directorySize(const platform::URL& url) {
    const auto& files = platform::FileManager::defaultManager();
    auto walk = files.enumerator(url.path(),
                                 [](const std::string&, const platform::Error&) { return true; });
    if (!walk)
        return 0;

    const std::string root = walk->root() == "/" ? "" : walk->root();
    std::int64_t total = 0;
    while (auto relativePath = walk->nextObject()) {
        platform::Error error;
        const auto attributes = files.attributesOfItem(root + "/" + *relativePath, &error);
        if (!attributes) {
            platform::StandardOutput::writeLine(descriptionOf(error));
            continue;
        }
        total += signedSize(attributes->size);
    }
    return total;
}

}  // namespace pindle
