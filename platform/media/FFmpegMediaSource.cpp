#include "platform/media/FFmpegMediaSource.hpp"

#include <algorithm>
#include <limits>

#include "platform/media/ByteStoreReader.hpp"
#include "platform/media/FFmpegSupport.hpp"
#include "platform/media/MediaError.hpp"

namespace pindle::platform {

namespace {

constexpr AVRational micros{1, 1000000};

bool isMPEG4(const std::string& contentType) {
    return contentType == "public.mpeg-4" || contentType == "com.apple.quicktime-movie" ||
           contentType == "video/mp4" || contentType == "video/quicktime" ||
           contentType == "public.mpeg-4-video";
}

// The stream's samples in decode order, with times shifted so the first starts at 0.
std::vector<FFmpegMediaSource::Sample> indexOf(AVStream& stream, std::int64_t contentLength) {
    std::vector<FFmpegMediaSource::Sample> samples;
    const int count = avformat_index_get_entries_count(&stream);
    if (count <= 0)
        return samples;
    const std::int64_t first = avformat_index_get_entry(&stream, 0)->timestamp;
    samples.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(&stream, i);
        FFmpegMediaSource::Sample sample;
        sample.position = entry->pos;
        sample.size = entry->size;
        // A sample outside the resource can never be present; it ends what is playable.
        if (sample.position < 0 || sample.size < 0 ||
            (contentLength >= 0 && sample.position + sample.size > contentLength))
            break;
        sample.start = av_rescale_q(entry->timestamp - first, stream.time_base, micros);
        sample.key = (entry->flags & AVINDEX_KEYFRAME) != 0;
        if (!samples.empty())
            samples.back().end = std::max(samples.back().start, sample.start);
        samples.push_back(sample);
    }
    const std::int64_t streamEnd =
        stream.duration > 0 ? av_rescale_q(stream.duration, stream.time_base, micros) : 0;
    auto& last = samples.back();
    const std::int64_t step =
        samples.size() > 1 ? last.start - samples[samples.size() - 2].start : 0;
    last.end = std::max(streamEnd, last.start + step);
    return samples;
}

// The sample whose span holds `time` (the last one for times past the end).
std::size_t sampleAt(const std::vector<FFmpegMediaSource::Sample>& samples,
                     MediaSource::Micros time) {
    const auto it = std::upper_bound(samples.begin(), samples.end(), time,
                                     [](auto t, const auto& sample) { return t < sample.start; });
    return it == samples.begin() ? 0 : static_cast<std::size_t>(it - samples.begin()) - 1;
}

std::size_t keyFrameAtOrBefore(const std::vector<FFmpegMediaSource::Sample>& samples,
                               std::size_t index) {
    while (index > 0 && !samples[index].key) --index;
    return index;
}

std::vector<MediaSource::Span> intersect(const std::vector<MediaSource::Span>& a,
                                         const std::vector<MediaSource::Span>& b) {
    std::vector<MediaSource::Span> result;
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto start = std::max(a[i].start, b[j].start);
        const auto end = std::min(a[i].end, b[j].end);
        if (start < end)
            result.push_back({start, end});
        (a[i].end < b[j].end) ? ++i : ++j;
    }
    return result;
}

}  // namespace

// Reads and decodes video packets in order, never reading a packet whose bytes are missing.
class FFmpegMediaSource::Decoder {
  public:
    Decoder(std::unique_ptr<ffmpeg::Input> input, const MediaByteStore& store, int stream,
            ffmpeg::CodecContextPtr codec, const std::vector<Sample>& samples)
        : input_(std::move(input)),
          store_(store),
          stream_(stream),
          codec_(std::move(codec)),
          samples_(samples),
          packet_(ffmpeg::makePacket()),
          frame_(ffmpeg::makeFrame()) {}

    VideoFramePtr frameAt(Micros time, Micros* shownTime) {
        const std::size_t target = sampleAt(samples_, time);
        const std::size_t key = keyFrameAtOrBefore(samples_, target);
        const bool keyPresent = store_.present(samples_[key].position, samples_[key].size);
        const bool behind = key < seekedKey_ || time < decodedTime_;
        // A key frame whose bytes are missing is no place to seek forwards to: decode on from
        // where the decoder stands, as far as the bytes go.
        if (!started_)
            seekTo(keyPresent ? key : 0);
        else if (behind || (key > nextSample_ && keyPresent))
            seekTo(key);
        decodeUpTo(time);
        if (shownTime)
            *shownTime = shownTime_;
        return shown_;
    }

