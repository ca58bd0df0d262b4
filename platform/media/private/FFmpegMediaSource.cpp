#include "platform/media/private/FFmpegMediaSource.hpp"

#include <algorithm>
#include <limits>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/private/ByteStoreReader.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

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

// The index after the sample a packet read at `position` belongs to, searching from `next`; a
// packet the index does not know moves one sample on.
std::size_t sampleAfterPacket(const std::vector<FFmpegMediaSource::Sample>& samples,
                              std::size_t next, std::int64_t position) {
    const auto it =
        std::find_if(samples.begin() + static_cast<std::ptrdiff_t>(next), samples.end(),
                     [&](const FFmpegMediaSource::Sample& s) { return s.position == position; });
    return it == samples.end() ? next + 1 : static_cast<std::size_t>(it - samples.begin()) + 1;
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
        if (started_ && key >= seekedKey_ && time < decodedTime_)
            if (const auto earlier = recentAt(time)) {
                if (shownTime)
                    *shownTime = earlier->time;
                return earlier->frame;
            }
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
        recent_.clear();
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
            if (shown_ && shownTime_ < time) {
                if (recent_.size() == keptBehind)
                    recent_.erase(recent_.begin());
                recent_.push_back({shownTime_, std::move(shown_)});
            }
            shown_ = std::move(shown);
            shownTime_ = time;
        }
    }

    // A frame decoded since the last seek, shown before the decoder's own and still right
    // for `time`: times a little behind the newest frame cost no seek and no decoding.
    struct Recent {
        Micros time;
        VideoFramePtr frame;
    };
    const Recent* recentAt(Micros time) const {
        for (auto it = recent_.rbegin(); it != recent_.rend(); ++it)
            if (it->time <= time)
                return &*it;
        return nullptr;
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
                nextSample_ = sampleAfterPacket(samples_, nextSample_, packet_->pos);
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
    // The frames shown before shown_ since the last seek, oldest first. Two cover a display
    // that asks a refresh ahead and a snapshot that asks for now.
    static constexpr std::size_t keptBehind = 2;
    std::vector<Recent> recent_;
};

FFmpegMediaSource::FFmpegMediaSource(std::shared_ptr<MediaByteStore> store)
    : store_(std::move(store)) {}

FFmpegMediaSource::~FFmpegMediaSource() = default;

