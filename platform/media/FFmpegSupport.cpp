#include "platform/media/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/media/MediaError.hpp"

namespace pindle::platform::ffmpeg {

namespace {

constexpr int memoryBufferSize = 16 * 1024;
constexpr int bytesPerPixel = 4;
constexpr int frameAlignment = 32;
constexpr const char* fileScheme = "file";

struct SwsDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

int readMemory(void* opaque, std::uint8_t* buffer, int size) {
    auto* reader = static_cast<Input::MemoryReader*>(opaque);
    const auto total = static_cast<std::int64_t>(reader->data->size());
    const std::int64_t available = total - reader->position;
    if (available <= 0)
        return AVERROR_EOF;
    const auto count = static_cast<int>(std::min<std::int64_t>(available, size));
    std::memcpy(buffer, reader->data->data() + reader->position, static_cast<size_t>(count));
    reader->position += count;
    return count;
}

std::int64_t seekMemory(void* opaque, std::int64_t offset, int whence) {
    auto* reader = static_cast<Input::MemoryReader*>(opaque);
    const auto total = static_cast<std::int64_t>(reader->data->size());
    std::int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return total;
        case SEEK_SET:
            target = offset;
            break;
        case SEEK_CUR:
            target = reader->position + offset;
            break;
        case SEEK_END:
            target = total + offset;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (target < 0 || target > total)
        return AVERROR(EINVAL);
    reader->position = target;
    return target;
}

// Copies tightly packed rows out of an aligned frame buffer.
std::vector<std::uint8_t> packRows(const AVFrame& frame) {
    const int rowBytes = frame.width * bytesPerPixel;
    std::vector<std::uint8_t> pixels(static_cast<size_t>(rowBytes) *
                                     static_cast<size_t>(frame.height));
    for (int row = 0; row < frame.height; ++row)
        std::memcpy(pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(rowBytes),
                    frame.data[0] + static_cast<std::ptrdiff_t>(row) * frame.linesize[0],
                    static_cast<size_t>(rowBytes));
    return pixels;
}

FramePtr makeRGBAFrame(int width, int height) {
    FramePtr frame = makeFrame();
    if (!frame)
        return nullptr;
    frame->format = AV_PIX_FMT_RGBA;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), frameAlignment) < 0)
        return nullptr;
    return frame;
}

}  // namespace

FramePtr makeFrame() {
    return FramePtr(av_frame_alloc());
}
PacketPtr makePacket() {
    return PacketPtr(av_packet_alloc());
}

Input::~Input() {
    if (context_)
        avformat_close_input(&context_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

bool isStillImageFormat(const AVInputFormat& format) {
    const std::string_view name = format.name ? format.name : "";
    constexpr std::string_view pipeSuffix = "_pipe";
    return (name.size() > pipeSuffix.size() && name.ends_with(pipeSuffix)) || name == "gif" ||
           name == "image2";
}

void quietLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

std::unique_ptr<Input> openURL(const URL& url, Error* error) {
    quietLogging();
    const std::string scheme = url.scheme().value_or("");
    std::string location;
    if (scheme == fileScheme) {
        location = url.path();
    } else if (scheme == "http" || scheme == "https") {
        location = url.absoluteString();
    } else {
        if (error)
            *error = MediaError::make(MediaError::operationNotSupportedForAsset,
                                      "No reader for URLs of scheme \"" + scheme + "\"");
        return nullptr;
    }
    auto input = std::make_unique<Input>();
    if (avformat_open_input(&input->context_, location.c_str(), nullptr, nullptr) < 0) {
        input->context_ = nullptr;
        if (error)
            *error = MediaError::make(MediaError::fileFormatNotRecognized,
                                      "Cannot open " + url.absoluteString());
        return nullptr;
    }
    const std::string_view format = input->context_->iformat->name;
    if (isStillImageFormat(*input->context_->iformat) || format == "tty") {
        if (error)
            *error = MediaError::make(MediaError::fileFormatNotRecognized,
                                      url.absoluteString() + " is no timed media");
        return nullptr;
    }
    if (avformat_find_stream_info(input->context_, nullptr) < 0) {
        if (error)
            *error = MediaError::make(MediaError::fileFormatNotRecognized,
                                      "Cannot read the streams of " + url.absoluteString());
        return nullptr;
    }
    return input;
}

std::unique_ptr<Input> openMemory(const Data& data) {
    quietLogging();
    if (data.empty())
        return nullptr;
    auto input = std::make_unique<Input>();
    input->reader_.data = &data;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(memoryBufferSize));
    if (!buffer)
        return nullptr;
    input->io_ = avio_alloc_context(buffer, memoryBufferSize, 0, &input->reader_, readMemory,
                                    nullptr, seekMemory);
    if (!input->io_) {
        av_free(buffer);
        return nullptr;
    }
    AVFormatContext* context = avformat_alloc_context();
    if (!context)
        return nullptr;
    context->pb = input->io_;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure avformat_open_input frees the context itself.
    if (avformat_open_input(&context, nullptr, nullptr, nullptr) < 0)
        return nullptr;
    input->context_ = context;
    return input;
}

CodecContextPtr openDecoder(const AVStream& stream, std::int64_t maxPixels) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (!codec)
        return nullptr;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream.codecpar) < 0)
        return nullptr;
    context->pkt_timebase = stream.time_base;
    if (maxPixels > 0)
        context->max_pixels = maxPixels;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

