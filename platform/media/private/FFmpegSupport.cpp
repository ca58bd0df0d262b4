#include "platform/media/private/FFmpegSupport.hpp"

#include <cerrno>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/files/FileError.hpp"
#include "platform/foundation/MediaError.hpp"

namespace pindle::platform::ffmpeg {

namespace {

constexpr int ioBufferSize = 16 * 1024;
constexpr int bytesPerPixel = 4;
constexpr int frameAlignment = 32;
constexpr int degreesPerQuarterTurn = 90;
constexpr const char* fileScheme = "file";

// Reads bytes held by the caller.
class DataReader : public Reader {
  public:
    explicit DataReader(const Data& data) : data_(data) {}

    int read(std::uint8_t* buffer, int size) override {
        const auto total = static_cast<std::int64_t>(data_.size());
        const std::int64_t available = total - position_;
        if (available <= 0)
            return AVERROR_EOF;
        const auto count = static_cast<int>(std::min<std::int64_t>(available, size));
        std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(count));
        position_ += count;
        return count;
    }

    std::int64_t seek(std::int64_t offset, int whence) override {
        const auto total = static_cast<std::int64_t>(data_.size());
        std::int64_t target = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return total;
            case SEEK_SET:
                target = offset;
                break;
            case SEEK_CUR:
                target = position_ + offset;
                break;
            case SEEK_END:
                target = total + offset;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (target < 0 || target > total)
            return AVERROR(EINVAL);
        position_ = target;
        return target;
    }

