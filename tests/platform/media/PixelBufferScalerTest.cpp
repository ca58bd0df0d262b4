#include "platform/media/PixelBufferScaler.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace pindle::platform {
namespace {

using Format = PixelBuffer::Format;

// A picture twice as wide as tall: the middle half bright, the outer quarters dark; in NV12
// the chroma carries a colour of its own in the middle.
PixelBufferPtr widePicture(Format format, int width, int height) {
    auto picture = PixelBuffer::make(format, width, height);
    const auto middle = [&](int x) {
        return x >= width / 4 && x < width * 3 / 4;
    };
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->baseAddress(0) + y * picture->bytesPerRow(0);
        for (int x = 0; x < width; ++x) {
            if (format == Format::nv12) {
                row[x] = middle(x) ? 220 : 20;
            } else {
                std::uint8_t* pixel = row + x * 4;
                pixel[0] = pixel[1] = pixel[2] = pixel[3] = middle(x) ? 220 : 20;
            }
        }
    }
    if (format == Format::nv12) {
        for (int y = 0; y < height / 2; ++y) {
            std::uint8_t* row = picture->baseAddress(1) + y * picture->bytesPerRow(1);
            for (int x = 0; x < width / 2; ++x) {
                row[2 * x] = middle(2 * x) ? 60 : 128;
                row[2 * x + 1] = middle(2 * x) ? 200 : 128;
            }
        }
    }
    return picture;
}

TEST(PixelBufferScalerTest, FillsTheSizeWithTheMiddleOfThePictureInItsOwnFormat) {
    PixelBufferScaler scaler;
    for (const Format format : {Format::nv12, Format::bgra}) {
        SCOPED_TRACE(static_cast<std::uint32_t>(format));
        const auto wide = widePicture(format, 256, 64);
        EXPECT_EQ(scaler.scaledToFill(wide, 256, 64), wide) << "a picture of the size as it is";

        // Half the height and a quarter of the width: only the bright middle is left.
        const auto scaled = scaler.scaledToFill(wide, 64, 32);
        ASSERT_TRUE(scaled);
        EXPECT_EQ(scaled->format(), format);
        EXPECT_EQ(scaled->width(), 64);
        EXPECT_EQ(scaled->height(), 32);
        for (int y : {0, 15, 31}) {
            const std::uint8_t* row = scaled->baseAddress(0) + y * scaled->bytesPerRow(0);
            for (int x : {0, 1, 32, 62, 63}) {
                const int bytesPerPixel = format == Format::nv12 ? 1 : 4;
                EXPECT_NEAR(row[x * bytesPerPixel], 220, 4) << x << "," << y;
            }
        }
        if (format == Format::nv12) {
            const std::uint8_t* chroma = scaled->baseAddress(1) + 8 * scaled->bytesPerRow(1);
            for (int x : {0, 16, 31}) {
                EXPECT_NEAR(chroma[2 * x], 60, 4) << x;
                EXPECT_NEAR(chroma[2 * x + 1], 200, 4) << x;
            }
        }
        // A picture of another size later gets a buffer of that size, not a stale one.
        const auto taller = scaler.scaledToFill(widePicture(format, 64, 128), 64, 32);
        ASSERT_TRUE(taller);
        EXPECT_EQ(taller->height(), 32);
        EXPECT_NE(taller, scaled);
    }
    EXPECT_FALSE(scaler.scaledToFill(nullptr, 64, 32));
}

}  // namespace
}  // namespace pindle::platform
