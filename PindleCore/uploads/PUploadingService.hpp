// PUploadingService: the legacy upload road's entry.
//
// It takes a media file from the host, gives it a new video identifier, links (or copies) it
// to the video's MOV cache name, has the publishing service convert it and make its record
// (only then does a file it may move lose the host's name), and runs one range-upload
// operation per video on a serial queue. At start-up it restarts the unfinished uploads. It
// posts the upload notifications on the default center with object nil:
// "kPVideosUploadingStartedNotification", "kPVideosUploadingFinishedNotification",
// PNVideoUploadStarted {"videoID", "progress"}, PNVideoIsUploaded {"videoID"},
// PNVideoUploadCanceled {"videoID"} (only for the host's cancel or a removed record) and
// PNVideoUploadFailed {"videoID", "error"} or {"error"}.
//
// Every video from its hand-over (or its restart) to its end is "in flight":
// "kPVideosUploadingStartedNotification" comes when the first one is, and
// "kPVideosUploadingFinishedNotification" when the last one ends, uploaded, failed, cancelled
// or removed. An operation that ends leaves the table, so the video can be queued again. When
// an upload has to back off (its operation deferred), the video is queued again after 3 seconds,
// then after twice the pause of the time before, up to maxRetryDelay, while other uploads use
// the lane.
//
// Processes that share the application home each carry their own uploads: a video is claimed
// (PUploadClaim) before its file enters the media folder and stays claimed until it lands, and
// the start-up restart takes up only the unfinished uploads that nobody claims (their process
// ended), claiming them in turn. The tidying at start-up removes nothing of a claimed video.
// Their operations take turns on the one upload lane (see PDataRangeUploadingOperation).
//
// Thread-safety: safe from any thread; entry points run on the caller's thread, operation
// completions on the queue's thread, retries on a global queue. No lock is held while posting.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"
#include "PindleCore/uploads/PPublishServiceContext.hpp"
#include "PindleCore/uploads/PUploadClaim.hpp"
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
    static constexpr double firstRetryDelay = 3.0;  // seconds
    static constexpr double maxRetryDelay = 300.0;

    static PUploadingService& getInstance();

    PUploadingService(const PUploadingService&) = delete;
    PUploadingService& operator=(const PUploadingService&) = delete;

    // The new video, or nothing when the file could not be taken over.
    std::shared_ptr<PNVideo> uploadVideoFile(
        const std::optional<platform::URL>& fileURL, const std::optional<platform::StringSet>& tags,
        const std::optional<platform::StringDictionary>& metadata, const std::string& title = "");
    void uploadVideoID(const std::string& videoID);
    void cancelUploadingVideoID(const std::string& videoID);
    void removeUploadingVideoID(const std::string& videoID);
    void confirmUploadingVideoID(const std::string& videoID);
    void startNonCompletedUploadingsAgain();
    std::shared_ptr<PDataRangeUploadingOperation> createOperationForVideoID(
        const std::string& videoID);
    std::size_t queuedVideoCount() const;

    // How many calls of startNonCompletedUploadingsAgain() have ended: their tidying done,
    // their uploads queued or landed.
    int restartCount() const { return restarts_.load(); }
    // The videos handed over or restarted whose upload has not ended yet.
    std::set<std::string> videosInFlight() const;
    // Whether another live process sharing the application home carries the video's upload.
    bool carriedByAnotherProcess(const std::string& videoID) const;
    // The delay before the upload of a video is tried again after `deferrals` back-offs in a row.
    static double retryDelay(int deferrals);

  private:
    PUploadingService();

    void postStarted(const PNUploadingState& record);
    // Counts the video in flight; the started notification when it is the first.
    void takeOff(const std::string& videoID);
    // The video's upload has ended; the finished notification when it was the last. When it
    // was still in flight, `endedAs` (if any) is posted first with {"videoID"}: once however
    // many callers see the same end.
    void land(const std::string& videoID, const char* endedAs = nullptr);
    // `gotFurther`: whether the upload kept something more before this back-off.
    void scheduleRetry(const std::string& videoID, bool gotFurther);
    // Keeps the video's claim until the video lands; false when there is none to keep.
    bool hold(const std::string& videoID, std::unique_ptr<PUploadClaim> claim);
    void release(const std::string& videoID);
    bool holds(const std::string& videoID) const;
    bool isInFlight(const std::string& videoID) const;
    // Takes the operation out of the table, if it is still the one stored for the video.
    void forget(const std::string& videoID, const PDataRangeUploadingOperation* operation);
    // Removes what a crash left: conversion outputs of no running conversion, and linked
    // source files that no record points at.
    void removeStrayFiles();
    // Publishes the video's MOV file; a failure cancels the upload's list entry, and a full disk
    // is posted as PNVideoUploadFailed (with the video's identifier when `withVideoID`).
    std::shared_ptr<PPublishServiceContext> publish(
        const std::string& videoID, const std::optional<platform::StringSet>& tags,
        const std::optional<platform::StringDictionary>& metadata, bool withVideoID,
        const std::string& title = "");

    const std::shared_ptr<platform::OperationQueue> queue_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<PDataRangeUploadingOperation>>
        operationTable_;                    // guarded by mutex_
    std::set<std::string> inFlight_;        // guarded by mutex_
    std::map<std::string, int> deferrals_;  // back-offs in a row, by video; guarded by mutex_
    std::map<std::string, std::uint64_t>
        pendingRetries_;                 // retry ticket by video; guarded by mutex_
    std::uint64_t nextRetryTicket_ = 1;  // guarded by mutex_
    // The claims of the videos this process carries, from before their hand-over to their
    // landing.
    std::map<std::string, std::unique_ptr<PUploadClaim>> claims_;  // guarded by mutex_
    std::atomic<int> restarts_{0};
};

}  // namespace pindle::legacy
