// PSDAVAssetExportSession: transcodes one movie file into a new MP4 file under full control of
// the video and audio output settings (size, bit rate, profile and level; channels, rate and
// bit rate), reporting progress and calling a completion handler once per export.
//
// The picture is shown as the source asks (its preferred transform applied) and fitted inside
// the output size, centred, keeping its aspect. The output frame rate is the video settings'
// average non-droppable frame rate, 30 when they give none. A failed or cancelled export
// deletes its partial output file; a file already at the output URL fails the export with
// the writer's MediaError::fileAlreadyExists and is left as it is. A cancelled session can be
// started again; starting again while an export runs cancels that export first (its handler
// is called, as cancelled), and the new export begins only after the old one has cleaned up.
// Inside a handler, status(), error() and progress() describe that handler's own export,
// even when a newer one has replaced it meanwhile.
//
// Errors are in the platform media framework's domain ("AVFoundationErrorDomain"): -11820
// "Output URL not set", or whatever the reader or writer reported; a cancelled export has no
// error.
//
// Thread-safety: every member may be called from any thread. The completion handler runs on
// the session's serial queue "VideoEncoderInputQueue", except for a missing output URL or
// unusable settings, which are reported on the caller's thread before the call returns.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/uploads/PSDAVAssetExportSessionDelegate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/foundation/WeakDelegate.hpp"
#include "platform/media/AffineTransform.hpp"
#include "platform/media/Asset.hpp"
#include "platform/media/AssetTrack.hpp"
#include "platform/media/AssetWriter.hpp"
#include "platform/media/MediaTranscoder.hpp"
#include "platform/media/TimeRange.hpp"

namespace pindle::legacy {

class PSDAVAssetExportSession : public std::enable_shared_from_this<PSDAVAssetExportSession> {
  public:
    // Numbered as the platform's export status.
    enum class Status {
        unknown = 0,
        waiting = 1,
        exporting = 2,
        completed = 3,
        failed = 4,
        cancelled = 5
    };

    // The file type identifier of MPEG-4 movies, the one output type supported.
    static constexpr const char* fileTypeMPEG4 = "public.mpeg-4";

    struct VideoSettings {
        std::string codec = "avc1";  // H.264, the one video codec supported
        double width = 0;            // rounded to whole numbers, then down to even ones
        double height = 0;
        std::int64_t averageBitRate = 3'072'000;
        // "H264_<Baseline|Main|High>_<major>_<minor>" or "H264_<profile>_AutoLevel".
        std::string profileLevel = "H264_High_4_0";
        std::optional<double> averageNonDroppableFrameRate;
    };

    struct AudioSettings {
        std::string format = "aac";  // MPEG-4 AAC, the one audio format supported
        int numberOfChannels = 2;
        double sampleRate = 44100;
        std::int64_t encoderBitRate = 128000;
    };

    struct LayerInstruction {
        int trackID = 0;
        // From the track's stored picture to the render area.
        platform::AffineTransform transform;
    };

    struct VideoCompositionInstruction {
        platform::TimeRange timeRange;
        std::vector<LayerInstruction> layerInstructions;
    };

    // How the picture is laid out. One instruction with one layer is drawn: the first
    // instruction's first layer; more layers are not composited.
    struct VideoComposition {
        platform::Size renderSize;
        platform::MediaTime frameDuration = platform::MediaTime::makeWithSeconds(1.0 / 30, 600);
        std::vector<VideoCompositionInstruction> instructions;
    };

    struct VolumeRamp {
        float startVolume = 1;
        float endVolume = 1;
        platform::TimeRange timeRange;
    };

    struct AudioMixInputParameters {
        int trackID = 0;
        float volume = 1;
        std::vector<VolumeRamp> volumeRamps;
    };

    // Volume and volume ramps per audio track. The output carries the asset's first audio
    // track, so the parameters for that track apply (the first parameters when none names
    // it).
    struct AudioMix {
        std::vector<AudioMixInputParameters> inputParameters;
    };

    // The source movie; it is read from its URL, which must be a file URL.
    // REQUIRES: asset is not null.
    static std::shared_ptr<PSDAVAssetExportSession> exportSessionWithAsset(
        platform::AssetPtr asset);

    PSDAVAssetExportSession(const PSDAVAssetExportSession&) = delete;
    PSDAVAssetExportSession& operator=(const PSDAVAssetExportSession&) = delete;

    // Starts an export with the settings as they are now; `handler` is called once when it
    // ends, whatever the outcome (read status() and error() there). A running export is
    // cancelled first. The session stays alive until the handler has run.
    void exportAsynchronouslyWithCompletionHandler(std::function<void()> handler);

    // Cancels the running export, if any: its partial output is deleted and its handler is
    // called with status() cancelled.
    void cancelExport();

