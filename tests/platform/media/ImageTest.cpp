#include "platform/media/Image.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace pindle::platform {
namespace {

using Pixel = Image::Pixel;

constexpr Pixel red{255, 0, 0, 255};
constexpr Pixel blue{0, 0, 255, 255};

// Every pixel different, alpha included, so that any misplaced or altered byte shows.
ImagePtr gradient(int width, int height) {
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgba.insert(rgba.end(),
                        {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 11),
                         static_cast<std::uint8_t>(x + y), static_cast<std::uint8_t>(255 - x)});
    return Image::make(width, height, std::move(rgba));
}

// Left half red, right half blue.
ImagePtr halves(int width, int height) {
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Pixel p = x < width / 2 ? red : blue;
            rgba.insert(rgba.end(), {p.red, p.green, p.blue, p.alpha});
        }
    return Image::make(width, height, std::move(rgba));
}

::testing::AssertionResult near(Pixel actual, Pixel expected, int tolerance = 8) {
    const auto off = [&](int a, int b) {
        return std::abs(a - b) > tolerance;
    };
    if (off(actual.red, expected.red) || off(actual.green, expected.green) ||
        off(actual.blue, expected.blue) || off(actual.alpha, expected.alpha))
        return ::testing::AssertionFailure()
               << "pixel (" << int(actual.red) << "," << int(actual.green) << ","
               << int(actual.blue) << "," << int(actual.alpha) << ") is not near ("
               << int(expected.red) << "," << int(expected.green) << "," << int(expected.blue)
               << "," << int(expected.alpha) << ")";
    return ::testing::AssertionSuccess();
}

TEST(ImageTest, PNGRoundTripKeepsEveryPixelAndAlpha) {
    const auto original = gradient(37, 23);
    ASSERT_TRUE(original);
    const auto png = original->pngData();
    ASSERT_TRUE(png.has_value());
    ASSERT_GT(png->size(), 8u);
    EXPECT_EQ(std::string(png->begin() + 1, png->begin() + 4), "PNG");

    const auto decoded = Image::fromData(*png, 2.0);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixelWidth(), 37);
    EXPECT_EQ(decoded->pixelHeight(), 23);
    EXPECT_EQ(decoded->rgba(), original->rgba());
    EXPECT_EQ(decoded->scale(), 2.0);
    EXPECT_EQ(decoded->size(), (Size{18.5, 11.5}));
}

TEST(ImageTest, JPEGDecodesBackNearTheOriginalAndShrinksWithQuality) {
    const auto original = gradient(36, 22);
    ASSERT_TRUE(original);
    std::size_t previous = SIZE_MAX;
    // Out-of-range qualities clamp to the ends of the scale instead of failing.
    for (double quality : {2.0, 1.0, 0.5, 0.0, -1.0}) {
        const auto jpeg = original->jpegData(quality);
        ASSERT_TRUE(jpeg) << quality;
        ASSERT_GT(jpeg->size(), 3u);
        EXPECT_EQ((*jpeg)[0], 0xFF);
        EXPECT_EQ((*jpeg)[1], 0xD8);
        EXPECT_LE(jpeg->size(), previous) << quality;
        previous = jpeg->size();
    }
    // Odd sizes too: the chroma planes round up.
    const auto odd = gradient(37, 23)->jpegData(0.8);
    ASSERT_TRUE(odd);
    const auto oddDecoded = Image::fromData(*odd);
    ASSERT_TRUE(oddDecoded);
    EXPECT_EQ(oddDecoded->pixelWidth(), 37);
    EXPECT_EQ(oddDecoded->pixelHeight(), 23);

    const auto decoded = Image::fromData(*original->jpegData(1.0));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixelWidth(), 36);
    EXPECT_EQ(decoded->pixelHeight(), 22);
    for (auto [x, y] : {std::pair{0, 0}, {18, 11}, {35, 21}}) {
        Image::Pixel expected = original->pixelAt(x, y);
        expected.alpha = 255;
        EXPECT_TRUE(near(decoded->pixelAt(x, y), expected, 24)) << x << "," << y;
    }
}

