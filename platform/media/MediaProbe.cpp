#include "platform/media/MediaProbe.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "platform/media/CodecSupport.hpp"
#include "platform/media/MediaError.hpp"

namespace pindle::platform {

namespace {

double streamSeconds(const AVStream* stream) {
    if (stream->duration == AV_NOPTS_VALUE) {
        return 0;
    }
    return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
}

}  // namespace

Size MediaProbe::displaySize() const {
    const AffineTransform& t = preferredTransform;
    const Size size = naturalSize;
    // Corners of the rectangle: x' = a x + c y + tx, y' = b x + d y + ty.
    const double xs[] = {0, t.a * size.width, t.c * size.height,
                         t.a * size.width + t.c * size.height};
    const double ys[] = {0, t.b * size.width, t.d * size.height,
                         t.b * size.width + t.d * size.height};
    const auto [minX, maxX] = std::minmax_element(std::begin(xs), std::end(xs));
    const auto [minY, maxY] = std::minmax_element(std::begin(ys), std::end(ys));
    return {*maxX - *minX, *maxY - *minY};
}

std::optional<MediaProbe> MediaProbe::open(const std::string& path, Error* error) {
    codec::InputPtr input = codec::openInput(path, error);
    if (!input) {
        return std::nullopt;
    }
    MediaProbe probe;
    double longestStream = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        longestStream = std::max(longestStream, streamSeconds(stream));
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && !probe.hasVideo &&
            (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            probe.hasVideo = true;
            probe.naturalSize = {static_cast<double>(parameters->width),
                                 static_cast<double>(parameters->height)};
            probe.preferredTransform = AffineTransform::rotationInQuarterTurns(
                codec::clockwiseQuarterTurnDegrees(*stream), probe.naturalSize);
            const AVRational rate =
                stream->avg_frame_rate.num != 0 ? stream->avg_frame_rate : stream->r_frame_rate;
            probe.nominalFrameRate = rate.den != 0 ? av_q2d(rate) : 0;
            probe.videoCodec = avcodec_get_name(parameters->codec_id);
        } else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && !probe.hasAudio) {
            probe.hasAudio = true;
            probe.audioChannels = parameters->ch_layout.nb_channels;
            probe.audioSampleRate = parameters->sample_rate;
            probe.audioCodec = avcodec_get_name(parameters->codec_id);
        }
    }
    if (!probe.hasVideo && !probe.hasAudio) {
        if (error != nullptr) {
            *error = MediaError::make(MediaError::fileFormatNotRecognized,
                                      "No audio or video in " + path);
        }
        return std::nullopt;
    }
    probe.duration = input->duration != AV_NOPTS_VALUE
                         ? static_cast<double>(input->duration) / AV_TIME_BASE
                         : longestStream;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(input->metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        probe.metadata[entry->key] = entry->value;
    }
    return probe;
}

}  // namespace pindle::platform
