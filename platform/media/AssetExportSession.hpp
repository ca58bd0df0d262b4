// AssetExportSession: writes an asset's media to a new movie file. Only the passthrough
// preset exists: the streams are copied packet by packet into the new container (QuickTime
// movie or MPEG-4), so the codecs, the packet count and the duration are kept and nothing
// is re-encoded.
//
// The export never writes over anything: it creates its output exclusively, so an output
// that already exists, also one another export made a moment before, fails the export with
// MediaError::fileAlreadyExists and is left as it was (so a source can never be its own
// target), and the source is opened read-only. A failed or cancelled export removes what it
// had written, and nothing else.
//
// Thread-safety: all operations are safe from any thread. The export runs on the session's
// own serial queue, and its completion is called there, with no lock held.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::platform {

class AssetExportSession;
using AssetExportSessionPtr = std::shared_ptr<AssetExportSession>;

class AssetExportSession : public Object {
  public:
    static constexpr const char* presetPassthrough = "AVAssetExportPresetPassthrough";
    static constexpr const char* fileTypeQuickTimeMovie = "com.apple.quicktime-movie";
    static constexpr const char* fileTypeMPEG4 = "public.mpeg-4";

    enum class Status {
        unknown = 0,
        waiting = 1,
        exporting = 2,
        completed = 3,
        failed = 4,
        cancelled = 5
    };

    // Null for a preset other than the passthrough one, or an asset without a URL.
    static AssetExportSessionPtr make(const AssetPtr& asset, const std::string& presetName);
    AssetExportSession(URLAssetPtr asset, std::shared_ptr<DispatchQueue> queue);

    std::optional<URL> outputURL() const;
    void setOutputURL(URL url);
    std::string outputFileType() const;
    // fileTypeQuickTimeMovie (the default) or fileTypeMPEG4.
    void setOutputFileType(std::string type);

    // Starts the export; `completion` runs once when it ends (read status() and error()).
    // A second call while one runs is ignored.
    void exportAsynchronously(std::function<void()> completion);
    void cancelExport();
    Status status() const;
    std::optional<Error> error() const;

  private:
    // Copies the streams; the error when it fails.
    platform::Status remux(const std::string& source, const std::string& target,
                           const std::string& fileType);
    void finish(Status status, std::optional<Error> error);

    const URLAssetPtr asset_;
    const std::shared_ptr<DispatchQueue> queue_;
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    std::optional<URL> outputURL_;                         // guarded by mutex_
    std::string outputFileType_ = fileTypeQuickTimeMovie;  // guarded by mutex_
    Status status_ = Status::unknown;                      // guarded by mutex_
    std::optional<Error> error_;                           // guarded by mutex_
};

}  // namespace pindle::platform
