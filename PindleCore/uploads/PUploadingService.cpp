#include "PindleCore/uploads/PUploadingService.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/caches/PNVideoCache.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PNUploadingStateToPNVideoMapper.hpp"
#include "PindleCore/uploads/PPublishService.hpp"
#include "platform/files/FileError.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/UUID.hpp"

namespace pindle::legacy {

const char* const kPVideosUploadingStartedNotification = "kPVideosUploadingStartedNotification";
const char* const kPVideosUploadingFinishedNotification = "kPVideosUploadingFinishedNotification";

namespace {

const std::shared_ptr<PNTokenObject>& token() {
    return PNTokenObject::sharedInstance();
}
PNUploadingStateManager& manager() {
    return PNUploadingStateManager::shared();
}

void post(const char* name, platform::Dictionary userInfo = {}) {
    platform::NotificationCenter::defaultCenter().post(name, {}, std::move(userInfo));
}

// A full disk: the platform's own code, or a file operation that failed with ENOSPC.
bool isDiskFull(const platform::Error& error) {
    return error.code() == PUploadingService::diskFullErrorCode ||
           platform::underlyingPOSIXCode(error) == ENOSPC;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

PUploadingService& PUploadingService::getInstance() {
    static PUploadingService* service = new PUploadingService;  // never destroyed
    return *service;
}

PUploadingService::PUploadingService() : queue_(platform::OperationQueue::create("PUploading")) {
    queue_->setMaxConcurrentOperationCount(1);
}

std::shared_ptr<PNVideo> PUploadingService::uploadVideoFile(
    const std::optional<platform::URL>& fileURL, const std::optional<platform::StringSet>& tags,
    const std::optional<platform::StringDictionary>& metadata) {
    std::string videoID = platform::UUID::random().uuidString();
    std::transform(videoID.begin(), videoID.end(), videoID.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!fileURL)
        return nullptr;

    const std::string source = fileURL->path();
    const std::optional<std::string> destination =
        PCacheManager::getInstance().pathForMOVVideoCache(videoID);
    if (!destination)
        return nullptr;
    const platform::FileManager& files = platform::FileManager::defaultManager();
    const bool deletable = ::access(parentOf(source).c_str(), W_OK) == 0;
    std::optional<platform::Error> error =
        deletable ? files.moveItem(source, *destination) : files.copyItem(source, *destination);
    if (error) {
        if (isDiskFull(*error))
            post(NotificationName::PNVideoUploadFailed, {{"error", *error}});
        return nullptr;
    }

    std::shared_ptr<PPublishServiceContext> context = publish(videoID, tags, metadata, false);
    confirmUploadingVideoID(videoID);
    return context ? context->video() : nullptr;
}

void PUploadingService::postStarted(const PNUploadingState& record) {
    const std::int64_t total = record.totalBytesToUpload();
    // Nothing to send yet (not converted) counts as no progress, not as a division by zero.
    const double progress =
        total > 0 ? static_cast<float>(record.bytesUploaded()) / static_cast<float>(total) : 0.0;
    post(NotificationName::PNVideoUploadStarted,
         {{"videoID", record.videoID()}, {"progress", progress}});
}

void PUploadingService::confirmUploadingVideoID(const std::string& videoID) {
    manager().confirmRecording(videoID, token());
    PNUploadingStatePtr record = manager().uploading(videoID, token());
    if (record) {
        if (PNVideoPtr video = PNUploadingStateToPNVideoMapper::videoObject(*record, token())) {
            PNLocalVideoCache::shared().put(video, token());
            PNVideoCache::shared().putVideoToCache(video);
        }
    }
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = ++operationsConfirmedAndIsInUploading_ == 1;
    }
    if (first)
        post(kPVideosUploadingStartedNotification);
    PLOG_INFO(PLog_TSUO, "PLog_TSUO video is confirmed %s", videoID.c_str());
    if (record)
        postStarted(*record);
}

std::shared_ptr<PDataRangeUploadingOperation> PUploadingService::createOperationForVideoID(
    const std::string& videoID) {
    return std::make_shared<PDataRangeUploadingOperation>(videoID);
}

void PUploadingService::countDone() {
    bool finished = false;
    {
        std::lock_guard lock(mutex_);
        if (operationsConfirmedAndIsInUploading_ > 0) {
            finished = --operationsConfirmedAndIsInUploading_ == 0;
        }
    }
    if (finished)
        post(kPVideosUploadingFinishedNotification);
}

void PUploadingService::uploadVideoID(const std::string& videoID) {
    PNUploadingStatePtr record = manager().uploading(videoID, token());
    if (!record || !record->isConverted())
        return;
    std::shared_ptr<PDataRangeUploadingOperation> operation;
    {
        std::lock_guard lock(mutex_);
        if (operationTable_.count(videoID))
            return;
        operation = createOperationForVideoID(videoID);
        operationTable_[videoID] = operation;
    }
    PLOG_INFO(PLog_Uploading, "(PLog_Uploading) Upload video %s started", videoID.c_str());
    operation->setUploadCompletionBlock([this, videoID](
                                            const std::shared_ptr<PNVideo>&, bool cancelled,
                                            const std::optional<platform::Error>& error) {
        if (cancelled) {
            PLOG_INFO(PLog_Uploading, "(PLog_Uploading) Upload video %s cancelled",
                      videoID.c_str());
            post(error ? NotificationName::PNVideoUploadFailed
                       : NotificationName::PNVideoUploadCanceled,
                 {{"videoID", videoID}});
        } else if (!error) {
            PLOG_INFO(PLog_Uploading, "(PLog_Uploading) Upload video %s success", videoID.c_str());
            post(NotificationName::PNVideoIsUploaded, {{"videoID", videoID}});
            {
                std::lock_guard lock(mutex_);
                operationTable_.erase(videoID);
            }
            countDone();
        } else {
            PLOG_ERROR(PLog_Uploading, "(PLog_Uploading) Upload video %s failed with error %s",
                       videoID.c_str(), error->description().c_str());
            post(NotificationName::PNVideoUploadFailed, {{"videoID", videoID}});
        }
    });
    queue_->addOperation(operation);
    PLOG_INFO(PLog_Uploading, "PLog_Uploading queued upload for %s", videoID.c_str());
}

void PUploadingService::removeUploadingVideoID(const std::string& videoID) {
    manager().removeUploading(videoID, token());
    PNLocalVideoCache::shared().remove(videoID);
}

void PUploadingService::cancelUploadingVideoID(const std::string& videoID) {
    removeUploadingVideoID(videoID);
    std::shared_ptr<PDataRangeUploadingOperation> operation;
    {
        std::lock_guard lock(mutex_);
        auto found = operationTable_.find(videoID);
        if (found != operationTable_.end())
            operation = found->second;
    }
    if (operation)
        operation->cancel();
}

std::shared_ptr<PPublishServiceContext> PUploadingService::publish(
    const std::string& videoID, const std::optional<platform::StringSet>& tags,
    const std::optional<platform::StringDictionary>& metadata, bool withVideoID) {
    return PPublishService::getInstance().publishVideoID(
        videoID, tags, metadata,
        [videoID, withVideoID](const std::shared_ptr<PPublishServiceContext>&, bool,
                               const std::optional<platform::Error>& failure) {
            if (!failure)
                return;
            if (isDiskFull(*failure)) {
                platform::Dictionary info{{"error", *failure}};
                if (withVideoID)
                    info["videoID"] = videoID;
                post(NotificationName::PNVideoUploadFailed, std::move(info));
            }
            manager().cancelUploading(videoID, token());
        });
}

void PUploadingService::startNonCompletedUploadingsAgain() {
    ++restarts_;
    std::vector<PNUploadingStatePtr> records = manager().recorderedNonUploaded(token());
    {
        std::lock_guard lock(mutex_);
        operationsConfirmedAndIsInUploading_ = records.size();
    }
    if (!records.empty())
        post(kPVideosUploadingStartedNotification);
    const platform::FileManager& files = platform::FileManager::defaultManager();
    for (const PNUploadingStatePtr& record : records) {
        postStarted(*record);
        bool queued = false;
        {
            std::lock_guard lock(mutex_);
            queued = operationTable_.count(record->videoID()) > 0;
        }
        if (queued)
            continue;
        const std::string& videoID = record->videoID();
        if (record->isConverted()) {
            if (record->totalBytesToUpload() < 1) {
                removeUploadingVideoID(videoID);
            } else {
                uploadVideoID(videoID);
            }
        } else if (auto mov = PCacheManager::getInstance().pathForMOVVideoCache(videoID);
                   mov && files.fileExists(*mov)) {
            publish(videoID, record->tags(), record->metadata(), true);
            confirmUploadingVideoID(videoID);
        } else {
            removeUploadingVideoID(videoID);
        }
    }
}

std::size_t PUploadingService::queuedVideoCount() const {
    return queue_->operationCount();
}

}  // namespace pindle::legacy