TEST(ImageTest, BytesThatAreNoStillImageGiveNothing) {
    const auto png = gradient(16, 16)->pngData().value();
    const auto text = std::string("definitely not a picture, just some words in a file\n");
    const struct {
        const char* name;
        Data bytes;
    } cases[] = {
        {"empty", {}},
        {"text", Data(text.begin(), text.end())},
        {"PNG signature only", Data(png.begin(), png.begin() + 8)},
        {"zeros", Data(4096, 0)},
    };
    for (const auto& c : cases) EXPECT_EQ(Image::fromData(c.bytes), nullptr) << c.name;
}

TEST(ImageTest, MakeRefusesPixelsThatDoNotMatchTheSize) {
    EXPECT_EQ(Image::make(2, 2, std::vector<std::uint8_t>(15)), nullptr);
    EXPECT_EQ(Image::make(0, 2, {}), nullptr);
    EXPECT_EQ(Image::make(1, 1, std::vector<std::uint8_t>(4), 0), nullptr);
    EXPECT_EQ(Image::make(std::numeric_limits<int>::max(), 2, {}), nullptr);
    EXPECT_TRUE(Image::make(1, 1, std::vector<std::uint8_t>(4)));
}

TEST(ImageTest, ResizeToWidthKeepsProportionsAndContent) {
    const struct {
        int width, height;
        double scale, newWidth;
        int expectedWidth, expectedHeight;
    } cases[] = {
        {200, 100, 1.0, 50, 50, 25},
        {200, 100, 2.0, 50, 50, 25},  // 100 by 50 points
        {64, 48, 1.0, 128, 128, 96},
    };
    for (const auto& c : cases) {
        const auto source =
            Image::make(c.width, c.height, halves(c.width, c.height)->rgba(), c.scale);
        const auto resized = source->resizedToWidth(c.newWidth);
        ASSERT_TRUE(resized) << c.width << "x" << c.height << " to " << c.newWidth;
        EXPECT_EQ(resized->pixelWidth(), c.expectedWidth);
        EXPECT_EQ(resized->pixelHeight(), c.expectedHeight);
        EXPECT_EQ(resized->scale(), 1.0);
        const int middle = resized->pixelHeight() / 2;
        EXPECT_TRUE(near(resized->pixelAt(1, middle), red));
        EXPECT_TRUE(near(resized->pixelAt(resized->pixelWidth() - 2, middle), blue));
    }
}

TEST(ImageTest, ResizeRefusesWidthsThatGiveNoPicture) {
    const auto source = halves(200, 100);
    for (double width :
         {0.0, -5.0, std::nan(""), std::numeric_limits<double>::infinity(), 0.4, 1e12})
        EXPECT_EQ(source->resizedToWidth(width), nullptr) << width;
    EXPECT_EQ(source->scaledToPixelSize(0, 10), nullptr);
}

TEST(ImageTest, RotationMovesEveryPixelByQuarterTurns) {
    // 3 by 2, pixels numbered in reading order through the red channel:
    //   0 1 2
    //   3 4 5
    std::vector<std::uint8_t> rgba(6 * 4, 0);
    for (std::uint8_t i = 0; i < 6; ++i) {
        rgba[i * 4] = i;
        rgba[i * 4 + 3] = 255;
    }
    const auto image = Image::make(3, 2, rgba, 2.0);

    const auto readingOrder = [](const ImagePtr& img) {
        std::vector<int> order;
        for (int y = 0; y < img->pixelHeight(); ++y)
            for (int x = 0; x < img->pixelWidth(); ++x) order.push_back(img->pixelAt(x, y).red);
        return order;
    };
    const struct {
        int turns;
        int width, height;
        std::vector<int> order;
    } cases[] = {
        {0, 3, 2, {0, 1, 2, 3, 4, 5}},  {1, 2, 3, {3, 0, 4, 1, 5, 2}},
        {2, 3, 2, {5, 4, 3, 2, 1, 0}},  {3, 2, 3, {2, 5, 1, 4, 0, 3}},
        {-1, 2, 3, {2, 5, 1, 4, 0, 3}}, {5, 2, 3, {3, 0, 4, 1, 5, 2}},
    };
    for (const auto& c : cases) {
        const auto turned = image->rotatedClockwise(c.turns);
        ASSERT_TRUE(turned);
        EXPECT_EQ(turned->pixelWidth(), c.width) << c.turns;
        EXPECT_EQ(turned->pixelHeight(), c.height) << c.turns;
        EXPECT_EQ(turned->scale(), 2.0);
        EXPECT_EQ(readingOrder(turned), c.order) << c.turns;
    }
}

}  // namespace
}  // namespace pindle::platform
