// MediaWriter: writes an MP4 or QuickTime movie from frames the caller supplies: RGBA, BGRA,
// ARGB, NV12 or planar YUV 4:2:0 pictures with presentation times, encoded as H.264 or MPEG-4 Part
// 2, and interleaved 16-bit PCM audio, encoded as AAC. The file can carry a display rotation,
// metadata items and its index at the front for progressive download.
//
// The file is complete only after finish() succeeds. A writer that is cancelled, fails, or
// is destroyed before finish() removes its partial file, so no half-written movie is left
// for a reader to mistake for a whole one.
//
// Thread-safety: not safe for concurrent use; call one writer from one thread at a time
// (a serial queue). Different writers are independent. Calls nothing back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::platform {

class MediaWriter {
  public:
    enum class Container { mp4, mov };
    enum class VideoCodec { h264, mpeg4 };
    // The encoder takes yuv420p when the settings say the pictures are yuv420p (or the codec is
    // MPEG-4), else NV12, which the H.264 encoder keeps its pictures in anyway (video range
    // both): pictures of the video's size in the encoder's format go in without a conversion,
    // so the NV12 pictures of a camera are never converted, however many writers take them.
    enum class PixelFormat { rgba, bgra, argb, nv12, yuv420p };
    // How fast the H.264 encoder works: `realtime` trades compression for speed, for
    // pictures that arrive as they are taken.
    enum class EncoderSpeed { standard, realtime };

    // A picture in memory: one plane for the packed formats, luma then interleaved chroma
    // (half size) for NV12, luma, blue and red difference (half size each) for yuv420p. Rows
    // are `bytesPerRow` apart in each plane.
    struct Picture {
        PixelFormat format = PixelFormat::rgba;
        int width = 0;
        int height = 0;
        const std::uint8_t* planes[3] = {nullptr, nullptr, nullptr};
        std::ptrdiff_t bytesPerRow[3] = {0, 0, 0};
    };

    struct VideoSettings {
        // REQUIRES: positive and even (4:2:0 pictures).
        int width = 0;
        int height = 0;
        VideoCodec codec = VideoCodec::h264;
        PixelFormat pixelFormat = PixelFormat::rgba;
        std::int64_t bitRate = 2'000'000;
        // The expected rate, for rate control; frames may still come at any times.
        double frameRate = 30;
        // H.264 only: the encoder's profile name ("baseline", "main", "high") and level
        // times ten (40 is level 4.0); empty and 0 leave the choice to the encoder.
        std::string profile;
        int level = 0;
        // H.264 only: false keeps every frame in display order (no B-frames), so that each
        // sample's decode time is its presentation time.
        bool bFrames = true;
        EncoderSpeed speed = EncoderSpeed::standard;
        // Frames from one key frame to the next at most; 0 for one second's worth.
        int keyFrameInterval = 0;
    };

    struct AudioSettings {
        int channels = 2;
        int sampleRate = 44100;
        std::int64_t bitRate = 128000;
    };

    struct Settings {
        Container container = Container::mp4;
        std::optional<VideoSettings> video;
        std::optional<AudioSettings> audio;
        // Clockwise display rotation of the video in degrees: 0, 90, 180 or 270.
        int rotation = 0;
        // Container metadata items, key to text ("creation_time",
        // "com.apple.quicktime.location.ISO6709", ...).
        std::map<std::string, std::string> metadata;
        // Put the index before the media data.
        bool optimizeForNetworkUse = false;
        // False: the file is created exclusively, and a file already at the path (made by
        // anyone, at any time before) is refused with MediaError::fileAlreadyExists and left
        // as it is. Two writers given one path then never write into the same file.
        bool replaceExisting = true;
    };

    // Creates the file at `path` (replacing one that exists unless the settings say not to)
    // and readies the encoders. Gives nothing, and fills `error` when given, when the
    // settings are unusable (no track, an odd or empty size, a bad rotation), an encoder is
    // missing or the file cannot be made.
    static std::unique_ptr<MediaWriter> create(const std::string& path, const Settings& settings,
                                               Error* error = nullptr);

    // Removes the file unless finish() succeeded.
    ~MediaWriter();
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;

    // Encodes one picture of width x height pixels, 4 bytes each in the settings' order, rows
    // `bytesPerRow` apart, shown at `presentationTime` seconds. (NV12 and yuv420p pictures
    // have their planes one after the other, chroma rows at half the luma's `bytesPerRow`
    // for yuv420p.)
    // A picture with rows shorter than the video's width is refused.
    // REQUIRES: a video track; times strictly increase.
    platform::Status appendVideoFrame(const std::uint8_t* pixels, std::ptrdiff_t bytesPerRow,
                                      double presentationTime);

    // Encodes any picture, converted and scaled to fill the video's size, the overflow cut
    // off evenly on both sides (aspect fill). Refused when a plane is missing or its rows are
    // shorter than the picture's width.
    // REQUIRES: a video track; times strictly increase.
    platform::Status appendPicture(const Picture& picture, double presentationTime);

    // Encodes `frameCount` frames of interleaved signed 16-bit samples (channels as the
    // settings say). Audio is continuous: its times follow from the samples written so far.
    // REQUIRES: an audio track.
    platform::Status appendAudioSamples(const std::int16_t* samples, std::size_t frameCount);
    // The same for samples of another channel count or rate, converted to the track's.
    platform::Status appendAudioSamples(const std::int16_t* samples, std::size_t frameCount,
                                        int channels, int sampleRate);

    // Starts the audio track `seconds` into the movie, with silence before it, so that audio
    // and video share one timeline. Refused once audio has been written.
    platform::Status setAudioStartTime(double seconds);

    // Drains the encoders and completes the file. After it the writer takes nothing more.
    platform::Status finish();

    // Stops writing and removes the partial file.
    void cancel();

    const std::string& path() const { return path_; }

  private:
    struct State;
    struct Private {
        explicit Private() = default;
    };

  public:
    MediaWriter(Private, std::string path, std::unique_ptr<State> state);

  private:
    void discard();

    const std::string path_;
    std::unique_ptr<State> state_;
};

}  // namespace pindle::platform