  private:
    void seekTo(std::size_t sample) {
        AVStream* stream = input_->context()->streams[stream_];
        // The demuxer seeks by presentation time while the index holds decode times; they
        // differ by the reorder delay, which the first sample's decode time shows.
        const std::int64_t delay =
            std::max<std::int64_t>(0, -avformat_index_get_entry(stream, 0)->timestamp);
        const std::int64_t timestamp =
            avformat_index_get_entry(stream, static_cast<int>(sample))->timestamp + delay;
        av_seek_frame(input_->context(), stream_, timestamp, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec_.get());
        nextSample_ = sample;
        seekedKey_ = sample;
        decodedTime_ = std::numeric_limits<Micros>::min();
        pending_.reset();
        draining_ = false;
        started_ = true;
    }

    Micros frameTime(const AVFrame& frame) const {
        AVStream* stream = input_->context()->streams[stream_];
        const std::int64_t pts =
            frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
        const std::int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        return av_rescale_q(pts - first, stream->time_base, micros);
    }

    // Keeps a reference to the decoded picture; nothing is converted until someone asks
    // for the frame's image, so passing frames on the way to a later time stays cheap.
    void show(const AVFrame& frame, Micros time) {
        decodedTime_ = time;
        if (auto shown = keep(frame)) {
            shown_ = std::move(shown);
            shownTime_ = time;
        }
    }

    static VideoFramePtr keep(const AVFrame& frame) {
        if (frame.width <= 0 || frame.height <= 0)
            return nullptr;
        std::shared_ptr<AVFrame> held(av_frame_clone(&frame),
                                      [](AVFrame* f) { av_frame_free(&f); });
        if (!held)
            return nullptr;
        auto makeImage = [held]() -> ImagePtr {
            auto pixels = ffmpeg::toRGBA(*held);
            return pixels ? Image::make(held->width, held->height, std::move(*pixels)) : nullptr;
        };
        const auto format = static_cast<AVPixelFormat>(frame.format);
        if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) {
            std::array<VideoFrame::Plane, 3> planes;
            for (std::size_t i = 0; i < planes.size(); ++i)
                planes[i] = {held->data[i], held->linesize[i]};
            const bool full =
                format == AV_PIX_FMT_YUVJ420P || frame.color_range == AVCOL_RANGE_JPEG;
            return VideoFrame::makePlanar(frame.width, frame.height, planes, full, held,
                                          std::move(makeImage));
        }
        return VideoFrame::makeDeferred(frame.width, frame.height, std::move(makeImage));
    }

    void decodeUpTo(Micros time) {
        if (pending_) {
            if (pendingTime_ > time)
                return;
            show(*pending_, pendingTime_);
            pending_.reset();
        }
        while (true) {
            const int received = avcodec_receive_frame(codec_.get(), frame_.get());
            if (received == 0) {
                const Micros at = frameTime(*frame_);
                if (at > time) {
                    pending_ = ffmpeg::makeFrame();
                    av_frame_move_ref(pending_.get(), frame_.get());
                    pendingTime_ = at;
                    return;
                }
                show(*frame_, at);
                av_frame_unref(frame_.get());
                continue;
            }
            if (received != AVERROR(EAGAIN) || !feed())
                return;
        }
    }

    // Sends the next video packet, or the end of the stream; false when nothing can be sent.
    bool feed() {
        if (draining_)
            return false;
        if (nextSample_ >= samples_.size()) {
            draining_ = true;
            return avcodec_send_packet(codec_.get(), nullptr) >= 0;
        }
        const Sample& next = samples_[nextSample_];
        if (!store_.present(next.position, next.size))
            return false;
        while (true) {
            if (av_read_frame(input_->context(), packet_.get()) < 0)
                return false;
            const bool ours = packet_->stream_index == stream_;
            if (ours) {
                const auto position = packet_->pos;
                const auto it = std::find_if(
                    samples_.begin() + static_cast<std::ptrdiff_t>(nextSample_), samples_.end(),
                    [&](const Sample& s) { return s.position == position; });
                nextSample_ = it == samples_.end()
                                  ? nextSample_ + 1
                                  : static_cast<std::size_t>(it - samples_.begin()) + 1;
                avcodec_send_packet(codec_.get(), packet_.get());
            }
            av_packet_unref(packet_.get());
            if (ours)
                return true;
        }
    }

    std::unique_ptr<ffmpeg::Input> input_;
    const MediaByteStore& store_;
    const int stream_;
    ffmpeg::CodecContextPtr codec_;
    const std::vector<Sample>& samples_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::FramePtr frame_;
    ffmpeg::FramePtr pending_;  // decoded, but later than the time last asked for
    Micros pendingTime_ = 0;
    std::size_t nextSample_ = 0;
    std::size_t seekedKey_ = 0;
    Micros decodedTime_ = std::numeric_limits<Micros>::min();  // since the last seek
    bool started_ = false;
    bool draining_ = false;
    VideoFramePtr shown_;  // kept across seeks until a newer frame replaces it
    Micros shownTime_ = 0;
};

