#include "PindleCore/uploads/PUploadingService.hpp"

#include <algorithm>
#include <cerrno>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/caches/PNVideoCache.hpp"
#include "PindleCore/legacy/private/PUploadsRestart.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PNUploadingStateToPNVideoMapper.hpp"
#include "PindleCore/uploads/PPublishService.hpp"
#include "PindleCore/uploads/PUploadClaim.hpp"
#include "PindleCore/uploads/private/PUploadingShorthands.hpp"
#include "platform/app/ProcessGate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/files/FileError.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/UUID.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::legacy {

const char* const kPVideosUploadingStartedNotification = "kPVideosUploadingStartedNotification";
const char* const kPVideosUploadingFinishedNotification = "kPVideosUploadingFinishedNotification";

namespace {

void post(const char* name, platform::Dictionary userInfo = {}) {
    platform::NotificationCenter::defaultCenter().post(name, {}, std::move(userInfo));
}

// A full disk: the media layer's disk-full error, or a file operation that failed for want of
// space or quota.
bool isDiskFull(const platform::Error& error) {
    if (error.domain() == platform::MediaError::domain)
        return error.code() == PUploadingService::diskFullErrorCode;
    const std::optional<int> posix = error.domain() == platform::POSIXError::domain
                                         ? std::optional<int>(static_cast<int>(error.code()))
                                         : platform::underlyingPOSIXCode(error);
    return posix == ENOSPC || posix == EDQUOT;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// A converted file that a reader can open whole: the move into place is the last step of a
// conversion, so such a file is complete.
bool isCompleteMovie(const std::optional<std::string>& path) {
    if (!path || !platform::FileManager::defaultManager().fileExists(*path))
        return false;
    auto asset = platform::URLAsset::make(platform::URL::fileURLWithPath(*path));
    return !asset->tracksWithMediaType(platform::MediaType::video).empty();
}

// PSystem's launch restarts unfinished uploads through what it reads, since it may not include
// this service; installed as the library loads, before any launch can come due.
[[maybe_unused]] const bool uploadsRestartInstalled = [] {
    PUploadsRestart::install(
        [] { PUploadingService::getInstance().startNonCompletedUploadingsAgain(); });
    return true;
}();

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
    const std::optional<platform::StringDictionary>& metadata, const std::string& title) {
    std::string videoID = platform::UUID::random().uuidString();
    std::transform(videoID.begin(), videoID.end(), videoID.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!fileURL)
        return nullptr;

    // The host's file keeps its name until a record points at the SDK's own: a crash in
    // between leaves the host's file, never nothing.
    const std::string source = fileURL->path();
    const std::optional<std::string> destination =
        PCacheManager::getInstance().pathForMOVVideoCache(videoID);
    if (!destination)
        return nullptr;
    // Claimed before its file enters the media folder, so that no other process sharing this
    // home takes the file for one a crash left behind.
    if (!hold(videoID, PUploadClaim::tryVideo(videoID)))
        return nullptr;
    // The claim goes with the video's landing; a video that never took off lets it go here.
    struct ReleasedUnlessInFlight {
        PUploadingService& service;
        const std::string& videoID;
        ~ReleasedUnlessInFlight() {
            if (!service.isInFlight(videoID))
                service.release(videoID);
        }
    } releasedUnlessInFlight{*this, videoID};
    const platform::FileManager& files = platform::FileManager::defaultManager();
    const bool deletable = files.isWritableFile(parentOf(source));
    std::optional<platform::Error> error =
        deletable ? files.linkItem(source, *destination) : files.copyItem(source, *destination);
    if (error) {
        if (isDiskFull(*error))
            post(NotificationName::PNVideoUploadFailed, {{"error", *error}});
        return nullptr;
    }
    platform::ProcessGate::reach("upload.handedOver");
    std::shared_ptr<PPublishServiceContext> context =
        publish(videoID, tags, metadata, false, title);
    confirmUploadingVideoID(videoID);
    platform::ProcessGate::reach("upload.confirmed");
    if (deletable)
        files.removeItem(source).ignoreError();
    return context ? context->video() : nullptr;
}

bool PUploadingService::hold(const std::string& videoID, std::unique_ptr<PUploadClaim> claim) {
    if (!claim)
        return false;
    std::lock_guard lock(mutex_);
    claims_[videoID] = std::move(claim);
    return true;
}

void PUploadingService::release(const std::string& videoID) {
    std::unique_ptr<PUploadClaim> claim;
    {
        std::lock_guard lock(mutex_);
        auto found = claims_.find(videoID);
        if (found == claims_.end())
            return;
        claim = std::move(found->second);
        claims_.erase(found);
    }
    // Dropped here, outside the mutex: letting it go removes its file.
}

bool PUploadingService::holds(const std::string& videoID) const {
    std::lock_guard lock(mutex_);
    return claims_.count(videoID) > 0;
}

bool PUploadingService::isInFlight(const std::string& videoID) const {
    std::lock_guard lock(mutex_);
    return inFlight_.count(videoID) > 0;
}

bool PUploadingService::carriedByAnotherProcess(const std::string& videoID) const {
    return !holds(videoID) && PUploadClaim::isVideoClaimed(videoID);
}

void PUploadingService::postStarted(const PNUploadingState& record) {
    const std::int64_t total = record.totalBytesToUpload();
    // Nothing to send yet (not converted) counts as no progress, not as a division by zero.
    const double progress =
        total > 0 ? static_cast<float>(record.bytesUploaded()) / static_cast<float>(total) : 0.0;
    post(NotificationName::PNVideoUploadStarted,
         {{"videoID", record.videoID()}, {"progress", progress}});
}

void PUploadingService::takeOff(const std::string& videoID) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = inFlight_.empty();
        inFlight_.insert(videoID);
    }
    if (first)
        post(kPVideosUploadingStartedNotification);
}