MediaSource::OpenState FFmpegMediaSource::open(const std::string& contentType,
                                               std::int64_t* wantedOffset, Error* error) {
    if (opened_.load(std::memory_order_acquire))
        return OpenState::opened;
    std::unique_ptr<ffmpeg::Input> input;
    const std::string formatName = isMPEG4(contentType) ? "mov" : "";
    const auto outcome = ByteStoreReader::open(store_, formatName, &input, wantedOffset, error);
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
            audioStream_ = static_cast<int>(i);
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
    formatName_ = formatName;
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

namespace pindle::platform {

namespace {
// Sound outside these rates is no sound any output takes; the track counts as undecodable.
constexpr int minSampleRate = 8000;
constexpr int maxSampleRate = 384000;
constexpr int outputChannels = 2;
}  // namespace

// Reads and decodes audio packets in order from a demuxer of its own, never reading a packet
// whose bytes are missing, and resamples to interleaved stereo float.
class FFmpegMediaSource::AudioDecoder final : public MediaSource::AudioReader {
  public:
    AudioDecoder(std::unique_ptr<ffmpeg::Input> input, std::shared_ptr<MediaByteStore> store,
                 int stream, ffmpeg::CodecContextPtr codec, ffmpeg::ResamplePtr resampler,
                 std::vector<Sample> samples)
        : input_(std::move(input)),
          store_(std::move(store)),
          stream_(stream),
          codec_(std::move(codec)),
          resampler_(std::move(resampler)),
          samples_(std::move(samples)),
          packet_(ffmpeg::makePacket()),
          frame_(ffmpeg::makeFrame()),
          rate_(codec_->sample_rate),
          inputFormat_(codec_->sample_fmt) {
        av_channel_layout_copy(&inputLayout_, &codec_->ch_layout);
    }
    ~AudioDecoder() override { av_channel_layout_uninit(&inputLayout_); }
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    int sampleRate() const override { return rate_; }
    Micros position() const override {
        return positionBase_ + static_cast<Micros>(framesSinceBase_ * 1000000 / rate_);
    }

    void seek(Micros time) override {
        time = std::max<Micros>(0, time);
        const std::size_t sample = sampleAt(samples_, time);
        seekDemuxerTo(sample);
        avcodec_flush_buffers(codec_.get());
        // Whatever the resampler still holds belongs to the old position.
        if (resampler_)
            swr_init(resampler_.get());
        nextSample_ = sample;
        pending_.clear();
        pendingStart_ = 0;
        draining_ = false;
        ended_ = false;
        skipBefore_ = time;
        positionBase_ = time;
        framesSinceBase_ = 0;
    }

    std::size_t read(float* out, std::size_t frames, State* state) override {
        std::size_t done = 0;
        *state = State::more;
        while (done < frames) {
            const std::size_t available = (pending_.size() / outputChannels) - pendingStart_;
            if (available > 0) {
                const std::size_t take = std::min(available, frames - done);
                std::copy_n(
                    pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_ * outputChannels),
                    take * outputChannels, out + done * outputChannels);
                pendingStart_ += take;
                done += take;
                framesSinceBase_ += static_cast<std::int64_t>(take);
                continue;
            }
            pending_.clear();
            pendingStart_ = 0;
            const State decoded = decodeMore();
            if (decoded != State::more) {
                *state = decoded;
                break;
            }
        }
        return done;
    }

  private:
    // Decodes at least one frame into pending_, or says why it cannot.
    State decodeMore() {
        while (true) {
            if (ended_)
                return State::ended;
            const int received = avcodec_receive_frame(codec_.get(), frame_.get());
            if (received == 0) {
                convert(*frame_);
                av_frame_unref(frame_.get());
                if (!pending_.empty())
                    return State::more;
                continue;
            }
            if (received == AVERROR_EOF) {
                ended_ = true;
                return State::ended;
            }
            if (received != AVERROR(EAGAIN)) {
                // A broken frame: go on with the next packet.
                avcodec_flush_buffers(codec_.get());
            }
            const State fed = feed();
            if (fed != State::more)
                return fed;
        }
    }

    State feed() {
        if (draining_)
            return State::ended;
        if (nextSample_ >= samples_.size()) {
            draining_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            return State::more;
        }
        const Sample& next = samples_[nextSample_];
        if (!store_->present(next.position, next.size))
            return State::needsBytes;
        while (true) {
            if (av_read_frame(input_->context(), packet_.get()) < 0) {
                // A miss the index did not foresee: come back to the same sample later.
                resync();
                return State::needsBytes;
            }
            const bool ours = packet_->stream_index == stream_;
            if (ours) {
                nextSample_ = sampleAfterPacket(samples_, nextSample_, packet_->pos);
                avcodec_send_packet(codec_.get(), packet_.get());
            }
            av_packet_unref(packet_.get());
            if (ours)
                return State::more;
        }
    }

    void resync() { seekDemuxerTo(nextSample_); }

    void seekDemuxerTo(std::size_t sample) {
        AVStream* stream = input_->context()->streams[stream_];
        // The demuxer's index is the one samples_ was read from, on the same header; a
        // shorter one would be a different file, and then there is no more sound.
        const AVIndexEntry* entry = avformat_index_get_entry(stream, static_cast<int>(sample));
        if (!entry) {
            draining_ = ended_ = true;
            return;
        }
        av_seek_frame(input_->context(), stream_, entry->timestamp, AVSEEK_FLAG_BACKWARD);
    }

    // The resampler takes what the decoder gives; a stream may change its layout midway.
    bool resamplerTakes(const AVFrame& frame) {
        if (resampler_ && frame.format == inputFormat_ &&
            av_channel_layout_compare(&frame.ch_layout, &inputLayout_) == 0)
            return true;
        if (frame.ch_layout.nb_channels <= 0)
            return false;
        AVChannelLayout stereo{}, input{};
        av_channel_layout_default(&stereo, outputChannels);
        if (av_channel_layout_copy(&input, &frame.ch_layout) < 0) {
            av_channel_layout_uninit(&stereo);
            return false;
        }
        // Set up again in place; on failure libswresample frees the context and says so.
        SwrContext* raw = resampler_.release();
        const int made =
            swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLT, rate_, &input,
                                static_cast<AVSampleFormat>(frame.format), rate_, 0, nullptr);
        resampler_.reset(raw);
        av_channel_layout_uninit(&stereo);
        av_channel_layout_uninit(&inputLayout_);
        inputLayout_ = input;  // owned from here on
        inputFormat_ = static_cast<AVSampleFormat>(frame.format);
        if (made < 0 || !resampler_ || swr_init(resampler_.get()) < 0) {
            // Tried again with the next frame.
            resampler_.reset();
            return false;
        }
        return true;
    }

    Micros frameTime(const AVFrame& frame) const {
        AVStream* stream = input_->context()->streams[stream_];
        const std::int64_t pts =
            frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
        if (pts == AV_NOPTS_VALUE)
            return position();
        const std::int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        return av_rescale_q(pts - first, stream->time_base, micros);
    }

    // Resamples `frame` into pending_, leaving out what lies before the position sought.
    void convert(const AVFrame& frame) {
        if (frame.nb_samples <= 0 || frame.sample_rate != rate_ || !resamplerTakes(frame))
            return;
        const Micros start = frameTime(frame);
        const int capacity = swr_get_out_samples(resampler_.get(), frame.nb_samples);
        if (capacity <= 0)
            return;
        pending_.resize(static_cast<std::size_t>(capacity) * outputChannels);
        auto* output = reinterpret_cast<std::uint8_t*>(pending_.data());
        const int converted =
            swr_convert(resampler_.get(), &output, capacity,
                        const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
        pending_.resize(static_cast<std::size_t>(std::max(0, converted)) * outputChannels);
        std::size_t skip = 0;
        if (start < skipBefore_)
            skip = static_cast<std::size_t>((skipBefore_ - start) * rate_ / 1000000);
        skip = std::min(skip, pending_.size() / outputChannels);
        pendingStart_ = skip;
        if (pendingStart_ * outputChannels < pending_.size()) {
            // Counted from the frame's own time when that lies ahead (a gap in the track;
            // less than a millisecond is the rounding of its timestamp).
            const Micros first = start + static_cast<Micros>(skip) * 1000000 / rate_;
            if (first > position() + 1000) {
                positionBase_ = first;
                framesSinceBase_ = 0;
            }
        }
    }

    std::unique_ptr<ffmpeg::Input> input_;
    const std::shared_ptr<MediaByteStore> store_;
    const int stream_;
    ffmpeg::CodecContextPtr codec_;
    ffmpeg::ResamplePtr resampler_;
    // A copy: a reader may outlive the source that made it.
    const std::vector<Sample> samples_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::FramePtr frame_;
    const int rate_;
    AVSampleFormat inputFormat_;     // what the resampler is set up to take
    AVChannelLayout inputLayout_{};  // likewise
    std::vector<float> pending_;     // resampled, interleaved
    std::size_t pendingStart_ = 0;   // frames of pending_ already read
    std::size_t nextSample_ = 0;
    Micros skipBefore_ = 0;
    // The next frame's time: the base, and frames read since at the track's rate (counted, so
    // that no rounding adds up).
    Micros positionBase_ = 0;
    std::int64_t framesSinceBase_ = 0;
    bool draining_ = false;
    bool ended_ = false;
};

std::unique_ptr<MediaSource::AudioReader> FFmpegMediaSource::makeAudioReader(Error* error) {
    if (!opened_.load(std::memory_order_acquire) || audioStream_ < 0 || index_.audio.empty())
        return nullptr;
    const auto fail = [&](const std::string& why) -> std::unique_ptr<AudioReader> {
        if (error)
            *error = MediaError::make(MediaError::decodeFailed,
                                      "The audio track cannot be decoded: " + why);
        return nullptr;
    };
    std::unique_ptr<ffmpeg::Input> input;
    std::int64_t missed = -1;
    Error openError;
    if (ByteStoreReader::open(store_, formatName_, &input, &missed, &openError) !=
        ByteStoreReader::Outcome::opened)
        return fail("its header cannot be read again");
    AVFormatContext& context = *input->context();
    if (static_cast<unsigned>(audioStream_) >= context.nb_streams)
        return fail("the track is gone");
    for (unsigned i = 0; i < context.nb_streams; ++i)
        if (static_cast<int>(i) != audioStream_)
            context.streams[i]->discard = AVDISCARD_ALL;
    AVStream& stream = *context.streams[audioStream_];
    auto codec = ffmpeg::openDecoder(stream);
    if (!codec)
        return fail(std::string("no decoder for ") + avcodec_get_name(stream.codecpar->codec_id));
    if (codec->sample_rate < minSampleRate || codec->sample_rate > maxSampleRate ||
        codec->ch_layout.nb_channels <= 0)
        return fail("a rate of " + std::to_string(codec->sample_rate) + " Hz and " +
                    std::to_string(codec->ch_layout.nb_channels) + " channels");
    AVChannelLayout stereo{};
    av_channel_layout_default(&stereo, outputChannels);
    SwrContext* raw = nullptr;
    const int made =
        swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLT, codec->sample_rate, &codec->ch_layout,
                            codec->sample_fmt, codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&stereo);
    ffmpeg::ResamplePtr resampler(raw);
    if (made < 0 || !resampler || swr_init(resampler.get()) < 0)
        return fail("its samples cannot be converted");
    auto reader =
        std::make_unique<AudioDecoder>(std::move(input), store_, audioStream_, std::move(codec),
                                       std::move(resampler), index_.audio);
    reader->seek(0);
    return reader;
}

}  // namespace pindle::platform
