#include "PindleCore/uploads/PNUploadingStateManager.hpp"

#include <algorithm>

#include "PindleCore/caches/private/PNLocalVideoUploads.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PNUploadingStateToPNVideoMapper.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "PindleCore/uploads/PUploadClaim.hpp"
#include "PindleCore/uploads/private/PNUploadingPersistentStorage.hpp"

namespace pindle {

namespace {

template <class Condition>
std::vector<PNUploadingStatePtr> storedWhere(Condition&& condition) {
    std::vector<PNUploadingStatePtr> result;
    for (auto& record : PNUploadingPersistentStorage::shared().uploadings())
        if (condition(*record))
            result.push_back(std::move(record));
    return result;
}

std::vector<std::string> videoIDs(const std::vector<PNUploadingStatePtr>& records) {
    std::vector<std::string> ids;
    ids.reserve(records.size());
    for (const auto& record : records) ids.push_back(record->videoID());
    return ids;
}

// The local video cache reads the records and claims through this, since it may not include
// the uploads; installed as the library loads, before the first session rebuilds the cache.
class RecordsForLocalCache final : public PNLocalVideoUploads {
  public:
    std::vector<std::string> unfinishedRecordingIDs() const override {
        return videoIDs(PNUploadingStateManager::shared().nonRecordered());
    }
    std::vector<std::string> uploadedIDs() const override {
        return videoIDs(PNUploadingStateManager::shared().uploaded());
    }
    std::vector<PNVideoPtr> recordedVideos() const override {
        auto records = PNUploadingStateManager::shared().recordered();
        std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return a->createdAt() < b->createdAt();
        });
        std::vector<PNVideoPtr> videos;
        for (const auto& record : records)
            if (auto video = PNUploadingStateToPNVideoMapper::videoObject(
                    *record, PNTokenObject::sharedInstance()))
                videos.push_back(std::move(video));
        return videos;
    }
    bool isClaimed(const std::string& videoID) const override {
        return legacy::PUploadClaim::isVideoClaimed(videoID);
    }
    void whileUnclaimed(const std::string& videoID,
                        const std::function<void()>& action) const override {
        if (const auto claim = legacy::PUploadClaim::tryVideo(videoID))
            action();
    }
    void remove(const std::string& videoID) const override {
        PNUploadingStateManager::shared().remove({videoID}, PNTokenObject::sharedInstance());
    }
};

[[maybe_unused]] const bool localCacheRecordsInstalled = [] {
    PNLocalVideoUploads::install(std::make_shared<RecordsForLocalCache>());
    return true;
}();

}  // namespace

PNUploadingStateManager& PNUploadingStateManager::shared() {
    static auto* manager = new PNUploadingStateManager;
    return *manager;
}

bool PNUploadingStateManager::admits(const Caller& fromObject, const char* operation) {
    if (PNTokenObject::itsMe(fromObject))
        return true;
    PLOG_ERROR(PLog_Uploading, "PLog_Uploading %s refused: the caller is not the library",
               operation);
    return false;
}

std::vector<PNUploadingStatePtr> PNUploadingStateManager::recordered() const {
    return storedWhere([](const auto& record) { return record.isRecordingComplete(); });
}

std::vector<PNUploadingStatePtr> PNUploadingStateManager::recorderedNonUploaded(
    const Caller& fromObject) const {
    if (!admits(fromObject, "recorderedNonUploaded"))
        return {};
    return storedWhere(
        [](const auto& record) { return record.isRecordingComplete() && !record.isUploaded(); });
}

std::vector<PNUploadingStatePtr> PNUploadingStateManager::nonRecordered() const {
    return storedWhere([](const auto& record) { return !record.isRecordingComplete(); });
}

std::vector<PNUploadingStatePtr> PNUploadingStateManager::uploaded() const {
    return storedWhere([](const auto& record) { return record.isUploaded(); });
}

void PNUploadingStateManager::remove(const std::vector<std::string>& videoIDs,
                                     const Caller& fromObject) {
    if (!admits(fromObject, "remove"))
        return;
    std::lock_guard lock(lock_);
    for (const auto& videoID : videoIDs) {
        PNUploads::shared().removeUpload(videoID);
        PNUploadingPersistentStorage::shared().removeUploading(videoID);
    }
}

void PNUploadingStateManager::removeUploading(const std::string& videoID,
                                              const Caller& fromObject) {
    if (!admits(fromObject, "removeUploading"))
        return;
    std::lock_guard lock(lock_);
    PNUploads::shared().removeUpload(videoID);
    PNUploadingPersistentStorage::shared().removeUploading(videoID);
}

void PNUploadingStateManager::cancelUploading(const std::string& videoID,
                                              const Caller& fromObject) {
    if (!admits(fromObject, "cancelUploading"))
        return;
    std::lock_guard lock(lock_);
    PNUploads::shared().removeUpload(videoID);
}

