// AssetWriter: writes a video file (MPEG-4 video, FFmpeg's "mpeg4" encoder, in the container that
// the file's extension names, e.g. .mp4 or .mov) from a sequence of images, one frame each, at a
// fixed frame rate, with an optional display rotation stored as the track's preferred transform.
//
// Use: startWriting(), appendImage() per frame, finishWriting(). A writer that is destroyed
// or cancelled before it finished removes the partial file.
//
// Thread-safety: all operations are safe from any thread; they are serialised, and each
// runs synchronously on the calling thread. No callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/Image.hpp"

namespace pindle::platform {

class AssetWriter {
  public:
    static constexpr std::int64_t defaultBitRate = 4'000'000;

    struct VideoSettings {
        // Even and positive, as the encoder's chroma subsampling needs.
        int width = 0;
        int height = 0;
        int framesPerSecond = 30;
        // The clockwise turn the frames need on display (multiples of 90).
        double clockwiseRotationDegrees = 0;
        std::int64_t bitRate = defaultBitRate;
    };

    AssetWriter(URL outputURL, VideoSettings settings);
    ~AssetWriter();
    AssetWriter(const AssetWriter&) = delete;
    AssetWriter& operator=(const AssetWriter&) = delete;

    // Creates the file (replacing one already there) and writes its header. Fails with
    // MediaError::invalidArgument for settings that cannot be encoded or a URL that is no
    // file URL, and with MediaError::unknown when the file cannot be written.
    std::optional<Error> startWriting();
    // Encodes one frame; images of another pixel size are scaled to the track's size.
    // Fails when writing has not started or has ended.
    std::optional<Error> appendImage(const Image& image);
    // Flushes the encoder and completes the file.
    std::optional<Error> finishWriting();
    // Stops and removes the partial file; nothing after finishWriting().
    void cancelWriting();

  private:
    struct Encoder;
    std::optional<Error> drainLocked(bool flush);
    void discardLocked();

    const URL outputURL_;
    const VideoSettings settings_;

    std::mutex mutex_;
    std::unique_ptr<Encoder> encoder_;  // guarded by mutex_; present while writing
    std::int64_t framesWritten_ = 0;    // guarded by mutex_
};

}  // namespace pindle::platform
