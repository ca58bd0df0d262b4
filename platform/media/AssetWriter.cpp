#include "platform/media/AssetWriter.hpp"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/media/FFmpegSupport.hpp"
#include "platform/media/MediaError.hpp"

namespace pindle::platform {

namespace {

constexpr int frameAlignment = 32;
constexpr int keyFrameInterval = 12;
constexpr const char* fileScheme = "file";
constexpr size_t displayMatrixBytes = 9 * sizeof(std::int32_t);

Error writeError(const std::string& what) {
    return MediaError::make(MediaError::unknown, what);
}

}  // namespace

struct AssetWriter::Encoder {
    AVFormatContext* output = nullptr;
    AVStream* stream = nullptr;
    ffmpeg::CodecContextPtr codec;
    SwsContext* converter = nullptr;
    ffmpeg::FramePtr frame;
    ffmpeg::PacketPtr packet;
    bool fileOpen = false;

    ~Encoder() {
        sws_freeContext(converter);
        if (output) {
            if (fileOpen)
                avio_closep(&output->pb);
            avformat_free_context(output);
        }
    }
};

AssetWriter::AssetWriter(URL outputURL, VideoSettings settings)
    : outputURL_(std::move(outputURL)), settings_(settings) {}

AssetWriter::~AssetWriter() {
    cancelWriting();
}

std::optional<Error> AssetWriter::startWriting() {
    ffmpeg::quietLogging();
    std::lock_guard lock(mutex_);
    if (encoder_)
        return MediaError::make(MediaError::invalidArgument, "Writing has already started");
    if (outputURL_.scheme() != std::optional<std::string>(fileScheme))
        return MediaError::make(MediaError::invalidArgument, "Writers write file URLs only");
    const VideoSettings& s = settings_;
    if (s.width <= 0 || s.height <= 0 || s.width % 2 != 0 || s.height % 2 != 0 ||
        s.framesPerSecond <= 0 || s.bitRate <= 0)
        return MediaError::make(MediaError::invalidArgument, "Video settings cannot be encoded");

    const std::string path = outputURL_.path();
    auto encoder = std::make_unique<Encoder>();
    if (avformat_alloc_output_context2(&encoder->output, nullptr, nullptr, path.c_str()) < 0 ||
        !encoder->output)
        return MediaError::make(MediaError::invalidArgument, "No container for " + path);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!codec)
        return writeError("No video encoder");
    encoder->stream = avformat_new_stream(encoder->output, nullptr);
    encoder->codec.reset(avcodec_alloc_context3(codec));
    encoder->frame = ffmpeg::makeFrame();
    encoder->packet = ffmpeg::makePacket();
    if (!encoder->stream || !encoder->codec || !encoder->frame || !encoder->packet)
        return writeError("Out of memory");