FFmpegMediaSource::FFmpegMediaSource(std::shared_ptr<MediaByteStore> store)
    : store_(std::move(store)) {}

FFmpegMediaSource::~FFmpegMediaSource() = default;

MediaSource::OpenState FFmpegMediaSource::open(const std::string& contentType,
                                               std::int64_t* wantedOffset, Error* error) {
    if (opened_.load(std::memory_order_acquire))
        return OpenState::opened;
    std::unique_ptr<ffmpeg::Input> input;
    const auto outcome = ByteStoreReader::open(store_, isMPEG4(contentType) ? "mov" : "", &input,
                                               wantedOffset, error);
    if (outcome != ByteStoreReader::Outcome::opened)
        return outcome == ByteStoreReader::Outcome::needsBytes ? OpenState::needsBytes
                                                               : OpenState::failed;
    AVFormatContext& context = *input->context();
    int videoStream = -1;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        AVStream& stream = *context.streams[i];
        index_.tracks.push_back(ffmpeg::describeTrack(stream));
        const auto type = stream.codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && videoStream < 0 &&
            !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            videoStream = static_cast<int>(i);
            index_.video = indexOf(stream, store_->contentLength());
        } else if (type == AVMEDIA_TYPE_AUDIO && index_.audio.empty()) {
            index_.audio = indexOf(stream, store_->contentLength());
            stream.discard = AVDISCARD_ALL;
        } else {
            stream.discard = AVDISCARD_ALL;
        }
    }
    if (index_.video.empty() && index_.audio.empty()) {
        *error = MediaError::make(MediaError::fileFormatNotRecognized, "No playable track");
        return OpenState::failed;
    }
    Micros mediaEnd = std::numeric_limits<Micros>::max();
    Micros longest = 0;
    for (const auto* samples : {&index_.video, &index_.audio})
        if (!samples->empty()) {
            mediaEnd = std::min(mediaEnd, samples->back().end);
            longest = std::max(longest, samples->back().end);
        }
    index_.mediaEnd = mediaEnd;
    index_.duration =
        context.duration > 0 ? av_rescale_q(context.duration, AV_TIME_BASE_Q, micros) : longest;
    if (videoStream >= 0) {
        auto codec = ffmpeg::openDecoder(*context.streams[videoStream], Image::maxDecodedPixels);
        if (codec)
            decoder_ = std::make_unique<Decoder>(std::move(input), *store_, videoStream,
                                                 std::move(codec), index_.video);
    }
    opened_.store(true, std::memory_order_release);
    return OpenState::opened;
}

MediaSource::Micros FFmpegMediaSource::duration() const {
    return opened_.load(std::memory_order_acquire) ? index_.duration : 0;
}

std::vector<AssetTrack> FFmpegMediaSource::tracks() const {
    return opened_.load(std::memory_order_acquire) ? index_.tracks : std::vector<AssetTrack>{};
}

bool FFmpegMediaSource::present(const Sample& sample) const {
    return store_->present(sample.position, sample.size);
}

