#include "platform/media/MediaTranscoder.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/MediaWriter.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

namespace {

constexpr double fallbackFrameRate = 30;
constexpr int bytesPerPixel = 4;
constexpr uint8_t opaque = 255;
// Black in the encoder's video-range YUV.
constexpr uint8_t blackLuma = 16;
constexpr uint8_t neutralChroma = 128;

// Copies a w x h picture of `Bytes`-byte pixels onto `to`, turned clockwise by `rotation`
// degrees (90, 180 or 270); `to` has room for the turned picture.
template <int Bytes>
void turnPicture(const uint8_t* from, int w, int h, std::ptrdiff_t fromStride, uint8_t* to,
                 std::ptrdiff_t toStride, int rotation) {
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = from + y * fromStride;
        for (int x = 0; x < w; ++x) {
            // Where the pixel shows after a clockwise turn.
            int shownX = w - 1 - x;  // half turn
            int shownY = h - 1 - y;
            if (rotation == 90) {
                shownX = h - 1 - y;
                shownY = x;
            } else if (rotation == 270) {
                shownX = y;
                shownY = w - 1 - x;
            }
            std::copy_n(row + static_cast<std::ptrdiff_t>(x) * Bytes, Bytes,
                        to + shownY * toStride + static_cast<std::ptrdiff_t>(shownX) * Bytes);
        }
    }
}

int evenSize(double size) {
    const int whole = static_cast<int>(std::lround(size));
    return std::max(2, whole - whole % 2);
}

Error decodeError(int code, const std::string& what) {
    return ffmpeg::makeError(code, MediaError::decodeFailed, what);
}

}  // namespace

// One pass over the source: decoders, picture geometry, frame-rate resampling and the writer.
// Lives on the transcoder's queue for the length of the run.
class MediaTranscoder::Run {
  public:
    explicit Run(MediaTranscoder& owner) : owner_(owner) {
        std::lock_guard lock(owner.mutex_);
        progressHandler_ = owner.progressHandler_;
    }

    // Returns the run's outcome; the writer is finished, or cancelled and its file deleted.
    std::pair<Status, std::optional<Error>> perform() {
        std::optional<Error> error = prepare();
        if (!error) {
            error = transcode();
        }
        if (owner_.cancelled_.load()) {
            discard();
            return {Status::cancelled, std::nullopt};
        }
        if (!error) {
            error = writer_->finish();
        }
        if (error) {
            discard();
            return {Status::failed, error};
        }
        return {Status::completed, std::nullopt};
    }

  private:
    void discard() {
        if (writer_) {
            writer_->cancel();
        }
    }

