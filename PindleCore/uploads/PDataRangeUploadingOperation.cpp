#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"

#include <condition_variable>
#include <set>
#include <string_view>

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/device/PBandwidthService.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindleCore/model/PNJSONParser.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PGoogleDriveHelper.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PUploadClaim.hpp"
#include "PindleCore/uploads/private/PUploadingShorthands.hpp"
#include "platform/app/ProcessGate.hpp"
#include "platform/dispatch/DispatchTime.hpp"
#include "platform/dispatch/PreciseWakeUps.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/Text.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"

namespace pindle::legacy {

namespace {

int statusOf(const std::shared_ptr<platform::URLResponse>& response) {
    auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
    return http ? http->statusCode() : 0;
}

std::string describe(const std::optional<platform::Error>& error) {
    return error ? error->description() : std::string("(null)");
}

}  // namespace

PDataRangeUploadingOperation::PDataRangeUploadingOperation(std::string videoID)
    : videoID_(std::move(videoID)) {}

void PDataRangeUploadingOperation::setUploadCompletionBlock(Completion block) {
    std::lock_guard lock(mutex_);
    block_ = std::move(block);
}

void PDataRangeUploadingOperation::setDeferralBlock(Deferral block) {
    std::lock_guard lock(mutex_);
    deferral_ = std::move(block);
}

PNStoredUploadingStatePtr PDataRangeUploadingOperation::record() const {
    // Read once a range and never changed here: the stored record is shared, not copied.
    return manager().storedUploading(videoID_, token());
}

std::int64_t PDataRangeUploadingOperation::head(const PNUploadingState& record) const {
    return record.isImported() ? 0 : headSize;
}

void PDataRangeUploadingOperation::pause(double seconds) {
    if (isCancelled())
        return;
    wakeUp_.wait(platform::DispatchTime::after(seconds));
}

void PDataRangeUploadingOperation::waitFor(
    const std::function<void(std::function<void()> done)>& start) {
    auto finished = std::make_shared<platform::DispatchSemaphore>(0);
    start([finished] { finished->signal(); });
    finished->wait();
}

std::pair<std::shared_ptr<platform::URLResponse>, std::optional<platform::Error>>
PDataRangeUploadingOperation::executeURLRequest(const platform::URLRequest& request,
                                                platform::Data* body, const FilePart* fromFile) {
    const auto started = [this](const std::shared_ptr<platform::URLSessionDataTask>& task) {
        {
            std::lock_guard lock(mutex_);
            currentDataTask_ = task;
        }
        // A cancel() that came before the task was kept must still stop it.
        if (isCancelled())
            task->cancel();
    };
    // This thread only waits for the answer, so it takes the answer itself: one hand-off less
    // per chunk than a completion on the session's queue.
    const auto& session = platform::URLSession::shared();
    platform::URLSession::Loaded loaded =
        fromFile ? session->loadSynchronouslyFromFile(request, fromFile->path, fromFile->offset,
                                                      fromFile->length, started)
                 : session->loadSynchronously(request, started);
    {
        std::lock_guard lock(mutex_);
        currentDataTask_.reset();
    }
    if (body && loaded.data)
        *body = std::move(*loaded.data);
    return {loaded.response, loaded.error};
}

// --- The loop -------------------------------------------------------------------------------

namespace {

// One operation per record in the process: a second one waits until the first has ended.
struct Claims {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::string> records;  // guarded by mutex
};

// Never destroyed: an operation may still end on a worker thread while the process exits.
Claims& claims() {
    static auto* shared = new Claims();
    return *shared;
}

// Wakes the operations waiting for a record, to see whether theirs is free or they were
// cancelled. Taking the mutex first orders the wake-up after a waiter's last look: one that
// found neither is waiting by now, and hears it.
void wakeClaimWaiters() {
    { std::lock_guard lock(claims().mutex); }
    claims().changed.notify_all();
}

class RecordClaim {
  public:
    // Waits for the record; false when `cancelled` says to give up first. REQUIRES: whatever
    // makes `cancelled` true calls wakeClaimWaiters() afterwards.
    bool take(const std::string& videoID, const std::function<bool()>& cancelled) {
        std::unique_lock lock(claims().mutex);
        while (claims().records.count(videoID)) {
            if (cancelled())
                return false;
            claims().changed.wait(lock);
        }
        claims().records.insert(videoID);
        videoID_ = videoID;
        return true;
    }
    ~RecordClaim() {
        if (videoID_.empty())
            return;
        {
            std::lock_guard lock(claims().mutex);
            claims().records.erase(videoID_);
        }
        claims().changed.notify_all();
    }

