// PPublishService: prepares a cached MOV file for upload.
//
// It reads the file's own size and orientation, creates the video object and its upload
// record, converts the file to MP4 with the video converter, moves the result to the video's
// 720p cache name, marks the record converted and hands the video to the uploading service.
// One context exists per source file; callers of the same file share it, and contexts live for
// the process.
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
        PPublishServiceContext::Completion completion);
    void cancelPublishingForContext(const std::shared_ptr<PPublishServiceContext>& context);

    // {"lat", "long"} from an ISO 6709 text ("+37.3318-122.0312/": 8 characters of latitude,
    // then 9 of longitude); empty when it is shorter or either part is no number.
    static std::map<std::string, double> coordinatedFromISO6709String(const std::string& text);

  private:
    PPublishService() = default;

    void fillContextWithMetadata(PPublishServiceContext& context);
    void createFillVideoForContext(PPublishServiceContext& context);
    void startConvertingForContext(const std::shared_ptr<PPublishServiceContext>& context);
    void updateVideoAccordingToContext(PPublishServiceContext& context);
    void callBlockForContext(const std::shared_ptr<PPublishServiceContext>& context, bool cancelled,
                             const std::optional<platform::Error>& error);

    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<PPublishServiceContext>> contexts_;  // guarded by mutex_
};

}  // namespace pindle::legacy