void PUploadingService::land(const std::string& videoID, const char* endedAs) {
    bool wasInFlight = false;
    bool last = false;
    {
        std::lock_guard lock(mutex_);
        wasInFlight = inFlight_.erase(videoID) > 0;
        last = wasInFlight && inFlight_.empty();
        deferrals_.erase(videoID);
        pendingRetries_.erase(videoID);
    }
    if (wasInFlight && endedAs)
        post(endedAs, {{"videoID", videoID}});
    // Its end has been reported: what is left of the video is for any process to tidy.
    release(videoID);
    if (last)
        post(kPVideosUploadingFinishedNotification);
}

std::set<std::string> PUploadingService::videosInFlight() const {
    std::lock_guard lock(mutex_);
    return inFlight_;
}

void PUploadingService::confirmUploadingVideoID(const std::string& videoID) {
    manager().confirmRecording(videoID, token());
    PNUploadingStatePtr record = manager().uploading(videoID, token());
    if (record) {
        if (PNVideoPtr video = PNUploadingStateToPNVideoMapper::videoObject(*record, token())) {
            PNLocalVideoCache::shared().put(video, token());
            PNVideoCache::shared().putVideoToCache(video);
        }
        takeOff(videoID);
    }
    PLOG_INFO(PLog_TSUO, "PLog_TSUO video is confirmed %s", videoID.c_str());
    if (record)
        postStarted(*record);
}

std::shared_ptr<PDataRangeUploadingOperation> PUploadingService::createOperationForVideoID(
    const std::string& videoID) {
    return std::make_shared<PDataRangeUploadingOperation>(videoID);
}

void PUploadingService::forget(const std::string& videoID,
                               const PDataRangeUploadingOperation* operation) {
    std::lock_guard lock(mutex_);
    auto found = operationTable_.find(videoID);
    if (found != operationTable_.end() && found->second.get() == operation)
        operationTable_.erase(found);
}

double PUploadingService::retryDelay(int deferrals) {
    double delay = firstRetryDelay;
    for (int i = 1; i < deferrals && delay < maxRetryDelay; ++i) delay *= 2;
    return std::min(delay, maxRetryDelay);
}