    platform::Status openDecoder(AVStream* stream, ffmpeg::CodecContextPtr& decoder) {
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (codec == nullptr) {
            return MediaError::make(
                MediaError::decodeFailed,
                std::string("No decoder for ") + avcodec_get_name(stream->codecpar->codec_id));
        }
        decoder.reset(avcodec_alloc_context3(codec));
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            // Decoding a large picture on one core would leave the encoder waiting.
            decoder->thread_count = 0;
            decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        }
        int result = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
        if (result >= 0) {
            decoder->pkt_timebase = stream->time_base;
            result = avcodec_open2(decoder.get(), codec, nullptr);
        }
        if (result < 0) {
            return decodeError(result, "Cannot open the decoder");
        }
        return std::nullopt;
    }

    platform::Status prepare() {
        Error openError;
        input_ = ffmpeg::Input::open(ffmpeg::Source::fromPath(owner_.sourcePath_), &openError,
                                     {.timedMediaOnly = false});
        if (!input_) {
            return openError;
        }
        AVFormatContext* context = input_->context();
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            AVStream* stream = context->streams[i];
            const auto type = stream->codecpar->codec_type;
            if (type == AVMEDIA_TYPE_VIDEO && videoStream_ == nullptr &&
                (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
                videoStream_ = stream;
            } else if (type == AVMEDIA_TYPE_AUDIO && audioStream_ == nullptr) {
                audioStream_ = stream;
            }
        }
        if (videoStream_ == nullptr && audioStream_ == nullptr) {
            return MediaError::make(MediaError::invalidSourceMedia,
                                    "No audio or video in " + owner_.sourcePath_);
        }
        duration_ = context->duration != AV_NOPTS_VALUE
                        ? static_cast<double>(context->duration) / AV_TIME_BASE
                        : 0;
        start_ = std::max(0.0, owner_.settings_.startSeconds);
        end_ = owner_.settings_.durationSeconds
                   ? start_ + std::max(0.0, *owner_.settings_.durationSeconds)
                   : std::numeric_limits<double>::infinity();
        duration_ = std::max(0.0, std::min(duration_, end_) - start_);
        if (start_ > 0) {
            av_seek_frame(context, -1, static_cast<int64_t>(start_ * AV_TIME_BASE),
                          AVSEEK_FLAG_BACKWARD);
        }

        MediaWriter::Settings output;
        output.container = MediaWriter::Container::mp4;
        output.optimizeForNetworkUse = owner_.settings_.optimizeForNetworkUse;
        // Someone's file at the output path is refused, and so never deleted by a failed run.
        output.replaceExisting = false;
        output.metadata = owner_.settings_.metadata;
        if (videoStream_ != nullptr) {
            if (platform::Status opened = openDecoder(videoStream_, videoDecoder_); !opened.ok()) {
                return opened;
            }
            if (platform::Status prepared = prepareVideo(output); !prepared.ok()) {
                return prepared;
            }
        }
        if (audioStream_ != nullptr) {
            if (platform::Status opened = openDecoder(audioStream_, audioDecoder_); !opened.ok()) {
                return opened;
            }
            if (platform::Status prepared = prepareAudio(output); !prepared.ok()) {
                return prepared;
            }
        }
        std::error_code ignored;
        if (std::filesystem::equivalent(owner_.sourcePath_, owner_.outputPath_, ignored)) {
            // Writing would truncate the very file being read.
            return MediaError::make(MediaError::exportFailed, "The output is the source file");
        }
        Error writerError;
        writer_ = MediaWriter::create(owner_.outputPath_, output, &writerError);
        if (!writer_) {
            return writerError;
        }
        return std::nullopt;
    }

    platform::Status prepareVideo(MediaWriter::Settings& output) {
        const AVCodecParameters* source = videoStream_->codecpar;
        if (source->width <= 0 || source->height <= 0) {
            return MediaError::make(MediaError::invalidSourceMedia, "The video has no size");
        }
        rotation_ = ffmpeg::clockwiseQuarterTurnDegrees(*videoStream_);
        const bool quarterTurn = rotation_ == 90 || rotation_ == 270;
        const double shownWidth = quarterTurn ? source->height : source->width;
        const double shownHeight = quarterTurn ? source->width : source->height;

        const auto& requested = owner_.settings_.video;
        const auto& composition = owner_.settings_.composition;
        MediaWriter::VideoSettings video;
        video.width = evenSize(requested ? requested->width : shownWidth);
        video.height = evenSize(requested ? requested->height : shownHeight);
        if (composition) {
            if (composition->renderWidth < 1 || composition->renderHeight < 1) {
                return MediaError::make(MediaError::exportFailed,
                                        "The composition has no render size");
            }
            const AffineTransform& t = composition->transform;
            const double determinant = t.a * t.d - t.b * t.c;
            if (!std::isfinite(determinant) || determinant == 0) {
                return MediaError::make(MediaError::exportFailed,
                                        "The layer transform cannot be inverted");
            }
            video.width = evenSize(composition->renderWidth);
            video.height = evenSize(composition->renderHeight);
            // Drawing runs backwards: each output pixel asks which source pixel lands on it.
            inverse_ = AffineTransform{t.d / determinant,
                                       -t.b / determinant,
                                       -t.c / determinant,
                                       t.a / determinant,
                                       (t.c * t.ty - t.d * t.tx) / determinant,
                                       (t.b * t.tx - t.a * t.ty) / determinant};
            composed_ = true;
        }
        const AVRational nominal = videoStream_->avg_frame_rate.num != 0
                                       ? videoStream_->avg_frame_rate
                                       : videoStream_->r_frame_rate;
        sourceFrameRate_ = nominal.num > 0 && nominal.den > 0 ? av_q2d(nominal) : 0;
        double rate = requested ? requested->frameRate : 0;
        if (composition && composition->frameDuration > 0) {
            rate = 1 / composition->frameDuration;
        }
        if (rate <= 0) {
            rate = sourceFrameRate_;
        }
        frameRate_ = rate > 0 ? rate : fallbackFrameRate;
        video.frameRate = frameRate_;
        if (requested) {
            video.bitRate = requested->bitRate;
            video.profile = requested->profile;
            video.level = requested->level;
        }

        // Fit the shown picture inside the output, centred.
        const float ratio = std::min(static_cast<float>(video.width / shownWidth),
                                     static_cast<float>(video.height / shownHeight));
        const int fittedWidth =
            std::clamp(static_cast<int>(std::lround(shownWidth * ratio)), 1, video.width);
        const int fittedHeight =
            std::clamp(static_cast<int>(std::lround(shownHeight * ratio)), 1, video.height);
        offsetX_ = (video.width - fittedWidth) / 2;
        offsetY_ = (video.height - fittedHeight) / 2;
        scaledWidth_ = quarterTurn ? fittedHeight : fittedWidth;
        scaledHeight_ = quarterTurn ? fittedWidth : fittedHeight;
        canvasWidth_ = video.width;
        canvasHeight_ = video.height;
        // Unless the host draws on it or a composition places it, the picture goes from the
        // decoder to the encoder's format in one scaling step. Half-size chroma needs the
        // picture's place and size on even pixels.
        planar_ = !composed_ && !owner_.settings_.frameRenderer && offsetX_ % 2 == 0 &&
                  offsetY_ % 2 == 0 && fittedWidth % 2 == 0 && fittedHeight % 2 == 0;
        if (planar_) {
            video.pixelFormat = MediaWriter::PixelFormat::yuv420p;
            output.video = video;
            const size_t luma = static_cast<size_t>(canvasWidth_) * canvasHeight_;
            canvas_.assign(luma + luma / 2, neutralChroma);
            std::fill_n(canvas_.begin(), luma, blackLuma);
            if (rotation_ != 0) {
                scaled_.resize(static_cast<size_t>(scaledWidth_) * scaledHeight_ * 3 / 2);
            }
            return std::nullopt;
        }
        output.video = video;
        canvas_.assign(static_cast<size_t>(canvasWidth_) * canvasHeight_ * bytesPerPixel, 0);
        for (size_t alpha = 3; alpha < canvas_.size(); alpha += bytesPerPixel) {
            canvas_[alpha] = opaque;
        }
        if (composed_) {
            scaledWidth_ = source->width;
            scaledHeight_ = source->height;
        }
        scaled_.resize(static_cast<size_t>(scaledWidth_) * scaledHeight_ * bytesPerPixel);
        return std::nullopt;
    }

    platform::Status prepareAudio(MediaWriter::Settings& output) {
        const auto& requested = owner_.settings_.audio;
        MediaWriter::AudioSettings audio;
        audio.channels = requested ? requested->channels : audioDecoder_->ch_layout.nb_channels;
        audio.sampleRate = requested ? requested->sampleRate : audioDecoder_->sample_rate;
        if (requested) {
            audio.bitRate = requested->bitRate;
        }
        if (audio.channels <= 0 || audio.sampleRate <= 0) {
            return MediaError::make(MediaError::invalidSourceMedia, "The audio has no format");
        }
        output.audio = audio;
        outputChannels_ = audio.channels;
        outputSampleRate_ = audio.sampleRate;

        AVChannelLayout layout;
        av_channel_layout_default(&layout, audio.channels);
        SwrContext* resampler = nullptr;
        int result = swr_alloc_set_opts2(&resampler, &layout, AV_SAMPLE_FMT_S16, audio.sampleRate,
                                         &audioDecoder_->ch_layout, audioDecoder_->sample_fmt,
                                         audioDecoder_->sample_rate, 0, nullptr);
        resampler_.reset(resampler);
        av_channel_layout_uninit(&layout);
        if (result < 0 || (result = swr_init(resampler)) < 0) {
            return decodeError(result, "Cannot convert the audio");
        }
        return std::nullopt;
    }

    platform::Status transcode() {
        ffmpeg::PacketPtr packet(av_packet_alloc());
        ffmpeg::FramePtr frame(av_frame_alloc());
        while (!owner_.cancelled_.load()) {
            const int result = av_read_frame(input_->context(), packet.get());
            if (result == AVERROR_EOF) {
                break;
            }
            if (result < 0) {
                return decodeError(result, "Cannot read the source");
            }
            std::optional<Error> error;
            if (videoStream_ != nullptr && packet->stream_index == videoStream_->index) {
                error = decode(videoDecoder_.get(), packet.get(), frame.get());
            } else if (audioStream_ != nullptr && packet->stream_index == audioStream_->index) {
                error = decode(audioDecoder_.get(), packet.get(), frame.get());
            }
            av_packet_unref(packet.get());
            if (error) {
                return error;
            }
            if ((videoStream_ == nullptr || videoPastEnd_) &&
                (audioStream_ == nullptr || audioPastEnd_)) {
                break;
            }
        }
        if (owner_.cancelled_.load()) {
            return std::nullopt;
        }
        if (videoDecoder_) {
            if (platform::Status decoded = decode(videoDecoder_.get(), nullptr, frame.get());
                !decoded.ok()) {
                return decoded;
            }
            if (pending_) {
                const double shown = sourceFrameRate_ > 0 ? 1 / sourceFrameRate_ : 1 / frameRate_;
                if (platform::Status emitted =
                        emitSlotsBefore(std::min(pendingTime_ + shown, end_ - start_));
                    !emitted.ok()) {
                    return emitted;
                }
            }
        }
        if (audioDecoder_) {
            if (platform::Status decoded = decode(audioDecoder_.get(), nullptr, frame.get());
                !decoded.ok()) {
                return decoded;
            }
            if (platform::Status convertedAudio = convertAudio(nullptr); !convertedAudio.ok()) {
                return convertedAudio;
            }
        }
        return std::nullopt;
    }

    // Sends `packet` (nothing: end of stream) and handles every frame that comes out.
    platform::Status decode(AVCodecContext* decoder, const AVPacket* packet, AVFrame* frame) {
        int result = avcodec_send_packet(decoder, packet);
        // A damaged packet costs a frame, not the whole movie.
        if (result < 0 && result != AVERROR_INVALIDDATA && result != AVERROR_EOF) {
            return decodeError(result, "Cannot decode the source");
        }
        while (!owner_.cancelled_.load()) {
            result = avcodec_receive_frame(decoder, frame);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
                return std::nullopt;
            }
            if (result == AVERROR_INVALIDDATA) {
                continue;
            }
            if (result < 0) {
                return decodeError(result, "Cannot decode the source");
            }
            std::optional<Error> error =
                decoder == videoDecoder_.get() ? takeVideoFrame(frame) : convertAudio(frame);
            av_frame_unref(frame);
            if (error) {
                return error;
            }
        }
        return std::nullopt;
    }

    double streamSeconds(const AVStream* stream, int64_t timestamp) const {
        const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        return static_cast<double>(timestamp - start) * av_q2d(stream->time_base);
    }

    platform::Status takeVideoFrame(AVFrame* frame) {
        const int64_t timestamp = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                      ? frame->best_effort_timestamp
                                      : frame->pts;
        const double time = timestamp != AV_NOPTS_VALUE
                                ? streamSeconds(videoStream_, timestamp) - start_
                                : pendingTime_ + 1 / frameRate_;
        if (time >= end_ - start_) {
            videoPastEnd_ = true;
            return std::nullopt;
        }
        if (pending_) {
            if (platform::Status emitted = emitSlotsBefore(time); !emitted.ok()) {
                return emitted;
            }
        }
        pending_.reset(av_frame_clone(frame));
        if (!pending_) {
            return MediaError::make(MediaError::unknown, "Out of memory");
        }
        pendingTime_ = time;
        pendingDrawn_ = false;
        return std::nullopt;
    }

    // Writes the pending frame at every output instant before `limit` (seconds) that it is
    // the nearest frame for.
    platform::Status emitSlotsBefore(double limit) {
        const double slot = 1 / frameRate_;
        while (nextSlot_ * slot + slot / 2 < limit && !owner_.cancelled_.load()) {
            if (!pendingDrawn_) {
                if (platform::Status drawn = draw(pending_.get()); !drawn.ok()) {
                    return drawn;
                }
                if (owner_.settings_.frameRenderer) {
                    if (platform::Status rendered = render(pending_.get()); !rendered.ok()) {
                        return rendered;
                    }
                }
                pendingDrawn_ = true;
            }
            const double time = nextSlot_ * slot;
            const int rowBytes = planar_ ? canvasWidth_ : canvasWidth_ * bytesPerPixel;
            if (platform::Status appended =
                    writer_->appendVideoFrame(canvas_.data(), rowBytes, time);
                !appended.ok()) {
                return appended;
            }
            ++nextSlot_;
            report(time + slot);
        }
        return std::nullopt;
    }

    // The three planes of a w x h YUV 4:2:0 picture stored one after the other.
    static void planesOf(uint8_t* base, int w, int h, uint8_t* planes[3], int strides[3]) {
        const size_t luma = static_cast<size_t>(w) * h;
        planes[0] = base;
        planes[1] = base + luma;
        planes[2] = base + luma + luma / 4;
        strides[0] = w;
        strides[1] = w / 2;
        strides[2] = w / 2;
    }

    // Scales the frame into the encoder's format and turns it into place on the canvas.
    platform::Status drawPlanar(const AVFrame* frame) {
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame->width, frame->height,
                                           static_cast<AVPixelFormat>(frame->format), scaledWidth_,
                                           scaledHeight_, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                           nullptr, nullptr));
        if (!scaler_) {
            return MediaError::make(MediaError::decodeFailed, "Cannot convert the picture");
        }
        uint8_t* canvas[3];
        int canvasStrides[3];
        planesOf(canvas_.data(), canvasWidth_, canvasHeight_, canvas, canvasStrides);
        for (int plane = 0; plane < 3; ++plane) {
            const int shift = plane == 0 ? 0 : 1;
            canvas[plane] += static_cast<std::ptrdiff_t>(offsetY_ >> shift) * canvasStrides[plane] +
                             (offsetX_ >> shift);
        }
        if (rotation_ == 0) {
            sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, canvas,
                      canvasStrides);
            return std::nullopt;
        }
        uint8_t* scaled[3];
        int scaledStrides[3];
        planesOf(scaled_.data(), scaledWidth_, scaledHeight_, scaled, scaledStrides);
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, scaled,
                  scaledStrides);
        for (int plane = 0; plane < 3; ++plane) {
            const int shift = plane == 0 ? 0 : 1;
            turnPicture<1>(scaled[plane], scaledWidth_ >> shift, scaledHeight_ >> shift,
                           scaledStrides[plane], canvas[plane], canvasStrides[plane], rotation_);
        }
        return std::nullopt;
    }

    // Scales the frame and turns it into place on the canvas.
    platform::Status draw(const AVFrame* frame) {
        if (planar_) {
            return drawPlanar(frame);
        }
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame->width, frame->height,
                                           static_cast<AVPixelFormat>(frame->format), scaledWidth_,
                                           scaledHeight_, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr,
                                           nullptr, nullptr));
        if (!scaler_) {
            return MediaError::make(MediaError::decodeFailed, "Cannot convert the picture");
        }
        uint8_t* planes[] = {scaled_.data()};
        const int strides[] = {scaledWidth_ * bytesPerPixel};
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        if (composed_) {
            compose();
            return std::nullopt;
        }

        const int w = scaledWidth_;
        const int h = scaledHeight_;
        const size_t rowBytes = static_cast<size_t>(w) * bytesPerPixel;
        auto canvasAt = [&](int x, int y) {
            return canvas_.data() +
                   (static_cast<size_t>(offsetY_ + y) * canvasWidth_ + offsetX_ + x) *
                       bytesPerPixel;
        };
        if (rotation_ == 0) {
            for (int y = 0; y < h; ++y) {
                std::copy_n(scaled_.data() + y * rowBytes, rowBytes, canvasAt(0, y));
            }
            return std::nullopt;
        }
        turnPicture<bytesPerPixel>(
            scaled_.data(), w, h, static_cast<std::ptrdiff_t>(rowBytes), canvasAt(0, 0),
            static_cast<std::ptrdiff_t>(canvasWidth_) * bytesPerPixel, rotation_);
        return std::nullopt;
    }

    // Places the decoded picture (in scaled_, at its stored size) on the canvas through the
    // composition's transform, sampling the nearest source pixel.
    void compose() {
        for (size_t i = 0; i < canvas_.size(); i += bytesPerPixel) {
            std::fill_n(canvas_.data() + i, 3, 0);
            canvas_[i + 3] = opaque;
        }
        const AffineTransform& m = inverse_;
        for (int y = 0; y < canvasHeight_; ++y) {
            uint8_t* row = canvas_.data() + static_cast<size_t>(y) * canvasWidth_ * bytesPerPixel;
            for (int x = 0; x < canvasWidth_; ++x) {
                const double cx = x + 0.5;
                const double cy = y + 0.5;
                const double sx = std::floor(m.a * cx + m.c * cy + m.tx);
                const double sy = std::floor(m.b * cx + m.d * cy + m.ty);
                if (sx < 0 || sy < 0 || sx >= scaledWidth_ || sy >= scaledHeight_) {
                    continue;
                }
                const size_t from =
                    (static_cast<size_t>(sy) * scaledWidth_ + static_cast<size_t>(sx)) *
                    bytesPerPixel;
                std::copy_n(scaled_.data() + from, bytesPerPixel,
                            row + static_cast<size_t>(x) * bytesPerPixel);
            }
        }
    }

    // Hands the source frame and the drawn canvas to the host's renderer and keeps what it
    // drew. The canvas is RGBA and the buffers BGRA, so red and blue swap on the way.
    platform::Status render(const AVFrame* frame) {
        auto source = PixelBuffer::make(PixelBuffer::Format::bgra, frame->width, frame->height);
        auto destination =
            PixelBuffer::make(PixelBuffer::Format::bgra, canvasWidth_, canvasHeight_);
        if (!source || !destination) {
            return MediaError::make(MediaError::unknown, "Out of memory");
        }
        sourceScaler_.reset(sws_getCachedContext(
            sourceScaler_.release(), frame->width, frame->height,
            static_cast<AVPixelFormat>(frame->format), frame->width, frame->height, AV_PIX_FMT_BGRA,
            SWS_POINT, nullptr, nullptr, nullptr));
        if (!sourceScaler_) {
            return MediaError::make(MediaError::decodeFailed, "Cannot convert the picture");
        }
        uint8_t* planes[] = {source->baseAddress()};
        const int strides[] = {static_cast<int>(source->bytesPerRow())};
        sws_scale(sourceScaler_.get(), frame->data, frame->linesize, 0, frame->height, planes,
                  strides);
        const auto swapInto = [&](const uint8_t* from, uint8_t* to) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            to[3] = from[3];
        };
        const size_t rowBytes = static_cast<size_t>(canvasWidth_) * bytesPerPixel;
        for (int y = 0; y < canvasHeight_; ++y) {
            const uint8_t* from = canvas_.data() + y * rowBytes;
            uint8_t* to = destination->baseAddress() + y * destination->bytesPerRow();
            for (size_t x = 0; x < rowBytes; x += bytesPerPixel) {
                swapInto(from + x, to + x);
            }
        }
        if (!owner_.settings_.frameRenderer(*source, pendingTime_, *destination)) {
            return MediaError::make(MediaError::exportFailed, "The frame renderer failed");
        }
        for (int y = 0; y < canvasHeight_; ++y) {
            const uint8_t* from = destination->baseAddress() + y * destination->bytesPerRow();
            uint8_t* to = canvas_.data() + y * rowBytes;
            for (size_t x = 0; x < rowBytes; x += bytesPerPixel) {
                swapInto(from + x, to + x);
            }
        }
        return std::nullopt;
    }

    float gainAt(double seconds) const {
        const auto& mix = *owner_.settings_.audioMix;
        float gain = mix.volume;
        for (const auto& ramp : mix.ramps) {
            if (seconds < ramp.start) {
                break;
            }
            if (ramp.duration <= 0 || seconds >= ramp.start + ramp.duration) {
                gain = ramp.to;
                continue;
            }
            const double part = (seconds - ramp.start) / ramp.duration;
            return static_cast<float>(ramp.from + (ramp.to - ramp.from) * part);
        }
        return gain;
    }

    void applyMix(int count) {
        for (int i = 0; i < count; ++i) {
            const float gain = gainAt(static_cast<double>(samplesWritten_ + i) / outputSampleRate_);
            for (int channel = 0; channel < outputChannels_; ++channel) {
                int16_t& sample = samples_[static_cast<size_t>(i) * outputChannels_ + channel];
                sample =
                    static_cast<int16_t>(std::clamp(std::lround(sample * gain), -32768L, 32767L));
            }
        }
    }

    // Converts decoded audio (nothing: what the resampler still holds) and writes it.
    platform::Status convertAudio(const AVFrame* frame) {
        if (frame != nullptr && frame->pts != AV_NOPTS_VALUE) {
            const double from = streamSeconds(audioStream_, frame->pts) - start_;
            const double length = static_cast<double>(frame->nb_samples) / frame->sample_rate;
            if (from >= end_ - start_) {
                audioPastEnd_ = true;
                return std::nullopt;
            }
            // Outside the part kept: the nearest whole frame decides.
            if (from + length / 2 < 0 || from + length / 2 > end_ - start_) {
                return std::nullopt;
            }
        }
        const int inputCount = frame != nullptr ? frame->nb_samples : 0;
        const int capacity = swr_get_out_samples(resampler_.get(), inputCount);
        if (capacity <= 0) {
            return std::nullopt;
        }
        samples_.resize(static_cast<size_t>(capacity) * outputChannels_);
        uint8_t* out[] = {reinterpret_cast<uint8_t*>(samples_.data())};
        const int converted = swr_convert(
            resampler_.get(), out, capacity,
            frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
            inputCount);
        if (converted < 0) {
            return decodeError(converted, "Cannot convert the audio");
        }
        if (owner_.settings_.audioMix) {
            applyMix(converted);
        }
        if (platform::Status appended = writer_->appendAudioSamples(samples_.data(), converted);
            !appended.ok()) {
            return appended;
        }
        samplesWritten_ += converted;
        if (videoStream_ == nullptr && frame != nullptr && frame->pts != AV_NOPTS_VALUE) {
            report(streamSeconds(audioStream_, frame->pts) - start_ +
                   static_cast<double>(frame->nb_samples) / frame->sample_rate);
        }
        return std::nullopt;
    }

    void report(double seconds) {
        // With nothing to measure against, every step is all there is.
        const auto progress =
            duration_ > 0 ? static_cast<float>(std::clamp(seconds / duration_, 0.0, 1.0)) : 1.0f;
        owner_.progress_.store(progress);
        if (progressHandler_) {
            progressHandler_(progress);
        }
    }

    MediaTranscoder& owner_;
    std::function<void(float)> progressHandler_;
    std::unique_ptr<ffmpeg::Input> input_;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    ffmpeg::CodecContextPtr videoDecoder_;
    ffmpeg::CodecContextPtr audioDecoder_;
    std::unique_ptr<MediaWriter> writer_;
    double duration_ = 0;
    // The part converted, in source seconds; end_ is infinite for "to the end".
    double start_ = 0;
    double end_ = 0;
    bool videoPastEnd_ = false;
    bool audioPastEnd_ = false;

    int rotation_ = 0;
    double sourceFrameRate_ = 0;
    double frameRate_ = fallbackFrameRate;
    int canvasWidth_ = 0;
    int canvasHeight_ = 0;
    int offsetX_ = 0;
    int offsetY_ = 0;
    int scaledWidth_ = 0;
    int scaledHeight_ = 0;
    std::vector<uint8_t> canvas_;
    std::vector<uint8_t> scaled_;
    ffmpeg::ScalePtr scaler_;
    ffmpeg::ScalePtr sourceScaler_;
    bool composed_ = false;
    // The canvas holds the encoder's YUV 4:2:0 planes rather than RGBA.
    bool planar_ = false;
    AffineTransform inverse_;
    ffmpeg::FramePtr pending_;
    double pendingTime_ = 0;
    bool pendingDrawn_ = false;
    int64_t nextSlot_ = 0;

    ffmpeg::ResamplePtr resampler_;
    int outputChannels_ = 0;
    int outputSampleRate_ = 0;
    int64_t samplesWritten_ = 0;
    std::vector<int16_t> samples_;
};

