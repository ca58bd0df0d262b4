#include "tests/support/MediaFixtures.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <vector>

#include "platform/foundation/Status.hpp"
#include "platform/media/MediaWriter.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform::testing {
namespace {

constexpr int codeBits = 16;
constexpr std::uint8_t bright = 235;
constexpr std::uint8_t dark = 16;
constexpr std::uint8_t background = 110;
// Block averages between these are neither a one nor a zero: the picture is no code.
constexpr int darkAtMost = 90;
constexpr int brightAtLeast = 160;
constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;

int codeBandHeight(int height) {
    return std::max(1, height / 4);
}

// The columns of block `bit`: [first, last).
std::pair<int, int> blockColumns(int width, int bit) {
    return {width * bit / codeBits, width * (bit + 1) / codeBits};
}

void fillRect(std::uint8_t* rgba, std::ptrdiff_t bytesPerRow, int x0, int y0, int x1, int y1,
              std::uint8_t grey) {
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row = rgba + y * bytesPerRow;
        for (int x = x0; x < x1; ++x) {
            row[x * 4 + 0] = grey;
            row[x * 4 + 1] = grey;
            row[x * 4 + 2] = grey;
            row[x * 4 + 3] = 255;
        }
    }
}

// A bar that crosses the lower part of the picture once a second, so that consecutive
// frames differ even without the code.
void drawPicture(std::vector<std::uint8_t>& pixels, const ClipOptions& options, int frame) {
    const int width = options.width;
    const int height = options.height;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) * 4;
    fillRect(pixels.data(), stride, 0, 0, width, height, background);
    const int band = codeBandHeight(height);
    const int barWidth = std::max(2, width / 16);
    const double phase = std::fmod(frame / options.fps, 1.0);
    const int barX = static_cast<int>(phase * (width - barWidth));
    fillRect(pixels.data(), stride, barX, band + 1, barX + barWidth, height, bright);
    if (options.noise) {
        std::uint32_t state = 2463534242u + static_cast<std::uint32_t>(frame) * 7919u;
        for (std::size_t i = static_cast<std::size_t>(band + 1) * stride; i < pixels.size(); ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            if (i % 4 != 3)
                pixels[i] = static_cast<std::uint8_t>(state);
        }
    }
    if (options.frameNumberPattern) {
        drawFrameNumber(pixels.data(), width, height, stride, frame);
    }
}

