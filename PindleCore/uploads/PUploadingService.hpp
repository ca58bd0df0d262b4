// PUploadingService: the legacy upload road's entry.
//
// It takes a media file from the host, gives it a new video identifier, moves (or copies) it
// to the video's MOV cache name, has the publishing service convert it and make its record,
// and runs one range-upload operation per video on a serial queue. At start-up it restarts the
// unfinished uploads. It posts the upload notifications on the default center with object nil:
// "kPVideosUploadingStartedNotification", "kPVideosUploadingFinishedNotification",
// PNVideoUploadStarted {"videoID", "progress"}, PNVideoIsUploaded {"videoID"},
// PNVideoUploadCanceled {"videoID"} and PNVideoUploadFailed {"videoID"} or {"error"}.
//
// Thread-safety: safe from any thread; entry points run on the caller's thread, operation
// completions on the queue's thread. No lock is held while posting.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"
#include "PindleCore/uploads/PPublishServiceContext.hpp"
#include "platform/dispatch/OperationQueue.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::legacy {

extern const char* const kPVideosUploadingStartedNotification;
extern const char* const kPVideosUploadingFinishedNotification;

class PUploadingService {
  public:
    // The platform's disk-full error code.
    static constexpr std::int64_t diskFullErrorCode = -11807;

    static PUploadingService& getInstance();

    PUploadingService(const PUploadingService&) = delete;
    PUploadingService& operator=(const PUploadingService&) = delete;

    // The new video, or nothing when the file could not be taken over.
    std::shared_ptr<PNVideo> uploadVideoFile(
        const std::optional<platform::URL>& fileURL, const std::optional<platform::StringSet>& tags,
        const std::optional<platform::StringDictionary>& metadata);
    void uploadVideoID(const std::string& videoID);
    void cancelUploadingVideoID(const std::string& videoID);
    void removeUploadingVideoID(const std::string& videoID);
    void confirmUploadingVideoID(const std::string& videoID);
    void startNonCompletedUploadingsAgain();
    std::shared_ptr<PDataRangeUploadingOperation> createOperationForVideoID(
        const std::string& videoID);
    std::size_t queuedVideoCount() const;

    // How often startNonCompletedUploadingsAgain() ran.
    int restartCount() const { return restarts_.load(); }

  private:
    PUploadingService();

    void postStarted(const PNUploadingState& record);
    void countDone();
    // Publishes the video's MOV file; a failure cancels the upload's list entry, and a full disk
    // is posted as PNVideoUploadFailed (with the video's identifier when `withVideoID`).
    std::shared_ptr<PPublishServiceContext> publish(
        const std::string& videoID, const std::optional<platform::StringSet>& tags,
        const std::optional<platform::StringDictionary>& metadata, bool withVideoID);

    const std::shared_ptr<platform::OperationQueue> queue_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<PDataRangeUploadingOperation>>
        operationTable_;                                     // guarded by mutex_
    std::uint64_t operationsConfirmedAndIsInUploading_ = 0;  // guarded by mutex_
    std::atomic<int> restarts_{0};
};

}  // namespace pindle::legacy