  private:
    const Data& data_;
    std::int64_t position_ = 0;
};

int readThroughReader(void* opaque, std::uint8_t* buffer, int size) {
    return static_cast<Reader*>(opaque)->read(buffer, size);
}

std::int64_t seekThroughReader(void* opaque, std::int64_t offset, int whence) {
    return static_cast<Reader*>(opaque)->seek(offset, whence);
}

void setError(Error* error, Error value) {
    if (error)
        *error = std::move(value);
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
    return loadLibrary() ? FramePtr(av_frame_alloc()) : nullptr;
}
PacketPtr makePacket() {
    return loadLibrary() ? PacketPtr(av_packet_alloc()) : nullptr;
}

Input::~Input() {
    if (context_)
        avformat_close_input(&context_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

Output::~Output() {
    if (context == nullptr)
        return;
    if (fileOpen)
        avio_closep(&context->pb);
    avformat_free_context(context);
}

Source Source::fromPath(std::string path) {
    Source source;
    source.description_ = path;
    source.location_ = std::move(path);
    return source;
}

Source Source::fromURL(const URL& url) {
    const std::string scheme = url.scheme().value_or("");
    Source source;
    source.description_ = url.absoluteString();
    if (scheme == fileScheme)
        source.location_ = url.path();
    else if (scheme == "http" || scheme == "https")
        source.location_ = url.absoluteString();
    else
        source.unsupported_ = true;
    return source;
}

Source Source::fromData(const Data& data) {
    return fromReader(std::make_shared<DataReader>(data), "bytes in memory");
}

Source Source::fromReader(std::shared_ptr<Reader> reader, std::string description) {
    Source source;
    source.description_ = std::move(description);
    source.reader_ = std::move(reader);
    source.unsupported_ = source.reader_ == nullptr;
    return source;
}

AVPixelFormat pixelFormatOf(PixelBuffer::Format format) {
    switch (format) {
        case PixelBuffer::Format::nv12:
            return AV_PIX_FMT_NV12;
        case PixelBuffer::Format::argb:
            return AV_PIX_FMT_ARGB;
        case PixelBuffer::Format::bgra:
            return AV_PIX_FMT_BGRA;
    }
    return AV_PIX_FMT_NV12;
}

bool isStillImageFormat(const AVInputFormat& format) {
    const std::string_view name = format.name ? format.name : "";
    constexpr std::string_view pipeSuffix = "_pipe";
    return (name.size() > pipeSuffix.size() && name.ends_with(pipeSuffix)) || name == "gif" ||
           name == "image2";
}

bool loadLibrary(Error* error) {
    if (!FFmpegLibrary::load(error))
        return false;
    // The layer reports failures as Errors; probing arbitrary bytes would otherwise fill
    // standard error.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    return true;
}

std::string describe(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Error makeError(int code, std::int64_t mediaCode, const std::string& what) {
    const std::string description = what + ": " + describe(code);
    // Negated errno values are small; FFmpeg's own error tags are large four-character codes.
    constexpr int largestErrno = 4095;
    if (code < 0 && -code <= largestErrno) {
        return Error(POSIXError::domain, -code,
                     {{Error::localizedDescriptionKey, Value(description)}});
    }
    return MediaError::make(mediaCode, description);
}

Error makeWriteError(int code, const std::string& what) {
    Error error = makeError(code, MediaError::unknown, what);
    if (error.domain() == POSIXError::domain &&
        (error.code() == ENOSPC || error.code() == EDQUOT)) {
        const Value description = error.userInfo().at(Error::localizedDescriptionKey);
        return Error(
            MediaError::domain, MediaError::diskFull,
            {{Error::localizedDescriptionKey, description}, {underlyingErrorKey, Value(error)}});
    }
    return error;
}

std::unique_ptr<Input> Input::open(const Source& source, Error* error, const OpenOptions& options) {
    if (!loadLibrary(error))
        return nullptr;
    if (source.unsupported_) {
        setError(error, MediaError::make(MediaError::operationNotSupportedForAsset,
                                         "No reader for " + source.description()));
        return nullptr;
    }
    auto input = std::make_unique<Input>();
    AVFormatContext* context = nullptr;
    const char* location = nullptr;
    if (source.reader_) {
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(ioBufferSize));
        input->io_ = buffer ? avio_alloc_context(buffer, ioBufferSize, 0, source.reader_.get(),
                                                 readThroughReader, nullptr, seekThroughReader)
                            : nullptr;
        context = input->io_ ? avformat_alloc_context() : nullptr;
        if (!context) {
            if (!input->io_)
                av_free(buffer);
            setError(error, makeError(AVERROR(ENOMEM), MediaError::unknown,
                                      "Cannot read " + source.description()));
            return nullptr;
        }
        input->reader_ = source.reader_;
        input->io_->direct = source.reader_->direct() ? 1 : 0;
        context->pb = input->io_;
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else {
        location = source.location_.c_str();
    }
    // On failure avformat_open_input frees the context itself (not a custom I/O context).
    int result = avformat_open_input(&context, location, options.format, nullptr);
    if (result < 0) {
        setError(error, makeError(result, MediaError::fileFormatNotRecognized,
                                  "Cannot open " + source.description()));
        return nullptr;
    }
    input->context_ = context;
    if (options.timedMediaOnly && (isStillImageFormat(*context->iformat) ||
                                   std::string_view(context->iformat->name) == "tty")) {
        setError(error, MediaError::make(MediaError::fileFormatNotRecognized,
                                         source.description() + " is no timed media"));
        return nullptr;
    }
    if (options.findStreamInfo && (result = avformat_find_stream_info(context, nullptr)) < 0) {
        setError(error, makeError(result, MediaError::fileFormatNotRecognized,
                                  "Cannot read the streams of " + source.description()));
        return nullptr;
    }
    return input;
}

std::unique_ptr<Input> Input::openDevice(
    const std::string& path, const AVInputFormat& format,
    const std::vector<std::pair<std::string, std::string>>& demuxerOptions, Error* error) {
    if (!loadLibrary(error))
        return nullptr;
    AVFormatContext* context = avformat_alloc_context();
    if (!context) {
        setError(error, makeError(AVERROR(ENOMEM), MediaError::unknown, "Cannot open " + path));
        return nullptr;
    }
    context->flags |= AVFMT_FLAG_NONBLOCK;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : demuxerOptions)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    // On failure avformat_open_input frees the context itself.
    const int result = avformat_open_input(&context, path.c_str(), &format, &options);
    av_dict_free(&options);
    if (result < 0) {
        setError(error, makeError(result, MediaError::unknown, "Cannot open " + path));
        return nullptr;
    }
    auto input = std::make_unique<Input>();
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
    ScalePtr scaler(sws_getContext(
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
    if (!loadLibrary())
        return std::nullopt;
    FramePtr in = makeRGBAFrame(width, height);
    FramePtr out = makeRGBAFrame(newWidth, newHeight);
    ScalePtr scaler(sws_getContext(width, height, AV_PIX_FMT_RGBA, newWidth, newHeight,
                                   AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr,
                                   nullptr, nullptr));
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

int clockwiseQuarterTurnDegrees(const AVStream& stream) {
    double degrees = 0;
    const std::uint8_t* matrix =
        av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    // The matrix states the counter-clockwise turn that displays the frame.
    const double counterClockwise =
        matrix ? av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix)) : NAN;
    if (!std::isnan(counterClockwise)) {
        degrees = -counterClockwise;
    } else if (const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "rotate", nullptr, 0)) {
        char* end = nullptr;
        const double tagged = std::strtod(tag->value, &end);
        if (end != tag->value && std::isfinite(tagged))
            degrees = tagged;
    }
    const long turns = std::lround(degrees / degreesPerQuarterTurn) % 4;
    return static_cast<int>((turns + 4) % 4) * degreesPerQuarterTurn;
}

MediaTime fromTimeBase(std::int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE || value < 0)
        return MediaTime::invalid();
    return MediaTime::make(av_rescale_q(value, base, AVRational{1, MediaTime::defaultTimescale}),
                           MediaTime::defaultTimescale);
}

AssetTrack describeTrack(const AVStream& stream) {
    const AVCodecParameters& parameters = *stream.codecpar;
    AssetTrack track;
    track.trackID = stream.index + 1;
    track.duration = fromTimeBase(stream.duration, stream.time_base);
    track.codecName = avcodec_get_name(parameters.codec_id);
    // A cover picture is stored as a one-frame video stream; it is no timed track.
    const bool coverPicture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (parameters.codec_type == AVMEDIA_TYPE_VIDEO && !coverPicture) {
        track.mediaType = MediaType::video;
        track.naturalSize =
            Size{static_cast<double>(parameters.width), static_cast<double>(parameters.height)};
        track.preferredTransform = AffineTransform::rotationInQuarterTurns(
            ffmpeg::clockwiseQuarterTurnDegrees(stream), track.naturalSize);
        const AVRational rate =
            stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            track.nominalFrameRate = av_q2d(rate);
    } else if (parameters.codec_type == AVMEDIA_TYPE_AUDIO) {
        track.mediaType = MediaType::audio;
        track.audioChannelCount = parameters.ch_layout.nb_channels;
        track.audioSampleRate = parameters.sample_rate;
    }
    return track;
}

}  // namespace pindle::platform::ffmpeg