  private:
    std::string videoID_;
};

platform::Error storageError(int status, const std::string& what) {
    return platform::Error(
        platform::URLError::domain, platform::URLError::badServerResponse,
        {{"statusCode", static_cast<std::int64_t>(status)},
         {platform::Error::localizedDescriptionKey, what + " answered " + std::to_string(status)}});
}

// Statuses after which the session is of no more use: it no longer exists (404, 410) or
// refused the upload as made (400). A server error (5xx) leaves the session as it was.
bool dropsSession(int status) {
    return status == 400 || status == 404 || status == 410;
}

// The bytes a 308 answer says are persisted: its "Range: bytes=0-N", none without one.
std::optional<std::int64_t> persistedBytes(const platform::HTTPURLResponse& response) {
    auto range = response.valueForHTTPHeaderField("Range");
    if (!range)
        return 0;
    static constexpr std::string_view prefix = "bytes=0-";
    if (!range->starts_with(prefix))
        return std::nullopt;
    std::optional<std::int64_t> last = platform::Text::int64Value(range->substr(prefix.size()));
    if (!last || *last < 0)
        return std::nullopt;
    return *last + 1;
}

// A failure the next pass may well not meet: the network's retry errors, a storage session
// that had to be dropped, a server error. Anything else (a refused token, a request the backend
// will not take) is not worth trying again before a pause.
bool worthRetryingSoon(const platform::Error& error) {
    if (isRetryError(error))
        return true;
    const std::optional<std::int64_t> status = statusCode(error);
    if (!status)
        return error.domain() == platform::URLError::domain &&
               error.code() == platform::URLError::badServerResponse;
    return *status >= 500 || dropsSession(static_cast<int>(*status)) || *status == 408 ||
           *status == 429 || *status == 0;
}

}  // namespace

namespace {

// Lets the media file go however the loop ends.
class ClosesAtEnd {
  public:
    explicit ClosesAtEnd(PUploadSourceFile& file) : file_(file) {}
    ~ClosesAtEnd() { file_.close(); }
    ClosesAtEnd(const ClosesAtEnd&) = delete;
    ClosesAtEnd& operator=(const ClosesAtEnd&) = delete;

