#include "platform/media/Image.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/files/ResourceBundle.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

namespace {

constexpr int quarterTurnsPerTurn = 4;
constexpr int frameAlignment = 32;

bool validSize(int width, int height) {
    constexpr int largest = std::numeric_limits<int>::max() / Image::bytesPerPixel;
    return width > 0 && height > 0 && width <= largest / height;
}

}  // namespace

Image::Image(Private, int width, int height, std::vector<std::uint8_t> rgba, double scale)
    : width_(width), height_(height), scale_(scale), rgba_(std::move(rgba)) {}

ImagePtr Image::make(int width, int height, std::vector<std::uint8_t> rgba, double scale) {
    if (!validSize(width, height) || !(scale > 0) || !std::isfinite(scale))
        return nullptr;
    if (rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * bytesPerPixel)
        return nullptr;
    return std::make_shared<Image>(Private{}, width, height, std::move(rgba), scale);
}

ImagePtr Image::filled(int width, int height, Pixel colour, double scale) {
    if (!validSize(width, height))
        return nullptr;
    std::vector<std::uint8_t> rgba;
    rgba.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * bytesPerPixel);
    for (long i = 0; i < static_cast<long>(width) * height; ++i)
        rgba.insert(rgba.end(), {colour.red, colour.green, colour.blue, colour.alpha});
    return make(width, height, std::move(rgba), scale);
}

ImagePtr Image::named(const std::string& name, const ResourceBundle& bundle) {
    auto bytes = bundle.data(name, "");
    if (!bytes)
        bytes = bundle.data(name, "png");
    return bytes ? fromData(*bytes) : nullptr;
}