std::filesystem::path scratchClipPath() {
    static std::atomic<int> counter{0};
    return std::filesystem::temp_directory_path() /
           ("pindle-clip-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".mp4");
}

std::string readWhole(const std::filesystem::path& path) {
    std::error_code missing;
    const auto size = std::filesystem::file_size(path, missing);
    std::string bytes(missing ? 0 : size, '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// Copies the movie at `from` to `to` sample by sample, each H.264 picture followed by a filler
// unit of `filler` bytes (none when that is too small for one).
bool addFiller(const std::string& from, const std::string& to, bool faststart,
               std::int64_t filler) {
    auto input = ffmpeg::Input::open(ffmpeg::Source::fromPath(from));
    if (!input)
        return false;
    AVFormatContext* source = input->context();
    ffmpeg::Output output;
    if (avformat_alloc_output_context2(&output.context, nullptr, "mp4", to.c_str()) < 0)
        return false;
    // The length prefix of each unit in a sample, from the stream's configuration record.
    int prefix = 4;
    for (unsigned i = 0; i < source->nb_streams; ++i) {
        const AVCodecParameters* parameters = source->streams[i]->codecpar;
        AVStream* stream = avformat_new_stream(output.context, nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, parameters) < 0)
            return false;
        stream->codecpar->codec_tag = 0;
        stream->time_base = source->streams[i]->time_base;
        if (parameters->codec_id == AV_CODEC_ID_H264 && parameters->extradata_size > 4 &&
            parameters->extradata[0] == 1)
            prefix = (parameters->extradata[4] & 3) + 1;
    }
    if (avio_open(&output.context->pb, to.c_str(), AVIO_FLAG_WRITE) < 0)
        return false;
    output.fileOpen = true;
    AVDictionary* muxerOptions = nullptr;
    if (faststart)
        av_dict_set(&muxerOptions, "movflags", "faststart", 0);
    const int header = avformat_write_header(output.context, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (header < 0)
        return false;
    constexpr std::uint8_t fillerUnit = 12;
    constexpr std::uint8_t trailingBits = 0x80;
    const std::int64_t payload = filler - prefix - 2;
    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    while (av_read_frame(source, packet.get()) >= 0) {
        const AVStream* stream = source->streams[packet->stream_index];
        if (stream->codecpar->codec_id == AV_CODEC_ID_H264 && payload > 0) {
            const int at = packet->size;
            if (av_grow_packet(packet.get(), static_cast<int>(filler)) < 0)
                return false;
            std::uint8_t* unit = packet->data + at;
            const std::int64_t length = filler - prefix;
            for (int i = 0; i < prefix; ++i)
                unit[i] = static_cast<std::uint8_t>(length >> (8 * (prefix - 1 - i)));
            unit[prefix] = fillerUnit;
            std::fill(unit + prefix + 1, unit + prefix + 1 + payload, std::uint8_t{0xff});
            unit[filler - 1] = trailingBits;
        }
        av_packet_rescale_ts(packet.get(), stream->time_base,
                             output.context->streams[packet->stream_index]->time_base);
        if (av_interleaved_write_frame(output.context, packet.get()) < 0)
            return false;
    }
    return av_write_trailer(output.context) >= 0;
}

}  // namespace

int clipFrameCount(const ClipOptions& options) {
    return std::max(1, static_cast<int>(std::lround(options.seconds * options.fps)));
}

void drawFrameNumber(std::uint8_t* rgba, int width, int height, std::ptrdiff_t bytesPerRow,
                     int frameNumber) {
    const int band = codeBandHeight(height);
    for (int bit = 0; bit < codeBits; ++bit) {
        const bool one = ((frameNumber >> (codeBits - 1 - bit)) & 1) != 0;
        const auto [x0, x1] = blockColumns(width, bit);
        fillRect(rgba, bytesPerRow, x0, 0, x1, band, one ? bright : dark);
    }
}

std::optional<int> readFrameNumber(const Image& image) {
    const int width = image.pixelWidth();
    const int height = image.pixelHeight();
    if (width < codeBits * 2 || height < 4) {
        return std::nullopt;
    }
    const int band = codeBandHeight(height);
    // The inner half of each block: clear of the blur that compression and scaling leave at
    // block edges.
    const int y0 = band / 4;
    const int y1 = std::max(y0 + 1, band * 3 / 4);
    int number = 0;
    for (int bit = 0; bit < codeBits; ++bit) {
        const auto [left, right] = blockColumns(width, bit);
        const int x0 = left + (right - left) / 4;
        const int x1 = std::max(x0 + 1, left + (right - left) * 3 / 4);
        long sum = 0;
        long count = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const Image::Pixel p = image.pixelAt(x, y);
                sum += (p.red + p.green + p.blue) / 3;
                ++count;
            }
        }
        const long mean = sum / count;
        if (mean >= brightAtLeast) {
            number |= 1 << (codeBits - 1 - bit);
        } else if (mean > darkAtMost) {
            return std::nullopt;
        }
    }
    return number;
}

bool isFlashFrame(const Image& image) {
    const int width = image.pixelWidth();
    const int height = image.pixelHeight();
    long sum = 0, count = 0;
    for (int y = height * 5 / 8; y < height * 7 / 8; y += 4)
        for (int x = width / 8; x < width * 7 / 8; x += 4) {
            const Image::Pixel p = image.pixelAt(x, y);
            sum += (p.red + p.green + p.blue) / 3;
            ++count;
        }
    return count > 0 && sum / count >= 230;
}

