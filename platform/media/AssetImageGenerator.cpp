#include "platform/media/AssetImageGenerator.hpp"

#include "platform/foundation/MediaError.hpp"
#include "platform/media/AffineTransform.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

namespace {

ImagePtr fail(std::optional<Error>* error, std::int64_t code, std::string description) {
    if (error)
        *error = MediaError::make(code, std::move(description));
    return nullptr;
}

}  // namespace

AssetImageGenerator::AssetImageGenerator(AssetPtr asset) : asset_(std::move(asset)) {}

ImagePtr AssetImageGenerator::copyImageAtTime(MediaTime requestedTime, MediaTime* actualTime,
                                              std::optional<Error>* error) const {
    if (error)
        error->reset();
    if (!requestedTime.isNumeric() || requestedTime.value < 0)
        return fail(error, MediaError::invalidArgument, "The requested time is not valid");
    const auto urlAsset = std::dynamic_pointer_cast<URLAsset>(asset_);
    if (!urlAsset)
        return fail(error, MediaError::operationNotSupportedForAsset,
                    "Only assets read from a URL give images");
    Error openError;
    auto input = ffmpeg::Input::open(ffmpeg::Source::fromURL(urlAsset->url()), &openError);
    if (!input) {
        if (error)
            *error = openError;
        return nullptr;
    }
    AVFormatContext* context = input->context();
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return fail(error, MediaError::noVideoTrack,
                    urlAsset->url().absoluteString() + " has no video track");
    const AVStream& stream = *context->streams[index];
    auto decoder = ffmpeg::openDecoder(stream);
    if (!decoder)
        return fail(error, MediaError::decodeFailed, "No decoder for the video track");

    const std::int64_t target =
        av_rescale_q(requestedTime.value, AVRational{1, requestedTime.timescale}, stream.time_base);
    if (target > 0)
        av_seek_frame(context, index, target, AVSEEK_FLAG_BACKWARD);

    ffmpeg::FramePtr chosen;
    const bool decoded = ffmpeg::decodeFrames(*input, index, *decoder, [&](const AVFrame& frame) {
        const std::int64_t start = frame.best_effort_timestamp;
        const bool atOrBefore = start == AV_NOPTS_VALUE || start <= target;
        if (atOrBefore || !chosen) {
            chosen = ffmpeg::makeFrame();
            if (!chosen || av_frame_ref(chosen.get(), &frame) < 0) {
                chosen.reset();
                return false;
            }
        }
        return atOrBefore;
    });
    if (!decoded || !chosen)
        return fail(error, MediaError::decodeFailed, "No frame could be decoded");
    auto pixels = ffmpeg::toRGBA(*chosen);
    ImagePtr image =
        pixels ? Image::make(chosen->width, chosen->height, std::move(*pixels)) : nullptr;
    if (!image)
        return fail(error, MediaError::decodeFailed, "The frame could not be converted");
    if (actualTime) {
        const std::int64_t start =
            chosen->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : chosen->best_effort_timestamp;
        *actualTime = MediaTime::make(
            av_rescale_q(start, stream.time_base, AVRational{1, MediaTime::defaultTimescale}),
            MediaTime::defaultTimescale);
    }
    if (appliesPreferredTrackTransform()) {
        const Size natural{static_cast<double>(image->pixelWidth()),
                           static_cast<double>(image->pixelHeight())};
        const int turns = AffineTransform::rotationInQuarterTurns(
                              ffmpeg::clockwiseQuarterTurnDegrees(stream), natural)
                              .clockwiseQuarterTurns();
        if (turns != 0)
            image = image->rotatedClockwise(turns);
    }
    return image;
}

}  // namespace pindle::platform
