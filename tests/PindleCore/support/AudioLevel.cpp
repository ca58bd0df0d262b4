#include "tests/PindleCore/support/AudioLevel.hpp"

#include <cmath>

#include "platform/media/FFmpegSupport.hpp"

namespace pindle::testing {

double audioLevel(const std::string& path, double from, double to) {
    auto input = platform::ffmpeg::Input::open(platform::ffmpeg::Source::fromPath(path));
    if (!input) {
        return -1;
    }
    AVFormatContext* context = input->context();
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) {
        return -1;
    }
    AVStream* stream = context->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    platform::ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0 ||
        decoder->sample_fmt != AV_SAMPLE_FMT_FLTP) {
        return -1;
    }
    platform::ffmpeg::PacketPtr packet(av_packet_alloc());
    platform::ffmpeg::FramePtr frame(av_frame_alloc());
    double sum = 0;
    long count = 0;
    auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const double start = static_cast<double>(frame->pts) * av_q2d(stream->time_base);
            const auto* samples = reinterpret_cast<const float*>(frame->extended_data[0]);
            for (int i = 0; i < frame->nb_samples; ++i) {
                const double at = start + static_cast<double>(i) / frame->sample_rate;
                if (at >= from && at < to) {
                    sum += samples[i] * samples[i];
                    ++count;
                }
            }
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(context, packet.get()) == 0) {
        if (packet->stream_index == index) {
            avcodec_send_packet(decoder.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    return count > 0 ? std::sqrt(sum / count) : -1;
}

}  // namespace pindle::testing
