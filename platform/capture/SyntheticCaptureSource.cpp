#include "platform/capture/SyntheticCaptureSource.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/capture/CaptureSession.hpp"

namespace pindle::platform {

namespace {

constexpr int codeBits = 16;
constexpr std::uint8_t bright = 235;
constexpr std::uint8_t dark = 16;
constexpr std::uint8_t background = 110;
constexpr std::uint8_t bar = 200;
constexpr double amplitude = 8000;

struct Tint {
    std::uint8_t cb, cr;   // NV12 chroma
    std::uint8_t r, g, b;  // added to the grey in BGRA
};

Tint tintOf(CaptureDevicePosition position) {
    return position == CaptureDevicePosition::front ? Tint{110, 170, 30, 0, 0}
                                                    : Tint{170, 110, 0, 0, 30};
}

// The luma of (x, y) in a picture of `width` x `height` showing `frame`.
std::uint8_t lumaAt(int x, int y, int width, int height, std::int64_t frame) {
    const int band = std::max(1, height / 4);
    if (y < band) {
        const int bit = std::min(codeBits - 1, x * codeBits / width);
        return ((frame >> (codeBits - 1 - bit)) & 1) != 0 ? bright : dark;
    }
    const int barWidth = std::max(2, width / 16);
    const double phase =
        std::fmod(static_cast<double>(frame) / SyntheticCaptureSource::framesPerSecond, 1.0);
    const int barX = static_cast<int>(phase * (width - barWidth));
    return x >= barX && x < barX + barWidth ? bar : background;
}

}  // namespace

SyntheticCaptureSource& SyntheticCaptureSource::shared() {
    static auto* source = new SyntheticCaptureSource;
    return *source;
}

bool SyntheticCaptureSource::isManual() const {
    std::lock_guard lock(mutex_);
    return manual_;
}

void SyntheticCaptureSource::setManual(bool manual) {
    std::lock_guard lock(mutex_);
    manual_ = manual;
}

void SyntheticCaptureSource::setQRCode(std::optional<std::string> text) {
    std::lock_guard lock(mutex_);
    qrCode_ = std::move(text);
}

std::optional<std::string> SyntheticCaptureSource::qrCode() const {
    std::lock_guard lock(mutex_);
    return qrCode_;
}

std::vector<std::shared_ptr<CaptureSession>> SyntheticCaptureSource::runningSessions() {
    std::vector<std::shared_ptr<CaptureSession>> running;
    std::lock_guard lock(mutex_);
    std::erase_if(sessions_, [](const auto& entry) { return entry.expired(); });
    for (const auto& entry : sessions_)
        if (auto session = entry.lock())
            running.push_back(std::move(session));
    return running;
}

void SyntheticCaptureSource::pushVideo(MediaTime presentationTime) {
    std::int64_t frame = 0;
    {
        std::lock_guard lock(mutex_);
        frame = pushedFrames_++;
    }
    for (const auto& session : runningSessions()) session->deliverPicture(presentationTime, frame);
}

void SyntheticCaptureSource::pushAudio(MediaTime presentationTime, std::size_t frames) {
    for (const auto& session : runningSessions()) session->deliverSound(presentationTime, frames);
}

void SyntheticCaptureSource::pushMetadata(const std::string& type, const std::string& text) {
    for (const auto& session : runningSessions())
        session->deliverMetadata({MetadataObject{type, text}});
}

void SyntheticCaptureSource::sessionStarted(const std::shared_ptr<CaptureSession>& session) {
    std::lock_guard lock(mutex_);
    sessions_.push_back(session);
}

void SyntheticCaptureSource::sessionStopped(const CaptureSession* session) {
    std::lock_guard lock(mutex_);
    std::erase_if(sessions_, [&](const auto& entry) {
        const auto locked = entry.lock();
        return !locked || locked.get() == session;
    });
}

PixelBufferPtr SyntheticCaptureSource::makePicture(PixelBuffer::Format format, int width,
                                                   int height, CaptureDevicePosition position,
                                                   std::int64_t frameNumber) {
    auto picture = PixelBuffer::make(format, width, height);
    if (!picture)
        return nullptr;
    const Tint tint = tintOf(position);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->baseAddress(0) + y * picture->bytesPerRow(0);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t luma = lumaAt(x, y, width, height, frameNumber);
            if (format == PixelBuffer::Format::nv12) {
                row[x] = luma;
                continue;
            }
            const auto add = [&](std::uint8_t extra) {
                return static_cast<std::uint8_t>(std::min(255, luma + extra));
            };
            std::uint8_t* pixel = row + static_cast<std::ptrdiff_t>(x) * 4;
            if (format == PixelBuffer::Format::bgra) {
                pixel[0] = add(tint.b), pixel[1] = add(tint.g), pixel[2] = add(tint.r),
                pixel[3] = 255;
            } else {
                pixel[0] = 255, pixel[1] = add(tint.r), pixel[2] = add(tint.g),
                pixel[3] = add(tint.b);
            }
        }
    }
    if (format == PixelBuffer::Format::nv12) {
        for (int y = 0; y < height / 2; ++y) {
            std::uint8_t* row = picture->baseAddress(1) + y * picture->bytesPerRow(1);
            for (int x = 0; x < width / 2; ++x) {
                row[2 * x] = tint.cb;
                row[2 * x + 1] = tint.cr;
            }
        }
    }
    return picture;
}

SampleBufferPtr SyntheticCaptureSource::makeSound(MediaTime presentationTime, std::size_t frames) {
    std::vector<std::int16_t> samples(frames);
    const double start = presentationTime.isNumeric() ? presentationTime.seconds() : 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = start + static_cast<double>(i) / sampleRate;
        samples[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * toneHz * t)));
    }
    return SampleBuffer::makeAudio({sampleRate, 1}, std::move(samples), presentationTime);
}

}  // namespace pindle::platform
