#include "PindleCore/uploads/private/PNUploadingPersistentStorage.hpp"

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
    overlayUnwritten(records);
    // Remembered only when the file did not change while it was read.
    if (stampOf(path) == stamp) {
        cached_ = std::move(records);
        stamp_ = std::move(stamp);
        return use(std::as_const(*cached_));
    }
    return use(std::as_const(records));
}

void PNUploadingPersistentStorage::overlayUnwritten(
    std::vector<PNUploadingStatePtr>& records) const {
    for (auto pending = unwritten_.begin(); pending != unwritten_.end();) {
        const PNUploadingState& mine = *pending->second;
        auto found = std::find_if(records.begin(), records.end(), [&](const auto& record) {
            return record->videoID() == mine.videoID();
        });
        // The count belongs to one session of one resolution; a record that moved on (or went)
        // meanwhile makes it meaningless.
        const bool sameSession =
            found != records.end() &&
            (*found)->urlToUpload().has_value() == mine.urlToUpload().has_value() &&
            (!mine.urlToUpload() ||
             (*found)->urlToUpload()->absoluteString() == mine.urlToUpload()->absoluteString()) &&
            (*found)->resolutionsUploaded() == mine.resolutionsUploaded();
        if (!sameSession) {
            pending = unwritten_.erase(pending);
            continue;
        }
        if ((*found)->bytesUploaded() < mine.bytesUploaded()) {
            auto laid = std::make_shared<PNUploadingState>(**found);
            laid->setBytesUploaded(mine.bytesUploaded());
            *found = std::move(laid);
        }
        ++pending;
    }
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

namespace {

// Puts `record` in the place of the record of its videoID, else at the end. The list shares
// the records it keeps with the cache; only the new one is copied, as the caller may go on
// changing its own.
void replaceOrAppend(std::vector<PNUploadingStatePtr>& records, const PNUploadingState& record) {
    auto copy = std::make_shared<PNUploadingState>(record);
    auto it = std::find_if(records.begin(), records.end(), [&](const auto& stored) {
        return stored->videoID() == copy->videoID();
    });
    if (it != records.end())
        *it = std::move(copy);
    else
        records.push_back(std::move(copy));
}

}  // namespace

std::unique_ptr<platform::FileLock> PNUploadingPersistentStorage::lockRecords(
    bool makeFolder) const {
    const std::string path = uploadingsPath();
    const auto slash = path.rfind('/');
    if (makeFolder && slash != std::string::npos && slash > 0)
        files_.createDirectory(path.substr(0, slash), true).ignoreError();
    return platform::FileLock::acquire(path + lockSuffix);
}

void PNUploadingPersistentStorage::put(const PNUploadingStatePtr& record, bool progressOnly) {
    std::lock_guard lock(changeMutex_);
    if (progressOnly && holdBack(record))
        return;
    const auto locked = lockRecords();
    auto records = withRecords([](const auto& stored) { return stored; });
    replaceOrAppend(records, *record);
    write(std::move(records));
}

bool PNUploadingPersistentStorage::holdBack(const PNUploadingStatePtr& record) {
    const std::string path = uploadingsPath();
    const platform::Clock::Duration now = platform::Clock::current()->uptime();
    const auto interval = std::chrono::duration_cast<platform::Clock::Duration>(
        std::chrono::duration<double>(progressWriteInterval));
    {
        std::lock_guard cacheLock(cacheMutex_);
        // A reading before the last write's (another clock installed meanwhile) is no reason
        // to hold the write back.
        const bool recent = lastWrite_ && now >= *lastWrite_ && now - *lastWrite_ < interval;
        if (!recent || !cached_ || stamp_.path != path)
            return false;
    }
    auto records = withRecords([](const auto& stored) { return stored; });
    // A record the file does not hold is no progress of one it holds: written at once.
    if (std::none_of(records.begin(), records.end(),
                     [&](const auto& stored) { return stored->videoID() == record->videoID(); }))
        return false;
    replaceOrAppend(records, *record);
    std::lock_guard cacheLock(cacheMutex_);
    if (!cached_ || stamp_.path != path)
        return false;
    cached_ = std::move(records);
    unwritten_[record->videoID()] = std::make_shared<PNUploadingState>(*record);
    return true;
}

void PNUploadingPersistentStorage::write(std::vector<PNUploadingStatePtr> records) {
    auto bytes = PNUploadingState::encode(records);
    if (!bytes)
        return;
    const std::string path = uploadingsPath();
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        files_.createDirectory(path.substr(0, slash), true).ignoreError();
    const bool written = files_.writeAtomically(path, *bytes).ok();
    std::lock_guard lock(cacheMutex_);
    if (written) {
        cached_ = std::move(records);
        stamp_ = stampOf(path);
        // What was held back went out with the list, which came laid over with it.
        unwritten_.clear();
    } else {
        cached_.reset();
    }
    lastWrite_ = platform::Clock::current()->uptime();
}

void PNUploadingPersistentStorage::removeUploading(const std::string& videoID) {
    std::lock_guard lock(changeMutex_);
    const auto locked = lockRecords();
    auto records = withRecords([](const auto& stored) { return stored; });
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const auto& stored) { return stored->videoID() == videoID; });
    if (it != records.end())
        records.erase(it);
    write(std::move(records));
}

void PNUploadingPersistentStorage::store(const std::vector<PNUploadingStatePtr>& records) {
    std::lock_guard lock(changeMutex_);
    const auto locked = lockRecords();
    {
        // Exactly these records: nothing held back is laid over them.
        std::lock_guard cacheLock(cacheMutex_);
        unwritten_.clear();
    }
    std::vector<PNUploadingStatePtr> copies;
    copies.reserve(records.size());
    for (const auto& record : records)
        copies.push_back(std::make_shared<PNUploadingState>(*record));
    write(std::move(copies));
}

void PNUploadingPersistentStorage::flushUploadingInfo() {
    std::lock_guard lock(changeMutex_);
    // Without a folder there is no file to remove, and nothing is made for it.
    const auto locked = lockRecords(false);
    files_.removeItem(uploadingsPath()).ignoreError();
    std::lock_guard cacheLock(cacheMutex_);
    cached_.reset();
    unwritten_.clear();
}

}  // namespace pindle
