#include "PindleCore/uploads/PNUploads.hpp"

#include <algorithm>
#include <cmath>

#include "PindleCore/caches/PNImagesLoader.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PUploadingService.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

namespace {

constexpr float percent = 100.0f;

void postWithUpload(const char* name, const PNUploadPtr& upload) {
    platform::NotificationCenter::defaultCenter().post(
        name, {}, platform::Dictionary{{PNUploads::uploadUserInfoKey, platform::Value(upload)}});
}

}  // namespace

PNUploads& PNUploads::shared() {
    // Owned by a shared_ptr, as observation needs, and never destroyed.
    static auto* uploads = new std::shared_ptr<PNUploads>(new PNUploads);
    return **uploads;
}

PNUploads::PNUploads() {
    thumbnailProvider_ = [](const platform::URL& file) -> std::shared_ptr<platform::Object> {
        return PNImagesLoader::shared().thumbOfVideo(file);
    };
    std::vector<PNUploadPtr> entries;
    for (const auto& record : PNUploadingStateManager::shared().recordered())
        if (auto entry = createUpload(*record))
            entries.push_back(std::move(entry));
    uploads_ = std::move(entries);
}

std::vector<PNUploadPtr> PNUploads::uploads() const {
    std::lock_guard lock(mutex_);
    return uploads_;
}

void PNUploads::setUploads(std::vector<PNUploadPtr> uploads) {
    willChangeValueForKey(uploadsKey);
    {
        std::lock_guard lock(mutex_);
        uploads_ = std::move(uploads);
    }
    didChangeValueForKey(uploadsKey);
}

platform::Value PNUploads::valueForKey(std::string_view key) const {
    if (key != uploadsKey)
        return KeyValueObservable::valueForKey(key);
    platform::Array entries;
    for (auto& upload : uploads()) entries.emplace_back(std::move(upload));
    return platform::Value(std::move(entries));
}

void PNUploads::setThumbnailProvider(ThumbnailProvider provider) {
    std::lock_guard lock(mutex_);
    thumbnailProvider_ = std::move(provider);
}

void PNUploads::updateUpload(const PNUploadingStatePtr& record) {
    const std::int64_t total = record->totalBytesToUpload();
    if (!checkUploading(*record, total))
        return;
    const std::string& videoID = record->videoID();
    PNUploadPtr existing = entry(videoID);
    if (!existing) {
        if (auto created = createUpload(*record))
            updateUploads([&](auto& list) { list.push_back(created); });
        return;
    }
    if (record->isUploaded()) {
        updateUploads([&](auto& list) {
            std::erase_if(list, [&](const auto& upload) { return upload->videoID() == videoID; });
        });
        postWithUpload(NotificationName::PNVideoUploadComplete, existing);
    } else {
        const float progress = uploadingProgress(*record, total);
        const bool changed =
            existing->progress() != progress || existing->isCompressed() != record->isConverted();
        if (changed) {
            updateUploads([&](auto& list) {
                existing->setProgress(progress);
                existing->setIsCompressed(record->isConverted());
                for (auto& upload : list)
                    if (upload->videoID() == videoID)
                        upload = existing;
            });
        }
    }
    postWithUpload(NotificationName::PNVideoUploadProgress, existing);
}

void PNUploads::removeUpload(const std::string& videoID) {
    if (!entry(videoID))
        return;
    updateUploads([&](auto& list) {
        std::erase_if(list, [&](const auto& upload) { return upload->videoID() == videoID; });
    });
}

float PNUploads::uploadingProgress(const PNUploadingState& record) {
    return uploadingProgress(record, record.totalBytesToUpload());
}

float PNUploads::uploadingProgress(const PNUploadingState& record, std::int64_t total) {
    float ratio = 0;
    if (total > 0)
        ratio = static_cast<float>(record.bytesUploaded()) / static_cast<float>(total);
    const float scaled = ratio * percent;
    return std::round(scaled) / percent;
}

bool PNUploads::checkUploading(const PNUploadingState& record, std::int64_t total) {
    return record.isRecordingComplete() && (!record.isConverted() || total > 0);
}

PNUploadPtr PNUploads::createUpload(const PNUploadingState& record) const {
    const std::int64_t total = record.totalBytesToUpload();
    if (!checkUploading(record, total) || record.isUploaded())
        return nullptr;
    ThumbnailProvider provider;
    {
        std::lock_guard lock(mutex_);
        provider = thumbnailProvider_;
    }
    std::shared_ptr<platform::Object> thumb;
    if (provider) {
        auto& cache = PNLocalVideoCache::shared();
        // Records always name the resolution they send; without one, the recorded one.
        const std::string resolution = record.resolutionsToUpload().empty()
                                           ? toString(PNVideoResolution::r720p)
                                           : record.resolutionsToUpload().front();
        for (const auto& path : {cache.pathForCache(record.videoID(), resolution),
                                 cache.pathForMOVVideoCache(record.videoID())}) {
            if (path)
                thumb = provider(*path);
            if (thumb)
                break;
        }
    }
    return std::make_shared<PNUpload>(record.videoID(), std::move(thumb),
                                      uploadingProgress(record, total), record.isConverted());
}

PNUploadPtr PNUploads::entry(const std::string& videoID) const {
    std::lock_guard lock(mutex_);
    for (const auto& upload : uploads_)
        if (upload->videoID() == videoID)
            return upload;
    return nullptr;
}

void PNUploads::updateUploads(const std::function<void(std::vector<PNUploadPtr>&)>& change) {
    willChangeValueForKey(uploadsKey);
    {
        std::lock_guard lock(mutex_);
        change(uploads_);
    }
    didChangeValueForKey(uploadsKey);
    platform::NotificationCenter::defaultCenter().post(NotificationName::PNVideoUploadsUpdated, {},
                                                       platform::Dictionary{});
}

void PNUploads::upload(const platform::URL& fileURL, const std::optional<platform::StringSet>& tags,
                       const std::optional<platform::StringDictionary>& metadata,
                       UploadCompletion completion) {
    upload(fileURL, tags, metadata, std::string(), std::move(completion));
}

void PNUploads::upload(const platform::URL& fileURL, const std::optional<platform::StringSet>& tags,
                       const std::optional<platform::StringDictionary>& metadata,
                       const std::string& title, UploadCompletion completion) {
    if (!platform::FileManager::defaultManager().fileExists(fileURL.path())) {
        completion(nullptr, PNError(PNError::uploadFileNotFound).toPlatformError());
        return;
    }
    std::string extension = fileURL.pathExtension();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != "mp4") {
        completion(nullptr, PNError(PNError::incorrectFileType).toPlatformError());
        return;
    }
    completion(
        legacy::PUploadingService::getInstance().uploadVideoFile(fileURL, tags, metadata, title),
        std::nullopt);
}

void PNUploads::cancelUpload(const std::string& videoID) {
    legacy::PUploadingService::getInstance().cancelUploadingVideoID(videoID);
}

}  // namespace pindle
