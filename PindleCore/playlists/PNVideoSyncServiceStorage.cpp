#include "PindleCore/playlists/PNVideoSyncServiceStorage.hpp"

#include <algorithm>
#include <filesystem>

#include "PindleCore/playlists/PNPendingChangesParser.hpp"
#include "platform/files/AppContainer.hpp"

namespace pindle {

const std::shared_ptr<PNVideoSyncServiceStorage>& PNVideoSyncServiceStorage::shared() {
    static auto* storage = new std::shared_ptr<PNVideoSyncServiceStorage>(
        new PNVideoSyncServiceStorage(DefaultLocation{}, {}));
    return *storage;
}

PNVideoSyncServiceStorage::PNVideoSyncServiceStorage(std::string fileURL,
                                                     platform::FileManager::Options options)
    : fixedFileURL_(std::move(fileURL)), fileManager_(std::move(options)) {}

PNVideoSyncServiceStorage::PNVideoSyncServiceStorage(DefaultLocation,
                                                     platform::FileManager::Options options)
    : fileManager_(std::move(options)) {}

std::string PNVideoSyncServiceStorage::defaultFileURL() {
    return platform::AppContainer::libraryDirectory() + "/" + folderName + "/" + fileName;
}

std::string PNVideoSyncServiceStorage::fileURL() const {
    return fixedFileURL_ ? *fixedFileURL_ : defaultFileURL();
}

std::vector<PNPendingChange> PNVideoSyncServiceStorage::pending() const {
    std::lock_guard lock(mutex_);
    auto data = fileManager_.contentsOfFile(fileURL());
    if (!data)
        return {};
    return PNPendingChangesParser::shared().decode(*data).value_or(std::vector<PNPendingChange>{});
}

bool PNVideoSyncServiceStorage::add(const PNPendingChange& change) {
    std::lock_guard lock(mutex_);
    auto changes = pending();
    auto older = std::find_if(changes.begin(), changes.end(), [&](const PNPendingChange& stored) {
        return BelongsToSameEntityAndValue(stored, change);
    });
    if (older != changes.end())
        changes.erase(older);
    changes.push_back(change);
    return store(changes);
}

bool PNVideoSyncServiceStorage::add(const PNPendingChangeProtocol& change) {
    if (auto concrete = dynamic_cast<const PNPendingChange*>(&change))
        return add(*concrete);
    return false;
}

bool PNVideoSyncServiceStorage::remove(const PNPendingChange& change) {
    std::lock_guard lock(mutex_);
    auto changes = pending();
    auto match = std::find(changes.begin(), changes.end(), change);
    if (match != changes.end())
        changes.erase(match);
    return store(changes);
}

bool PNVideoSyncServiceStorage::remove(const PNPendingChangeProtocol& change) {
    if (auto concrete = dynamic_cast<const PNPendingChange*>(&change))
        return remove(*concrete);
    return false;
}

void PNVideoSyncServiceStorage::flushStorage() {
    std::lock_guard lock(mutex_);
    fileManager_.removeItem(fileURL()).ignoreError();
}

bool PNVideoSyncServiceStorage::store(const std::vector<PNPendingChange>& changes) const {
    const std::string path = fileURL();
    fileManager_.createDirectory(std::filesystem::path(path).parent_path().string(), true)
        .ignoreError();
    auto data = PNPendingChangesParser::shared().encode(changes);
    if (!data)
        return false;
    return fileManager_.writeAtomically(path, *data).ok();
}

}  // namespace pindle
