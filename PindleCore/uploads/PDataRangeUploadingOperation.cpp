#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/device/PBandwidthService.hpp"
#include "PindleCore/device/PFileSystemUtil.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PGoogleDriveHelper.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "platform/dispatch/DispatchTime.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"

namespace pindle::legacy {

namespace {

PNUploadingStateManager& manager() {
    return PNUploadingStateManager::shared();
}
const std::shared_ptr<PNTokenObject>& token() {
    return PNTokenObject::sharedInstance();
}

int statusOf(const std::shared_ptr<platform::URLResponse>& response) {
    auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
    return http ? http->statusCode() : 0;
}

bool isRetryable(const std::optional<platform::Error>& error) {
    return error && isRetryError(*error);
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

PNUploadingStatePtr PDataRangeUploadingOperation::record() const {
    return manager().uploading(videoID_, token());
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
                                                platform::Data* body) {
    struct Outcome {
        std::optional<platform::Data> data;
        std::shared_ptr<platform::URLResponse> response;
        std::optional<platform::Error> error;
    };
    auto outcome = std::make_shared<Outcome>();
    waitFor([&](std::function<void()> done) {
        auto task = platform::URLSession::shared()->dataTask(
            request, [outcome, done](std::optional<platform::Data> data,
                                     std::shared_ptr<platform::URLResponse> response,
                                     std::optional<platform::Error> error) {
                *outcome = {std::move(data), std::move(response), std::move(error)};
                done();
            });
        {
            std::lock_guard lock(mutex_);
            currentDataTask_ = task;
        }
        // A cancel() that came before the task was kept must still stop it.
        if (isCancelled())
            task->cancel();
        task->resume();
    });
    {
        std::lock_guard lock(mutex_);
        currentDataTask_.reset();
    }
    if (body && outcome->data)
        *body = std::move(*outcome->data);
    return {outcome->response, outcome->error};
}

// --- The loop -------------------------------------------------------------------------------

void PDataRangeUploadingOperation::main() {
    PNUploadingStatePtr current = record();
    if (!current || isCancelled())
        return;
    while (current && !current->isUploaded()) {
        if (PBandwidthService::getInstance().offlineMode() ||
            PNSession::current()->state() != PNSessionState::started) {
            pause(waitingPause);
        } else {
            checkSessionExpirationTime();
            current = record();
            if (!current)
                break;
            const std::size_t index = current->resolutionsUploaded().size();
            if (index >= current->resolutionsToUpload().size()) {
                // Nothing left to send, yet not marked uploaded: waiting would never end.
                PLOG_ERROR(PLog_TSUO, "PLog_TSUO no resolution left to upload for video %s",
                           videoID_.c_str());
                cancel();
                break;
            }
            const std::string resolution = current->resolutionsToUpload()[index];
            const std::int64_t uploaded = current->bytesUploaded();
            const std::int64_t size = current->bytes(resolution);
            const bool needConvert = current->requireConvert();
            const bool complete = current->isRecordingComplete();
            if (size == 0 && complete)
                cancel();

            bool haveDescription = false;
            bool haveSession = false;
            {
                std::lock_guard lock(mutex_);
                haveDescription = uploadDescription_.has_value();
                haveSession = urlToUpload_.has_value();
            }
            if (!current->isSynced()) {
                createVideoOnServerSide(*current);
            } else if (!haveDescription) {
                updateUploadDescription(*current);
            } else if (!haveSession && hasBytesToUpload(*current, size)) {
                initializeResumableSession(*current, resolution, needConvert);
            } else if (ableToUploadNextPartOfData(*current, size)) {
                uploadDataRange(*current, *nextPartOfDataToUpload(*current, size), resolution,
                                size);
            } else if (complete && size != 0 && size == uploaded + headSize) {
                uploadDataFirstMp4Bytes(*current, resolution, needConvert);
            } else if (complete && size != 0 && size == uploaded) {
                if (needConvert) {
                    manager().markUploaded(videoID_, token());
                } else {
                    putResolution(*current, resolution);
                }
            }
        }
        pause(passPause);
        current = record();
        if (!current || isCancelled())
            break;
    }
    // The end of a successful upload is reported too, so the uploading service can post that
    // the video is uploaded and count it done.
    if (current && current->isUploaded() && !isCancelled()) {
        Completion block;
        {
            std::lock_guard lock(mutex_);
            block = block_;
        }
        if (block)
            block(nullptr, false, std::nullopt);
    }
}

void PDataRangeUploadingOperation::cancel() {
    const bool first = !isCancelled();
    platform::Operation::cancel();
    std::shared_ptr<platform::URLSessionTask> task;
    PNCancellablePtr cancellable;
    Completion block;
    {
        std::lock_guard lock(mutex_);
        task = currentDataTask_;
        cancellable = cancellationToken_;
        if (first)
            block = block_;
    }
    wakeUp_.signal();
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

// --- Steps ----------------------------------------------------------------------------------

void PDataRangeUploadingOperation::checkSessionExpirationTime() {
    {
        std::lock_guard lock(mutex_);
        if (!expirationDate_ || !(platform::Date::now() > *expirationDate_))
            return;
        expirationDate_.reset();
        urlToUpload_.reset();
        uploadDescription_.reset();
    }
    manager().updateUploadingURL(videoID_, std::nullopt, std::nullopt, token());
    manager().updateDataUploaded(videoID_, 0, token());
}

void PDataRangeUploadingOperation::createVideoOnServerSide(const PNUploadingState& record) {
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
        return;
    }
    if (video->creationDate())
        manager().updateCreationDate(videoID_, *video->creationDate(), token());
    manager().markSynced(videoID_, token());
    PLOG_INFO(PLog_TSUO, "PLog_TSUO creating video on server side %s SUCCESSFUL", videoID_.c_str());
    if (error && !isRetryError(*error))
        cancel();
}

void PDataRangeUploadingOperation::updateUploadDescription(const PNUploadingState& record) {
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
        return;
    }
    if (!error || isRetryError(*error)) {
        cancel();
    } else {
        remove();
    }
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

void PDataRangeUploadingOperation::initializeResumableSession(const PNUploadingState& record,
                                                              const std::string& resolution,
                                                              bool needConvert) {
    std::optional<platform::Dictionary> info = uploadingInfoByResolution(resolution, needConvert);
    if (!info)
        return;
    if (record.urlToUpload() && record.urlExpirationDate()) {
        std::lock_guard lock(mutex_);
        urlToUpload_ = record.urlToUpload();
        expirationDate_ = record.urlExpirationDate();
        return;
    }
    PLOG_INFO(PLog_TSUO, "PLog_TSUO initialize resumable sesion video %s %s", videoID_.c_str(),
              resolution.c_str());
    std::optional<platform::URLRequest> request =
        PGoogleDriveHelper::requestForInitializingResumableDescription(*info);
    if (!request)
        return;
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
        return;
    }
    const platform::Date expiration = platform::Date::now().addingTimeInterval(sessionLifetime);
    {
        std::lock_guard lock(mutex_);
        urlToUpload_ = location;
        expirationDate_ = expiration;
    }
    manager().updateUploadingURL(videoID_, location, expiration, token());
    PLOG_INFO(PLog_TSUO, "PLog_TSUO initialize resumable sesion video SUCCESS %s %s",
              videoID_.c_str(), resolution.c_str());
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

void PDataRangeUploadingOperation::uploadDataRange(const PNUploadingState& record, ByteRange range,
                                                   const std::string& resolution,
                                                   std::int64_t fileSize) {
    const auto path = PCacheManager::getInstance().pathForVideoCache(videoID_, resolution);
    if (!path)
        return;
    platform::Data data = PFileSystemUtil::readDataFromFile(*path, range.location,
                                                            static_cast<std::size_t>(range.length));
    if (static_cast<std::int64_t>(data.size()) != range.length)
        return;
    std::optional<platform::URL> url;
    {
        std::lock_guard lock(mutex_);
        url = urlToUpload_;
    }
    if (!url)
        return;
    const std::int64_t h = head(record);
    const bool lastChunk =
        range.location + range.length == fileSize && record.isRecordingComplete();
    platform::URLRequest request = PGoogleDriveHelper::requestForUploadingResumableData(
        data, range.location - h, fileSize - h, *url, lastChunk);
    const std::string rangeText =
        std::to_string(range.location) + "-" + std::to_string(range.location + range.length);
    PLOG_INFO(PLog_TSUO, "PLog_TSUO uploading resumable range %s video %s url %s %s",
              rangeText.c_str(), videoID_.c_str(), url->absoluteString().c_str(),
              resolution.c_str());
    const platform::Date started = platform::Date::now();
    platform::Data body;
    auto [response, error] = executeURLRequest(request, &body);
    const double elapsed = platform::Date::now().timeIntervalSince(started);
    const int status = statusOf(response);
    if (!error && status >= 200 && status <= 399) {
        PNUploadingStatePtr latest = this->record();
        if (!latest) {
            cancel();
            return;
        }
        manager().updateDataUploaded(videoID_, latest->bytesUploaded() + range.length, token());
        PLOG_INFO(PLog_TSUO,
                  "PLog_TSUO uploading resumable range %s video %s SUCCESSFULL %s time interval %f",
                  rangeText.c_str(), videoID_.c_str(), resolution.c_str(), elapsed);
    } else if (!error) {
        PLOG_INFO(PLog_TSUO,
                  "PLog_TSUO uploading resumable range %s video %s HTTP ERROR code %li %s %s "
                  "time interval %f",
                  rangeText.c_str(), videoID_.c_str(), static_cast<long>(status),
                  std::string(body.begin(), body.end()).c_str(), resolution.c_str(), elapsed);
        if (status == 503 || status == 400) {
            forgetSession();
            manager().resetUploadedBytes(videoID_, token());
        }
    } else if (!isRetryError(*error)) {
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO uploading resumable ts %s video %s %s FAIL %s",
                   rangeText.c_str(), videoID_.c_str(), resolution.c_str(),
                   describe(error).c_str());
        cancel();
    }
}

void PDataRangeUploadingOperation::uploadDataFirstMp4Bytes(const PNUploadingState&,
                                                           const std::string& resolution,
                                                           bool needConvert) {
    const auto path = PCacheManager::getInstance().pathForVideoCache(videoID_, resolution);
    if (!path)
        return;
    platform::Data head = PFileSystemUtil::readDataFromFile(*path, 0, headSize);
    std::optional<platform::Dictionary> info = uploadingInfoByResolution(resolution, needConvert);
    if (!info)
        return;
    auto prefix = info->find("prefixUrl");
    if (prefix == info->end() || !prefix->second.asString())
        return;
    std::optional<platform::URL> url = platform::URL::fromString(*prefix->second.asString());
    if (!url)
        return;
    PLOG_INFO(PLog_TSUO, "PLog_TSUO uploading range 0-60 video %s url %s %s", videoID_.c_str(),
              url->absoluteString().c_str(), resolution.c_str());
    auto [response, error] =
        executeURLRequest(PGoogleDriveHelper::requestForUploadingData(head, *url));
    const int status = statusOf(response);
    if (!error && status >= 200 && status <= 399) {
        PNUploadingStatePtr latest = record();
        if (!latest) {
            cancel();
            return;
        }
        manager().updateDataUploaded(videoID_, latest->bytesUploaded() + headSize, token());
        PLOG_INFO(PLog_TSUO, "PLog_TSUO uploading range 0-60 video %s SUCCESSFULL %s",
                  videoID_.c_str(), resolution.c_str());
    } else if (error && !isRetryable(error)) {
        PLOG_ERROR(PLog_TSUO, "PLog_TSUO uploading 0-60 video %s FAIL %s %s", videoID_.c_str(),
                   resolution.c_str(), describe(error).c_str());
        cancel();
    }
}

void PDataRangeUploadingOperation::putResolution(const PNUploadingState& record,
                                                 const std::string& resolution) {
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
        return;
    }
    forgetSession();
    manager().updateDataUploaded(videoID_, 0, token());
    std::vector<std::string> uploaded = record.resolutionsUploaded();
    uploaded.push_back(resolution);
    manager().updateResolutionsUploaded(videoID_, uploaded, token());
    if (record.resolutionsToUpload() == uploaded) {
        manager().markUploaded(videoID_, token());
        manager().resetUploadedBytes(videoID_, token());
    }
    PLOG_INFO(PLog_TSUO, "PLog_TSUO Update resolutions for video success %s %s SUCCESS",
              videoID_.c_str(), resolution.c_str());
}

void PDataRangeUploadingOperation::forgetSession() {
    {
        std::lock_guard lock(mutex_);
        urlToUpload_.reset();
        expirationDate_.reset();
    }
    manager().updateUploadingURL(videoID_, std::nullopt, std::nullopt, token());
}

}  // namespace pindle::legacy
