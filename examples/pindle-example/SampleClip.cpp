#include "examples/pindle-example/SampleClip.hpp"

#include <cstdint>
#include <vector>

#include "platform/foundation/Status.hpp"
#include "platform/media/MediaWriter.hpp"

namespace pindle::example {

namespace {

constexpr int clipWidth = 320;
constexpr int clipHeight = 240;
constexpr double clipFrameRate = 15;
constexpr int bytesPerPixel = 4;

}  // namespace

platform::Status writeSampleClip(const std::string& path, double seconds) {
    platform::MediaWriter::Settings settings;
    platform::MediaWriter::VideoSettings video;
    video.width = clipWidth;
    video.height = clipHeight;
    video.frameRate = clipFrameRate;
    settings.video = video;
    platform::Error error;
    auto writer = platform::MediaWriter::create(path, settings, &error);
    if (!writer)
        return error;
    std::vector<std::uint8_t> pixels(clipWidth * clipHeight * bytesPerPixel);
    const int frames = static_cast<int>(seconds * clipFrameRate);
    for (int frame = 0; frame < frames; ++frame) {
        for (int y = 0; y < clipHeight; ++y) {
            for (int x = 0; x < clipWidth; ++x) {
                std::uint8_t* pixel = &pixels[(y * clipWidth + x) * bytesPerPixel];
                pixel[0] = static_cast<std::uint8_t>(x + frame * 4);
                pixel[1] = static_cast<std::uint8_t>(y * 2);
                pixel[2] = static_cast<std::uint8_t>((x + y) / 2 + frame * 8);
                pixel[3] = 255;
            }
        }
        if (platform::Status failure = writer->appendVideoFrame(
                pixels.data(), clipWidth * bytesPerPixel, frame / clipFrameRate);
            !failure.ok())
            return failure;
    }
    return writer->finish();
}

}  // namespace pindle::example