bool decodeFrames(Input& input, int streamIndex, AVCodecContext& decoder,
                  const std::function<bool(const AVFrame&)>& accept) {
    PacketPtr packet = makePacket();
    FramePtr frame = makeFrame();
    if (!packet || !frame)
        return false;
    bool decodedAny = false;
    bool draining = false;
    while (true) {
        if (!draining) {
            const int read = av_read_frame(input.context(), packet.get());
            if (read < 0) {
                draining = true;
                avcodec_send_packet(&decoder, nullptr);
            } else {
                const bool ours = packet->stream_index == streamIndex;
                if (ours)
                    avcodec_send_packet(&decoder, packet.get());
                av_packet_unref(packet.get());
                if (!ours)
                    continue;
            }
        }
        while (true) {
            const int received = avcodec_receive_frame(&decoder, frame.get());
            if (received == AVERROR(EAGAIN))
                break;
            if (received < 0)
                return decodedAny;  // end of stream or a decoding failure
            decodedAny = true;
            const bool more = accept(*frame);
            av_frame_unref(frame.get());
            if (!more)
                return true;
        }
    }
}

std::optional<std::vector<std::uint8_t>> toRGBA(const AVFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0)
        return std::nullopt;
    SwsPtr scaler(sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
        frame.height, AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    FramePtr out = makeRGBAFrame(frame.width, frame.height);
    if (!scaler || !out)
        return std::nullopt;
    if (sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, out->data,
                  out->linesize) != frame.height)
        return std::nullopt;
    return packRows(*out);
}

std::optional<std::vector<std::uint8_t>> scaleRGBA(const std::vector<std::uint8_t>& pixels,
                                                   int width, int height, int newWidth,
                                                   int newHeight) {
    FramePtr in = makeRGBAFrame(width, height);
    FramePtr out = makeRGBAFrame(newWidth, newHeight);
    SwsPtr scaler(sws_getContext(width, height, AV_PIX_FMT_RGBA, newWidth, newHeight,
                                 AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr,
                                 nullptr));
    if (!in || !out || !scaler)
        return std::nullopt;
    const int rowBytes = width * bytesPerPixel;
    for (int row = 0; row < height; ++row)
        std::memcpy(in->data[0] + static_cast<std::ptrdiff_t>(row) * in->linesize[0],
                    pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(rowBytes),
                    static_cast<size_t>(rowBytes));
    if (sws_scale(scaler.get(), in->data, in->linesize, 0, height, out->data, out->linesize) !=
        newHeight)
        return std::nullopt;
    return packRows(*out);
}

double clockwiseRotationDegrees(const AVStream& stream) {
    const std::uint8_t* matrix =
        av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix) {
        // The matrix states the counter-clockwise turn that displays the frame.
        const double counterClockwise =
            av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
        if (!std::isnan(counterClockwise))
            return -counterClockwise;
    }
    if (const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "rotate", nullptr, 0)) {
        char* end = nullptr;
        const double degrees = std::strtod(tag->value, &end);
        if (end != tag->value && std::isfinite(degrees))
            return degrees;
    }
    return 0;
}

}  // namespace pindle::platform::ffmpeg