std::shared_ptr<MediaTranscoder> MediaTranscoder::create(std::string sourcePath,
                                                         std::string outputPath, Settings settings,
                                                         std::shared_ptr<DispatchQueue> queue) {
    if (!queue) {
        queue = DispatchQueue::create("MediaTranscoder");
    }
    return std::make_shared<MediaTranscoder>(Private(), std::move(sourcePath),
                                             std::move(outputPath), std::move(settings),
                                             std::move(queue));
}

MediaTranscoder::MediaTranscoder(Private, std::string sourcePath, std::string outputPath,
                                 Settings settings, std::shared_ptr<DispatchQueue> queue)
    : sourcePath_(std::move(sourcePath)),
      outputPath_(std::move(outputPath)),
      settings_(std::move(settings)),
      queue_(std::move(queue)) {}

bool MediaTranscoder::start(Completion completion) {
    {
        std::lock_guard lock(mutex_);
        if (started_) {
            return false;
        }
        started_ = true;
        status_ = Status::transcoding;
        completion_ = std::move(completion);
    }
    queue_->async([self = shared_from_this()] {
        if (self->cancelled_.load()) {
            self->finish(Status::cancelled, std::nullopt);
            return;
        }
        auto [status, error] = Run(*self).perform();
        self->finish(status, std::move(error));
    });
    return true;
}

void MediaTranscoder::cancel() {
    cancelled_.store(true);
}

void MediaTranscoder::setProgressHandler(std::function<void(float)> handler) {
    std::lock_guard lock(mutex_);
    progressHandler_ = std::move(handler);
}

void MediaTranscoder::finish(Status status, std::optional<Error> error) {
    if (status == Status::completed) {
        progress_.store(1);
    }
    Completion completion;
    {
        std::lock_guard lock(mutex_);
        status_ = status;
        error_ = error;
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (completion) {
        completion(status, std::move(error));
    }
}

MediaTranscoder::Status MediaTranscoder::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::optional<Error> MediaTranscoder::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

}  // namespace pindle::platform