PNUploadingStatePtr PNUploadingStateManager::uploading(const std::string& videoID,
                                                       const Caller& fromObject) {
    if (!admits(fromObject, "uploading"))
        return nullptr;
    std::lock_guard lock(lock_);
    return PNUploadingPersistentStorage::shared().uploading(videoID);
}

PNStoredUploadingStatePtr PNUploadingStateManager::storedUploading(const std::string& videoID,
                                                                   const Caller& fromObject) {
    if (!admits(fromObject, "storedUploading"))
        return nullptr;
    std::lock_guard lock(lock_);
    return PNUploadingPersistentStorage::shared().storedUploading(videoID);
}

bool PNUploadingStateManager::hasUploading(const std::string& videoID, const Caller& fromObject) {
    if (!admits(fromObject, "hasUploading"))
        return false;
    std::lock_guard lock(lock_);
    return PNUploadingPersistentStorage::shared().contains(videoID);
}

void PNUploadingStateManager::put(const PNUploadingStatePtr& record, const Caller& fromObject) {
    if (!admits(fromObject, "put"))
        return;
    std::lock_guard lock(lock_);
    PNUploads::shared().updateUpload(record);
    PNUploadingPersistentStorage::shared().put(record);
}

template <class Change>
void PNUploadingStateManager::updateField(const std::string& videoID, const Caller& fromObject,
                                          const char* operation, Change&& change) {
    if (!admits(fromObject, operation))
        return;
    std::lock_guard lock(lock_);
    const auto& token = PNTokenObject::sharedInstance();
    auto record = uploading(videoID, token);
    if (!record)
        return;
    change(*record);
    put(record, token);
}

void PNUploadingStateManager::confirmRecording(const std::string& videoID,
                                               const Caller& fromObject) {
    updateField(videoID, fromObject, "confirmRecording",
                [](PNUploadingState& record) { record.setIsRecordingComplete(true); });
}

void PNUploadingStateManager::markUploaded(const std::string& videoID, const Caller& fromObject) {
    updateField(videoID, fromObject, "markUploaded",
                [](PNUploadingState& record) { record.setIsUploaded(true); });
}

void PNUploadingStateManager::markSynced(const std::string& videoID, const Caller& fromObject) {
    updateField(videoID, fromObject, "markSynced",
                [](PNUploadingState& record) { record.setIsSynced(true); });
}

void PNUploadingStateManager::markConverted(const std::string& videoID, const Caller& fromObject) {
    updateField(videoID, fromObject, "markConverted",
                [](PNUploadingState& record) { record.setIsConverted(true); });
}

bool PNUploadingStateManager::updateDataUploaded(const std::string& videoID, std::int64_t bytes,
                                                 const Caller& fromObject) {
    if (!admits(fromObject, "updateDataUploaded"))
        return false;
    std::lock_guard lock(lock_);
    auto record = uploading(videoID, PNTokenObject::sharedInstance());
    if (!record)
        return false;
    // A count that grows may reach the file late: after a restart the upload asks the storage
    // service what it holds. A count that falls starts a session over and must be kept at once.
    const bool grows = bytes > record->bytesUploaded();
    record->setBytesUploaded(bytes);
    PNUploads::shared().updateUpload(record);
    if (grows)
        PNUploadingPersistentStorage::shared().putProgress(record);
    else
        PNUploadingPersistentStorage::shared().put(record);
    return true;
}

void PNUploadingStateManager::updateUploadingURL(const std::string& videoID,
                                                 std::optional<platform::URL> url,
                                                 std::optional<platform::Date> expirationDate,
                                                 const Caller& fromObject) {
    updateField(videoID, fromObject, "updateUploadingURL", [&](PNUploadingState& record) {
        record.setUrlToUpload(std::move(url));
        record.setUrlExpirationDate(expirationDate);
    });
}

void PNUploadingStateManager::updateResolutionsUploaded(const std::string& videoID,
                                                        std::vector<std::string> resolutions,
                                                        const Caller& fromObject) {
    updateField(videoID, fromObject, "updateResolutionsUploaded", [&](PNUploadingState& record) {
        record.setResolutionsUploaded(std::move(resolutions));
    });
}

void PNUploadingStateManager::resetUploadedBytes(const std::string& videoID,
                                                 const Caller& fromObject) {
    updateField(videoID, fromObject, "resetUploadedBytes",
                [](PNUploadingState& record) { record.setBytesUploaded(0); });
}

void PNUploadingStateManager::updateCreationDate(const std::string& videoID, platform::Date date,
                                                 const Caller& fromObject) {
    updateField(videoID, fromObject, "updateCreationDate",
                [date](PNUploadingState& record) { record.setCreatedAt(date); });
}

void PNUploadingStateManager::updateFields(const std::string& videoID, const Caller& fromObject,
                                           const std::function<void(PNUploadingState&)>& change) {
    updateField(videoID, fromObject, "updateFields", change);
}

}  // namespace pindle