void PUploadingService::scheduleRetry(const std::string& videoID, bool gotFurther) {
    double delay = 0;
    std::uint64_t ticket = 0;
    {
        std::lock_guard lock(mutex_);
        int& deferrals = deferrals_[videoID];
        // An upload that got somewhere before this back-off is past the outage that the
        // earlier ones waited for: its pauses start short again.
        if (gotFurther)
            deferrals = 0;
        delay = retryDelay(++deferrals);
        ticket = nextRetryTicket_++;
        pendingRetries_[videoID] = ticket;
    }
    PLOG_INFO(PLog_Uploading, "(PLog_Uploading) Upload video %s tried again in %.0f s",
              videoID.c_str(), delay);
    platform::DispatchQueue::global()->asyncAfter(delay, [this, videoID, ticket] {
        {
            std::lock_guard lock(mutex_);
            auto pending = pendingRetries_.find(videoID);
            if (pending == pendingRetries_.end() || pending->second != ticket)
                return;
            pendingRetries_.erase(pending);
        }
        uploadVideoID(videoID);
    });
}

void PUploadingService::uploadVideoID(const std::string& videoID) {
    PNUploadingStatePtr record = manager().uploading(videoID, token());
    if (!record || !record->isConverted())
        return;
    std::shared_ptr<PDataRangeUploadingOperation> operation;
    {
        std::lock_guard lock(mutex_);
        // A second request for a video joins the upload that is queued or running.
        if (operationTable_.count(videoID))
            return;
        pendingRetries_.erase(videoID);
        operation = createOperationForVideoID(videoID);
        operationTable_[videoID] = operation;
    }
    takeOff(videoID);
    PLOG_INFO(PLog_Uploading, "(PLog_Uploading) Upload video %s started", videoID.c_str());
    const PDataRangeUploadingOperation* key = operation.get();
    operation->setUploadCompletionBlock([this, videoID, key](
                                            const std::shared_ptr<PNVideo>&, bool cancelled,
                                            const std::optional<platform::Error>& error) {
        forget(videoID, key);
        if (cancelled) {
            PLOG_INFO(PLog_Uploading, "(PLog_Uploading) Upload video %s cancelled",
                      videoID.c_str());
            post(NotificationName::PNVideoUploadCanceled, {{"videoID", videoID}});
        } else if (!error) {
            PLOG_INFO(PLog_Uploading, "(PLog_Uploading) Upload video %s success", videoID.c_str());
            post(NotificationName::PNVideoIsUploaded, {{"videoID", videoID}});
        } else {
            PLOG_ERROR(PLog_Uploading, "(PLog_Uploading) Upload video %s failed with error %s",
                       videoID.c_str(), error->description().c_str());
            post(NotificationName::PNVideoUploadFailed, {{"videoID", videoID}, {"error", *error}});
        }
        land(videoID);
    });
    operation->setDeferralBlock([this, videoID, key](const platform::Error&, bool gotFurther) {
        forget(videoID, key);
        scheduleRetry(videoID, gotFurther);
    });
    queue_->addOperation(operation);
    PLOG_INFO(PLog_Uploading, "PLog_Uploading queued upload for %s", videoID.c_str());
}

void PUploadingService::removeUploadingVideoID(const std::string& videoID) {
    manager().removeUploading(videoID, token());
    PNLocalVideoCache::shared().remove(videoID);
}

void PUploadingService::cancelUploadingVideoID(const std::string& videoID) {
    PPublishService::getInstance().cancelPublishingVideoID(videoID);
    removeUploadingVideoID(videoID);
    std::shared_ptr<PDataRangeUploadingOperation> operation;
    {
        std::lock_guard lock(mutex_);
        auto found = operationTable_.find(videoID);
        if (found != operationTable_.end())
            operation = found->second;
    }
    if (operation) {
        // Its completion posts the cancellation and lands the video.
        operation->cancel();
    } else {
        land(videoID, NotificationName::PNVideoUploadCanceled);
    }
}

std::shared_ptr<PPublishServiceContext> PUploadingService::publish(
    const std::string& videoID, const std::optional<platform::StringSet>& tags,
    const std::optional<platform::StringDictionary>& metadata, bool withVideoID,
    const std::string& title) {
    return PPublishService::getInstance().publishVideoID(
        videoID, tags, metadata,
        [this, videoID, withVideoID](const std::shared_ptr<PPublishServiceContext>&, bool cancelled,
                                     const std::optional<platform::Error>& failure) {
            if (!failure && !cancelled)
                return;
            if (failure && isDiskFull(*failure)) {
                platform::Dictionary info{{"error", *failure}};
                if (withVideoID)
                    info["videoID"] = videoID;
                post(NotificationName::PNVideoUploadFailed, std::move(info));
            }
            manager().cancelUploading(videoID, token());
            // A conversion cancelled by this process's host has landed the video already; one
            // whose record went meanwhile (removed by another process sharing the home) ends
            // here, as a removed record does in an operation.
            land(videoID, cancelled ? NotificationName::PNVideoUploadCanceled : nullptr);
        },
        title);
}

