#include "platform/capture/CapturePreviewLayer.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "platform/media/Image.hpp"
#include "platform/media/VideoFrame.hpp"

namespace pindle::platform {

namespace {

std::uint8_t clamped(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// The planes of an NV12 picture as the screen takes them: its luma plane as it is, its
// interleaved chroma split in two.
struct Planar {
    PixelBufferPtr picture;
    std::vector<std::uint8_t> cb;
    std::vector<std::uint8_t> cr;
    int chromaWidth = 0;
};

// BT.601 video range to RGBA, for snapshots.
ImagePtr imageOf(const Planar& planar) {
    const PixelBuffer& picture = *planar.picture;
    const int width = picture.width();
    const int height = picture.height();
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* luma = picture.baseAddress(0) + y * picture.bytesPerRow(0);
        for (int x = 0; x < width; ++x) {
            const std::size_t chroma = static_cast<std::size_t>(y / 2) * planar.chromaWidth + x / 2;
            const int c = 298 * (luma[x] - 16);
            const int d = planar.cb[chroma] - 128;
            const int e = planar.cr[chroma] - 128;
            std::uint8_t* pixel = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            pixel[0] = clamped((c + 409 * e + 128) >> 8);
            pixel[1] = clamped((c - 100 * d - 208 * e + 128) >> 8);
            pixel[2] = clamped((c + 516 * d + 128) >> 8);
            pixel[3] = 255;
        }
    }
    return Image::make(width, height, std::move(rgba));
}

VideoFramePtr frameOf(const PixelBufferPtr& picture) {
    const int width = picture->width();
    const int height = picture->height();
    if (picture->format() == PixelBuffer::Format::nv12) {
        auto planar = std::make_shared<Planar>();
        planar->picture = picture;
        planar->chromaWidth = (width + 1) / 2;
        const int chromaHeight = (height + 1) / 2;
        planar->cb.resize(static_cast<std::size_t>(planar->chromaWidth) * chromaHeight);
        planar->cr.resize(planar->cb.size());
        for (int y = 0; y < chromaHeight; ++y) {
            const std::uint8_t* row = picture->baseAddress(1) + y * picture->bytesPerRow(1);
            for (int x = 0; x < planar->chromaWidth; ++x) {
                planar->cb[static_cast<std::size_t>(y) * planar->chromaWidth + x] = row[2 * x];
                planar->cr[static_cast<std::size_t>(y) * planar->chromaWidth + x] = row[2 * x + 1];
            }
        }
        const std::array<VideoFrame::Plane, 3> planes = {
            VideoFrame::Plane{picture->baseAddress(0), picture->bytesPerRow(0)},
            VideoFrame::Plane{planar->cb.data(), planar->chromaWidth},
            VideoFrame::Plane{planar->cr.data(), planar->chromaWidth}};
        std::weak_ptr<const Planar> weak = planar;
        return VideoFrame::makePlanar(width, height, planes, false, planar, [weak] {
            // by hand: answers a picture, or none once the planes have gone
            const auto held = weak.lock();
            return held ? imageOf(*held) : nullptr;
        });
    }
    // BGRA or ARGB: one RGBA image.
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
    const bool bgra = picture->format() == PixelBuffer::Format::bgra;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = picture->baseAddress(0) + y * picture->bytesPerRow(0);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* in = row + 4 * x;
            std::uint8_t* out = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            if (bgra) {
                out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
            } else {
                out[0] = in[1], out[1] = in[2], out[2] = in[3], out[3] = in[0];
            }
        }
    }
    return VideoFrame::fromImage(Image::make(width, height, std::move(rgba)));
}

}  // namespace

struct CapturePreviewLayer::Receiver : CaptureOutputSampleBufferDelegate {
    void captureOutput(CaptureOutput&, const SampleBufferPtr& sample, CaptureConnection&) override {
        const PixelBufferPtr& picture = sample->imageBuffer();
        if (!picture)
            return;
        auto frame = frameOf(picture);
        std::lock_guard lock(mutex);
        latest = std::move(frame);
        latestTime = sample->presentationTimeStamp().seconds();
    }

    mutable std::mutex mutex;
    VideoFramePtr latest;   // guarded by mutex
    double latestTime = 0;  // guarded by mutex
};

std::shared_ptr<CapturePreviewLayer> CapturePreviewLayer::make(const CaptureSessionPtr& session) {
    auto receiver = std::make_shared<Receiver>();
    auto output = CaptureVideoDataOutput::make();
    output->setSampleBufferDelegate(receiver, DispatchQueue::create("com.pindle.capture.preview"));
    if (session)
        session->addOutput(output);
    return std::make_shared<CapturePreviewLayer>(session, std::move(output), std::move(receiver));
}

CapturePreviewLayer::CapturePreviewLayer(std::weak_ptr<CaptureSession> session,
                                         std::shared_ptr<CaptureVideoDataOutput> output,
                                         std::shared_ptr<Receiver> receiver)
    : session_(std::move(session)), output_(std::move(output)), receiver_(std::move(receiver)) {}

CapturePreviewLayer::~CapturePreviewLayer() {
    if (const auto session = session_.lock())
        session->removeOutput(output_);
}

VideoFramePtr CapturePreviewLayer::currentFrame() const {
    std::lock_guard lock(receiver_->mutex);
    return receiver_->latest;
}

void CapturePreviewLayer::setVideoOrientation(CaptureConnection::VideoOrientation orientation) {
    if (auto* connection = output_->connection(CaptureMediaType::video))
        connection->setVideoOrientation(orientation);
}

ui::Layer::VideoContent CapturePreviewLayer::videoContent(double) const {
    VideoContent content;
    std::lock_guard lock(receiver_->mutex);
    content.frame = receiver_->latest;
    content.frameTime = receiver_->latestTime;
    return content;
}

void CapturePreviewLayer::drawContents(GraphicsContext& context, const ui::Rect& bounds) const {
    Layer::drawContents(context, bounds);
    if (const auto frame = currentFrame())
        if (const auto image = frame->image())
            context.drawImage(*image, bounds, GraphicsContext::ContentFit::aspectFit, true);
}

}  // namespace pindle::platform