  private:
    PUploadSourceFile& file_;
};

}  // namespace

void PDataRangeUploadingOperation::main() {
    RecordClaim claim;
    if (!claim.take(videoID_, [this] { return isCancelled(); }))
        return;
    // Processes that share the home send one at a time. The lane is held from the first pass
    // that may send until main() returns, and let go while the upload waits for the network
    // or a session, which may take long.
    std::unique_ptr<PUploadClaim> lane;
    const auto takeLane = [&] {
        while (!lane && !isCancelled()) {
            lane = PUploadClaim::tryLane();
            if (!lane)
                pause(laneWait);
        }
        return lane != nullptr;
    };
    const ClosesAtEnd closesSource(source_);
    // Every pass ends in a short pause: a late wake-up would be paid once per range.
    const platform::PreciseWakeUps preciseWakeUps;
    PNStoredUploadingStatePtr current = record();
    if (isCancelled())
        return;
    if (!current) {
        // Removed before this operation began: its caller still waits to hear of the end.
        endWith(Ending::recordRemoved, std::nullopt);
        report();
        return;
    }
    // A session kept from an earlier run may hold more, or less, than the record says.
    needsStatusQuery_ = current->urlToUpload().has_value();
    Progress reached = progressOf(*current);
    started_ = reached;
    while (current && !current->isUploaded() && ending_ == Ending::none && !hasReported()) {
        bool failed = false;
        if (PBandwidthService::getInstance().offlineMode() ||
            PNSession::current()->state() != PNSessionState::started) {
            lane.reset();
            pause(waitingPause);
        } else if (!takeLane()) {
            break;
        } else if (platform::Status failure = runPass(current); !failure.ok()) {
            failed = true;
            endReason_ = failure;
            ++consecutiveFailures_;
            if (!worthRetryingSoon(failure.error()) ||
                consecutiveFailures_ >= failuresBeforeBackOff)
                endWith(Ending::deferred, failure);
        }
        if (ending_ != Ending::none || isCancelled() || hasReported())
            break;
        pause(failed ? backOffPause(consecutiveFailures_) : passPause);
        current = record();
        if (!current && !isCancelled()) {
            endWith(Ending::recordRemoved, std::nullopt);
        } else if (current) {
            // Only what the backend or the storage kept counts as getting somewhere: a session
            // opened, or a status query answered, on the way to one more refusal does not.
            const Progress now = progressOf(*current);
            if (now.beyond(reached))
                consecutiveFailures_ = 0;
            reached = now;
        }
    }
    if (isCancelled())
        return;
    if (ending_ != Ending::none || (current && current->isUploaded()))
        report();
}

double PDataRangeUploadingOperation::backOffPause(int failures) {
    double pause = passPause;
    for (int i = 0; i < failures && pause < waitingPause; ++i) pause *= 2;
    return std::min(pause, waitingPause);
}

PDataRangeUploadingOperation::Progress PDataRangeUploadingOperation::progressOf(
    const PNUploadingState& record) const {
    Progress progress;
    progress.synced = record.isSynced();
    {
        std::lock_guard lock(mutex_);
        progress.described = uploadDescription_.has_value();
    }
    progress.resolutions = record.resolutionsUploaded().size();
    progress.bytes = record.bytesUploaded();
    progress.uploaded = record.isUploaded();
    return progress;
}

bool PDataRangeUploadingOperation::Progress::beyond(const Progress& earlier) const {
    return keptMoreThan(earlier) ||
           (resolutions == earlier.resolutions && described && !earlier.described);
}

bool PDataRangeUploadingOperation::Progress::keptMoreThan(const Progress& earlier) const {
    if (resolutions != earlier.resolutions)
        return resolutions > earlier.resolutions;
    return (synced && !earlier.synced) || (uploaded && !earlier.uploaded) || bytes > earlier.bytes;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::runPass(
    PNStoredUploadingStatePtr current) {
    // The record the loop has just read is still the one stored, unless the session expired.
    if (checkSessionExpirationTime())
        current = record();
    if (!current)
        return std::nullopt;
    const std::size_t index = current->resolutionsUploaded().size();
    if (index >= current->resolutionsToUpload().size()) {
        // Nothing left to send, yet not marked uploaded: waiting would never end.
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO no resolution left to upload for video %s",
                   videoID_.c_str());
        manager().markUploaded(videoID_, token());
        return std::nullopt;
    }
    const std::string resolution = current->resolutionsToUpload()[index];
    const std::int64_t uploaded = current->bytesUploaded();
    const std::int64_t size = current->bytes(resolution);
    const bool needConvert = current->requireConvert();
    const bool complete = current->isRecordingComplete();
    if (size == 0 && complete) {
        // The file is gone: the upload can never end, so the record goes and the caller hears why.
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO no file to upload for video %s", videoID_.c_str());
        endWith(Ending::failed, PNError(PNError::uploadFileNotFound).toPlatformError());
        manager().removeUploading(videoID_, token());
        return std::nullopt;
    }
    if (uploaded > size) {
        // More counted as sent than the file holds: nothing of that session can be trusted.
        restartFromZero();
        return std::nullopt;
    }

    bool haveDescription = false;
    bool haveSession = false;
    {
        std::lock_guard lock(mutex_);
        haveDescription = uploadDescription_.has_value();
        haveSession = urlToUpload_.has_value();
    }
    if (!current->isSynced())
        return createVideoOnServerSide(*current);
    if (!haveDescription)
        return updateUploadDescription(*current);
    if (!haveSession && hasBytesToUpload(*current, size))
        return initializeResumableSession(*current, resolution, needConvert);
    if (haveSession && needsStatusQuery_)
        return queryUploadStatus(*current, size);
    if (ableToUploadNextPartOfData(*current, size))
        return uploadDataRange(*current, *nextPartOfDataToUpload(*current, size), resolution, size);
    if (complete && size == uploaded + head(*current) && head(*current) > 0)
        return uploadDataFirstMp4Bytes(*current, resolution, needConvert);
    if (complete && size == uploaded) {
        if (needConvert) {
            manager().markUploaded(videoID_, token());
            return std::nullopt;
        }
        return putResolution(*current, resolution);
    }
    return std::nullopt;
}

void PDataRangeUploadingOperation::endWith(Ending ending, std::optional<platform::Error> reason) {
    if (ending_ != Ending::none)
        return;
    ending_ = ending;
    endReason_ = std::move(reason);
}

void PDataRangeUploadingOperation::report() {
    Completion block;
    Deferral deferral;
    {
        std::lock_guard lock(mutex_);
        if (reported_)
            return;
        reported_ = true;
        block = block_;
        deferral = deferral_;
    }
    switch (ending_) {
        case Ending::none:
            if (block)
                block(nullptr, false, std::nullopt);
            break;
        case Ending::recordRemoved:
            if (block)
                block(nullptr, true, std::nullopt);
            break;
        case Ending::failed:
            if (block)
                block(nullptr, false, endReason_);
            break;
        case Ending::deferred: {
            PLOG_INFO(PLog_TSUO, "PLog_TSUO upload of video %s backs off after %s",
                      videoID_.c_str(), describe(endReason_).c_str());
            const PNStoredUploadingStatePtr latest = record();
            const bool gotFurther = latest && progressOf(*latest).keptMoreThan(started_);
            if (deferral && endReason_)
                deferral(*endReason_, gotFurther);
            break;
        }
    }
}

void PDataRangeUploadingOperation::cancel() {
    platform::Operation::cancel();
    std::shared_ptr<platform::URLSessionTask> task;
    PNCancellablePtr cancellable;
    Completion block;
    {
        std::lock_guard lock(mutex_);
        task = currentDataTask_;
        cancellable = cancellationToken_;
        if (!reported_)
            block = block_;
        reported_ = true;
    }
    wakeUp_.signal();
    wakeClaimWaiters();
    if (task)
        task->cancel();
    if (cancellable)
        cancellable->cancelIt();
    manager().cancelUploading(videoID_, token());
    // Reported once, however often the operation is cancelled.
    if (block)
        block(nullptr, true, std::nullopt);
}

void PDataRangeUploadingOperation::remove() {
    cancel();
    manager().removeUploading(videoID_, token());
}

bool PDataRangeUploadingOperation::hasReported() const {
    std::lock_guard lock(mutex_);
    return reported_;
}

PDataRangeUploadingOperation::Completion PDataRangeUploadingOperation::takeBlockToReport() {
    std::lock_guard lock(mutex_);
    if (reported_ || !block_)
        return nullptr;
    reported_ = true;
    return block_;
}

void PDataRangeUploadingOperation::handleRequestError(const std::optional<platform::Error>& error) {
    if (!error || isCancelled())
        return;
    if (Completion block = takeBlockToReport()) {
        wakeUp_.signal();  // a pause of the loop ends at once
        block(nullptr, isCancelled(), error);
    }
}

void PDataRangeUploadingOperation::startConvertingVideo() {
    std::optional<std::string> filename;
    {
        std::lock_guard lock(mutex_);
        if (!uploadDescription_)
            return;
        auto found = uploadDescription_->find("filename");
        if (found != uploadDescription_->end() && found->second.asString())
            filename = *found->second.asString();
    }
    if (!filename) {
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO Start converting for video %s FAILURE: no filename",
                   videoID_.c_str());
        return;
    }
    PLOG_INFO(PLog_TSUO, "(PLog_TSUO) Start converting for video %s started", videoID_.c_str());
    platform::Value answer;
    std::optional<platform::Error> error;
    waitFor([&](std::function<void()> done) {
        auto request = PNVideoAPI::shared().startConvertingVideo(
            videoID_, *filename, token(),
            [&, done](const platform::Value& result,
                      const std::optional<platform::Error>& failure) {
                answer = result;
                error = failure;
                done();
            });
        std::lock_guard lock(mutex_);
        cancellationToken_ = request;
    });
    std::shared_ptr<PNVideo> video;
    if (auto described = PNJSONParser::shared().parseSingleVideoResponse(answer, nullptr))
        video = described->video();
    // Taken before the record says uploaded, so that the loop, which would report that end
    // itself, leaves the report to this step.
    Completion block = takeBlockToReport();
    if (!error) {
        manager().markUploaded(videoID_, token());
        PLOG_INFO(PLog_TSUO, "PLog_TSUO Start converting for video %s SUCCESSFUL",
                  videoID_.c_str());
    } else {
        PLOG_INFO(PLog_TSUO, "PLog_TSUO Start converting for video %s FAILURE", videoID_.c_str());
    }
    if (block) {
        wakeUp_.signal();
        block(video, false, error);
    }
    if (error && !isRetryError(*error))
        cancel();
}

