// PDataRangeUploadingOperation: carries one video from its upload record to the backend.
//
// One pass at a time, it creates the video on the backend, fetches the upload description,
// opens a resumable session on the storage service, sends the media file (without its 60-byte
// head) in ranges of 256 KiB, sends the head last, and records the uploaded resolution. Every
// step's progress goes into the video's upload record through the upload state manager, so an
// interrupted upload resumes where it stopped, also after a restart. While the device is off
// line or the session has not started it waits in pauses of 3 seconds.
//
// main() runs on the uploading service's queue and returns when the record is uploaded, gone
// or the operation cancelled; each request it makes is waited for before the next pass. The
// completion block hears of the end: (nothing, false, nothing) once the record is uploaded,
// (nothing, true, nothing) once when cancelled.
//
// Thread-safety: cancel() may come from any thread: it ends the request in flight and any
// pause at once. The completion block runs on the thread that finishes or cancels.
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
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/Operation.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/net/URLRequest.hpp"
#include "platform/net/URLResponse.hpp"
#include "platform/net/URLSessionTask.hpp"

namespace pindle::legacy {

class PDataRangeUploadingOperation : public platform::Operation {
  public:
    using Completion = std::function<void(const std::shared_ptr<PNVideo>& video, bool cancelled,
                                          const std::optional<platform::Error>& error)>;

    static constexpr std::int64_t rangeSize = 262'144;
    static constexpr std::int64_t headSize = 60;
    static constexpr double passPause = 0.1;
    static constexpr double waitingPause = 3.0;
    static constexpr double sessionLifetime = 518'400.0;  // six days

    explicit PDataRangeUploadingOperation(std::string videoID);

    const std::string& videoID() const { return videoID_; }
    void setUploadCompletionBlock(Completion block);

    void main() override;
    void cancel() override;
    // Cancels, then removes the upload record.
    void remove();

  private:
    struct ByteRange {
        std::int64_t location;
        std::int64_t length;
    };

    PNUploadingStatePtr record() const;
    std::int64_t head(const PNUploadingState& record) const;
    void pause(double seconds);
    // Runs `start(done)` and waits until `done` is called (or the operation is cancelled).
    void waitFor(const std::function<void(std::function<void()> done)>& start);
    // Sends a storage request and waits; gives the response and the error.
    std::pair<std::shared_ptr<platform::URLResponse>, std::optional<platform::Error>>
    executeURLRequest(const platform::URLRequest& request, platform::Data* body = nullptr);

    void checkSessionExpirationTime();
    void createVideoOnServerSide(const PNUploadingState& record);
    void updateUploadDescription(const PNUploadingState& record);
    std::optional<platform::Dictionary> uploadingInfoByResolution(const std::string& resolution,
                                                                  bool needConvert) const;
    void initializeResumableSession(const PNUploadingState& record, const std::string& resolution,
                                    bool needConvert);
    bool hasBytesToUpload(const PNUploadingState& record, std::int64_t fileSize) const;
    bool ableToUploadNextPartOfData(const PNUploadingState& record, std::int64_t fileSize) const;
    std::optional<ByteRange> nextPartOfDataToUpload(const PNUploadingState& record,
                                                    std::int64_t fileSize) const;
    void uploadDataRange(const PNUploadingState& record, ByteRange range,
                         const std::string& resolution, std::int64_t fileSize);
    void uploadDataFirstMp4Bytes(const PNUploadingState& record, const std::string& resolution,
                                 bool needConvert);
    void putResolution(const PNUploadingState& record, const std::string& resolution);
    void forgetSession();

    const std::string videoID_;
    platform::DispatchSemaphore wakeUp_;  // signalled by cancel() to end a pause or a wait

    mutable std::mutex mutex_;
    Completion block_;                                           // guarded by mutex_
    PNCancellablePtr cancellationToken_;                         // guarded by mutex_
    std::shared_ptr<platform::URLSessionTask> currentDataTask_;  // guarded by mutex_
    std::optional<platform::Dictionary> uploadDescription_;      // guarded by mutex_
    std::optional<platform::URL> urlToUpload_;                   // guarded by mutex_
    std::optional<platform::Date> expirationDate_;               // guarded by mutex_
};

}  // namespace pindle::legacy
