// GraphicsContext: an RGBA canvas that views, layers and image code draw into: rectangles
// filled with a colour, images drawn into a rectangle with a content fit, clipping to
// rectangles and a running opacity, with translate and scale only (no rotation). The result
// is taken as an Image with makeImage(), or read in place with rgba().
//
// Coordinates are points: the canvas starts with the scale given at creation (pixels per
// point) and the origin at the top left. Pixels are covered when their centre lies inside a
// shape; shapes are not anti-aliased, so tests can check exact pixels (glyphs are: they come
// as coverage masks). Images are resampled with the nearest pixel, which keeps block
// patterns (frame-number codes) readable.
//
// Thread-safety: none; one context is used by one thread at a time. No callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/Color.hpp"
#include "platform/foundation/Point.hpp"
#include "platform/foundation/Rect.hpp"
#include "platform/media/Image.hpp"

namespace pindle::platform {

class GraphicsContext {
  public:
    // How an image is fitted into the rectangle it is drawn in.
    enum class ContentFit {
        fill,        // stretched to the rectangle
        aspectFit,   // whole image visible, centred, proportions kept
        aspectFill,  // rectangle covered, centred, proportions kept (overflows the rectangle)
        center,      // natural size, centred
        topLeft,     // natural size, at the rectangle's origin
    };

    // A canvas of pixelWidth by pixelHeight transparent pixels; null when a size is not
    // positive, the canvas would exceed Image::maxDecodedPixels, or scale is not positive.
    static std::unique_ptr<GraphicsContext> make(int pixelWidth, int pixelHeight,
                                                 double scale = 1.0);

    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    int pixelWidth() const { return width_; }
    int pixelHeight() const { return height_; }

    // The state (transform, clip, opacity) is a stack: restoreState() returns to the state of
    // the matching saveState().
    void saveState();
    void restoreState();
    void translate(double dx, double dy);
    // REQUIRES: sx > 0 and sy > 0 (mirroring is not supported).
    void scale(double sx, double sy);
    // Intersects the clip with `rect` (in current coordinates).
    void clip(const ui::Rect& rect);
    // Multiplies the opacity applied to everything drawn from now on.
    void multiplyAlpha(double alpha);

    // Pixels per point along each axis under the current transform.
    double deviceScaleX() const { return state_.scaleX; }
    double deviceScaleY() const { return state_.scaleY; }
    // Where `point` (in current coordinates) falls on the canvas, in pixels.
    ui::Point devicePoint(ui::Point point) const;

    void fill(const ui::Rect& rect, ui::Color colour);
    // Blends `colour` through an 8-bit coverage mask of width by height pixels (row by row)
    // whose top-left pixel lands on canvas pixel (left, top); clipped and faded as every
    // drawing is. Text is drawn this way, one glyph at a time.
    void drawCoverage(const std::uint8_t* coverage, int width, int height, int left, int top,
                      ui::Color colour);
    // Draws `image` fitted into `rect`; with clipToRect the image never leaves `rect` (an
    // aspect fill is cropped).
    void drawImage(const Image& image, const ui::Rect& rect, ContentFit fit = ContentFit::fill,
                   bool clipToRect = false);

    // The rectangle an image of `imageSize` occupies when fitted into `rect`.
    static ui::Rect fittedRect(Size imageSize, const ui::Rect& rect, ContentFit fit);

    // A transparent canvas of the same size and scale, with this one's transform and clip
    // (and its opacity when keepAlpha), for drawing a group that is then masked and
    // composited as one.
    std::unique_ptr<GraphicsContext> makeGroupContext(bool keepAlpha) const;
    // Multiplies every pixel's alpha by the alpha of the same pixel of `mask` (same size).
    void applyAlphaMask(const GraphicsContext& mask);
    // Draws `group` (same size) over this canvas, pixel for pixel.
    void composite(const GraphicsContext& group);

    // Where the screen draws a moving picture itself, over this canvas and under what was
    // drawn above it here.
    struct VideoPlacement {
        ui::Rect rect;  // the picture's rectangle, in device pixels
        ui::Rect clip;  // the part of it that may show, in device pixels
        double alpha = 1;
        ui::Color background;
        std::shared_ptr<const Object> source;  // what gives the frames (a layer)
        bool hole = true;  // false: drawn in the canvas as it is, no picture yet
    };
    // Makes placeVideo() record into `placements` (null: stop). Group contexts made from
    // this one record into the same list.
    void collectVideo(std::vector<VideoPlacement>* placements) { placements_ = placements; }
    bool collectsVideo() const { return placements_ != nullptr; }
    // Records `rect` (current coordinates) as video of `source` with the current clip and
    // opacity; with `hole`, makes the covered pixels transparent for the picture to show
    // through. Does nothing unless collectsVideo().
    void placeVideo(const ui::Rect& rect, ui::Color background,
                    std::shared_ptr<const Object> source, bool hole);

    // The canvas so far, at the context's scale.
    ImagePtr makeImage() const;
    // The canvas's pixels as they are (RGBA, rows of pixelWidth() pixels), without a copy.
    const std::vector<std::uint8_t>& rgba() const { return rgba_; }
    // Back to transparent pixels and the state the context was made with, keeping its
    // memory: for a canvas drawn again and again.
    void reset();

    struct Private {
        explicit Private() = default;
    };
    GraphicsContext(Private, int width, int height, double scale);

  private:
    struct State {
        double scaleX = 1, scaleY = 1, translateX = 0, translateY = 0;
        // In device pixels.
        double clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;
        double alpha = 1;
    };
    struct PixelSpan {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        bool empty() const { return x1 <= x0 || y1 <= y0; }
    };

    State initialState() const;
    ui::Rect toDevice(const ui::Rect& rect) const;
    PixelSpan coveredPixels(const ui::Rect& deviceRect) const;
    void blend(int x, int y, double red, double green, double blue, double alpha);

    const int width_;
    const int height_;
    const double scale_;
    std::vector<std::uint8_t> rgba_;
    State state_;
    std::vector<State> saved_;
    std::vector<VideoPlacement>* placements_ = nullptr;
};

}  // namespace pindle::platform
