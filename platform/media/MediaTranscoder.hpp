// MediaTranscoder: transcodes one media file into a new MP4 file with explicit output
// settings: H.264 video of a given size, bit rate, profile and level at a fixed frame rate,
// and AAC audio of a given channel count, sample rate and bit rate.
//
// The picture is shown the way the source asks to be shown: its preferred transform (the
// display rotation) is applied, then it is scaled to fit inside the output size keeping its
// aspect, centred, with black bars where it does not fill the frame. Frames are resampled to
// the output rate by showing, at each output instant, the source frame on screen then.
// Audio is resampled to the output format. The output carries only the settings' metadata
// items: nothing of the source's (its location, say) leaks into the new file unasked.
//
// A transcoder runs once: start() queues the work on the transcoder's serial queue, and
// the completion runs exactly once on that queue, after the output is complete or, for a
// failed or cancelled run, after the partial output has been deleted. The output file is
// created exclusively: a file already at the output path fails the run with the writer's
// MediaError::fileAlreadyExists and is left as it is (a failed run deletes only the file it
// made itself); an output path that names the source itself is refused before anything is
// written.
//
// Thread-safety: every member may be called from any thread. The completion runs on queue().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/media/AffineTransform.hpp"
#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

class MediaTranscoder : public std::enable_shared_from_this<MediaTranscoder> {
  public:
    enum class Status { unknown, transcoding, completed, failed, cancelled };

    struct VideoSettings {
        // Output picture size; odd numbers are rounded down to even ones (4:2:0 pictures
        // need even sizes), and anything below 2 becomes 2.
        int width = 0;
        int height = 0;
        std::int64_t bitRate = 3'072'000;
        std::string profile = "high";  // the encoder's profile name
        int level = 40;                // level times ten; 0 leaves it to the encoder
        // Output frames per second; 0 takes the source's nominal rate (30 when unknown).
        double frameRate = 0;
    };

    struct AudioSettings {
        int channels = 2;
        int sampleRate = 44100;
        std::int64_t bitRate = 128000;
    };

    // Replaces the default fit: the output is renderWidth x renderHeight, one frame every
    // frameDuration seconds, and each pixel of the decoded picture (in its stored
    // coordinates, before any display rotation) lands where `transform` maps it; what no
    // source pixel covers is black.
    struct Composition {
        int renderWidth = 0;
        int renderHeight = 0;
        double frameDuration = 0;
        AffineTransform transform;
    };

    // Over `duration` seconds from `start` (output time) the gain goes linearly from `from`
    // to `to`, and holds `to` after.
    struct VolumeRamp {
        double start = 0;
        double duration = 0;
        float from = 1;
        float to = 1;
    };

    // The gain of the audio: `volume` until the first ramp starts, then the ramps'.
    struct AudioMix {
        float volume = 1;
        std::vector<VolumeRamp> ramps;
    };

    // Draws one output picture itself: `source` is the decoded frame as BGRA in its stored
    // orientation, `seconds` its output time, `destination` a BGRA buffer of the output size
    // holding the picture the transcoder would write. What it leaves there is written;
    // returning false fails the run. Called on queue().
    using FrameRenderer =
        std::function<bool(const PixelBuffer& source, double seconds, PixelBuffer& destination)>;

    struct Settings {
        // Without video settings a video track keeps its displayed size (rounded to even);
        // without audio settings an audio track keeps its channels and rate.
        std::optional<VideoSettings> video;
        std::optional<AudioSettings> audio;
        // Put the index before the media data so playback can start while downloading.
        bool optimizeForNetworkUse = false;
        std::map<std::string, std::string> metadata;
        // The part of the source to convert, in seconds of the source: from `startSeconds`
        // for `durationSeconds` (nothing: to the end). The output starts at zero; sound is
        // cut to the nearest whole audio frame of the source.
        double startSeconds = 0;
        std::optional<double> durationSeconds;
        // The composition's render size and frame duration win over the video settings'.
        std::optional<Composition> composition;
        std::optional<AudioMix> audioMix;
        FrameRenderer frameRenderer;
    };

    // The error is nothing for a completed or cancelled run.
    using Completion = std::function<void(Status, std::optional<Error>)>;

    // The work and the completion run on `queue`, a serial queue; without one the transcoder
    // makes its own, labelled "MediaTranscoder". Transcoders that share a queue run one after
    // the other, so a later run never races an earlier one's clean-up of the same output.
    static std::shared_ptr<MediaTranscoder> create(std::string sourcePath, std::string outputPath,
                                                   Settings settings,
                                                   std::shared_ptr<DispatchQueue> queue = nullptr);

    MediaTranscoder(const MediaTranscoder&) = delete;
    MediaTranscoder& operator=(const MediaTranscoder&) = delete;

    // Queues the run. Returns false, and never calls `completion`, when the transcoder was
    // started before.
    bool start(Completion completion);

    // Stops the run as soon as it notices: the partial output is deleted and the completion
    // gets Status::cancelled. Cancelling before start() makes the run end at once as
    // cancelled; after the completion it changes nothing.
    void cancel();

    // Called on queue() each time progress() moves during the run.
    // REQUIRES: set before start().
    void setProgressHandler(std::function<void(float)> handler);

    Status status() const;
    // Why the run failed; nothing unless status() is failed.
    std::optional<Error> error() const;
    // 0 to 1: the output time written over the duration to convert (1 at every step when
    // that is 0 or unknown); 1 once completed.
    float progress() const { return progress_.load(); }

    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }
    const std::string& sourcePath() const { return sourcePath_; }
    const std::string& outputPath() const { return outputPath_; }

    struct Private {
        explicit Private() = default;
    };
    MediaTranscoder(Private, std::string sourcePath, std::string outputPath, Settings settings,
                    std::shared_ptr<DispatchQueue> queue);

  private:
    class Run;
    void finish(Status status, std::optional<Error> error);

    const std::string sourcePath_;
    const std::string outputPath_;
    const Settings settings_;
    const std::shared_ptr<DispatchQueue> queue_;

    std::atomic<bool> cancelled_{false};
    std::atomic<float> progress_{0};

    mutable std::mutex mutex_;
    bool started_ = false;                        // guarded by mutex_
    Status status_ = Status::unknown;             // guarded by mutex_
    std::optional<Error> error_;                  // guarded by mutex_
    Completion completion_;                       // guarded by mutex_
    std::function<void(float)> progressHandler_;  // guarded by mutex_
};

}  // namespace pindle::platform