void PUploadingService::removeStrayFiles() {
    PUploadClaim::removeStaleClaims();
    const platform::FileManager& files = platform::FileManager::defaultManager();
    PCacheManager& cache = PCacheManager::getInstance();
    PPublishService& publishing = PPublishService::getInstance();
    // Whatever is left of a video is removed only under its claim, so never while the process
    // that carries it (this one or another sharing the home) lives.
    const std::string outputs = cache.conversionDirectoryPath();
    for (const std::string& name :
         files.contentsOfDirectory(outputs).value_or(std::vector<std::string>{})) {
        const std::string videoID = name.substr(0, name.rfind('.'));
        if (publishing.isPublishingVideoID(videoID))
            continue;
        if (auto claim = PUploadClaim::tryVideo(videoID))
            files.removeItem(outputs + "/" + name).ignoreError();
    }
    // A host's file linked in just before a crash, with no record made for it yet.
    const std::string folder = cache.cacheVideoDirectoryPath();
    for (const std::string& name :
         files.contentsOfDirectory(folder).value_or(std::vector<std::string>{})) {
        if (!name.ends_with(".mov"))
            continue;
        const std::string videoID = name.substr(0, name.size() - 4);
        if (holds(videoID) || publishing.isPublishingVideoID(videoID))
            continue;
        auto claim = PUploadClaim::tryVideo(videoID);
        if (claim && !manager().hasUploading(videoID, token()))
            files.removeItem(folder + "/" + name).ignoreError();
    }
}

void PUploadingService::startNonCompletedUploadingsAgain() {
    removeStrayFiles();
    // The videos this process carries already, and those nobody carries (their process ended):
    // another live process's uploads are that process's to finish.
    std::vector<PNUploadingStatePtr> records;
    for (PNUploadingStatePtr& record : manager().recorderedNonUploaded(token())) {
        const std::string& videoID = record->videoID();
        if (holds(videoID) || hold(videoID, PUploadClaim::tryVideo(videoID)))
            records.push_back(std::move(record));
    }
    for (const PNUploadingStatePtr& record : records) takeOff(record->videoID());
    const platform::FileManager& files = platform::FileManager::defaultManager();
    PCacheManager& cache = PCacheManager::getInstance();
    for (const PNUploadingStatePtr& record : records) {
        postStarted(*record);
        const std::string& videoID = record->videoID();
        bool queued = false;
        {
            std::lock_guard lock(mutex_);
            queued = operationTable_.count(videoID) > 0;
        }
        if (queued)
            continue;
        if (record->isConverted()) {
            // The converted file stands for the source now; a crash may have kept it.
            if (auto mov = cache.pathForMOVVideoCache(videoID); mov && files.fileExists(*mov))
                files.removeItem(*mov).ignoreError();
            if (record->totalBytesToUpload() < 1) {
                removeUploadingVideoID(videoID);
                land(videoID);
            } else {
                uploadVideoID(videoID);
            }
        } else if (auto mov = PCacheManager::getInstance().pathForMOVVideoCache(videoID);
                   mov && files.fileExists(*mov)) {
            publish(videoID, record->tags(), record->metadata(), true, record->title());
            confirmUploadingVideoID(videoID);
        } else if (isCompleteMovie(cache.pathForVideoCache(videoID, "720p"))) {
            // Converted and moved into place, but stopped before the record said so.
            manager().markConverted(videoID, token());
            uploadVideoID(videoID);
        } else {
            removeUploadingVideoID(videoID);
            land(videoID);
        }
    }
    // Counted only now: whoever waits for the restart (a host about to end, say) must find
    // its tidying done and its uploads under way, not merely begun.
    ++restarts_;
}

std::size_t PUploadingService::queuedVideoCount() const {
    return queue_->operationCount();
}

}  // namespace pindle::legacy
