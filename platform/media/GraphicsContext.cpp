#include "platform/media/GraphicsContext.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace pindle::platform {

std::unique_ptr<GraphicsContext> GraphicsContext::make(int pixelWidth, int pixelHeight,
                                                       double scale) {
    if (pixelWidth <= 0 || pixelHeight <= 0 || !(scale > 0) || !std::isfinite(scale))
        return nullptr;
    if (static_cast<std::int64_t>(pixelWidth) * pixelHeight > Image::maxDecodedPixels)
        return nullptr;
    return std::make_unique<GraphicsContext>(Private{}, pixelWidth, pixelHeight, scale);
}

GraphicsContext::GraphicsContext(Private, int width, int height, double scale)
    : width_(width),
      height_(height),
      scale_(scale),
      rgba_(static_cast<std::size_t>(width) * height * Image::bytesPerPixel, 0),
      state_(initialState()) {}

GraphicsContext::State GraphicsContext::initialState() const {
    State state;
    state.scaleX = state.scaleY = scale_;
    state.clipRight = width_;
    state.clipBottom = height_;
    return state;
}

void GraphicsContext::reset() {
    std::fill(rgba_.begin(), rgba_.end(), std::uint8_t{0});
    state_ = initialState();
    saved_.clear();
    placements_ = nullptr;
}

void GraphicsContext::saveState() {
    saved_.push_back(state_);
}

void GraphicsContext::restoreState() {
    if (saved_.empty())
        return;
    state_ = saved_.back();
    saved_.pop_back();
}

void GraphicsContext::translate(double dx, double dy) {
    state_.translateX += dx * state_.scaleX;
    state_.translateY += dy * state_.scaleY;
}

void GraphicsContext::scale(double sx, double sy) {
    if (!(sx > 0) || !(sy > 0))
        return;
    state_.scaleX *= sx;
    state_.scaleY *= sy;
}

void GraphicsContext::clip(const ui::Rect& rect) {
    const ui::Rect device = toDevice(rect);
    state_.clipLeft = std::max(state_.clipLeft, device.minX());
    state_.clipTop = std::max(state_.clipTop, device.minY());
    state_.clipRight = std::min(state_.clipRight, device.maxX());
    state_.clipBottom = std::min(state_.clipBottom, device.maxY());
}

void GraphicsContext::multiplyAlpha(double alpha) {
    state_.alpha *= std::clamp(alpha, 0.0, 1.0);
}

ui::Rect GraphicsContext::toDevice(const ui::Rect& rect) const {
    const ui::Rect r = rect.standardized();
    return ui::Rect::make(r.minX() * state_.scaleX + state_.translateX,
                          r.minY() * state_.scaleY + state_.translateY, r.width() * state_.scaleX,
                          r.height() * state_.scaleY);
}

GraphicsContext::PixelSpan GraphicsContext::coveredPixels(const ui::Rect& device) const {
    // A pixel is covered when its centre (x + 0.5) lies in [left, right).
    auto first = [](double edge) {
        return static_cast<int>(std::ceil(edge - 0.5));
    };
    const double left = std::max(device.minX(), state_.clipLeft);
    const double top = std::max(device.minY(), state_.clipTop);
    const double right = std::min(device.maxX(), state_.clipRight);
    const double bottom = std::min(device.maxY(), state_.clipBottom);
    PixelSpan span;
    if (!(right > left) || !(bottom > top))
        return span;
    span.x0 = std::clamp(first(left), 0, width_);
    span.y0 = std::clamp(first(top), 0, height_);
    span.x1 = std::clamp(first(right), 0, width_);
    span.y1 = std::clamp(first(bottom), 0, height_);
    return span;
}