std::vector<MediaSource::Span> FFmpegMediaSource::loadedSpans() const {
    if (!opened_.load(std::memory_order_acquire))
        return {};
    // The store's runs are taken once, so that every sample is looked up in them without a
    // lock of the store's each: the index has thousands of samples and this runs often.
    const std::vector<std::pair<std::int64_t, std::int64_t>> runs = store_->runs();
    const auto isPresent = [&runs](const Sample& sample) {
        if (sample.size <= 0)
            return true;
        auto run = std::upper_bound(runs.begin(), runs.end(), sample.position,
                                    [](std::int64_t position, const auto& candidate) {
                                        return position < candidate.first;
                                    });
        if (run == runs.begin())
            return false;
        --run;
        return sample.position + sample.size <= run->second;
    };
    auto spansOf = [&isPresent](const std::vector<Sample>& samples) {
        std::vector<Span> spans;
        bool open = false;
        for (const auto& sample : samples) {
            if (!isPresent(sample)) {
                open = false;
                continue;
            }
            if (open)
                spans.back().end = sample.end;
            else
                spans.push_back({sample.start, sample.end});
            open = true;
        }
        return spans;
    };
    std::vector<Span> spans;
    if (index_.video.empty())
        spans = spansOf(index_.audio);
    else if (index_.audio.empty())
        spans = spansOf(index_.video);
    else
        spans = intersect(spansOf(index_.video), spansOf(index_.audio));
    // Whatever is loaded up to where every track has ended is loaded to the end.
    if (!spans.empty() && spans.back().end >= index_.mediaEnd)
        spans.back().end = index_.duration;
    while (!spans.empty() && spans.back().start >= index_.duration) spans.pop_back();
    if (!spans.empty())
        spans.back().end = std::min(spans.back().end, index_.duration);
    return spans;
}

std::optional<std::int64_t> FFmpegMediaSource::wantedOffset(Micros time) const {
    if (!opened_.load(std::memory_order_acquire))
        return std::nullopt;
    std::optional<std::int64_t> wanted;
    for (const auto* samples : {&index_.video, &index_.audio}) {
        if (samples->empty())
            continue;
        std::size_t from = sampleAt(*samples, time);
        if (samples == &index_.video)
            from = keyFrameAtOrBefore(*samples, from);
        for (std::size_t i = from; i < samples->size(); ++i) {
            const auto& sample = (*samples)[i];
            if (present(sample))
                continue;
            const auto missing = store_->firstMissing(sample.position);
            if (missing && (!wanted || *missing < *wanted))
                wanted = missing;
            break;
        }
    }
    return wanted;
}

std::optional<std::int64_t> FFmpegMediaSource::offsetAt(Micros time) const {
    if (!opened_.load(std::memory_order_acquire) || time < 0)
        return std::nullopt;
    std::optional<std::int64_t> offset;
    for (const auto* samples : {&index_.video, &index_.audio})
        if (!samples->empty()) {
            const auto position = (*samples)[sampleAt(*samples, time)].position;
            offset = offset ? std::min(*offset, position) : position;
        }
    return offset;
}

bool FFmpegMediaSource::hasFrameAt(Micros time) const {
    if (!opened_.load(std::memory_order_acquire))
        return false;
    if (index_.video.empty())
        return true;
    const std::size_t target = sampleAt(index_.video, time);
    for (std::size_t i = keyFrameAtOrBefore(index_.video, target); i <= target; ++i)
        if (!present(index_.video[i]))
            return false;
    return true;
}

std::optional<MediaSource::Micros> FFmpegMediaSource::frameTimeAt(Micros time) const {
    if (!opened_.load(std::memory_order_acquire) || index_.video.empty())
        return std::nullopt;
    return index_.video[sampleAt(index_.video, time)].start;
}

VideoFramePtr FFmpegMediaSource::videoFrameAt(Micros time, Micros* shownTime) {
    if (!opened_.load(std::memory_order_acquire))
        return nullptr;
    std::lock_guard lock(decodeMutex_);
    return decoder_ ? decoder_->frameAt(time, shownTime) : nullptr;
}

ImagePtr FFmpegMediaSource::frameAt(Micros time, Micros* shownTime) {
    // Converted outside the decoder's lock: a render never holds up the next decode.
    auto frame = videoFrameAt(time, shownTime);
    return frame ? frame->image() : nullptr;
}

}  // namespace pindle::platform
