// AssetWriter: writes an MPEG-4 or QuickTime movie from samples appended to its inputs (one
// video and one audio input at most), encoded by MediaWriter.
//
// Use: make() (refuses a file that exists or a folder that does not), add() the inputs,
// startWriting(), startSession(atSourceTime), append through the inputs (or a pixel-buffer
// adaptor), then finishWriting(completion) or cancelWriting().
//
// Times: sample times are source times; the session start becomes time zero of the file, and
// samples before it are dropped. Video frames must come at increasing times (a frame at or
// before the last one is refused, the writer goes on). Audio is continuous: the first audio
// buffer's distance from the session start becomes leading silence, a later buffer that
// comes after a gap gets silence for the gap, and otherwise buffers follow each other.
//
// Status ("status", key-value observable): unknown until startWriting(), then writing, and
// finally completed, failed or cancelled. It changes on the thread that caused the change (an
// append that failed, startWriting, cancelWriting) or on the writer's serial queue (finish),
// and is announced there with no lock held (a failure inside an append is announced just
// after it happened, so a will-change handler already sees it). error() tells why it failed.
//
// finishWriting(completion) finishes on the writer's own serial queue; the file is complete
// before the completion runs there. A writer that is cancelled, fails, or is destroyed before
// it finished removes its partial file.
//
// Thread-safety: all operations are safe from any thread; appends are serialised.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/AssetWriterInput.hpp"
#include "platform/media/PixelBuffer.hpp"
#include "platform/media/SampleBuffer.hpp"

namespace pindle::platform {

class MediaWriter;

class AssetWriter : public KeyValueObservable {
  public:
    static constexpr const char* fileTypeMPEG4 = "public.mpeg-4";
    static constexpr const char* fileTypeQuickTimeMovie = "com.apple.quicktime-movie";
    static constexpr const char* statusKey = "status";

    enum class Status { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

    // Null with `error` (when given) for a URL that is no file URL, an unknown file type, a
    // file that exists (MediaError::fileAlreadyExists) or a folder that does not exist.
    static std::shared_ptr<AssetWriter> make(URL outputURL, std::string fileType,
                                             Error* error = nullptr);

    struct Private {
        explicit Private() = default;
    };
    AssetWriter(Private, URL outputURL, std::string fileType);
    ~AssetWriter() override;

    const URL& outputURL() const { return outputURL_; }
    const std::string& outputFileType() const { return fileType_; }
    void setShouldOptimizeForNetworkUse(bool value);

    // Before startWriting, one input of each media type at most, not added elsewhere.
    bool canAdd(const AssetWriterInputPtr& input) const;
    // Does nothing when canAdd() is false.
    void add(const AssetWriterInputPtr& input);
    std::vector<AssetWriterInputPtr> inputs() const;

    // Creates the file, exclusively, and readies the encoders. False, with status failed and
    // error(), when the inputs cannot be encoded or the file cannot be made (also when a file
    // appeared at the path since make(), MediaError::fileAlreadyExists, which is left as it
    // is); false with nothing changed when writing has already started.
    bool startWriting();
    // Sets the source time that becomes the file's time zero. Only the first call counts.
    void startSession(MediaTime sourceTime);

    Status status() const;
    std::optional<Error> error() const;
    Value valueForKey(std::string_view key) const override;

    // Marks every input finished, completes the file on the writer's queue and then calls
    // `completion` there. Also when there is nothing to finish (the completion then runs
    // with the status as it is).
    void finishWriting(std::function<void()> completion);
    // Stops and removes the partial file; nothing once completed.
    void cancelWriting();

  private:
    friend class AssetWriterInput;
    friend class AssetWriterInputPixelBufferAdaptor;

    bool appendSample(const AssetWriterInput& input, const SampleBuffer& sample);
    bool appendPicture(const AssetWriterInput& input, const PixelBuffer& picture, MediaTime time);
    bool appendAudio(const SampleBuffer& sample);
    bool isWriting() const;
    // Runs `change` under mutex_ between the will- and did-change announcements of the
    // status, which are made without the lock (even when `change` changes nothing).
    void transition(const std::function<void()>& change);
    // With mutex_ held: ends writing with `error` and removes the partial file.
    void failLocked(Error error);
    // Appends to the encoder with mutex_ held; a failure fails the writer.
    bool encodeLocked(const std::function<platform::Status(MediaWriter&)>& append);

    const URL outputURL_;
    const std::string fileType_;
    const std::shared_ptr<DispatchQueue> queue_;

    mutable std::mutex mutex_;
    Status status_ = Status::unknown;                // guarded by mutex_
    std::optional<Error> error_;                     // guarded by mutex_
    std::vector<AssetWriterInputPtr> inputs_;        // guarded by mutex_
    std::unique_ptr<MediaWriter> media_;             // guarded by mutex_
    bool optimizeForNetworkUse_ = false;             // guarded by mutex_
    MediaTime sessionStart_ = MediaTime::invalid();  // guarded by mutex_
    double lastVideoTime_ = -1;                      // guarded by mutex_; seconds into the file
    std::optional<double> audioPosition_;            // guarded by mutex_; seconds into the file
};

using AssetWriterPtr = std::shared_ptr<AssetWriter>;

}  // namespace pindle::platform
