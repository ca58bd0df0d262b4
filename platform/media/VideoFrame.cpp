#include "platform/media/VideoFrame.hpp"

namespace pindle::platform {

VideoFrame::VideoFrame(Private, int width, int height) : width_(width), height_(height) {}

VideoFramePtr VideoFrame::makePlanar(int width, int height, std::array<Plane, 3> planes,
                                     bool fullRange, std::shared_ptr<const void> owner,
                                     ImageMaker makeImage) {
    if (width <= 0 || height <= 0 || !owner)
        return nullptr;
    for (const auto& plane : planes)
        if (!plane.data || plane.bytesPerRow <= 0)
            return nullptr;
    auto frame = std::make_shared<VideoFrame>(Private{}, width, height);
    frame->planes_ = planes;
    frame->fullRange_ = fullRange;
    frame->owner_ = std::move(owner);
    frame->makeImage_ = std::move(makeImage);
    return frame;
}

VideoFramePtr VideoFrame::makeDeferred(int width, int height, ImageMaker makeImage) {
    if (width <= 0 || height <= 0 || !makeImage)
        return nullptr;
    auto frame = std::make_shared<VideoFrame>(Private{}, width, height);
    frame->makeImage_ = std::move(makeImage);
    return frame;
}

VideoFramePtr VideoFrame::fromImage(ImagePtr image) {
    if (!image)
        return nullptr;
    auto frame = std::make_shared<VideoFrame>(Private{}, image->pixelWidth(), image->pixelHeight());
    frame->image_ = std::move(image);
    std::call_once(frame->imageOnce_, [] {});
    return frame;
}

ImagePtr VideoFrame::image() const {
    std::call_once(imageOnce_, [this] {
        if (makeImage_)
            image_ = makeImage_();
    });
    return image_;
}

}  // namespace pindle::platform
