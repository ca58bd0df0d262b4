// PVideoConverter: turns a source movie (the cached MOV of a recording or a picked file) into
// the MP4 file that is uploaded: H.264 High 4.0 at 3072000 bit/s fitted into a 1280x720 box
// (720x1280 for portrait and square sources; smaller sources are scaled up), and AAC, 2
// channels, 44100 Hz, 128000 bit/s. One export session runs per source URL; an export the
// platform interrupted is started again; a conversion can be cancelled by its source URL.
//
// Thread-safety: every member may be called from any thread. Completions run on the export
// session's queue "VideoEncoderInputQueue", or on the caller's thread before
// convertMOVfileByURL returns when the session refuses to start (such as a missing output).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Size.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/AssetTrack.hpp"

namespace pindle::legacy {

class PSDAVAssetExportSession;

class PVideoConverter {
  public:
    // `cancelled` is set when the conversion was cancelled; `error` says why it failed.
    using Completion = std::function<void(bool cancelled, std::optional<platform::Error> error)>;

    static constexpr double kLandscapeBoxWidth = 1280;
    static constexpr double kLandscapeBoxHeight = 720;
    static constexpr std::int64_t kVideoBitRate = 3'072'000;
    static constexpr const char* kVideoProfileLevel = "H264_High_4_0";
    static constexpr int kAudioChannels = 2;
    static constexpr double kAudioSampleRate = 44100;
    static constexpr std::int64_t kAudioBitRate = 128000;

    static PVideoConverter& getInstance();

    PVideoConverter(const PVideoConverter&) = delete;
    PVideoConverter& operator=(const PVideoConverter&) = delete;

    // Starts converting `source` into `destMP4FilePath`. Returns false, and never calls
    // `completion`, when a conversion of `source` is already running.
    bool convertMOVfileByURL(const platform::URL& source, const std::string& destMP4FilePath,
                             Completion completion);

    // Cancels the running conversion of `source`, if any; its completion gets cancelled set.
    void cancelConverting(const platform::URL& source);

    // The output size for a source whose displayed size is `displayed`: fitted into the
    // landscape box when wider than high, else into the portrait box, in either direction.
    static platform::Size outputSize(platform::Size displayed);
    // The size a video track is shown at: its natural size under its preferred transform.
    static platform::Size displayedSize(const platform::AssetTrack& track);

  private:
    PVideoConverter() = default;
    void exportCompleted(const platform::URL& source, const std::string& destMP4FilePath,
                         const Completion& completion,
                         const std::shared_ptr<PSDAVAssetExportSession>& session);

    std::mutex mutex_;
    std::map<platform::URL, std::shared_ptr<PSDAVAssetExportSession>>
        mapSession_;  // guarded by mutex_
};

}  // namespace pindle::legacy