void GraphicsContext::blend(int x, int y, double red, double green, double blue, double alpha) {
    std::uint8_t* pixel = rgba_.data() + (static_cast<std::size_t>(y) * width_ + x) * 4;
    if (alpha >= 1) {
        // Opaque: what lies below does not show (the arithmetic below gives the same).
        const double source[3] = {red, green, blue};
        for (int c = 0; c < 3; ++c)
            pixel[c] =
                static_cast<std::uint8_t>(std::lround(std::clamp(source[c], 0.0, 1.0) * 255));
        pixel[3] = 255;
        return;
    }
    const double destAlpha = pixel[3] / 255.0;
    const double outAlpha = alpha + destAlpha * (1 - alpha);
    if (outAlpha <= 0) {
        std::fill(pixel, pixel + 4, 0);
        return;
    }
    const double source[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c) {
        const double dest = pixel[c] / 255.0;
        const double out = (source[c] * alpha + dest * destAlpha * (1 - alpha)) / outAlpha;
        pixel[c] = static_cast<std::uint8_t>(std::lround(std::clamp(out, 0.0, 1.0) * 255));
    }
    pixel[3] = static_cast<std::uint8_t>(std::lround(std::clamp(outAlpha, 0.0, 1.0) * 255));
}

std::unique_ptr<GraphicsContext> GraphicsContext::makeGroupContext(bool keepAlpha) const {
    auto group = std::make_unique<GraphicsContext>(Private{}, width_, height_, scale_);
    group->state_ = state_;
    group->placements_ = placements_;
    if (!keepAlpha)
        group->state_.alpha = 1;
    return group;
}

void GraphicsContext::applyAlphaMask(const GraphicsContext& mask) {
    if (mask.width_ != width_ || mask.height_ != height_)
        return;
    for (std::size_t i = 3; i < rgba_.size(); i += 4)
        rgba_[i] = static_cast<std::uint8_t>((rgba_[i] * mask.rgba_[i] + 127) / 255);
}

void GraphicsContext::composite(const GraphicsContext& group) {
    if (group.width_ != width_ || group.height_ != height_)
        return;
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            const std::uint8_t* pixel =
                group.rgba_.data() + (static_cast<std::size_t>(y) * width_ + x) * 4;
            if (pixel[3] != 0)
                blend(x, y, pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, pixel[3] / 255.0);
        }
    }
}

void GraphicsContext::fill(const ui::Rect& rect, ui::Color colour) {
    const double alpha = std::clamp(colour.alpha, 0.0, 1.0) * state_.alpha;
    if (alpha <= 0)
        return;
    const PixelSpan span = coveredPixels(toDevice(rect));
    for (int y = span.y0; y < span.y1; ++y)
        for (int x = span.x0; x < span.x1; ++x)
            blend(x, y, colour.red, colour.green, colour.blue, alpha);
}

ui::Point GraphicsContext::devicePoint(ui::Point point) const {
    return ui::Point{point.x * state_.scaleX + state_.translateX,
                     point.y * state_.scaleY + state_.translateY};
}

void GraphicsContext::drawCoverage(const std::uint8_t* coverage, int width, int height, int left,
                                   int top, ui::Color colour) {
    const double alpha = std::clamp(colour.alpha, 0.0, 1.0) * state_.alpha;
    if (!coverage || width <= 0 || height <= 0 || alpha <= 0)
        return;
    const PixelSpan span = coveredPixels(ui::Rect::make(left, top, width, height));
    for (int y = span.y0; y < span.y1; ++y) {
        const std::uint8_t* row = coverage + static_cast<std::size_t>(y - top) * width;
        for (int x = span.x0; x < span.x1; ++x) {
            if (const std::uint8_t c = row[x - left])
                blend(x, y, colour.red, colour.green, colour.blue, alpha * c / 255.0);
        }
    }
}

