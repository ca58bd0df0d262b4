#include "platform/media/URLAsset.hpp"

#include <algorithm>

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

}  // namespace

URLAssetPtr URLAsset::make(URL url) {
    return std::make_shared<URLAsset>(Private{}, std::move(url));
}

URLAsset::URLAsset(Private, URL url) : url_(std::move(url)) {}

Asset::Properties URLAsset::properties() const {
    std::call_once(loadOnce_, [this] { loaded_ = readHeader(); });
    return loaded_;
}

Asset::Properties URLAsset::readHeader() const {
    Properties properties;
    Error error;
    const auto input = ffmpeg::Input::open(ffmpeg::Source::fromURL(url_), &error);
    if (!input) {
        properties.error = error;
        return properties;
    }
    const AVFormatContext& context = *input->context();
    MediaTime longestTrack = MediaTime::invalid();
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        properties.tracks.push_back(describe(*context.streams[i]));
        longestTrack = std::max(longestTrack, properties.tracks.back().duration);
    }
    properties.duration = context.duration != AV_NOPTS_VALUE
                              ? fromTimeBase(context.duration, AV_TIME_BASE_Q)
                              : longestTrack;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(context.metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr)
        properties.metadata.push_back(MetadataItem{entry->key, entry->value});
    return properties;
}

std::string URLAsset::description() const {
    return "<URLAsset " + url_.absoluteString() + ">";
}

}  // namespace pindle::platform
