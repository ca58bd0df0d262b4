#include "tests/PindleCore/support/AudioLevel.hpp"

#include <cmath>
#include <functional>

#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::testing {

namespace {

// Hands every decoded sample of the first channel, with its output time, to `take`; false
// when the file has no decodable sound.
bool decodeFirstChannel(const std::string& path, int* rate,
                        const std::function<void(double at, float sample)>& take) {
    auto input = platform::ffmpeg::Input::open(platform::ffmpeg::Source::fromPath(path));
    if (!input) {
        return false;
    }
    AVFormatContext* context = input->context();
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) {
        return false;
    }
    AVStream* stream = context->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    platform::ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0 ||
        decoder->sample_fmt != AV_SAMPLE_FMT_FLTP) {
        return false;
    }
    if (rate)
        *rate = decoder->sample_rate;
    platform::ffmpeg::PacketPtr packet(av_packet_alloc());
    platform::ffmpeg::FramePtr frame(av_frame_alloc());
    auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const double start = static_cast<double>(frame->pts) * av_q2d(stream->time_base);
            const auto* samples = reinterpret_cast<const float*>(frame->extended_data[0]);
            for (int i = 0; i < frame->nb_samples; ++i)
                take(start + static_cast<double>(i) / frame->sample_rate, samples[i]);
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
    return true;
}

}  // namespace

double audioLevel(const std::string& path, double from, double to) {
    double sum = 0;
    long count = 0;
    const bool decoded = decodeFirstChannel(path, nullptr, [&](double at, float sample) {
        if (at >= from && at < to) {
            sum += sample * sample;
            ++count;
        }
    });
    return decoded && count > 0 ? std::sqrt(sum / count) : -1;
}

std::vector<float> audioSamples(const std::string& path, int* rate) {
    std::vector<float> samples;
    decodeFirstChannel(path, rate, [&](double at, float sample) {
        if (at >= 0)
            samples.push_back(sample);
    });
    return samples;
}

}  // namespace pindle::testing
