// PPublishServiceContext: one publish of a cached MOV file: the video and upload record made
// for it, the conversion's result, and the closures waiting for it.
//
// Thread-safety: guarded by one lock; closures are called without it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "platform/dispatch/Operation.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::legacy {

class PPublishServiceContext {
  public:
    using Completion =
        std::function<void(const std::shared_ptr<PPublishServiceContext>& context, bool cancelled,
                           const std::optional<platform::Error>& error)>;

    PPublishServiceContext(platform::URL url, std::string videoID, platform::StringSet tags,
                           platform::StringDictionary metadata, std::string destPath);

    const platform::URL& url() const { return url_; }
    const std::string& videoID() const { return videoID_; }
    const platform::StringSet& tags() const { return tags_; }
    const platform::StringDictionary& metadata() const { return metadata_; }
    const std::string& destPath() const { return destPath_; }

    // Filled from the source file's own metadata.
    double latitude = 0;
    double longitude = 0;
    double width = 0;
    double height = 0;
    platform::Date shotOn;
    // The host's title for the video; empty when it gave none. Set before the context is shared.
    std::string title;

    std::shared_ptr<PNVideo> video() const;
    void setVideo(std::shared_ptr<PNVideo> video);
    std::string filePath() const;
    void setFilePath(std::string path);
    bool converted() const;
    void setConverted(bool converted);
    bool cancelled() const;
    void setCancelled(bool cancelled);

    void addCompletion(Completion completion);
    std::vector<Completion> completionBlocks() const;

    // Operations that belong to this publish: cancelling the publish cancels each of them. The
    // publish itself adds none; a host may.
    std::vector<std::shared_ptr<platform::Operation>> operations() const;
    void addOperation(std::shared_ptr<platform::Operation> operation);
    // A file or folder the conversion leaves beside its output (a segmenter's), removed once
    // the conversion has succeeded; empty, the default, for none. The publish never sets it.
    std::string outputHLSegmenterPath() const;
    void setOutputHLSegmenterPath(std::string path);

  private:
    const platform::URL url_;
    const std::string videoID_;
    const platform::StringSet tags_;
    const platform::StringDictionary metadata_;
    const std::string destPath_;

    mutable std::mutex mutex_;
    std::shared_ptr<PNVideo> video_;                                // guarded by mutex_
    std::string filePath_;                                          // guarded by mutex_
    bool converted_ = false;                                        // guarded by mutex_
    bool cancelled_ = false;                                        // guarded by mutex_
    std::vector<Completion> completionBlocks_;                      // guarded by mutex_
    std::vector<std::shared_ptr<platform::Operation>> operations_;  // guarded by mutex_
    std::string outputHLSegmenterPath_;                             // guarded by mutex_
};

}  // namespace pindle::legacy
