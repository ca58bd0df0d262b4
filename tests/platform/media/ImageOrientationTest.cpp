// Image orientation: the size seen upright and the redraw that makes the pixels upright;
// grey pictures.
#include <gtest/gtest.h>

#include "platform/media/Image.hpp"

namespace pindle::platform {
namespace {

// A 2 by 1 picture: red on the left, blue on the right.
ImagePtr redBlue() {
    return Image::make(2, 1, {255, 0, 0, 255, 0, 0, 255, 255});
}

TEST(ImageOrientationTest, UprightTurnsAndMirrorsThePixelsAsTheOrientationSays) {
    using O = Image::Orientation;
    const Image::Pixel red{255, 0, 0, 255}, blue{0, 0, 255, 255};
    struct Case {
        O orientation;
        int width, height;
        Image::Pixel first;  // top left, seen upright
    };
    const Case cases[] = {
        {O::up, 2, 1, red},
        {O::upMirrored, 2, 1, blue},
        {O::down, 2, 1, blue},
        {O::downMirrored, 2, 1, red},
        {O::right, 1, 2, red},
        {O::left, 1, 2, blue},
        {O::rightMirrored, 1, 2, blue},
        {O::leftMirrored, 1, 2, red},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.orientation));
        auto turned = redBlue()->withOrientation(c.orientation);
        EXPECT_EQ(turned->size().width, c.width);
        auto upright = turned->upright();
        EXPECT_EQ(upright->orientation(), O::up);
        ASSERT_EQ(upright->pixelWidth(), c.width);
        ASSERT_EQ(upright->pixelHeight(), c.height);
        EXPECT_EQ(upright->pixelAt(0, 0), c.first);
    }
}

TEST(ImageOrientationTest, GreyBytesBecomeOpaqueGreyPixels) {
    auto image = Image::fromGrey8(2, 1, {0, 200});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelAt(1, 0), (Image::Pixel{200, 200, 200, 255}));
    EXPECT_EQ(Image::fromGrey8(2, 2, {0, 200}), nullptr);
    EXPECT_EQ(Image::fromGrey8(0, 1, {}), nullptr);
}

}  // namespace
}  // namespace pindle::platform
