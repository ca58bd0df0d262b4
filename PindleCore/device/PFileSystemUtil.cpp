#include "PindleCore/device/PFileSystemUtil.hpp"

#include "PindleCore/logging/PLog.hpp"
#include "platform/files/FileHandle.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle::legacy {

namespace {

const platform::FileManager& files() {
    return platform::FileManager::defaultManager();
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

void PFileSystemUtil::printError(const std::optional<platform::Error>& error) {
    if (!error)
        return;
    PLOG_INFO(PLog_FileSystem, "PLog_FileSystem Unresolved error in PFileSystemUtil %s",
              error->description().c_str());
}

std::uint64_t PFileSystemUtil::getFileSize(const std::string& path) {
    if (!files().fileExists(path))
        return 0;
    platform::Error error;
    std::optional<platform::FileAttributes> attributes = files().attributesOfItem(path, &error);
    if (!attributes) {
        printError(error);
        return 0;
    }
    return attributes->size;
}

std::uint64_t PFileSystemUtil::getFolderSize(const std::string& path) {
    std::uint64_t total = 0;
    for (const std::string& item : recursiveItemsInDirectory(path)) {
        platform::Error error;
        if (auto attributes = files().attributesOfItem(item, &error)) {
            total += attributes->size;
        } else {
            printError(error);
        }
    }
    return total;
}

void PFileSystemUtil::deletePath(const std::string& path) {
    printError(files().removeItem(path));
}

std::vector<std::string> PFileSystemUtil::recursiveItemsInDirectory(const std::string& path) {
    std::vector<std::string> items;
    platform::Error error;
    std::optional<std::vector<std::string>> relative = files().subpathsOfDirectory(path, &error);
    if (!relative) {
        printError(error);
        return items;
    }
    for (const std::string& item : *relative) items.push_back(path + "/" + item);
    return items;
}

std::vector<std::string> PFileSystemUtil::nonRecursiveItemsInDirectoryInternal(
    const std::string& path) {
    std::vector<std::string> names;
    for (const std::string& name :
         files().contentsOfDirectory(path).value_or(std::vector<std::string>{})) {
        if (files().fileExists(path + "/" + name))
            names.push_back(name);
    }
    return names;
}

std::vector<std::string> PFileSystemUtil::nonRecursiveItemsInDirectory(const std::string& path) {
    return nonRecursiveItemsInDirectory(path, "");
}

std::vector<std::string> PFileSystemUtil::nonRecursiveItemsInDirectory(const std::string& path,
                                                                       const std::string& prefix) {
    std::vector<std::string> items;
    for (const std::string& name : nonRecursiveItemsInDirectoryInternal(path)) {
        if (name.compare(0, prefix.size(), prefix) == 0)
            items.push_back(path + "/" + name);
    }
    return items;
}

void PFileSystemUtil::createFolderIfNotExist(const std::string& path) {
    if (files().fileExists(path))
        return;
    printError(files().createDirectory(path, true));
}

void PFileSystemUtil::clearFolder(const std::string& path) {
    for (const std::string& item : recursiveItemsInDirectory(path)) {
        printError(files().removeItem(item));
    }
}

bool PFileSystemUtil::fileExist(const std::string& path) {
    return files().fileExists(path);
}

void PFileSystemUtil::createFile(const std::string& path, const platform::Data& data) {
    const std::string parent = parentOf(path);
    if (!parent.empty() && !files().fileExists(parent))
        files().createDirectory(parent, true).ignoreError();
    if (files().fileExists(path))
        files().removeItem(path).ignoreError();
    files().createFile(path, data).ignoreError();
}

void PFileSystemUtil::appendFile(const std::string& path, const platform::Data& data) {
    auto handle = platform::FileHandle::open(path, platform::FileHandle::Mode::writing);
    if (!handle)
        return;
    handle->seekToEnd();
    handle->write(data).ignoreError();
}

bool PFileSystemUtil::moveFile(const std::string& from, const std::string& to) {
    return files().moveItem(from, to).ok();
}

platform::Data PFileSystemUtil::readDataFromFile(const std::string& path, std::uint64_t location,
                                                 std::size_t length) {
    auto handle = platform::FileHandle::open(path, platform::FileHandle::Mode::reading);
    if (!handle)
        return {};
    return handle->read(location, length).value_or(platform::Data{});
}

std::optional<platform::Data> PFileSystemUtil::readDataFromFile(const std::string& path) {
    return files().contentsOfFile(path);
}

}  // namespace pindle::legacy
