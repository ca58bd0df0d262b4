#include "PindleCore/uploads/PNUploadingPersistentStorage.hpp"

#include <algorithm>

#include "platform/files/AppContainer.hpp"

namespace pindle {

PNUploadingPersistentStorage& PNUploadingPersistentStorage::shared() {
    static auto* storage = new PNUploadingPersistentStorage(FollowContainer{});
    return *storage;
}

PNUploadingPersistentStorage::PNUploadingPersistentStorage(FollowContainer) : path_(), files_() {}

PNUploadingPersistentStorage::PNUploadingPersistentStorage(std::string path,
                                                           platform::FileManager::Options options)
    : path_(std::move(path)), files_(std::move(options)) {}

std::string PNUploadingPersistentStorage::uploadingsPath() const {
    if (path_)
        return *path_;
    return platform::AppContainer::libraryDirectory() + "/" + folderName + "/" + fileName;
}

std::vector<PNUploadingStatePtr> PNUploadingPersistentStorage::uploadings() const {
    auto bytes = files_.contentsOfFile(uploadingsPath());
    if (!bytes)
        return {};
    auto records = PNUploadingState::decode(*bytes);
    if (!records)
        return {};
    return std::move(*records);
}

PNUploadingStatePtr PNUploadingPersistentStorage::uploading(const std::string& videoID) const {
    for (auto& record : uploadings())
        if (record->videoID() == videoID)
            return record;
    return nullptr;
}

void PNUploadingPersistentStorage::put(const PNUploadingStatePtr& record) {
    std::lock_guard lock(changeMutex_);
    auto records = uploadings();
    auto it = std::find_if(records.begin(), records.end(), [&](const auto& stored) {
        return stored->videoID() == record->videoID();
    });
    if (it != records.end())
        *it = record;
    else
        records.push_back(record);
    store(records);
}

void PNUploadingPersistentStorage::removeUploading(const std::string& videoID) {
    std::lock_guard lock(changeMutex_);
    auto records = uploadings();
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const auto& stored) { return stored->videoID() == videoID; });
    if (it != records.end())
        records.erase(it);
    store(records);
}

void PNUploadingPersistentStorage::store(const std::vector<PNUploadingStatePtr>& records) {
    auto bytes = PNUploadingState::encode(records);
    if (!bytes)
        return;
    const std::string path = uploadingsPath();
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        files_.createDirectory(path.substr(0, slash), true);
    files_.writeAtomically(path, *bytes);
}

void PNUploadingPersistentStorage::flushUploadingInfo() {
    std::lock_guard lock(changeMutex_);
    files_.removeItem(uploadingsPath());
}

}  // namespace pindle
