#include "platform/media/MediaWriter.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/PixelBufferScaler.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

namespace {

// Holds the usual camera rates exactly (24, 25, 30, 60 and the NTSC 29.97) and stays within
// what MPEG-4 Part 2 accepts.
constexpr AVRational videoTimeBase{1, 30000};
constexpr int bytesPerPixel = 4;
// Silence is written in pieces of this many samples, so a long lead-in needs no large buffer.
constexpr int silenceChunk = 4096;
// Read and write for the owner, read for the rest, before the umask: what avio_open makes.
constexpr mode_t newFileMode = 0644;

AVPixelFormat libraryFormat(MediaWriter::PixelFormat format) {
    switch (format) {
        case MediaWriter::PixelFormat::rgba:
            return AV_PIX_FMT_RGBA;
        case MediaWriter::PixelFormat::bgra:
            return AV_PIX_FMT_BGRA;
        case MediaWriter::PixelFormat::argb:
            return AV_PIX_FMT_ARGB;
        case MediaWriter::PixelFormat::nv12:
            return AV_PIX_FMT_NV12;
        case MediaWriter::PixelFormat::yuv420p:
            return AV_PIX_FMT_YUV420P;
    }
    return AV_PIX_FMT_NONE;
}

Error writeError(int code, const std::string& what) {
    return ffmpeg::makeError(code, MediaError::unknown, what);
}

}  // namespace

struct MediaWriter::State {
    ffmpeg::Output output;
    ffmpeg::CodecContextPtr videoCodec;
    AVStream* videoStream = nullptr;
    PixelFormat videoPixelFormat = PixelFormat::rgba;
    AVPixelFormat encoderFormat = AV_PIX_FMT_YUV420P;  // what the video encoder takes
    ffmpeg::ScalePtr scaler;
    ffmpeg::FramePtr videoFrame;
    int64_t lastVideoPts = AV_NOPTS_VALUE;

    ffmpeg::CodecContextPtr audioCodec;
    AVStream* audioStream = nullptr;
    ffmpeg::ResamplePtr resampler;
    int resamplerChannels = 0;
    int resamplerRate = 0;
    ffmpeg::FifoPtr fifo;
    ffmpeg::FramePtr audioFrame;
    int64_t audioSamplesEncoded = 0;
    bool audioStarted = false;

    ffmpeg::PacketPtr packet{av_packet_alloc()};
    bool headerWritten = false;
    bool finished = false;
    bool failed = false;
    bool discarded = false;

    platform::Status drain(AVCodecContext* codec, AVStream* stream) {
        while (true) {
            const int result = avcodec_receive_packet(codec, packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
                return std::nullopt;
            }
            if (result < 0) {
                return writeError(result, "Encoding failed");
            }
            if (packet->duration == 0 && codec->codec_type == AVMEDIA_TYPE_VIDEO &&
                codec->framerate.num > 0) {
                // Without it the last picture of the movie would have no time on screen.
                packet->duration = av_rescale_q(1, av_inv_q(codec->framerate), codec->time_base);
            }
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int written = av_interleaved_write_frame(output.context, packet.get());
            if (written < 0) {
                return ffmpeg::makeWriteError(written, "Writing failed");
            }
        }
    }

