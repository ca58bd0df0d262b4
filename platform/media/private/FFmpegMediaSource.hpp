// FFmpegMediaSource: the media source that reads a MediaByteStore with FFmpeg.
//
// Opening retries as bytes arrive: each attempt that touches a missing byte names it as the
// wanted offset. Once the header is read, a sample index of the video track and the first
// audio track (file position, size, presentation span, key frame) says which spans are
// loaded and which byte comes next. Spans come from decode times, so with B-frames they are
// exact only to the decoder's reorder delay.
//
// Frames are decoded on a second demuxer with the audio discarded; before each packet is
// read the index confirms its bytes are present, so a read never meets a missing byte.
// Decoding has its own mutex and holds nothing else, so any thread may render. Each audio
// reader has a demuxer of its own with the video discarded, read the same way, and resamples
// with libswresample.
//
// Private to platform/media. Thread-safety: as MediaSource.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/media/MediaByteStore.hpp"
#include "platform/media/MediaSource.hpp"

namespace pindle::platform {

class FFmpegMediaSource final : public MediaSource {
  public:
    explicit FFmpegMediaSource(std::shared_ptr<MediaByteStore> store);
    ~FFmpegMediaSource() override;
    FFmpegMediaSource(const FFmpegMediaSource&) = delete;
    FFmpegMediaSource& operator=(const FFmpegMediaSource&) = delete;

    OpenState open(const std::string& contentType, std::int64_t* wantedOffset,
                   Error* error) override;
    Micros duration() const override;
    std::vector<AssetTrack> tracks() const override;
    std::vector<Span> loadedSpans() const override;
    std::optional<std::int64_t> wantedOffset(Micros time) const override;
    std::optional<std::int64_t> offsetAt(Micros time) const override;
    bool hasFrameAt(Micros time) const override;
    ImagePtr frameAt(Micros time, Micros* shownTime) override;
    VideoFramePtr videoFrameAt(Micros time, Micros* shownTime) override;
    std::optional<Micros> frameTimeAt(Micros time) const override;
    std::unique_ptr<AudioReader> makeAudioReader(Error* error) override;

    struct Sample {
        std::int64_t position = 0;
        std::int64_t size = 0;
        Micros start = 0;
        Micros end = 0;
        bool key = false;
    };

  private:
    struct Index {
        std::vector<Sample> video;
        std::vector<Sample> audio;
        Micros duration = 0;
        Micros mediaEnd = 0;  // where the samples of every track have ended
        std::vector<AssetTrack> tracks;
    };
    class Decoder;
    class AudioDecoder;

    bool present(const Sample& sample) const;

    const std::shared_ptr<MediaByteStore> store_;
    std::atomic<bool> opened_{false};
    Index index_;             // written once by open() before opened_ is set, then read-only
    int audioStream_ = -1;    // likewise
    std::string formatName_;  // likewise; the demuxer that read the header

    std::mutex decodeMutex_;
    std::unique_ptr<Decoder> decoder_;  // guarded by decodeMutex_
};

}  // namespace pindle::platform