platform::Status writeClip(const std::string& path, const ClipOptions& options) {
    MediaWriter::Settings settings;
    MediaWriter::VideoSettings video;
    video.width = options.width;
    video.height = options.height;
    video.frameRate = options.fps;
    video.bFrames = options.bFrames;
    settings.video = video;
    if (options.toneHz > 0 || options.flashAt >= 0) {
        MediaWriter::AudioSettings audio;
        audio.channels = kChannels;
        audio.sampleRate = kSampleRate;
        settings.audio = audio;
    }
    settings.rotation = options.rotation;
    settings.optimizeForNetworkUse = options.faststart;

    Error error;
    auto writer = MediaWriter::create(path, settings, &error);
    if (!writer) {
        return error;
    }
    const int frames = clipFrameCount(options);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(options.width) * options.height * 4);
    const int flashFrame =
        options.flashAt >= 0 ? static_cast<int>(std::lround(options.flashAt * options.fps)) : -1;
    for (int frame = 0; frame < frames; ++frame) {
        drawPicture(pixels, options, frame);
        if (frame == flashFrame) {
            std::fill(pixels.begin() + static_cast<std::ptrdiff_t>(pixels.size() / 2), pixels.end(),
                      std::uint8_t{255});
            drawFrameNumber(pixels.data(), options.width, options.height, options.width * 4, frame);
        }
        if (platform::Status failure =
                writer->appendVideoFrame(pixels.data(), options.width * 4, frame / options.fps);
            !failure.ok()) {
            return failure;
        }
    }
    if (settings.audio) {
        const double seconds =
            options.audioSeconds > 0 ? options.audioSeconds : frames / options.fps;
        const auto count = static_cast<std::size_t>(std::lround(seconds * kSampleRate));
        std::vector<std::int16_t> samples(count * kChannels);
        // The phase is carried across a change of pitch, so the change makes no click.
        double phase = 0;
        const auto clickStart =
            static_cast<std::size_t>(std::lround(flashFrame / options.fps * kSampleRate));
        const auto clickEnd = clickStart + kSampleRate / 100;
        for (std::size_t i = 0; i < count; ++i) {
            double value = 0;
            if (options.flashAt >= 0) {
                if (i >= clickStart && i < clickEnd)
                    value = 24000 * std::sin(2 * std::numbers::pi * 1000.0 *
                                             double(i - clickStart) / kSampleRate);
            } else {
                const bool later =
                    options.laterToneHz > 0 && double(i) / kSampleRate >= options.toneChangeAt;
                phase += 2 * std::numbers::pi * (later ? options.laterToneHz : options.toneHz) /
                         kSampleRate;
                value = 8000 * std::sin(phase);
            }
            samples[i * kChannels] = static_cast<std::int16_t>(value);
            samples[i * kChannels + 1] = static_cast<std::int16_t>(value);
        }
        if (platform::Status failure = writer->appendAudioSamples(samples.data(), count);
            !failure.ok()) {
            return failure;
        }
    }
    return writer->finish();
}

std::string clipBytes(const ClipOptions& options) {
    const std::filesystem::path path = scratchClipPath();
    std::string bytes;
    if (writeClip(path.string(), options).ok())
        bytes = readWhole(path);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return bytes;
}

std::string heavyClipBytes(const ClipOptions& options, std::int64_t size) {
    const std::filesystem::path light = scratchClipPath();
    const std::filesystem::path heavy = scratchClipPath();
    ClipOptions lightOptions = options;
    lightOptions.faststart = false;
    std::string bytes;
    if (writeClip(light.string(), lightOptions).ok() &&
        addFiller(light.string(), heavy.string(), options.faststart,
                  (size - static_cast<std::int64_t>(std::filesystem::file_size(light))) /
                      clipFrameCount(options)))
        bytes = readWhole(heavy);
    std::error_code ignored;
    std::filesystem::remove(light, ignored);
    std::filesystem::remove(heavy, ignored);
    return bytes;
}

}  // namespace pindle::platform::testing