    platform::Status encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
        const int result = avcodec_send_frame(codec, frame);
        if (result < 0 && result != AVERROR_EOF) {
            return writeError(result, "Encoding failed");
        }
        return drain(codec, stream);
    }

    // Converts what the resampler still holds into the FIFO.
    platform::Status flushResampler() {
        if (!resampler)
            return std::nullopt;
        const int pending = swr_get_out_samples(resampler.get(), 0);
        if (pending <= 0)
            return std::nullopt;
        return resample(nullptr, 0, pending);
    }

    // Readies the resampler for input of `channels` at `rate`; a change of input format
    // first flushes what the former one holds.
    platform::Status prepareResampler(int channels, int rate) {
        if (resampler && channels == resamplerChannels && rate == resamplerRate)
            return std::nullopt;
        if (platform::Status status = flushResampler(); !status.ok())
            return status;
        AVChannelLayout input;
        av_channel_layout_default(&input, channels);
        SwrContext* created = nullptr;
        int result = swr_alloc_set_opts2(&created, &audioCodec->ch_layout, AV_SAMPLE_FMT_FLTP,
                                         audioCodec->sample_rate, &input, AV_SAMPLE_FMT_S16, rate,
                                         0, nullptr);
        resampler.reset(created);
        av_channel_layout_uninit(&input);
        if (result < 0 || (result = swr_init(created)) < 0)
            return writeError(result, "Cannot prepare the audio converter");
        resamplerChannels = channels;
        resamplerRate = rate;
        return std::nullopt;
    }

    // Converts `count` input frames (none to drain) into the FIFO and encodes what fills
    // whole encoder frames.
    platform::Status resample(const std::uint8_t* input, int count, int capacity) {
        const int channels = audioCodec->ch_layout.nb_channels;
        std::vector<std::vector<float>> planes(channels,
                                               std::vector<float>(static_cast<size_t>(capacity)));
        std::vector<uint8_t*> planePointers;
        for (auto& plane : planes)
            planePointers.push_back(reinterpret_cast<uint8_t*>(plane.data()));
        const uint8_t** in = input ? &input : nullptr;
        const int converted =
            swr_convert(resampler.get(), planePointers.data(), capacity, in, count);
        if (converted < 0)
            return writeError(converted, "Audio conversion failed");
        av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(planePointers.data()), converted);
        return encodeAudio(false);
    }

    // Encodes whole encoder frames from the FIFO; with `flush` the short remainder as well.
    platform::Status encodeAudio(bool flush) {
        const int frameSize = audioCodec->frame_size;
        while (av_audio_fifo_size(fifo.get()) >= frameSize ||
               (flush && av_audio_fifo_size(fifo.get()) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(fifo.get()));
            av_frame_unref(audioFrame.get());
            audioFrame->nb_samples = count;
            audioFrame->format = audioCodec->sample_fmt;
            audioFrame->sample_rate = audioCodec->sample_rate;
            av_channel_layout_copy(&audioFrame->ch_layout, &audioCodec->ch_layout);
            int result = av_frame_get_buffer(audioFrame.get(), 0);
            if (result < 0) {
                return writeError(result, "Out of memory");
            }
            av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(audioFrame->data), count);
            audioFrame->pts = audioSamplesEncoded;
            audioSamplesEncoded += count;
            if (platform::Status encoded = encode(audioCodec.get(), audioStream, audioFrame.get());
                !encoded.ok()) {
                return encoded;
            }
        }
        return std::nullopt;
    }

    // --- Making the movie: the container, then each track, then the file and its header ---

    platform::Status openContainer(const std::string& path, Container container) {
        const char* format = container == Container::mp4 ? "mp4" : "mov";
        const int result =
            avformat_alloc_output_context2(&output.context, nullptr, format, path.c_str());
        if (result < 0)
            return writeError(result, "Cannot create a movie");
        return std::nullopt;
    }

    bool wantsGlobalHeader() const {
        return (output.context->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    }

    platform::Status addVideoTrack(const VideoSettings& video, int rotation) {
        const char* name = video.codec == VideoCodec::h264 ? "libx264" : "mpeg4";
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        if (codec == nullptr)
            return MediaError::make(MediaError::encoderNotFound, std::string("No encoder ") + name);
        videoCodec.reset(avcodec_alloc_context3(codec));
        AVCodecContext* encoder = videoCodec.get();
        encoder->width = video.width;
        encoder->height = video.height;
        encoderFormat = video.codec == VideoCodec::h264 && video.pixelFormat != PixelFormat::yuv420p
                            ? AV_PIX_FMT_NV12
                            : AV_PIX_FMT_YUV420P;
        encoder->pix_fmt = encoderFormat;
        encoder->time_base = videoTimeBase;
        encoder->framerate = av_d2q(video.frameRate > 0 ? video.frameRate : 30, 1000);
        encoder->bit_rate = video.bitRate;
        encoder->gop_size = video.keyFrameInterval > 0
                                ? video.keyFrameInterval
                                : std::max(1, static_cast<int>(std::lround(video.frameRate)));
        if (wantsGlobalHeader()) {
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        AVDictionary* options = nullptr;
        if (video.codec == VideoCodec::h264) {
            av_dict_set(&options, "preset",
                        video.speed == EncoderSpeed::realtime ? "veryfast" : "fast", 0);
            if (!video.profile.empty()) {
                av_dict_set(&options, "profile", video.profile.c_str(), 0);
            }
            if (video.level > 0) {
                encoder->level = video.level;
            }
            if (!video.bFrames) {
                encoder->max_b_frames = 0;
            }
            // A conversion is bound by encoding: as many frame threads as the encoder picks
            // for the machine. Pictures taken live keep one thread and its short delay: the
            // encoder's own default is a pool of frame threads, each holding frames in
            // flight, which for the three renditions of a recording is half a gigabyte.
            encoder->thread_count = video.speed == EncoderSpeed::standard ? 0 : 1;
        }
        const int result = avcodec_open2(encoder, codec, &options);
        av_dict_free(&options);
        if (result < 0) {
            return ffmpeg::makeError(result, MediaError::encoderNotFound,
                                     "Cannot open the video encoder");
        }
        videoStream = avformat_new_stream(output.context, nullptr);
        avcodec_parameters_from_context(videoStream->codecpar, encoder);
        videoStream->time_base = encoder->time_base;
        if (rotation != 0) {
            auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(
                videoStream, AV_PKT_DATA_DISPLAYMATRIX, sizeof(int32_t) * 9));
            // With the angle as given the matrix is the platform's: a clockwise quarter turn is
            // b = 1, c = -1, as cameras write it.
            av_display_rotation_set(matrix, rotation);
        }
        videoPixelFormat = video.pixelFormat;
        videoFrame.reset(av_frame_alloc());
        videoFrame->format = encoderFormat;
        videoFrame->width = video.width;
        videoFrame->height = video.height;
        if (av_frame_get_buffer(videoFrame.get(), 0) < 0)
            return MediaError::make(MediaError::unknown, "Cannot prepare the picture converter");
        return std::nullopt;
    }

    platform::Status addAudioTrack(const AudioSettings& audio) {
        const AVCodec* codec = avcodec_find_encoder_by_name("aac");
        if (codec == nullptr)
            return MediaError::make(MediaError::encoderNotFound, "No AAC encoder");
        audioCodec.reset(avcodec_alloc_context3(codec));
        AVCodecContext* encoder = audioCodec.get();
        av_channel_layout_default(&encoder->ch_layout, audio.channels);
        encoder->sample_rate = audio.sampleRate;
        encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder->bit_rate = audio.bitRate;
        encoder->time_base = AVRational{1, audio.sampleRate};
        if (wantsGlobalHeader()) {
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        const int result = avcodec_open2(encoder, codec, nullptr);
        if (result < 0) {
            return ffmpeg::makeError(result, MediaError::encoderNotFound,
                                     "Cannot open the audio encoder");
        }
        audioStream = avformat_new_stream(output.context, nullptr);
        avcodec_parameters_from_context(audioStream->codecpar, encoder);
        audioStream->time_base = encoder->time_base;
        if (platform::Status failure = prepareResampler(audio.channels, audio.sampleRate);
            !failure.ok()) {
            return failure;
        }
        fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, audio.channels, encoder->frame_size));
        audioFrame.reset(av_frame_alloc());
        return std::nullopt;
    }

    // Opens the movie's file; unless `replaceExisting`, only one that is not there yet.
    platform::Status openFile(const std::string& path, bool replaceExisting) {
        bool createdHere = false;
        if (!replaceExisting) {
            // O_EXCL makes the check and the creation one step: nobody else's file is opened.
            const int descriptor =
                ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode);
            if (descriptor < 0) {
                const int reason = errno;
                if (reason == EEXIST) {
                    return MediaError::make(MediaError::fileAlreadyExists,
                                            path + " already exists");
                }
                return writeError(AVERROR(reason), "Cannot create " + path);
            }
            ::close(descriptor);
            createdHere = true;
        }
        const int result = avio_open(&output.context->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (result < 0) {
            if (createdHere) {
                std::remove(path.c_str());
            }
            return writeError(result, "Cannot create " + path);
        }
        output.fileOpen = true;
        return std::nullopt;
    }

    // Writes the metadata and the header; FFmpeg's result.
    int writeHeader(const Settings& settings) {
        AVFormatContext* context = output.context;
        for (const auto& [key, value] : settings.metadata) {
            av_dict_set(&context->metadata, key.c_str(), value.c_str(), 0);
        }
        AVDictionary* muxerOptions = nullptr;
        // Keys such as "com.apple.quicktime.location.ISO6709" only survive as metadata-keyed
        // items; the classic user-data atoms know a fixed handful.
        std::string flags = "+use_metadata_tags";
        if (settings.optimizeForNetworkUse) {
            flags += "+faststart";
        }
        av_dict_set(&muxerOptions, "movflags", flags.c_str(), 0);
        const int result = avformat_write_header(context, &muxerOptions);
        av_dict_free(&muxerOptions);
        return result;
    }
};

