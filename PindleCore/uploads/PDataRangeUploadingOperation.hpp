// PDataRangeUploadingOperation: carries one video from its upload record to the backend.
//
// One pass at a time, it creates the video on the backend, fetches the upload description,
// opens a resumable session on the storage service, sends the media file (without its 60-byte
// head) in chunks of 256 KiB, sends the head last, and records the uploaded resolution. Every
// step's progress goes into the video's upload record through the upload state manager, so an
// interrupted upload resumes where it stopped, also after a restart; what one step changes in
// the record is stored at once (one write of the records file), so a crash never keeps half
// of a step. The bytes counted as sent
// are always those the storage service said it persisted: after a restart, after a chunk
// whose outcome is unknown, or after a server error (5xx), the operation asks the session
// first, so no byte the storage acknowledged is sent twice. Only a session the storage no
// longer knows (404, 410), or one that refuses a chunk as made (400), is dropped and a new one
// opened. While the device is off line or the session has not started it waits in pauses of 3
// seconds.
//
// Only one operation works on a record at a time in the process: a second one waits for the
// first to end, then finds the record as the first left it. Only one operation sends at a time
// among the processes that share the application home: before its first pass that may send,
// main() takes the upload lane (PUploadClaim::tryLane), looking again every laneWait while
// another holds it, and lets it go when it returns or while it waits for the network or a
// session.
//
// main() runs on the uploading service's queue and returns when the record is uploaded, gone,
// the operation cancelled, or when it gives the lane to other uploads. Each range goes from the
// media file straight into its transfer, which opens the file as its path names it then and
// closes it when the range's request ends; the file's head is read through a handle that is
// closed when main() returns, however it ends. The completion block
// hears of the end once: (nothing, false, nothing) when uploaded; (nothing, true, nothing) when
// cancelled or when the record was removed meanwhile; (nothing, false, error) when the upload
// cannot go on (its file is gone, or the backend no longer knows the video: the record is then
// removed; or the record was gone before the operation began). After a failure it pauses
// longer each time (backOffPause); after a failure that is not a retry error, or after
// failuresBeforeBackOff failures since the backend or the storage last kept something (a
// session opened or a status query answered does not count), the operation ends and calls the
// deferral block instead, so the caller can try again later; the record keeps all progress.
//
// Thread-safety: cancel() may come from any thread: it ends the request in flight and any
// pause at once. The blocks run on the thread that finishes or cancels.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/uploads/PNUploadingState.hpp"
#include "PindleCore/uploads/PUploadSourceFile.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/Operation.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/net/URLRequest.hpp"
#include "platform/net/URLResponse.hpp"
#include "platform/net/URLSessionTask.hpp"

namespace pindle::legacy {

class PDataRangeUploadingOperation : public platform::Operation {
  public:
    using Completion = std::function<void(const std::shared_ptr<PNVideo>& video, bool cancelled,
                                          const std::optional<platform::Error>& error)>;
    // `gotFurther`: whether the backend or the storage kept more of the upload during the run
    // that backs off (the video made, bytes stored, a resolution recorded).
    using Deferral = std::function<void(const platform::Error& reason, bool gotFurther)>;

    static constexpr std::int64_t rangeSize = 262'144;
    static constexpr std::int64_t headSize = 60;
    static constexpr double passPause = 0.1;
    static constexpr double waitingPause = 3.0;
    static constexpr double sessionLifetime = 518'400.0;  // six days
    static constexpr int failuresBeforeBackOff = 3;
    // How often an operation looks whether the lane has come free.
    static constexpr double laneWait = 0.25;
    // The pause after the `failures`th failure in a row: passPause doubled each time, at most
    // waitingPause.
    static double backOffPause(int failures);

    explicit PDataRangeUploadingOperation(std::string videoID);

    const std::string& videoID() const { return videoID_; }
    void setUploadCompletionBlock(Completion block);
    void setDeferralBlock(Deferral block);

    void main() override;
    void cancel() override;
    // Cancels, then removes the upload record.
    void remove();

    // Reports `error` as the operation's end, when there is one and the operation is neither
    // cancelled nor ended already: the completion block gets (nothing, false, error), and the
    // loop stops after the pass in hand. The record keeps its progress. Without a completion
    // block nothing happens.
    void handleRequestError(const std::optional<platform::Error>& error);
    // Asks the backend to convert the uploaded media: the "filename" of the upload
    // description the loop fetched; nothing happens before it has one. Waits for the answer on
    // the calling thread, then ends the operation with it, as handleRequestError() does: the
    // completion block gets the video the answer describes (nothing when it is no video
    // object), false, and the error. On success the record is marked uploaded first; after an
    // error that is not a retry error the operation is cancelled (its block heard the error
    // already, so not the cancellation). The loop never takes this step; it is for a host
    // whose backend converts on request.
    void startConvertingVideo();

