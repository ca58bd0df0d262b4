#include "platform/media/CameraStream.hpp"

#include <cerrno>
#include <map>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/PixelBufferPool.hpp"
#include "platform/media/private/AVDeviceLibrary.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

namespace {

constexpr std::chrono::milliseconds retryAfter{5};

// The name libavdevice's video4linux2 demuxer takes for a V4L2 pixel format.
const char* demuxerFormatName(const std::string& fourcc) {
    static const std::map<std::string, const char*> names = {
        {"YUYV", "yuyv422"}, {"UYVY", "uyvy422"}, {"NV12", "nv12"},
        {"YU12", "yuv420p"}, {"RGB3", "rgb24"},   {"BGR3", "bgr24"},
        {"GREY", "gray"},    {"MJPG", "mjpeg"},   {"JPEG", "mjpeg"}};
    const auto found = names.find(fourcc);
    return found == names.end() ? nullptr : found->second;
}

// The picture in `target`'s format and size, in a buffer of `pool`: the middle of the frame
// with the target's aspect ratio, scaled. Null when the frame's format cannot be converted.
PixelBufferPtr convert(const AVFrame& frame, const CameraStream::Target& target,
                       ffmpeg::ScalePtr& scaler, PixelBufferPool& pool) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor || frame.width <= 0 || frame.height <= 0 ||
        (descriptor->flags &
         (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)))
        return nullptr;
    int cropWidth = frame.width;
    int cropHeight = frame.height;
    const long long sourceWide = static_cast<long long>(frame.width) * target.height;
    const long long targetWide = static_cast<long long>(frame.height) * target.width;
    if (sourceWide > targetWide)
        cropWidth = static_cast<int>(targetWide / target.height);
    else if (sourceWide < targetWide)
        cropHeight = static_cast<int>(sourceWide / target.width);
    const int alignX = 1 << descriptor->log2_chroma_w;
    const int alignY = 1 << descriptor->log2_chroma_h;
    int x = (frame.width - cropWidth) / 2;
    int y = (frame.height - cropHeight) / 2;
    x -= x % alignX;
    y -= y % alignY;
    cropWidth = std::max(alignX, cropWidth - cropWidth % alignX);
    cropHeight = std::max(alignY, cropHeight - cropHeight % alignY);

    const std::uint8_t* planes[4] = {nullptr, nullptr, nullptr, nullptr};
    int strides[4] = {0, 0, 0, 0};
    for (int plane = 0; plane < 4 && frame.data[plane]; ++plane) {
        int step = 0;
        bool chroma = false;
        for (int c = 0; c < descriptor->nb_components; ++c)
            if (descriptor->comp[c].plane == plane) {
                if (step == 0)
                    step = descriptor->comp[c].step;
                chroma = chroma || ((c == 1 || c == 2) && descriptor->comp[0].plane != plane);
            }
        const int shiftX = chroma ? descriptor->log2_chroma_w : 0;
        const int shiftY = chroma ? descriptor->log2_chroma_h : 0;
        planes[plane] = frame.data[plane] +
                        static_cast<std::ptrdiff_t>(y >> shiftY) * frame.linesize[plane] +
                        static_cast<std::ptrdiff_t>(x >> shiftX) * step;
        strides[plane] = frame.linesize[plane];
    }

    auto picture = pool.make(target.format, target.width, target.height);
    if (!picture)
        return nullptr;
    scaler.reset(sws_getCachedContext(scaler.release(), cropWidth, cropHeight, format, target.width,
                                      target.height, ffmpeg::pixelFormatOf(target.format),
                                      SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler)
        return nullptr;
    std::uint8_t* destination[4] = {picture->baseAddress(0),
                                    picture->planeCount() > 1 ? picture->baseAddress(1) : nullptr,
                                    nullptr, nullptr};
    const int destinationStrides[4] = {
        static_cast<int>(picture->bytesPerRow(0)),
        picture->planeCount() > 1 ? static_cast<int>(picture->bytesPerRow(1)) : 0, 0, 0};
    if (sws_scale(scaler.get(), planes, strides, 0, cropHeight, destination, destinationStrides) <=
        0)
        return nullptr;
    return picture;
}

}  // namespace

