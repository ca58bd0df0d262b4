#include "platform/media/Asset.hpp"

#include "platform/media/FFmpegSupport.hpp"
#include "platform/media/MediaError.hpp"

namespace pindle::platform {

namespace {

MediaTime fromTimeBase(std::int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE || value < 0)
        return MediaTime::invalid();
    return MediaTime::make(av_rescale_q(value, base, AVRational{1, MediaTime::defaultTimescale}),
                           MediaTime::defaultTimescale);
}

AssetTrack describe(const AVStream& stream) {
    AssetTrack track;
    track.trackID = stream.index + 1;
    track.duration = fromTimeBase(stream.duration, stream.time_base);
    switch (stream.codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO: {
            track.mediaType = MediaType::video;
            track.naturalSize = Size{static_cast<double>(stream.codecpar->width),
                                     static_cast<double>(stream.codecpar->height)};
            track.preferredTransform = AffineTransform::rotationInQuarterTurns(
                ffmpeg::clockwiseRotationDegrees(stream), track.naturalSize);
            const AVRational rate =
                stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
            if (rate.num > 0 && rate.den > 0)
                track.nominalFrameRate = av_q2d(rate);
            break;
        }
        case AVMEDIA_TYPE_AUDIO:
            track.mediaType = MediaType::audio;
            break;
        default:
            break;
    }
    return track;
}

}  // namespace

AssetPtr Asset::make(URL url) {
    return std::make_shared<Asset>(Private{}, std::move(url));
}

Asset::Asset(Private, URL url) : url_(std::move(url)) {}

const Asset::Properties& Asset::properties() const {
    std::call_once(loadOnce_, [this] {
        Error error;
        auto input = ffmpeg::openURL(url_, &error);
        if (!input) {
            properties_.error = error;
            properties_.duration = MediaTime::invalid();
            return;
        }
        const AVFormatContext& context = *input->context();
        properties_.duration = fromTimeBase(context.duration, AV_TIME_BASE_Q);
        for (unsigned i = 0; i < context.nb_streams; ++i)
            properties_.tracks.push_back(describe(*context.streams[i]));
    });
    return properties_;
}

MediaTime Asset::duration() const {
    return properties().duration;
}

std::vector<AssetTrack> Asset::tracks() const {
    return properties().tracks;
}

std::vector<AssetTrack> Asset::tracksWithMediaType(MediaType type) const {
    std::vector<AssetTrack> matching;
    for (const auto& track : tracks())
        if (track.mediaType == type)
            matching.push_back(track);
    return matching;
}

std::optional<Error> Asset::loadError() const {
    return properties().error;
}

std::string Asset::description() const {
    return "<Asset " + url_.absoluteString() + ">";
}

}  // namespace pindle::platform