// --- Steps ----------------------------------------------------------------------------------

bool PDataRangeUploadingOperation::checkSessionExpirationTime() {
    {
        std::lock_guard lock(mutex_);
        if (!expirationDate_ || !(platform::Date::now() > *expirationDate_))
            return false;
        expirationDate_.reset();
        urlToUpload_.reset();
        uploadDescription_.reset();
    }
    manager().updateFields(videoID_, token(), [](PNUploadingState& stored) {
        stored.setUrlToUpload(std::nullopt);
        stored.setUrlExpirationDate(std::nullopt);
        stored.setBytesUploaded(0);
    });
    return true;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::createVideoOnServerSide(
    const PNUploadingState& record) {
    PLOG_INFO(PLog_TSUO, "PLog_TSUO create video on server side %s", videoID_.c_str());
    std::shared_ptr<PNVideo> video;
    std::optional<platform::Error> error;
    waitFor([&](std::function<void()> done) {
        auto request = PNVideoAPI::shared().createVideo(
            videoID_, record.title(), record.shotOn(),
            platform::Location(record.latitude(), record.longitude()), record.height(),
            record.width(), record.tags(), record.metadata(), token(),
            [&, done](const std::shared_ptr<PNVideo>& created,
                      const std::optional<platform::Error>& failure) {
                video = created;
                error = failure;
                done();
            });
        std::lock_guard lock(mutex_);
        cancellationToken_ = request;
    });
    if (!video) {
        // It may exist already: made by an earlier run whose answer was lost.
        waitFor([&](std::function<void()> done) {
            auto request = PNVideoAPI::shared().video(
                videoID_, [&, done](const std::shared_ptr<PNVideo>& existing,
                                    const std::optional<platform::Error>&) {
                    video = existing;
                    done();
                });
            std::lock_guard lock(mutex_);
            cancellationToken_ = request;
        });
    }
    if (!video) {
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO creating video on server side %s FAILURE",
                   videoID_.c_str());
        return error ? *error : storageError(0, "the backend");
    }
    manager().updateFields(videoID_, token(), [&](PNUploadingState& stored) {
        if (video->creationDate())
            stored.setCreatedAt(*video->creationDate());
        stored.setIsSynced(true);
    });
    PLOG_INFO(PLog_TSUO, "PLog_TSUO creating video on server side %s SUCCESSFUL", videoID_.c_str());
    return std::nullopt;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::updateUploadDescription(
    const PNUploadingState& record) {
    platform::Value description;
    std::optional<platform::Error> error;
    waitFor([&](std::function<void()> done) {
        auto request = PNVideoAPI::shared().uploadingURLs(
            videoID_, record.isImported(), token(),
            [&, done](const platform::Value& result,
                      const std::optional<platform::Error>& failure) {
                description = result;
                error = failure;
                done();
            });
        std::lock_guard lock(mutex_);
        cancellationToken_ = request;
    });
    if (const platform::Dictionary* dictionary = description.asDictionary()) {
        std::lock_guard lock(mutex_);
        uploadDescription_ = *dictionary;
        return std::nullopt;
    }
    if (error && isNotFound(*error)) {
        // The backend no longer has the video: nothing will ever take this upload.
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO the backend has no video %s", videoID_.c_str());
        endWith(Ending::failed, error);
        manager().removeUploading(videoID_, token());
        PNLocalVideoCache::shared().remove(videoID_);
        return std::nullopt;
    }
    return error ? *error : storageError(0, "the upload description");
}

std::optional<platform::Dictionary> PDataRangeUploadingOperation::uploadingInfoByResolution(
    const std::string& resolution, bool needConvert) const {
    std::lock_guard lock(mutex_);
    if (!uploadDescription_)
        return std::nullopt;
    if (needConvert)
        return uploadDescription_;
    auto converted = uploadDescription_->find("converted_video_urls");
    if (converted == uploadDescription_->end() || !converted->second.asArray())
        return std::nullopt;
    for (const platform::Value& entry : *converted->second.asArray()) {
        const platform::Value* filename = entry.find("filename");
        if (filename && filename->asString() && *filename->asString() == resolution + ".mp4") {
            return *entry.asDictionary();
        }
    }
    return std::nullopt;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::initializeResumableSession(
    const PNUploadingState& record, const std::string& resolution, bool needConvert) {
    std::optional<platform::Dictionary> info = uploadingInfoByResolution(resolution, needConvert);
    if (!info)
        return storageError(0, "the upload description of " + resolution);
    if (record.urlToUpload() && record.urlExpirationDate()) {
        std::lock_guard lock(mutex_);
        urlToUpload_ = record.urlToUpload();
        expirationDate_ = record.urlExpirationDate();
        needsStatusQuery_ = true;
        return std::nullopt;
    }
    PLOG_INFO(PLog_TSUO, "PLog_TSUO initialize resumable sesion video %s %s", videoID_.c_str(),
              resolution.c_str());
    std::optional<platform::URLRequest> request =
        PGoogleDriveHelper::requestForInitializingResumableDescription(*info);
    if (!request)
        return storageError(0, "the upload description of " + resolution);
    auto [response, error] = executeURLRequest(*request);
    const int status = statusOf(response);
    std::optional<platform::URL> location;
    if (auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response)) {
        if (auto text = http->valueForHTTPHeaderField("Location")) {
            location = platform::URL::fromString(*text);
        }
    }
    if (error || status < 200 || status > 299 || !location) {
        PLOG_INFO(PLog_TSUO, "PLog_TSUO initialize resumable sesion video FAIL %s %s %ld %s",
                  videoID_.c_str(), resolution.c_str(), static_cast<long>(status),
                  describe(error).c_str());
        return error ? *error : storageError(status, "the session start");
    }
    const platform::Date expiration = platform::Date::now().addingTimeInterval(sessionLifetime);
    {
        std::lock_guard lock(mutex_);
        urlToUpload_ = location;
        expirationDate_ = expiration;
    }
    // A new session holds nothing yet, whatever an earlier one had: its address and the count
    // it starts from are kept together, so a restart never pairs one with the other's.
    needsStatusQuery_ = false;
    manager().updateFields(videoID_, token(), [&](PNUploadingState& stored) {
        stored.setBytesUploaded(0);
        stored.setUrlToUpload(location);
        stored.setUrlExpirationDate(expiration);
    });
    PLOG_INFO(PLog_TSUO, "PLog_TSUO initialize resumable sesion video SUCCESS %s %s",
              videoID_.c_str(), resolution.c_str());
    return std::nullopt;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::queryUploadStatus(
    const PNUploadingState& record, std::int64_t fileSize) {
    std::optional<platform::URL> url;
    {
        std::lock_guard lock(mutex_);
        url = urlToUpload_;
    }
    if (!url)
        return std::nullopt;
    const std::int64_t total = fileSize - head(record);
    const std::optional<std::int64_t> knownTotal =
        record.isRecordingComplete() ? std::optional<std::int64_t>(total) : std::nullopt;
    PLOG_INFO(PLog_TSUO, "PLog_TSUO asking the session of video %s what it holds",
              videoID_.c_str());
    auto [response, error] =
        executeURLRequest(PGoogleDriveHelper::requestForUploadStatus(*url, knownTotal));
    platform::Status failure = followStorageAnswer(response, error, total);
    if (failure.ok())
        needsStatusQuery_ = false;
    return failure;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::followStorageAnswer(
    const std::shared_ptr<platform::URLResponse>& response,
    const std::optional<platform::Error>& error, std::int64_t totalSize) {
    auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
    if (error || !http) {
        // The chunk may or may not have arrived: ask before sending anything more.
        needsStatusQuery_ = true;
        return error ? *error : storageError(0, "the storage");
    }
    const int status = http->statusCode();
    if (status == 200 || status == 201) {
        if (!manager().updateDataUploaded(videoID_, totalSize, token()))
            endWith(Ending::recordRemoved, std::nullopt);
        return std::nullopt;
    }
    if (status == 308) {
        std::optional<std::int64_t> persisted = persistedBytes(*http);
        if (!persisted || *persisted > totalSize) {
            // An answer that cannot be true of this file: start again in a new session.
            restartFromZero();
            return storageError(status, "the storage");
        }
        if (!manager().updateDataUploaded(videoID_, *persisted, token()))
            endWith(Ending::recordRemoved, std::nullopt);
        return std::nullopt;
    }
    if (dropsSession(status)) {
        restartFromZero();
        return storageError(status, "the storage");
    }
    needsStatusQuery_ = true;
    return storageError(status, "the storage");
}

bool PDataRangeUploadingOperation::hasBytesToUpload(const PNUploadingState& record,
                                                    std::int64_t fileSize) const {
    const std::int64_t remaining = fileSize - record.bytesUploaded();
    const std::int64_t h = head(record);
    if (remaining > rangeSize + h)
        return true;
    if (remaining > h)
        return record.isRecordingComplete();
    return false;
}

bool PDataRangeUploadingOperation::ableToUploadNextPartOfData(const PNUploadingState& record,
                                                              std::int64_t fileSize) const {
    {
        std::lock_guard lock(mutex_);
        if (!urlToUpload_)
            return false;
    }
    return hasBytesToUpload(record, fileSize);
}

std::optional<PDataRangeUploadingOperation::ByteRange>
PDataRangeUploadingOperation::nextPartOfDataToUpload(const PNUploadingState& record,
                                                     std::int64_t fileSize) const {
    const std::int64_t uploaded = record.bytesUploaded();
    const std::int64_t remaining = fileSize - uploaded;
    const std::int64_t h = head(record);
    if (remaining > rangeSize + h)
        return ByteRange{uploaded + h, rangeSize};
    if (remaining > h && record.isRecordingComplete()) {
        return ByteRange{uploaded + h, fileSize - h - uploaded};
    }
    return std::nullopt;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::uploadDataRange(
    const PNUploadingState& record, ByteRange range, const std::string& resolution,
    std::int64_t fileSize) {
    const auto path = PCacheManager::getInstance().locationForVideoCache(videoID_, resolution);
    if (!path)
        return PNError(PNError::uploadFileNotFound).toPlatformError();
    // The range goes from the file straight into the transfer, which opens the file as the
    // path names it then, not through a copy in memory. A file cut shorter after this look
    // sends fewer bytes than its Content-Range names, which the storage refuses (400): the
    // upload then starts over in a new session.
    const std::optional<platform::FileVersion> file =
        platform::FileManager::defaultManager().versionOfItem(*path);
    if (!file || file->size < range.location + range.length)
        return PNError(PNError::uploadFileNotFound).toPlatformError();
    std::optional<platform::URL> url;
    {
        std::lock_guard lock(mutex_);
        url = urlToUpload_;
    }
    if (!url)
        return std::nullopt;
    const std::int64_t h = head(record);
    const bool lastChunk =
        range.location + range.length == fileSize && record.isRecordingComplete();
    platform::URLRequest request = PGoogleDriveHelper::requestForUploadingResumableRange(
        range.location - h, range.length, fileSize - h, *url, lastChunk);
    const std::string rangeText =
        std::to_string(range.location) + "-" + std::to_string(range.location + range.length);
    PLOG_INFO(PLog_TSUO, "PLog_TSUO uploading resumable range %s video %s url %s %s",
              rangeText.c_str(), videoID_.c_str(), url->absoluteString().c_str(),
              resolution.c_str());
    platform::ProcessGate::reach("upload.chunk");
    const platform::Date started = platform::Date::now();
    platform::Data body;
    const FilePart part{*path, range.location, range.length};
    auto [response, error] = executeURLRequest(request, &body, &part);
    const double elapsed = platform::Date::now().timeIntervalSince(started);
    const int status = statusOf(response);
    if (!error && (status == 200 || status == 201 || status == 308)) {
        // A record removed meanwhile is noticed as the answer is recorded (followStorageAnswer).
        platform::ProcessGate::reach("upload.chunkAnswered");
        PLOG_INFO(PLog_TSUO,
                  "PLog_TSUO uploading resumable range %s video %s SUCCESSFULL %s time interval %f",
                  rangeText.c_str(), videoID_.c_str(), resolution.c_str(), elapsed);
    } else if (!error) {
        PLOG_INFO(PLog_TSUO,
                  "PLog_TSUO uploading resumable range %s video %s HTTP ERROR code %li %s %s "
                  "time interval %f",
                  rangeText.c_str(), videoID_.c_str(), static_cast<long>(status),
                  std::string(body.begin(), body.end()).c_str(), resolution.c_str(), elapsed);
    } else {
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO uploading resumable ts %s video %s %s FAIL %s",
                   rangeText.c_str(), videoID_.c_str(), resolution.c_str(),
                   describe(error).c_str());
    }
    return followStorageAnswer(response, error, fileSize - h);
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::uploadDataFirstMp4Bytes(
    const PNUploadingState&, const std::string& resolution, bool needConvert) {
    const auto path = PCacheManager::getInstance().locationForVideoCache(videoID_, resolution);
    if (!path)
        return PNError(PNError::uploadFileNotFound).toPlatformError();
    platform::Data head = source_.read(*path, 0, headSize);
    if (static_cast<std::int64_t>(head.size()) != headSize)
        return PNError(PNError::uploadFileNotFound).toPlatformError();
    std::optional<platform::Dictionary> info = uploadingInfoByResolution(resolution, needConvert);
    if (!info)
        return storageError(0, "the upload description of " + resolution);
    auto prefix = info->find("prefixUrl");
    std::optional<platform::URL> url;
    if (prefix != info->end() && prefix->second.asString())
        url = platform::URL::fromString(*prefix->second.asString());
    if (!url)
        return storageError(0, "the upload description of " + resolution);
    PLOG_INFO(PLog_TSUO, "PLog_TSUO uploading range 0-60 video %s url %s %s", videoID_.c_str(),
              url->absoluteString().c_str(), resolution.c_str());
    auto [response, error] =
        executeURLRequest(PGoogleDriveHelper::requestForUploadingData(std::move(head), *url));
    const int status = statusOf(response);
    if (error || status < 200 || status > 399) {
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO uploading 0-60 video %s FAIL %s %s", videoID_.c_str(),
                   resolution.c_str(), describe(error).c_str());
        return error ? *error : storageError(status, "the storage");
    }
    PNStoredUploadingStatePtr latest = record();
    if (!latest) {
        endWith(Ending::recordRemoved, std::nullopt);
        return std::nullopt;
    }
    manager().updateDataUploaded(videoID_, latest->bytesUploaded() + headSize, token());
    PLOG_INFO(PLog_TSUO, "PLog_TSUO uploading range 0-60 video %s SUCCESSFULL %s", videoID_.c_str(),
              resolution.c_str());
    return std::nullopt;
}

PDataRangeUploadingOperation::StepResult PDataRangeUploadingOperation::putResolution(
    const PNUploadingState& record, const std::string& resolution) {
    PLOG_INFO(PLog_TSUO, "(PLog_TSUO) Update resolutions for video %s %s started", videoID_.c_str(),
              resolution.c_str());
    std::optional<platform::Error> error;
    waitFor([&](std::function<void()> done) {
        auto request = PNVideoAPI::shared().updateVideo(
            videoID_, std::vector<std::string>{resolution}, token(),
            [&, done](const std::shared_ptr<PNVideo>&,
                      const std::optional<platform::Error>& failure) {
                error = failure;
                done();
            });
        std::lock_guard lock(mutex_);
        cancellationToken_ = request;
    });
    if (error) {
        PLOG_INFO(PLog_TSUO, "PLog_TSUO Update resolutions for video success %s %s FAIL %s",
                  videoID_.c_str(), resolution.c_str(), describe(error).c_str());
        return error;
    }
    forgetSessionInMemory();
    source_.close();
    std::vector<std::string> uploaded = record.resolutionsUploaded();
    uploaded.push_back(resolution);
    const bool allUploaded = record.resolutionsToUpload() == uploaded;
    // One store for the whole step: a crash between the session's end and the resolution's
    // entry would otherwise send the whole resolution again after a restart.
    manager().updateFields(videoID_, token(), [&](PNUploadingState& stored) {
        stored.setUrlToUpload(std::nullopt);
        stored.setUrlExpirationDate(std::nullopt);
        stored.setBytesUploaded(0);
        stored.setResolutionsUploaded(uploaded);
        if (allUploaded)
            stored.setIsUploaded(true);
    });
    PLOG_INFO(PLog_TSUO, "PLog_TSUO Update resolutions for video success %s %s SUCCESS",
              videoID_.c_str(), resolution.c_str());
    return std::nullopt;
}

void PDataRangeUploadingOperation::restartFromZero() {
    forgetSessionInMemory();
    needsStatusQuery_ = false;
    manager().updateFields(videoID_, token(), [](PNUploadingState& stored) {
        stored.setUrlToUpload(std::nullopt);
        stored.setUrlExpirationDate(std::nullopt);
        stored.setBytesUploaded(0);
    });
}

void PDataRangeUploadingOperation::forgetSessionInMemory() {
    std::lock_guard lock(mutex_);
    urlToUpload_.reset();
    expirationDate_.reset();
}

}  // namespace pindle::legacy