ImagePtr Image::fromData(const Data& data, double scale) {
    if (data.empty())
        return nullptr;
    auto input = ffmpeg::Input::open(ffmpeg::Source::fromData(data), nullptr,
                                     {.findStreamInfo = false, .timedMediaOnly = false});
    if (!input || !input->context()->iformat ||
        !ffmpeg::isStillImageFormat(*input->context()->iformat))
        return nullptr;
    const int index = av_find_best_stream(input->context(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return nullptr;
    const AVCodecParameters& parameters = *input->context()->streams[index]->codecpar;
    if (static_cast<std::int64_t>(parameters.width) * parameters.height > maxDecodedPixels)
        return nullptr;
    auto decoder = ffmpeg::openDecoder(*input->context()->streams[index], maxDecodedPixels);
    if (!decoder)
        return nullptr;
    ImagePtr image;
    ffmpeg::decodeFrames(*input, index, *decoder, [&](const AVFrame& frame) {
        if (auto pixels = ffmpeg::toRGBA(frame))
            image = make(frame.width, frame.height, std::move(*pixels), scale);
        return false;
    });
    return image;
}

Size Image::size() const {
    switch (orientation_) {
        case Orientation::left:
        case Orientation::right:
        case Orientation::leftMirrored:
        case Orientation::rightMirrored:
            return Size{height_ / scale_, width_ / scale_};
        default:
            return Size{width_ / scale_, height_ / scale_};
    }
}

ImagePtr Image::fromGrey8(int width, int height, const std::vector<std::uint8_t>& grey,
                          double scale) {
    if (!validSize(width, height))
        return nullptr;
    if (grey.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        return nullptr;
    std::vector<std::uint8_t> rgba;
    rgba.reserve(grey.size() * bytesPerPixel);
    for (std::uint8_t value : grey) rgba.insert(rgba.end(), {value, value, value, 255});
    return make(width, height, std::move(rgba), scale);
}

ImagePtr Image::withOrientation(Orientation orientation) const {
    auto image = std::make_shared<Image>(Private{}, width_, height_, rgba_, scale_);
    image->orientation_ = orientation;
    return image;
}

ImagePtr Image::upright() const {
    int turns = 0;
    bool mirrored = false;
    switch (orientation_) {
        case Orientation::up:
            return std::make_shared<Image>(Private{}, width_, height_, rgba_, scale_);
        case Orientation::down:
            turns = 2;
            break;
        case Orientation::left:
            turns = -1;
            break;
        case Orientation::right:
            turns = 1;
            break;
        case Orientation::upMirrored:
            mirrored = true;
            break;
        case Orientation::downMirrored:
            turns = 2, mirrored = true;
            break;
        case Orientation::leftMirrored:
            turns = -1, mirrored = true;
            break;
        case Orientation::rightMirrored:
            turns = 1, mirrored = true;
            break;
    }
    std::vector<std::uint8_t> pixels = rgba_;
    if (mirrored) {
        for (int y = 0; y < height_; ++y) {
            auto* row = pixels.data() + static_cast<size_t>(y) * width_ * bytesPerPixel;
            for (int left = 0, right = width_ - 1; left < right; ++left, --right)
                std::swap_ranges(row + left * bytesPerPixel, row + (left + 1) * bytesPerPixel,
                                 row + right * bytesPerPixel);
        }
    }
    Image flipped(Private{}, width_, height_, std::move(pixels), scale_);
    return flipped.rotatedClockwise(turns);
}

Image::Pixel Image::pixelAt(int x, int y) const {
    const size_t offset =
        (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) *
        bytesPerPixel;
    return Pixel{rgba_[offset], rgba_[offset + 1], rgba_[offset + 2], rgba_[offset + 3]};
}

namespace {

// One picture through a still-image encoder. The RGBA pixels are converted to `format`
// first when the encoder wants another layout; `qscale` > 0 fixes the quantiser.
std::optional<Data> encodeStill(const std::vector<std::uint8_t>& rgba, int width, int height,
                                AVCodecID codecID, AVPixelFormat format, int qscale) {
    if (!ffmpeg::loadLibrary())
        return std::nullopt;
    const AVCodec* codec = avcodec_find_encoder(codecID);
    if (!codec)
        return std::nullopt;
    ffmpeg::CodecContextPtr encoder(avcodec_alloc_context3(codec));
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    if (!encoder || !frame || !packet)
        return std::nullopt;
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = format;
    encoder->time_base = AVRational{1, 1};
    if (qscale > 0) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * qscale;
    }
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0)
        return std::nullopt;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    frame->pts = 0;
    if (qscale > 0)
        frame->quality = encoder->global_quality;
    if (av_frame_get_buffer(frame.get(), frameAlignment) < 0)
        return std::nullopt;
    const int rowBytes = width * Image::bytesPerPixel;
    if (format == AV_PIX_FMT_RGBA) {
        for (int row = 0; row < height; ++row)
            std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(row) * frame->linesize[0],
                        rgba.data() + static_cast<size_t>(row) * rowBytes, rowBytes);
    } else {
        SwsContext* converter = sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height,
                                               format, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!converter)
            return std::nullopt;
        const uint8_t* planes[] = {rgba.data()};
        const int strides[] = {rowBytes};
        sws_scale(converter, planes, strides, 0, height, frame->data, frame->linesize);
        sws_freeContext(converter);
    }
    if (avcodec_send_frame(encoder.get(), frame.get()) < 0 ||
        avcodec_send_frame(encoder.get(), nullptr) < 0)
        return std::nullopt;
    Data encoded;
    while (avcodec_receive_packet(encoder.get(), packet.get()) >= 0) {
        encoded.insert(encoded.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    if (encoded.empty())
        return std::nullopt;
    return encoded;
}

}  // namespace

std::optional<Data> Image::pngData() const {
    return encodeStill(rgba_, width_, height_, AV_CODEC_ID_PNG, AV_PIX_FMT_RGBA, 0);
}

std::optional<Data> Image::jpegData(double quality) const {
    constexpr int finest = 1;
    constexpr int coarsest = 31;
    const double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 0.0;
    const int qscale = std::clamp(
        finest + static_cast<int>(std::lround((1.0 - q) * (coarsest - finest))), finest, coarsest);
    // Alpha is dropped: JPEG has none.
    return encodeStill(rgba_, width_, height_, AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ420P, qscale);
}

ImagePtr Image::scaledToPixelSize(int width, int height) const {
    if (!validSize(width, height))
        return nullptr;
    if (width == width_ && height == height_)
        return make(width, height, rgba_, scale_);
    auto pixels = ffmpeg::scaleRGBA(rgba_, width_, height_, width, height);
    if (!pixels)
        return nullptr;
    return make(width, height, std::move(*pixels), scale_);
}

ImagePtr Image::resizedToWidth(double newWidth) const {
    if (!std::isfinite(newWidth) || newWidth <= 0)
        return nullptr;
    const Size points = size();
    const double factor = newWidth / points.width;
    const double newHeight = points.height * factor;
    const double largest = std::numeric_limits<int>::max();
    if (!(newWidth < largest) || !(newHeight < largest))
        return nullptr;
    const auto width = static_cast<int>(std::lround(newWidth));
    const auto height = static_cast<int>(std::lround(newHeight));
    auto scaled = scaledToPixelSize(width, height);
    if (!scaled)
        return nullptr;
    return make(width, height, scaled->rgba_, 1.0);
}

ImagePtr Image::rotatedClockwise(int quarterTurns) const {
    const int turns =
        ((quarterTurns % quarterTurnsPerTurn) + quarterTurnsPerTurn) % quarterTurnsPerTurn;
    const bool swapsSides = turns % 2 == 1;
    const int width = swapsSides ? height_ : width_;
    const int height = swapsSides ? width_ : height_;
    std::vector<std::uint8_t> rgba(rgba_.size());
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            int toX = x, toY = y;
            switch (turns) {
                case 1:
                    toX = height_ - 1 - y;
                    toY = x;
                    break;
                case 2:
                    toX = width_ - 1 - x;
                    toY = height_ - 1 - y;
                    break;
                case 3:
                    toX = y;
                    toY = width_ - 1 - x;
                    break;
                default:
                    break;
            }
            const size_t from =
                (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) *
                bytesPerPixel;
            const size_t to =
                (static_cast<size_t>(toY) * static_cast<size_t>(width) + static_cast<size_t>(toX)) *
                bytesPerPixel;
            std::memcpy(rgba.data() + to, rgba_.data() + from, bytesPerPixel);
        }
    }
    return make(width, height, std::move(rgba), scale_);
}

std::string Image::description() const {
    return "<Image " + std::to_string(width_) + "x" + std::to_string(height_) + " @" +
           std::to_string(scale_) + "x>";
}

}  // namespace pindle::platform
