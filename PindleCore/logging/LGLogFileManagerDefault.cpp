#include "PindleCore/logging/LGLogFileManagerDefault.hpp"

#include <algorithm>
#include <array>
#include <sstream>

#include "PindleCore/model/PNSafePath.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/Bundle.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/log/ExclusiveFile.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle {

namespace {

constexpr std::size_t minimumDatePartLength = 17;
// Gives up on a name after this many taken counters rather than looping for ever.
constexpr unsigned long maximumNameAttempts = 10000;

constexpr std::array<const char*, 4> fileProtectionLevels{
    "NSFileProtectionNone", "NSFileProtectionComplete", "NSFileProtectionCompleteUnlessOpen",
    "NSFileProtectionCompleteUntilFirstUserAuthentication"};

std::optional<std::string> validProtection(std::optional<std::string> level) {
    if (level && std::find(fileProtectionLevels.begin(), fileProtectionLevels.end(), *level) !=
                     fileProtectionLevels.end()) {
        return level;
    }
    return std::nullopt;
}

std::vector<std::string> splitAtBlanks(const std::string& text) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (c == ' ') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    pieces.push_back(piece);
    return pieces;
}

}  // namespace

LGLogFileManagerDefault::LGLogFileManagerDefault(
    std::optional<std::string> logsDirectory, std::optional<std::string> defaultFileProtectionLevel)
    : logsDirectory_(logsDirectory ? *logsDirectory : defaultLogsDirectory()),
      defaultFileProtectionLevel_(validProtection(std::move(defaultFileProtectionLevel))),
      applicationName_(platform::Bundle::identifier()),
      logFileDateFormatter_(fileNameDatePattern, platform::TimeZone::utc()) {}

std::string LGLogFileManagerDefault::defaultLogsDirectory() {
    return platform::AppContainer::cachesDirectory() + "/Logs";
}

std::string LGLogFileManagerDefault::logsDirectory() const {
    const auto& files = platform::FileManager::defaultManager();
    if (!files.fileExists(logsDirectory_)) {
        if (platform::Status status = files.createDirectory(logsDirectory_, true); !status.ok()) {
            std::string line = "LGFileLogManagerDefault: Error creating logsDirectory: " +
                               status.error().description() + "\n";
            std::string_view pieces[] = {line};
            platform::StandardError::writeGathered(pieces);
        }
    }
    return logsDirectory_;
}

bool LGLogFileManagerDefault::isLogFile(const std::string& fileName) const {
    const std::string extension = logFileExtension;
    if (!fileName.starts_with(applicationName_) || !fileName.ends_with(extension) ||
        fileName.size() < applicationName_.size() + extension.size()) {
        return false;
    }
    std::string datePart = fileName.substr(
        applicationName_.size(), fileName.size() - applicationName_.size() - extension.size());
    if (datePart.size() < minimumDatePartLength) {
        return false;
    }
    auto pieces = splitAtBlanks(datePart);
    if (pieces.size() != 3 && pieces.size() != 4) {
        return false;
    }
    return logFileDateFormatter_.date(pieces[1] + " " + pieces[2]).has_value();
}

std::vector<std::string> LGLogFileManagerDefault::unsortedLogFilePaths() const {
    std::string folder = logsDirectory();
    std::vector<std::string> paths;
    auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    if (!names) {
        return paths;
    }
    for (const auto& name : *names) {
        if (isLogFile(name)) {
            paths.push_back(folder + "/" + name);
        }
    }
    return paths;
}

std::vector<std::string> LGLogFileManagerDefault::unsortedLogFileNames() const {
    std::vector<std::string> names;
    for (const auto& info : unsortedLogFileInfos()) {
        names.push_back(info->fileName());
    }
    return names;
}

std::vector<LGLogFileInfoPtr> LGLogFileManagerDefault::unsortedLogFileInfos() const {
    std::vector<LGLogFileInfoPtr> infos;
    for (auto& path : unsortedLogFilePaths()) {
        infos.push_back(LGLogFileInfo::logFileWithPath(std::move(path)));
    }
    return infos;
}

std::vector<std::string> LGLogFileManagerDefault::sortedLogFilePaths() const {
    std::vector<std::string> paths;
    for (const auto& info : sortedLogFileInfos()) {
        paths.push_back(info->filePath());
    }
    return paths;
}

std::vector<std::string> LGLogFileManagerDefault::sortedLogFileNames() const {
    std::vector<std::string> names;
    for (const auto& info : sortedLogFileInfos()) {
        names.push_back(info->fileName());
    }
    return names;
}

std::vector<LGLogFileInfoPtr> LGLogFileManagerDefault::sortedLogFileInfos() const {
    auto infos = unsortedLogFileInfos();
    std::sort(infos.begin(), infos.end(), [](const auto& a, const auto& b) {
        if (LGLogFileInfo::reverseCompareByCreationDate(*a, *b)) {
            return true;
        }
        if (LGLogFileInfo::reverseCompareByCreationDate(*b, *a)) {
            return false;
        }
        // File times are coarse, so files made in one burst can share a creation date; their
        // names then tell the order: a longer counter, or a higher one, is newer.
        const std::string& nameA = a->fileName();
        const std::string& nameB = b->fileName();
        if (nameA.size() != nameB.size()) {
            return nameA.size() > nameB.size();
        }
        return nameA > nameB;
    });
    return infos;
}

std::string LGLogFileManagerDefault::newLogFileName() const {
    return applicationName_ + " " + logFileDateFormatter_.string(platform::Date::now()) +
           logFileExtension;
}

std::optional<std::string> LGLogFileManagerDefault::createNewLogFile() {
    const std::string folder = logsDirectory();
    const std::string baseName = newLogFileName();
    const std::string stem =
        baseName.substr(0, baseName.size() - std::string(logFileExtension).size());
    for (unsigned long attempt = 1; attempt <= maximumNameAttempts; ++attempt) {
        std::string name =
            attempt == 1 ? baseName : stem + " " + std::to_string(attempt) + logFileExtension;
        // The name starts with the host's bundle identifier, which may hold anything.
        const std::optional<std::string> path = PNSafePath::inFolder(folder, name);
        if (!path) {
            return std::nullopt;
        }
        const platform::Status created = platform::ExclusiveFile::create(*path);
        if (created.ok()) {
            deleteOldLogFiles();
            return *path;
        }
        if (!platform::ExclusiveFile::isCollision(created.error())) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void LGLogFileManagerDefault::deleteOldLogFiles() {
    auto infos = sortedLogFileInfos();
    std::optional<std::size_t> firstToDelete;
    std::uint64_t quota = logFilesDiskQuota_.load();
    if (quota != 0) {
        std::uint64_t used = 0;
        for (std::size_t i = 0; i < infos.size(); ++i) {
            used += infos[i]->fileSize();
            if (used > quota) {
                firstToDelete = i;
                break;
            }
        }
    }
    std::uint64_t maximumCount = maximumNumberOfLogFiles_.load();
    if (maximumCount != 0) {
        auto byCount = static_cast<std::size_t>(maximumCount);
        firstToDelete = firstToDelete ? std::min(*firstToDelete, byCount) : byCount;
    }
    if (!firstToDelete) {
        return;
    }
    std::size_t first = *firstToDelete;
    if (first == 0 && !infos.empty() && !infos[0]->isArchived()) {
        first = 1;
    }
    for (std::size_t i = first; i < infos.size(); ++i) {
        platform::FileManager::defaultManager().removeItem(infos[i]->filePath()).ignoreError();
    }
}

}  // namespace pindle