namespace {

// Why the writer cannot make a movie of these settings; nothing when it can.
std::optional<std::string> invalidSettings(const MediaWriter::Settings& settings) {
    if (!settings.video && !settings.audio)
        return "A movie needs a video or an audio track";
    if (settings.rotation % 90 != 0 || settings.rotation < 0 || settings.rotation >= 360)
        return "Rotation must be 0, 90, 180 or 270 degrees";
    if (settings.video && (settings.video->width <= 0 || settings.video->height <= 0 ||
                           settings.video->width % 2 != 0 || settings.video->height % 2 != 0)) {
        return "Video size must be positive and even";
    }
    if (settings.audio && (settings.audio->channels <= 0 || settings.audio->sampleRate <= 0))
        return "Audio needs channels and a sample rate";
    return std::nullopt;
}

}  // namespace

std::unique_ptr<MediaWriter> MediaWriter::create(const std::string& path, const Settings& settings,
                                                 Error* error) {
    auto fail = [&](const Error& reason) -> std::unique_ptr<MediaWriter> {
        if (error != nullptr) {
            *error = reason;
        }
        return nullptr;
    };
    if (const std::optional<std::string> reason = invalidSettings(settings)) {
        return fail(MediaError::make(MediaError::unknown, *reason));
    }
    Error loadError;
    if (!ffmpeg::loadLibrary(&loadError)) {
        return fail(loadError);
    }
    auto state = std::make_unique<State>();
    platform::Status prepared = state->openContainer(path, settings.container);
    if (prepared.ok() && settings.video) {
        prepared = state->addVideoTrack(*settings.video, settings.rotation);
    }
    if (prepared.ok() && settings.audio) {
        prepared = state->addAudioTrack(*settings.audio);
    }
    if (prepared.ok()) {
        prepared = state->openFile(path, settings.replaceExisting);
    }
    if (!prepared.ok()) {
        return fail(prepared.error());
    }
    const int result = state->writeHeader(settings);
    // Made before the result is looked at: a writer whose header failed discards its file.
    auto writer = std::make_unique<MediaWriter>(Private{}, path, std::move(state));
    if (result < 0) {
        return fail(writeError(result, "Cannot write the movie header"));
    }
    writer->state_->headerWritten = true;
    return writer;
}