void GraphicsContext::placeVideo(const ui::Rect& rect, ui::Color background,
                                 std::shared_ptr<const Object> source, bool hole) {
    if (!placements_)
        return;
    const ui::Rect device = toDevice(rect);
    VideoPlacement placement;
    placement.rect = device;
    placement.clip = ui::Rect::make(state_.clipLeft, state_.clipTop,
                                    std::max(0.0, state_.clipRight - state_.clipLeft),
                                    std::max(0.0, state_.clipBottom - state_.clipTop));
    placement.alpha = state_.alpha;
    placement.background = background;
    placement.source = std::move(source);
    placement.hole = hole;
    placements_->push_back(std::move(placement));
    if (!hole)
        return;
    const PixelSpan span = coveredPixels(device);
    for (int y = span.y0; y < span.y1; ++y) {
        std::uint8_t* row = rgba_.data() + (static_cast<std::size_t>(y) * width_ + span.x0) * 4;
        std::fill(row, row + static_cast<std::size_t>(span.x1 - span.x0) * 4, std::uint8_t{0});
    }
}

ui::Rect GraphicsContext::fittedRect(Size imageSize, const ui::Rect& rect, ContentFit fit) {
    const ui::Rect r = rect.standardized();
    if (imageSize.width <= 0 || imageSize.height <= 0)
        return r;
    double width = imageSize.width;
    double height = imageSize.height;
    switch (fit) {
        case ContentFit::fill:
            return r;
        case ContentFit::aspectFit:
        case ContentFit::aspectFill: {
            const double sx = r.width() / width;
            const double sy = r.height() / height;
            const double factor =
                fit == ContentFit::aspectFit ? std::min(sx, sy) : std::max(sx, sy);
            width *= factor;
            height *= factor;
            break;
        }
        case ContentFit::center:
            break;
        case ContentFit::topLeft:
            return ui::Rect::make(r.minX(), r.minY(), width, height);
    }
    return ui::Rect::make(r.midX() - width / 2, r.midY() - height / 2, width, height);
}

void GraphicsContext::drawImage(const Image& image, const ui::Rect& rect, ContentFit fit,
                                bool clipToRect) {
    if (state_.alpha <= 0)
        return;
    saveState();
    if (clipToRect)
        clip(rect);
    const ui::Rect device = toDevice(fittedRect(image.size(), rect, fit));
    const PixelSpan span = coveredPixels(device);
    if (!span.empty() && device.width() > 0 && device.height() > 0) {
        const int sourceWidth = image.pixelWidth();
        const int sourceHeight = image.pixelHeight();
        const auto& source = image.rgba();
        // The source column of every pixel of a row, the same for each row.
        std::vector<int> columns(static_cast<std::size_t>(span.x1 - span.x0));
        for (int x = span.x0; x < span.x1; ++x) {
            const double u = (x + 0.5 - device.minX()) / device.width();
            columns[static_cast<std::size_t>(x - span.x0)] =
                std::clamp(static_cast<int>(u * sourceWidth), 0, sourceWidth - 1);
        }
        const bool whole = state_.alpha >= 1;
        for (int y = span.y0; y < span.y1; ++y) {
            const double v = (y + 0.5 - device.minY()) / device.height();
            const int sy = std::clamp(static_cast<int>(v * sourceHeight), 0, sourceHeight - 1);
            const std::uint8_t* sourceRow =
                source.data() + static_cast<std::size_t>(sy) * sourceWidth * 4;
            std::uint8_t* row = rgba_.data() + static_cast<std::size_t>(y) * width_ * 4;
            for (int x = span.x0; x < span.x1; ++x) {
                const std::uint8_t* p =
                    sourceRow + columns[static_cast<std::size_t>(x - span.x0)] * 4;
                if (whole && p[3] == 255) {
                    // An opaque pixel covers what lies below as it is.
                    std::copy(p, p + 4, row + static_cast<std::size_t>(x) * 4);
                    continue;
                }
                const double alpha = p[3] / 255.0 * state_.alpha;
                if (alpha > 0)
                    blend(x, y, p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, alpha);
            }
        }
    }
    restoreState();
}

ImagePtr GraphicsContext::makeImage() const {
    return Image::make(width_, height_, rgba_, scale_);
}

}  // namespace pindle::platform
