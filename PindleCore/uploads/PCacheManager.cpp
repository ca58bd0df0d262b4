#include "PindleCore/uploads/PCacheManager.hpp"

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/legacy/PSystem.hpp"
#include "PindleCore/model/PNSafePath.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle::legacy {

PCacheManager& PCacheManager::getInstance() {
    static auto* manager = new PCacheManager;
    return *manager;
}

std::string PCacheManager::cacheVideoDirectoryPath() const {
    std::string folder = cacheVideoDirectoryLocation();
    platform::FileManager::defaultManager().createDirectory(folder, true).ignoreError();
    return folder;
}

std::string PCacheManager::cacheVideoDirectoryLocation() const {
    // The preferences' folder, asked for on every call so a moved application home is
    // followed; Documents/psdk when a host cleared it.
    if (auto folder =
            PSystem::preferences().cacheVideoDirectoryPath(PNTokenObject::sharedInstance()))
        return std::move(*folder);
    return platform::AppContainer::documentsPath() + "/" + PNLocalVideoCache::folderName;
}

std::optional<std::string> PCacheManager::pathForMOVVideoCache(const std::string& videoID) const {
    return PNSafePath::forIdentifier(cacheVideoDirectoryPath(), videoID, ".mov");
}

std::string PCacheManager::conversionDirectoryPath() const {
    const std::string folder = cacheVideoDirectoryPath() + "/converting";
    platform::FileManager::defaultManager().createDirectory(folder, true).ignoreError();
    return folder;
}

std::optional<std::string> PCacheManager::pathForConversionOutput(
    const std::string& videoID) const {
    return PNSafePath::forIdentifier(conversionDirectoryPath(), videoID, ".mp4");
}

std::optional<std::string> PCacheManager::pathForVideoCache(const std::string& videoID,
                                                            const std::string& resolution) const {
    return PNSafePath::forIdentifier(cacheVideoDirectoryPath(), videoID, "_" + resolution + ".mp4");
}

std::optional<std::string> PCacheManager::locationForVideoCache(
    const std::string& videoID, const std::string& resolution) const {
    return PNSafePath::forIdentifier(cacheVideoDirectoryLocation(), videoID,
                                     "_" + resolution + ".mp4");
}

std::optional<std::string> PCacheManager::pathPatternForVideoCache(
    const std::string& videoID) const {
    return PNSafePath::forIdentifier(cacheVideoDirectoryPath(), videoID, "_%@.mp4");
}

std::vector<std::string> PCacheManager::resolutionsForVideoCache(const std::string& videoID) const {
    std::vector<std::string> result;
    if (!PNSafePath::isSafeIdentifier(videoID))
        return result;
    auto subpaths =
        platform::FileManager::defaultManager().subpathsOfDirectory(cacheVideoDirectoryPath());
    if (!subpaths)
        return result;
    const std::string marker = videoID + "_";
    for (const auto& subpath : *subpaths) {
        const auto at = subpath.find(marker);
        if (at == std::string::npos)
            continue;
        std::string rest = subpath.substr(at + marker.size());
        const auto slash = rest.rfind('/');
        const auto componentStart = slash == std::string::npos ? 0 : slash + 1;
        const auto dot = rest.rfind('.');
        // A leading dot starts a name, not an extension.
        if (dot != std::string::npos && dot > componentStart)
            rest.erase(dot);
        result.push_back(std::move(rest));
    }
    return result;
}

std::vector<std::string> PCacheManager::pathesForVideoCache(const std::string& videoID) const {
    std::vector<std::string> paths;
    for (const auto& resolution : resolutionsForVideoCache(videoID))
        if (auto path = pathForVideoCache(videoID, resolution))
            paths.push_back(std::move(*path));
    return paths;
}

}  // namespace pindle::legacy
