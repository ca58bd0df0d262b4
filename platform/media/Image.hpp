// Image: a decoded still picture: RGBA8 pixels (straight alpha, rows top to bottom, no
// padding), their pixel width and height, and a scale (pixels per point) that sets the size
// in points. It is the platform's image object: it derives from Object so that it can ride
// in Values and notifications.
//
// An image carries an orientation: how its stored pixels must be turned to be seen upright
// (a camera held sideways stores its pictures turned). size() is the size seen upright;
// pixelWidth/pixelHeight and pixelAt read the stored pixels. upright() redraws the pixels
// so that the orientation becomes `up`.
//
// Images are immutable; the operations that change a picture (scaling, rotating) return a
// new one. Decoding reads PNG, JPEG and whatever still-image formats FFmpeg's decoders know
// (BMP, GIF's first frame, WebP, TIFF, ...); bytes that are not a still image give null.
//
// Thread-safety: immutable, so safe to share between threads. No callbacks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/Size.hpp"

namespace pindle::platform {

class ResourceBundle;
class Image;
using ImagePtr = std::shared_ptr<Image>;

class Image : public Object {
  public:
    static constexpr int bytesPerPixel = 4;
    // Decoding refuses pictures larger than this (a downloaded file could otherwise claim a
    // size that exhausts memory): 8192 by 8192.
    static constexpr std::int64_t maxDecodedPixels = 8192LL * 8192LL;

    // How the stored pixels are turned: `right` means they must be turned a quarter
    // clockwise to be seen upright, `left` a quarter counter-clockwise, `down` half a turn;
    // the mirrored values are also flipped left to right first.
    enum class Orientation {
        up = 0,
        down = 1,
        left = 2,
        right = 3,
        upMirrored = 4,
        downMirrored = 5,
        leftMirrored = 6,
        rightMirrored = 7,
    };

    // One pixel: red, green, blue, alpha.
    struct Pixel {
        std::uint8_t red = 0, green = 0, blue = 0, alpha = 0;
        bool operator==(const Pixel&) const = default;
    };

    // An image of the given pixels; null when the sizes are not positive or `rgba` does not
    // hold exactly width * height pixels, or when scale is not positive.
    static ImagePtr make(int width, int height, std::vector<std::uint8_t> rgba, double scale = 1.0);
    // An image of one colour.
    static ImagePtr filled(int width, int height, Pixel colour, double scale = 1.0);
    // The image encoded in `data`, or null when the bytes are no still image or one larger
    // than maxDecodedPixels.
    static ImagePtr fromData(const Data& data, double scale = 1.0);
    // The image resource `name` of `bundle`: the exact name first, then with ".png"; null
    // when absent or not an image.
    static ImagePtr named(const std::string& name, const ResourceBundle& bundle);
    // A grey picture of one byte per pixel (0 black, 255 white), opaque; null when the sizes
    // are not positive or `grey` does not hold exactly width * height bytes.
    static ImagePtr fromGrey8(int width, int height, const std::vector<std::uint8_t>& grey,
                              double scale = 1.0);

    struct Private {
        explicit Private() = default;
    };
    Image(Private, int width, int height, std::vector<std::uint8_t> rgba, double scale);

    int pixelWidth() const { return width_; }
    int pixelHeight() const { return height_; }
    double scale() const { return scale_; }
    Orientation orientation() const { return orientation_; }
    // The same pixels with another orientation.
    ImagePtr withOrientation(Orientation orientation) const;
    // The pixels redrawn as they are seen, with orientation `up`; this image itself when it
    // is up already.
    ImagePtr upright() const;
    // The size in points as seen upright: pixels divided by the scale, sides swapped for the
    // quarter-turned orientations.
    Size size() const;
    const std::vector<std::uint8_t>& rgba() const { return rgba_; }
    // REQUIRES: 0 <= x < pixelWidth(), 0 <= y < pixelHeight().
    Pixel pixelAt(int x, int y) const;

    // The image as PNG bytes; nothing when the encoder fails.
    std::optional<Data> pngData() const;
    // The image as JPEG bytes (alpha dropped); nothing when the encoder fails. Quality runs
    // from 0 (smallest) to 1 (finest), clamped to that span; a lower quality never makes a
    // finer picture: its quantiser is 1 + round((1 - quality) * 30).
    std::optional<Data> jpegData(double quality) const;

    // The picture resampled to a new pixel size, same scale; null for a size that is not
    // positive.
    ImagePtr scaledToPixelSize(int width, int height) const;
    // The picture drawn at `newWidth` points wide, keeping its proportions, into a new image
    // of scale 1. Null when newWidth is not a positive finite number or the result would be
    // less than one pixel high.
    ImagePtr resizedToWidth(double newWidth) const;
    // The picture turned clockwise by quarterTurns * 90 degrees (any integer, negative turns
    // counter-clockwise).
    ImagePtr rotatedClockwise(int quarterTurns) const;

    std::string description() const override;

  private:
    const int width_;
    const int height_;
    const double scale_;
    const std::vector<std::uint8_t> rgba_;
    Orientation orientation_ = Orientation::up;
};

}  // namespace pindle::platform
