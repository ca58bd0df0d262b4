#include "PindleCore/uploads/PNUploadingPersistentStorage.hpp"

#include <algorithm>
#include <utility>

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
    // Named without making the folders: a read finds no file, and write() makes them.
    return platform::AppContainer::libraryPath() + "/" + folderName + "/" + fileName;
}

PNUploadingPersistentStorage::FileStamp PNUploadingPersistentStorage::stampOf(
    const std::string& path) const {
    return FileStamp{path, files_.versionOfItem(path)};
}

template <class Use>
decltype(auto) PNUploadingPersistentStorage::withRecords(Use&& use) const {
    const std::string path = uploadingsPath();
    FileStamp stamp = stampOf(path);
    {
        std::lock_guard lock(cacheMutex_);
        if (cached_ && stamp == stamp_)
            return use(std::as_const(*cached_));
    }
    std::vector<PNUploadingStatePtr> records;
    if (auto bytes = files_.contentsOfFile(path)) {
        if (auto decoded = PNUploadingState::decode(*bytes))
            records = std::move(*decoded);
    }
    std::lock_guard lock(cacheMutex_);
    // Remembered only when the file did not change while it was read.
    if (stampOf(path) == stamp) {
        cached_ = std::move(records);
        stamp_ = std::move(stamp);
        pendingProgress_ = false;
        return use(std::as_const(*cached_));
    }
    return use(std::as_const(records));
}

std::vector<PNUploadingStatePtr> PNUploadingPersistentStorage::uploadings() const {
    return withRecords([](const std::vector<PNUploadingStatePtr>& records) {
        std::vector<PNUploadingStatePtr> copies;
        copies.reserve(records.size());
        for (const auto& record : records)
            copies.push_back(std::make_shared<PNUploadingState>(*record));
        return copies;
    });
}

PNUploadingStatePtr PNUploadingPersistentStorage::uploading(const std::string& videoID) const {
    PNStoredUploadingStatePtr stored = storedUploading(videoID);
    return stored ? std::make_shared<PNUploadingState>(*stored) : nullptr;
}

PNStoredUploadingStatePtr PNUploadingPersistentStorage::storedUploading(
    const std::string& videoID) const {
    return withRecords([&](const std::vector<PNUploadingStatePtr>& records) {
        for (const auto& record : records)
            if (record->videoID() == videoID)
                return PNStoredUploadingStatePtr(record);
        return PNStoredUploadingStatePtr();
    });
}

bool PNUploadingPersistentStorage::contains(const std::string& videoID) const {
    return withRecords([&](const std::vector<PNUploadingStatePtr>& records) {
        return std::any_of(records.begin(), records.end(),
                           [&](const auto& record) { return record->videoID() == videoID; });
    });
}

void PNUploadingPersistentStorage::put(const PNUploadingStatePtr& record) {
    put(record, false);
}

void PNUploadingPersistentStorage::putProgress(const PNUploadingStatePtr& record) {
    put(record, true);
}

void PNUploadingPersistentStorage::put(const PNUploadingStatePtr& record, bool progressOnly) {
    std::lock_guard lock(changeMutex_);
    // The list shares the records it keeps with the cache; only the new one is copied, as the
    // caller may go on changing its own.
    auto records = withRecords([](const auto& stored) { return stored; });
    auto copy = std::make_shared<PNUploadingState>(*record);
    auto it = std::find_if(records.begin(), records.end(), [&](const auto& stored) {
        return stored->videoID() == copy->videoID();
    });
    if (it != records.end())
        *it = std::move(copy);
    else
        records.push_back(std::move(copy));
    if (progressOnly) {
        const std::string path = uploadingsPath();
        const platform::Clock::Duration now = platform::Clock::current()->uptime();
        const auto interval = std::chrono::duration_cast<platform::Clock::Duration>(
            std::chrono::duration<double>(progressWriteInterval));
        std::lock_guard cacheLock(cacheMutex_);
        // A reading before the last write's (another clock installed meanwhile) is no reason
        // to hold the write back.
        const bool recent = lastWrite_ && now >= *lastWrite_ && now - *lastWrite_ < interval;
        if (recent && cached_ && stamp_.path == path) {
            cached_ = std::move(records);
            pendingProgress_ = true;
            return;
        }
    }
    write(std::move(records));
}

void PNUploadingPersistentStorage::write(std::vector<PNUploadingStatePtr> records) {
    auto bytes = PNUploadingState::encode(records);
    if (!bytes)
        return;
    const std::string path = uploadingsPath();
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        files_.createDirectory(path.substr(0, slash), true);
    const bool written = !files_.writeAtomically(path, *bytes);
    std::lock_guard lock(cacheMutex_);
    if (written) {
        cached_ = std::move(records);
        stamp_ = stampOf(path);
    } else {
        cached_.reset();
    }
    pendingProgress_ = false;
    lastWrite_ = platform::Clock::current()->uptime();
}

void PNUploadingPersistentStorage::removeUploading(const std::string& videoID) {
    std::lock_guard lock(changeMutex_);
    auto records = withRecords([](const auto& stored) { return stored; });
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const auto& stored) { return stored->videoID() == videoID; });
    if (it != records.end())
        records.erase(it);
    write(std::move(records));
}

void PNUploadingPersistentStorage::store(const std::vector<PNUploadingStatePtr>& records) {
    std::lock_guard lock(changeMutex_);
    std::vector<PNUploadingStatePtr> copies;
    copies.reserve(records.size());
    for (const auto& record : records)
        copies.push_back(std::make_shared<PNUploadingState>(*record));
    write(std::move(copies));
}

void PNUploadingPersistentStorage::flushUploadingInfo() {
    std::lock_guard lock(changeMutex_);
    files_.removeItem(uploadingsPath());
    std::lock_guard cacheLock(cacheMutex_);
    cached_.reset();
    pendingProgress_ = false;
}

}  // namespace pindle
