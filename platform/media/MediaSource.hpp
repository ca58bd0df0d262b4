// MediaSource: what a player item knows of its media while bytes arrive: whether the header
// has been read, the duration and tracks, which spans of time have all their bytes, which
// byte playback needs next, and the frame shown at a time. FFmpegMediaSource reads real
// bytes; ScriptedMediaSource is a test seam with no bytes at all.
//
// Times are whole microseconds from the start of the presentation.
//
// Installed only because PlayerItem.hpp names it (it includes nothing outside the standard
// library and the platform's public headers); hosts have no use for it, and only the media
// layer and tests implement or call it.
//
// Thread-safety: open() is called from one serial queue at a time; the other operations are
// safe from any thread once open() has answered `opened`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/media/AssetTrack.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/VideoFrame.hpp"

namespace pindle::platform {

class MediaSource {
  public:
    using Micros = std::int64_t;
    struct Span {
        Micros start = 0;
        Micros end = 0;
        bool operator==(const Span&) const = default;
    };
    enum class OpenState { needsBytes, opened, failed };

    virtual ~MediaSource() = default;

    // Tries to read the header from the bytes present so far. `needsBytes` names the offset
    // wanted in `wantedOffset`; `failed` fills `error`. Once `opened` it stays opened.
    // `contentType` is the loader's answer ("public.mpeg-4", "video/mp4", ...), a hint only.
    virtual OpenState open(const std::string& contentType, std::int64_t* wantedOffset,
                           Error* error) = 0;
    // The end of the presentation.
    virtual Micros duration() const = 0;
    virtual std::vector<AssetTrack> tracks() const = 0;
    // The maximal spans whose samples' bytes are all present, in order.
    virtual std::vector<Span> loadedSpans() const = 0;
    // The first missing byte that playback from `time` needs; nothing when every byte from
    // there to the end is present.
    virtual std::optional<std::int64_t> wantedOffset(Micros time) const = 0;
    // The file offset where the samples at `time` begin; nothing before the header is read,
    // for negative times or without bytes.
    virtual std::optional<std::int64_t> offsetAt(Micros time) const = 0;
    // True when the frame shown at `time` can be decoded from present bytes.
    virtual bool hasFrameAt(Micros time) const = 0;
    // The frame shown at `time`, decoded from present bytes only: the last frame whose bytes
    // are present when later ones are missing; null before the first frame. `shownTime`
    // receives the frame's own time.
    virtual ImagePtr frameAt(Micros time, Micros* shownTime) = 0;
    // The same frame as the decoder left it, for the screen; by default frameAt()'s image.
    virtual VideoFramePtr videoFrameAt(Micros time, Micros* shownTime) {
        return VideoFrame::fromImage(frameAt(time, shownTime));
    }
    // The start of the video sample shown at `time`; nothing before the header is read.
    virtual std::optional<Micros> frameTimeAt(Micros time) const = 0;
    // Called (from any thread) when the source's answers change without new bytes; only the
    // scripted source does that.
    virtual void setChangeHandler(std::function<void()>) {}

    // The sound of the first audio track, decoded from present bytes into interleaved stereo
    // float at the track's own rate. One reader belongs to one thread at a time; any number
    // may exist beside frame decoding.
    class AudioReader {
      public:
        enum class State { more, needsBytes, ended };
        virtual ~AudioReader() = default;
        // Frames a second; at least 8000.
        virtual int sampleRate() const = 0;
        // Reads from `time` on next (clamped at 0).
        virtual void seek(Micros time) = 0;
        // Fills up to `frames` stereo frames of `out` and returns how many; `state` says why
        // fewer came: the next sample's bytes are missing, or the track has ended.
        virtual std::size_t read(float* out, std::size_t frames, State* state) = 0;
        // The media time of the next frame read returns.
        virtual Micros position() const = 0;
    };
    // A reader of the audio track; null before open() answered `opened`, without an audio
    // track, or when the track cannot be decoded (`error` then says why).
    virtual std::unique_ptr<AudioReader> makeAudioReader(Error* error) {
        (void)error;
        return nullptr;
    }
};

}  // namespace pindle::platform