    // Of the latest export (of the handler's own one, called from a handler): unknown before
    // the first, exporting while it runs, then completed, failed or cancelled. An export
    // refused before it started (no output URL) is failed.
    Status status() const;
    // The latest export's error; nothing while exporting, after success or cancellation.
    std::optional<platform::Error> error() const;
    // 0 to 1 while exporting: the output time written over the time to export; 1 throughout
    // when that time is 0 (an empty range, a source that does not say how long it is), and 1
    // after success.
    float progress() const;

    // The layout the export draws when no composition is set, as a composition a host can
    // adjust and set: the asset's first video track turned by its preferred transform and
    // fitted, centred and keeping its aspect, inside the video settings' size (the displayed
    // size without settings), which is its render size; one instruction over the asset's
    // duration. Nothing without a video track. See defaultVideoComposition.
    std::optional<VideoComposition> buildDefaultVideoComposition() const;
    // The default composition of `track` for `settings`, over `duration` from zero:
    // - the frame rate is the settings' average non-droppable frame rate (0 when they give
    //   none), or without settings the track's nominal rate; 0 becomes 30, and the frame
    //   duration is one over the whole rate;
    // - a translation of exactly -560 in either axis of the preferred transform counts as 0
    //   (files that carry it are shown in place that way); when the transform turns by
    //   exactly a quarter (atan2(b, a) is 90 or -90 degrees) the natural size is turned;
    // - the layer transform is that transform, then a scale by the smaller of the two
    //   ratios of render size to natural size (in single precision), then a translation
    //   centring the picture. The render size is the output's own, so the layer transform
    //   maps straight into output pixels.
    static VideoComposition defaultVideoComposition(const platform::AssetTrack& track,
                                                    const std::optional<VideoSettings>& settings,
                                                    platform::MediaTime duration);

    const platform::AssetPtr& asset() const { return asset_; }

    bool shouldOptimizeForNetworkUse() const;
    void setShouldOptimizeForNetworkUse(bool optimize);
    std::optional<std::string> outputFileType() const;
    void setOutputFileType(std::optional<std::string> type);
    std::optional<platform::URL> outputURL() const;
    void setOutputURL(std::optional<platform::URL> url);
    std::optional<VideoSettings> videoSettings() const;
    void setVideoSettings(std::optional<VideoSettings> settings);
    std::optional<AudioSettings> audioSettings() const;
    void setAudioSettings(std::optional<AudioSettings> settings);
    // The part of the source exported: from its start for its duration; a duration of
    // +infinity (the default, from zero) runs to the end.
    platform::TimeRange timeRange() const;
    void setTimeRange(platform::TimeRange range);
    // Metadata items written to the output: key to text.
    std::map<std::string, std::string> metadata() const;
    void setMetadata(std::map<std::string, std::string> items);
    // Nothing (the default) fits the shown picture inside the video settings' size, centred;
    // a set composition replaces that: its render size and frame duration are the output's.
    std::optional<VideoComposition> videoComposition() const;
    void setVideoComposition(std::optional<VideoComposition> composition);
    std::optional<AudioMix> audioMix() const;
    void setAudioMix(std::optional<AudioMix> mix);
    // Held weakly.
    std::shared_ptr<PSDAVAssetExportSessionDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<PSDAVAssetExportSessionDelegate>& delegate);

    // Settings of the decoded video frames the reading side hands on. Kept, and shown by
    // videoOutput(); the transcoder decodes into the format it draws with (BGRA, for a
    // delegate that draws frames), so they change nothing in the output.
    std::optional<platform::Dictionary> videoInputSettings() const;
    void setVideoInputSettings(std::optional<platform::Dictionary> settings);

    // The serial queue "VideoEncoderInputQueue" the exports and their handlers run on.
    const std::shared_ptr<platform::DispatchQueue>& inputQueue() const { return inputQueue_; }

    // --- The parts of an export ---
    //
    // The transcoder reads, decodes, composes, encodes and writes inside itself, so an export
    // has no asset reader, reader outputs, asset writer, writer inputs or pixel buffer adaptor
    // of its own. What reader(), videoOutput(), audioOutput(), writer(), videoInput(),
    // videoPixelBufferAdaptor() and audioInput() give are read-only stand-ins for those parts
    // of the latest export, describing what it was given; the reader's and the writer's status
    // follow its run. Each is null before the first export and after one refused before it
    // started (no output URL, unusable settings); the video parts are null for an asset without
    // video, the audio parts for one without sound.

