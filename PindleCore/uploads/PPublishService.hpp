// PPublishService: prepares a cached MOV file for upload.
//
// It reads the file's own size and orientation, creates the video object and its upload
// record, converts the file to MP4 with the video converter, moves the result to the video's
// 720p cache name, marks the record converted and hands the video to the uploading service.
// One context exists per source file while it is published; callers of the same file share it.
// The steps after a conversion are ordered so that a crash at any moment loses nothing: the
// output is moved into place, then the record is marked converted, and only then is the source
// removed. When the move fails the source stays, the output goes and the closures hear the
// error.
//
// Thread-safety: safe from any thread. publishVideoID() runs on the caller's thread; the
// conversion's completion, and so the closures, run on the converter's completion thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/uploads/PPublishServiceContext.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::legacy {

class PPublishService {
  public:
    static PPublishService& getInstance();

    PPublishService(const PPublishService&) = delete;
    PPublishService& operator=(const PPublishService&) = delete;

    // The context of the video's MOV cache file; an existing context only gains `completion`.
    // Null, with `completion` never called, for an identifier that may name no file.
    std::shared_ptr<PPublishServiceContext> publishVideoID(
        const std::string& videoID, const std::optional<platform::StringSet>& tags,
        const std::optional<platform::StringDictionary>& metadata,
        PPublishServiceContext::Completion completion, const std::string& title = "");
    // Stops the publish (its conversion and the context's operations) and cancels the video's
    // upload.
    void cancelPublishingForContext(const std::shared_ptr<PPublishServiceContext>& context);
    // Stops the conversion of the video, if one runs, and removes its output, and cancels the
    // context's operations; its closures hear of the cancellation. The upload itself is left
    // to the caller.
    void cancelPublishingVideoID(const std::string& videoID);
    // Whether the video's file is being published (converted) now.
    bool isPublishingVideoID(const std::string& videoID) const;

    // The file manager that moves and removes the files of a publish (the default manager when
    // null); tests inject faults through its options.
    void setFileManager(std::shared_ptr<const platform::FileManager> files);

    // {"lat", "long"} from an ISO 6709 text: the first signed number is the latitude, the next
    // the longitude, whatever their precision ("+37.3318-122.0312/", "+48.85-002.29+035/");
    // altitude and the closing "/" are ignored. Empty without two numbers, or when the
    // latitude lies outside -90..90 or the longitude outside -180..180.
    static std::map<std::string, double> coordinatedFromISO6709String(const std::string& text);

  private:
    PPublishService() = default;

    void fillContextWithMetadata(PPublishServiceContext& context);
    void createFillVideoForContext(PPublishServiceContext& context);
    void startConvertingForContext(const std::shared_ptr<PPublishServiceContext>& context);
    // Marks the publish cancelled, stops its conversion and cancels its operations.
    void stop(PPublishServiceContext& context);
    // Moves the conversion's output to the video's 720p cache name, and removes the context's
    // outputHLSegmenterPath; the error when the move fails.
    platform::Status updateVideoAccordingToContext(PPublishServiceContext& context);
    // The publish has ended: the context goes, then its closures are called.
    void finish(const std::shared_ptr<PPublishServiceContext>& context, bool cancelled,
                const std::optional<platform::Error>& error);
    std::shared_ptr<PPublishServiceContext> contextOf(const std::string& videoID) const;
    std::shared_ptr<const platform::FileManager> files() const;
    void callBlockForContext(const std::shared_ptr<PPublishServiceContext>& context, bool cancelled,
                             const std::optional<platform::Error>& error);

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<PPublishServiceContext>> contexts_;  // guarded by mutex_
    std::shared_ptr<const platform::FileManager> files_;                       // guarded by mutex_
};

}  // namespace pindle::legacy