std::unique_ptr<CameraStream> CameraStream::openDevice(const std::string& path,
                                                       const CameraMode& mode, Error* error) {
    std::string why;
    if (!AVDeviceLibrary::ready(&why)) {
        if (error)
            *error = MediaError::make(MediaError::unknown, "Cannot stream from cameras: " + why);
        return nullptr;
    }
    const AVInputFormat* format = av_find_input_format("video4linux2");
    if (!format) {
        if (error)
            *error = MediaError::make(MediaError::unknown, "FFmpeg has no video4linux2 input");
        return nullptr;
    }
    std::vector<std::pair<std::string, std::string>> options;
    options.emplace_back("video_size",
                         std::to_string(mode.width) + "x" + std::to_string(mode.height));
    if (const char* name = demuxerFormatName(mode.pixelFormat))
        options.emplace_back("input_format", name);
    if (mode.framesPerSecond > 0)
        options.emplace_back("framerate", std::to_string(mode.framesPerSecond));
    auto input = ffmpeg::Input::openDevice(path, *format, options, error);
    if (!input)
        return nullptr;
    return std::make_unique<CameraStream>(std::move(input), path + " (" + mode.description() + ")",
                                          false);
}

std::unique_ptr<CameraStream> CameraStream::openFile(const std::string& path, Error* error) {
    auto input = ffmpeg::Input::open(ffmpeg::Source::fromPath(path), error);
    if (!input)
        return nullptr;
    return std::make_unique<CameraStream>(std::move(input), path, true);
}

CameraStream::CameraStream(std::unique_ptr<ffmpeg::Input> input, std::string description,
                           bool paced)
    : input_(std::move(input)), description_(std::move(description)), paced_(paced) {}

CameraStream::~CameraStream() {
    stop();
}

void CameraStream::start(const Target& target, FrameHandler onFrame, EndHandler onEnd) {
    if (thread_.joinable())
        return;
    thread_ = std::thread([this, target, onFrame = std::move(onFrame), onEnd = std::move(onEnd)] {
        run(target, onFrame, onEnd);
    });
}

void CameraStream::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool CameraStream::pause(std::chrono::microseconds duration) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, duration, [&] { return stopping_; });
    return !stopping_;
}

void CameraStream::run(Target target, FrameHandler onFrame, EndHandler onEnd) {
    const auto end = [&](int code, const std::string& what) {
        if (pause(std::chrono::microseconds(0)))
            onEnd(code == 0 ? MediaError::make(MediaError::operationInterrupted, what)
                            : ffmpeg::makeError(code, MediaError::operationInterrupted, what));
    };
    AVFormatContext* context = input_->context();
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return end(0, description_ + " has no pictures");
    const AVStream& stream = *context->streams[index];
    auto decoder = ffmpeg::openDecoder(stream);
    auto packet = ffmpeg::makePacket();
    auto frame = ffmpeg::makeFrame();
    if (!decoder || !packet || !frame)
        return end(0, "Cannot decode the pictures of " + description_);
    ffmpeg::ScalePtr scaler;
    // Pictures go out in buffers used again once their holders are done with them.
    PixelBufferPool pool;
    auto lastPicture = std::chrono::steady_clock::now();
    const auto startedAt = lastPicture;
    std::int64_t firstTimestamp = AV_NOPTS_VALUE;

    const auto deliverDecoded = [&]() -> bool {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            if (paced_) {
                const std::int64_t timestamp = frame->best_effort_timestamp;
                if (timestamp != AV_NOPTS_VALUE) {
                    if (firstTimestamp == AV_NOPTS_VALUE)
                        firstTimestamp = timestamp;
                    const auto due = startedAt + std::chrono::microseconds(
                                                     av_rescale_q(timestamp - firstTimestamp,
                                                                  stream.time_base, {1, 1000000}));
                    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(
                        due - std::chrono::steady_clock::now());
                    if (wait.count() > 0 && !pause(wait))
                        return false;
                }
            }
            if (!pause(std::chrono::microseconds(0)))
                return false;
            // A picture that cannot be converted (a corrupt one) is skipped.
            if (auto picture = convert(*frame, target, scaler, pool))
                onFrame(picture);
            av_frame_unref(frame.get());
        }
        return true;
    };

    for (;;) {
        if (!pause(std::chrono::microseconds(0)))
            return;
        const int read = av_read_frame(context, packet.get());
        if (read == AVERROR(EAGAIN)) {
            if (std::chrono::steady_clock::now() - lastPicture > silenceLimit)
                return end(0, description_ + " stopped delivering pictures");
            if (!pause(retryAfter))
                return;
            continue;
        }
        if (read == AVERROR_EOF) {
            avcodec_send_packet(decoder.get(), nullptr);
            if (!deliverDecoded())
                return;
            return end(paced_ ? 0 : AVERROR(ENODEV),
                       paced_ ? "The end of " + description_ : description_ + " went away");
        }
        if (read < 0)
            return end(read, description_ + " went away");
        if (packet->stream_index == index) {
            lastPicture = std::chrono::steady_clock::now();
            // A packet the decoder refuses (a damaged picture) is dropped.
            avcodec_send_packet(decoder.get(), packet.get());
            if (!deliverDecoded()) {
                av_packet_unref(packet.get());
                return;
            }
        }
        av_packet_unref(packet.get());
    }
}

}  // namespace pindle::platform