MediaWriter::MediaWriter(Private, std::string path, std::unique_ptr<State> state)
    : path_(std::move(path)), state_(std::move(state)) {}

MediaWriter::~MediaWriter() {
    if (!state_->finished) {
        discard();
    }
}

platform::Status MediaWriter::appendVideoFrame(const std::uint8_t* pixels,
                                               std::ptrdiff_t bytesPerRow,
                                               double presentationTime) {
    if (!state_->videoCodec) {
        return MediaError::make(MediaError::unknown, "The writer takes no video frames");
    }
    Picture picture;
    picture.format = state_->videoPixelFormat;
    picture.width = state_->videoCodec->width;
    picture.height = state_->videoCodec->height;
    picture.planes[0] = pixels;
    picture.bytesPerRow[0] = bytesPerRow;
    if (picture.format == PixelFormat::nv12 && pixels != nullptr) {
        picture.planes[1] = pixels + bytesPerRow * picture.height;
        picture.bytesPerRow[1] = bytesPerRow;
    } else if (picture.format == PixelFormat::yuv420p && pixels != nullptr) {
        const std::ptrdiff_t chromaRow = bytesPerRow / 2;
        picture.planes[1] = pixels + bytesPerRow * picture.height;
        picture.planes[2] = picture.planes[1] + chromaRow * (picture.height / 2);
        picture.bytesPerRow[1] = chromaRow;
        picture.bytesPerRow[2] = chromaRow;
    }
    return appendPicture(picture, presentationTime);
}