    AVCodecContext& context = *encoder->codec;
    context.width = s.width;
    context.height = s.height;
    context.pix_fmt = AV_PIX_FMT_YUV420P;
    context.time_base = AVRational{1, s.framesPerSecond};
    context.framerate = AVRational{s.framesPerSecond, 1};
    context.bit_rate = s.bitRate;
    context.gop_size = keyFrameInterval;
    if (encoder->output->oformat->flags & AVFMT_GLOBALHEADER)
        context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(&context, codec, nullptr) < 0)
        return writeError("The video encoder refused the settings");
    encoder->stream->time_base = context.time_base;
    encoder->stream->avg_frame_rate = context.framerate;
    if (avcodec_parameters_from_context(encoder->stream->codecpar, &context) < 0)
        return writeError("Cannot describe the video track");
    if (std::fmod(s.clockwiseRotationDegrees, 360.0) != 0) {
        auto* matrix = reinterpret_cast<std::int32_t*>(av_stream_new_side_data(
            encoder->stream, AV_PKT_DATA_DISPLAYMATRIX, displayMatrixBytes));
        if (!matrix)
            return writeError("Out of memory");
        // Read back, this matrix gives -degrees as its counter-clockwise turn, which is how
        // players (and our reader) take a clockwise turn for display.
        av_display_rotation_set(matrix, s.clockwiseRotationDegrees);
    }

    encoder->frame->format = context.pix_fmt;
    encoder->frame->width = s.width;
    encoder->frame->height = s.height;
    if (av_frame_get_buffer(encoder->frame.get(), frameAlignment) < 0)
        return writeError("Out of memory");
    encoder->converter =
        sws_getContext(s.width, s.height, AV_PIX_FMT_RGBA, s.width, s.height, context.pix_fmt,
                       SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!encoder->converter)
        return writeError("No pixel converter");

    if (avio_open(&encoder->output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return writeError("Cannot create " + path);
    encoder->fileOpen = true;
    if (avformat_write_header(encoder->output, nullptr) < 0) {
        encoder.reset();
        std::remove(path.c_str());
        return writeError("Cannot write the header of " + path);
    }
    encoder_ = std::move(encoder);
    framesWritten_ = 0;
    return std::nullopt;
}

std::optional<Error> AssetWriter::appendImage(const Image& image) {
    std::lock_guard lock(mutex_);
    if (!encoder_)
        return MediaError::make(MediaError::invalidArgument, "The writer is not writing");
    ImagePtr sized;
    const Image* source = &image;
    if (image.pixelWidth() != settings_.width || image.pixelHeight() != settings_.height) {
        sized = image.scaledToPixelSize(settings_.width, settings_.height);
        if (!sized)
            return writeError("Cannot scale the frame");
        source = sized.get();
    }
    AVFrame& frame = *encoder_->frame;
    if (av_frame_make_writable(&frame) < 0)
        return writeError("Out of memory");
    const std::uint8_t* planes[] = {source->rgba().data()};
    const int strides[] = {source->pixelWidth() * Image::bytesPerPixel};
    sws_scale(encoder_->converter, planes, strides, 0, settings_.height, frame.data,
              frame.linesize);
    frame.pts = framesWritten_++;
    if (avcodec_send_frame(encoder_->codec.get(), &frame) < 0)
        return writeError("The encoder refused a frame");
    return drainLocked(false);
}

std::optional<Error> AssetWriter::drainLocked(bool flush) {
    Encoder& encoder = *encoder_;
    if (flush && avcodec_send_frame(encoder.codec.get(), nullptr) < 0)
        return writeError("The encoder cannot be flushed");
    while (true) {
        const int received = avcodec_receive_packet(encoder.codec.get(), encoder.packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return std::nullopt;
        if (received < 0)
            return writeError("The encoder failed");
        // Every packet is one frame long; without it the last frame would count for nothing.
        encoder.packet->duration = 1;
        av_packet_rescale_ts(encoder.packet.get(), encoder.codec->time_base,
                             encoder.stream->time_base);
        encoder.packet->stream_index = encoder.stream->index;
        if (av_interleaved_write_frame(encoder.output, encoder.packet.get()) < 0)
            return writeError("Cannot write to " + outputURL_.path());
    }
}

std::optional<Error> AssetWriter::finishWriting() {
    std::lock_guard lock(mutex_);
    if (!encoder_)
        return MediaError::make(MediaError::invalidArgument, "The writer is not writing");
    if (auto error = drainLocked(true)) {
        discardLocked();
        return error;
    }
    if (av_write_trailer(encoder_->output) < 0) {
        discardLocked();
        return writeError("Cannot complete " + outputURL_.path());
    }
    encoder_.reset();
    return std::nullopt;
}

void AssetWriter::cancelWriting() {
    std::lock_guard lock(mutex_);
    discardLocked();
}

void AssetWriter::discardLocked() {
    if (!encoder_)
        return;
    encoder_.reset();
    std::remove(outputURL_.path().c_str());
}

}  // namespace pindle::platform