  private:
    struct ByteRange {
        std::int64_t location;
        std::int64_t length;
    };
    // How a pass's request went: nothing (success), or why it failed.
    using StepResult = platform::Status;
    enum class Ending { none, deferred, failed, recordRemoved };
    // How far the upload has got, as the record (and the description in memory) tell.
    struct Progress {
        bool synced = false;
        bool described = false;
        std::size_t resolutions = 0;
        std::int64_t bytes = 0;
        bool uploaded = false;
        // Whether this is further on than `earlier`: something more kept, nothing undone.
        bool beyond(const Progress& earlier) const;
        // beyond() by what the record keeps alone; a description fetched does not count.
        bool keptMoreThan(const Progress& earlier) const;
    };
    Progress progressOf(const PNUploadingState& record) const;

    PNStoredUploadingStatePtr record() const;
    std::int64_t head(const PNUploadingState& record) const;
    void pause(double seconds);
    // Runs `start(done)` and waits until `done` is called (or the operation is cancelled).
    void waitFor(const std::function<void(std::function<void()> done)>& start);
    // Bytes of a file sent as a request's body.
    struct FilePart {
        std::string path;
        std::int64_t offset;
        std::int64_t length;
    };
    // Sends a storage request (with `fromFile` as its body when given) and waits; gives the
    // response and the error, and the answer's body into `body` when given.
    std::pair<std::shared_ptr<platform::URLResponse>, std::optional<platform::Error>>
    executeURLRequest(const platform::URLRequest& request, platform::Data* body = nullptr,
                      const FilePart* fromFile = nullptr);

    // One pass over `current`, the record as the loop last read it: at most one request. Runs
    // on the loop's thread only.
    StepResult runPass(PNStoredUploadingStatePtr current);
    void endWith(Ending ending, std::optional<platform::Error> reason);
    void report();
    // The completion block, taken to report the end from outside the loop; nothing when an end
    // was reported already or there is no block. The loop then ends without a report of its own.
    Completion takeBlockToReport();
    // Whether the end was reported already (by the loop, a cancel or from outside).
    bool hasReported() const;

    // True when it dropped an expired session (and so changed the record).
    bool checkSessionExpirationTime();
    StepResult createVideoOnServerSide(const PNUploadingState& record);
    StepResult updateUploadDescription(const PNUploadingState& record);
    std::optional<platform::Dictionary> uploadingInfoByResolution(const std::string& resolution,
                                                                  bool needConvert) const;
    StepResult initializeResumableSession(const PNUploadingState& record,
                                          const std::string& resolution, bool needConvert);
    // Asks the session what it has persisted and follows its answer.
    StepResult queryUploadStatus(const PNUploadingState& record, std::int64_t fileSize);
    // Follows the session's answer to a chunk or a status query; a failure for an answer that
    // says nothing of what is persisted.
    StepResult followStorageAnswer(const std::shared_ptr<platform::URLResponse>& response,
                                   const std::optional<platform::Error>& error,
                                   std::int64_t totalSize);
    bool hasBytesToUpload(const PNUploadingState& record, std::int64_t fileSize) const;
    bool ableToUploadNextPartOfData(const PNUploadingState& record, std::int64_t fileSize) const;
    std::optional<ByteRange> nextPartOfDataToUpload(const PNUploadingState& record,
                                                    std::int64_t fileSize) const;
    StepResult uploadDataRange(const PNUploadingState& record, ByteRange range,
                               const std::string& resolution, std::int64_t fileSize);
    StepResult uploadDataFirstMp4Bytes(const PNUploadingState& record,
                                       const std::string& resolution, bool needConvert);
    StepResult putResolution(const PNUploadingState& record, const std::string& resolution);
    // Drops the session in memory and in the record, and the bytes counted against it.
    void restartFromZero();
    // Drops the session in memory only; the caller changes the record.
    void forgetSessionInMemory();

    const std::string videoID_;
    platform::DispatchSemaphore wakeUp_;  // signalled by cancel() to end a pause or a wait

    mutable std::mutex mutex_;
    Completion block_;                                           // guarded by mutex_
    Deferral deferral_;                                          // guarded by mutex_
    bool reported_ = false;                                      // guarded by mutex_
    PNCancellablePtr cancellationToken_;                         // guarded by mutex_
    std::shared_ptr<platform::URLSessionTask> currentDataTask_;  // guarded by mutex_
    std::optional<platform::Dictionary> uploadDescription_;      // guarded by mutex_
    std::optional<platform::URL> urlToUpload_;                   // guarded by mutex_
    std::optional<platform::Date> expirationDate_;               // guarded by mutex_

    // Touched by the loop's thread only.
    PUploadSourceFile source_;  // the file whose head went last; closed when main ends
    bool needsStatusQuery_ = false;
    int consecutiveFailures_ = 0;  // since the upload last got somewhere (see Progress)
    Progress started_;             // where the record stood when main() began
    Ending ending_ = Ending::none;
    std::optional<platform::Error> endReason_;
};

}  // namespace pindle::legacy