platform::Status MediaWriter::appendPicture(const Picture& picture, double presentationTime) {
    State& state = *state_;
    if (state.finished || state.failed || !state.videoCodec) {
        return MediaError::make(MediaError::unknown, "The writer takes no video frames");
    }
    const bool nv12 = picture.format == PixelFormat::nv12;
    const bool yuv = picture.format == PixelFormat::yuv420p;
    const bool planar = nv12 || yuv;
    const std::ptrdiff_t rowBytes =
        static_cast<std::ptrdiff_t>(picture.width) * (planar ? 1 : bytesPerPixel);
    const std::ptrdiff_t chromaRowBytes = (static_cast<std::ptrdiff_t>(picture.width) + 1) / 2;
    if (picture.width <= 0 || picture.height <= 0 || picture.planes[0] == nullptr ||
        picture.bytesPerRow[0] < rowBytes ||
        (nv12 && (picture.planes[1] == nullptr || picture.bytesPerRow[1] < rowBytes)) ||
        (yuv &&
         (picture.planes[1] == nullptr || picture.planes[2] == nullptr ||
          picture.bytesPerRow[1] < chromaRowBytes || picture.bytesPerRow[2] < chromaRowBytes))) {
        return MediaError::make(MediaError::unknown, "The picture is smaller than the video");
    }
    const int64_t pts = std::llround(presentationTime / av_q2d(videoTimeBase));
    if (state.lastVideoPts != AV_NOPTS_VALUE && pts <= state.lastVideoPts) {
        return MediaError::make(MediaError::unknown, "Frame times must increase");
    }
    const int width = state.videoCodec->width;
    const int height = state.videoCodec->height;
    int result = av_frame_make_writable(state.videoFrame.get());
    if (result < 0) {
        return writeError(result, "Out of memory");
    }
    const PixelBufferScaler::Crop crop =
        PixelBufferScaler::aspectFillCrop(picture.width, picture.height, width, height);
    const uint8_t* planes[3] = {
        picture.planes[0] + crop.y * picture.bytesPerRow[0] + crop.x * (planar ? 1 : bytesPerPixel),
        nv12  ? picture.planes[1] + (crop.y / 2) * picture.bytesPerRow[1] + crop.x
        : yuv ? picture.planes[1] + (crop.y / 2) * picture.bytesPerRow[1] + crop.x / 2
              : nullptr,
        yuv ? picture.planes[2] + (crop.y / 2) * picture.bytesPerRow[2] + crop.x / 2 : nullptr};
    const int strides[3] = {static_cast<int>(picture.bytesPerRow[0]),
                            static_cast<int>(picture.bytesPerRow[1]),
                            static_cast<int>(picture.bytesPerRow[2])};
    if (libraryFormat(picture.format) == state.encoderFormat && crop.width == width &&
        crop.height == height) {
        // Already the encoder's picture: a copy, not a conversion.
        av_image_copy(state.videoFrame->data, state.videoFrame->linesize, planes, strides,
                      state.encoderFormat, width, height);
    } else {
        state.scaler.reset(sws_getCachedContext(
            state.scaler.release(), crop.width, crop.height, libraryFormat(picture.format), width,
            height, state.encoderFormat, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!state.scaler) {
            return MediaError::make(MediaError::unknown, "Cannot convert the picture");
        }
        sws_scale(state.scaler.get(), planes, strides, 0, crop.height, state.videoFrame->data,
                  state.videoFrame->linesize);
    }
    state.videoFrame->pts = pts;
    state.lastVideoPts = pts;
    platform::Status encoded =
        state.encode(state.videoCodec.get(), state.videoStream, state.videoFrame.get());
    if (!encoded.ok()) {
        state.failed = true;
    }
    return encoded;
}

platform::Status MediaWriter::appendAudioSamples(const std::int16_t* samples,
                                                 std::size_t frameCount) {
    if (!state_->audioCodec) {
        return MediaError::make(MediaError::unknown, "The writer takes no audio");
    }
    return appendAudioSamples(samples, frameCount, state_->audioCodec->ch_layout.nb_channels,
                              state_->audioCodec->sample_rate);
}

platform::Status MediaWriter::appendAudioSamples(const std::int16_t* samples,
                                                 std::size_t frameCount, int channels,
                                                 int sampleRate) {
    State& state = *state_;
    if (state.finished || state.failed || !state.audioCodec) {
        return MediaError::make(MediaError::unknown, "The writer takes no audio");
    }
    if (frameCount == 0) {
        return std::nullopt;
    }
    constexpr std::size_t maxFrames = 1 << 24;
    if (samples == nullptr || channels <= 0 || sampleRate <= 0 || frameCount > maxFrames) {
        return MediaError::make(MediaError::unknown, "No usable samples");
    }
    state.audioStarted = true;
    platform::Status status = state.prepareResampler(channels, sampleRate);
    if (status.ok()) {
        const int count = static_cast<int>(frameCount);
        status = state.resample(reinterpret_cast<const uint8_t*>(samples), count,
                                swr_get_out_samples(state.resampler.get(), count));
    }
    if (!status.ok()) {
        state.failed = true;
    }
    return status;
}

platform::Status MediaWriter::setAudioStartTime(double seconds) {
    State& state = *state_;
    if (state.finished || state.failed || !state.audioCodec || state.audioStarted) {
        return MediaError::make(MediaError::unknown, "The audio start can no longer be set");
    }
    // A lead-in longer than a day is no timeline any recording has.
    constexpr double longestLeadIn = 24 * 3600;
    if (!(seconds <= longestLeadIn)) {
        return MediaError::make(MediaError::unknown, "The audio start is out of range");
    }
    state.audioStarted = true;
    const double frames = seconds * state.audioCodec->sample_rate;
    std::int64_t remaining = frames > 0 ? std::llround(frames) : 0;
    const int channels = state.audioCodec->ch_layout.nb_channels;
    std::vector<std::vector<float>> planes(channels, std::vector<float>(silenceChunk, 0.0F));
    std::vector<void*> planePointers;
    for (auto& plane : planes) planePointers.push_back(plane.data());
    while (remaining > 0) {
        const int chunk = static_cast<int>(std::min<std::int64_t>(remaining, silenceChunk));
        av_audio_fifo_write(state.fifo.get(), planePointers.data(), chunk);
        remaining -= chunk;
        if (platform::Status status = state.encodeAudio(false); !status.ok()) {
            state.failed = true;
            return status;
        }
    }
    return std::nullopt;
}

platform::Status MediaWriter::finish() {
    State& state = *state_;
    if (state.finished || state.failed) {
        return MediaError::make(MediaError::unknown, "The writer has already ended");
    }
    std::optional<Error> error;
    if (state.videoCodec) {
        error = state.encode(state.videoCodec.get(), state.videoStream, nullptr);
    }
    if (!error && state.audioCodec) {
        error = state.flushResampler();
    }
    if (!error && state.audioCodec) {
        error = state.encodeAudio(true);
        if (!error) {
            error = state.encode(state.audioCodec.get(), state.audioStream, nullptr);
        }
    }
    if (!error) {
        const int result = av_write_trailer(state.output.context);
        if (result < 0) {
            error = ffmpeg::makeWriteError(result, "Cannot complete the movie");
        }
    }
    if (!error && state.output.fileOpen) {
        const int result = avio_closep(&state.output.context->pb);
        state.output.fileOpen = false;
        if (result < 0) {
            error = ffmpeg::makeWriteError(result, "Cannot close the movie");
        }
    }
    if (error) {
        state.failed = true;
        discard();
        return error;
    }
    state.finished = true;
    return std::nullopt;
}

void MediaWriter::cancel() {
    if (!state_->finished) {
        state_->failed = true;
        discard();
    }
}

void MediaWriter::discard() {
    if (state_->discarded) {
        return;
    }
    state_->discarded = true;
    if (state_->output.fileOpen) {
        avio_closep(&state_->output.context->pb);
        state_->output.fileOpen = false;
    }
    std::remove(path_.c_str());
}

}  // namespace pindle::platform