    // Stands for the asset reader.
    struct Reader {
        enum class Status { unknown = 0, reading = 1, completed = 2, failed = 3, cancelled = 4 };
        platform::AssetPtr asset;
        platform::TimeRange timeRange;
        // Reading while the export runs, then as it ended.
        Status status() const;
        std::shared_ptr<const platform::MediaTranscoder> run;  // the export's transcoder
    };
    // Stands for one of the reader's outputs: every track of its media type.
    struct ReaderOutput {
        platform::MediaType mediaType = platform::MediaType::other;
        std::vector<std::int32_t> trackIDs;
        bool alwaysCopiesSampleData = false;
        // Video: videoInputSettings() and the composition drawn (the set one, else the
        // default). Audio: the mix applied, if any.
        std::optional<platform::Dictionary> videoSettings;
        std::optional<VideoComposition> videoComposition;
        std::optional<AudioMix> audioMix;
    };
    // Stands for the asset writer.
    struct Writer {
        platform::URL outputURL;
        std::string outputFileType;
        bool shouldOptimizeForNetworkUse = false;
        std::map<std::string, std::string> metadata;
        // Writing while the export runs, then as it ended.
        platform::AssetWriter::Status status() const;
        std::shared_ptr<const platform::MediaTranscoder> run;  // the export's transcoder
    };
    // Stands for one of the writer's inputs, with the settings it encodes by.
    struct WriterInput {
        platform::MediaType mediaType = platform::MediaType::other;
        std::optional<VideoSettings> videoSettings;
        std::optional<AudioSettings> audioSettings;
        bool expectsMediaDataInRealTime = false;
    };
    // Stands for the pixel buffer adaptor of the video input: BGRA pictures of the
    // composition's render size.
    struct PixelBufferAdaptor {
        std::shared_ptr<const WriterInput> assetWriterInput;
        platform::Dictionary sourcePixelBufferAttributes;
    };

    std::shared_ptr<const Reader> reader() const;
    std::shared_ptr<const ReaderOutput> videoOutput() const;
    std::shared_ptr<const ReaderOutput> audioOutput() const;
    std::shared_ptr<const Writer> writer() const;
    std::shared_ptr<const WriterInput> videoInput() const;
    std::shared_ptr<const PixelBufferAdaptor> videoPixelBufferAdaptor() const;
    std::shared_ptr<const WriterInput> audioInput() const;

    struct Private {
        explicit Private() = default;
    };
    PSDAVAssetExportSession(Private, platform::AssetPtr asset);

  private:
    // What a handler reads of its own export (see status()).
    struct Outcome {
        Status status = Status::unknown;
        std::optional<platform::Error> error;
        float progress = 0;
    };
    // The outcome of the export whose handler runs on this thread, when it is one of this
    // session's.
    const Outcome* handlersOutcome() const;

    // The transcoder settings for the current properties, or the error that refuses them.
    std::optional<platform::MediaTranscoder::Settings> transcoderSettings(
        platform::Error* error) const;

    // The stand-ins of one export's parts.
    struct Parts {
        std::shared_ptr<const Reader> reader;
        std::shared_ptr<const ReaderOutput> videoOutput;
        std::shared_ptr<const ReaderOutput> audioOutput;
        std::shared_ptr<const Writer> writer;
        std::shared_ptr<const WriterInput> videoInput;
        std::shared_ptr<const PixelBufferAdaptor> videoPixelBufferAdaptor;
        std::shared_ptr<const WriterInput> audioInput;
    };
    // One part of the latest export.
    template <class Part>
    std::shared_ptr<const Part> part(std::shared_ptr<const Part> Parts::*member) const;
    // The parts of an export by `run` over these tracks, with the current properties.
    // REQUIRES: mutex_ held.
    Parts describeParts(const std::shared_ptr<const platform::MediaTranscoder>& run,
                        const std::vector<platform::AssetTrack>& videoTracks,
                        const std::vector<platform::AssetTrack>& audioTracks) const;

    const platform::AssetPtr asset_;
    const std::shared_ptr<platform::DispatchQueue> inputQueue_;

    mutable std::mutex mutex_;
    bool shouldOptimizeForNetworkUse_ = false;     // guarded by mutex_
    std::optional<std::string> outputFileType_;    // guarded by mutex_
    std::optional<platform::URL> outputURL_;       // guarded by mutex_
    std::optional<VideoSettings> videoSettings_;   // guarded by mutex_
    std::optional<AudioSettings> audioSettings_;   // guarded by mutex_
    std::map<std::string, std::string> metadata_;  // guarded by mutex_
    platform::TimeRange timeRange_{platform::MediaTime::zero(),
                                   platform::MediaTime::positiveInfinityTime()};  // guarded
    std::optional<VideoComposition> videoComposition_;  // guarded by mutex_
    std::optional<AudioMix> audioMix_;                  // guarded by mutex_
    platform::WeakDelegate<PSDAVAssetExportSessionDelegate> delegate_;
    std::optional<platform::Dictionary> videoInputSettings_;  // guarded by mutex_
    std::optional<platform::Error> error_;                    // guarded by mutex_
    std::shared_ptr<platform::MediaTranscoder> transcoder_;   // guarded by mutex_
    Parts parts_;                                             // guarded by mutex_
};

}  // namespace pindle::legacy
