// Assets, still images of their frames, and the writer that makes the test videos.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "platform/files/FileManager.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/AssetWriter.hpp"
#include "platform/media/MediaError.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/platform/files/FileTestSupport.hpp"

namespace pindle::platform {
namespace {

using Pixel = Image::Pixel;

constexpr int videoWidth = 64;
constexpr int videoHeight = 48;
constexpr int framesPerSecond = 10;
constexpr Pixel red{255, 0, 0, 255};
constexpr Pixel blue{0, 0, 255, 255};
constexpr Pixel green{0, 255, 0, 255};
constexpr Pixel white{255, 255, 255, 255};

::testing::AssertionResult near(Pixel actual, Pixel expected) {
    constexpr int tolerance = 40;
    const auto off = [&](int a, int b) {
        return std::abs(a - b) > tolerance;
    };
    if (off(actual.red, expected.red) || off(actual.green, expected.green) ||
        off(actual.blue, expected.blue))
        return ::testing::AssertionFailure()
               << "pixel (" << int(actual.red) << "," << int(actual.green) << ","
               << int(actual.blue) << ") is not near (" << int(expected.red) << ","
               << int(expected.green) << "," << int(expected.blue) << ")";
    return ::testing::AssertionSuccess();
}

// Left half `left`, right half `right`.
ImagePtr halves(Pixel left, Pixel right) {
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < videoHeight; ++y)
        for (int x = 0; x < videoWidth; ++x) {
            const Pixel p = x < videoWidth / 2 ? left : right;
            rgba.insert(rgba.end(), {p.red, p.green, p.blue, p.alpha});
        }
    return Image::make(videoWidth, videoHeight, std::move(rgba));
}

// Writes `frames` at 10 per second; the first is red | blue, later ones all green, then
// white from the fourth on, so that a frame's colour tells its time.
void writeVideo(const std::string& path, int frames, double rotation = 0) {
    AssetWriter::VideoSettings settings;
    settings.width = videoWidth;
    settings.height = videoHeight;
    settings.framesPerSecond = framesPerSecond;
    settings.clockwiseRotationDegrees = rotation;
    AssetWriter writer(URL::fileURLWithPath(path), settings);
    ASSERT_EQ(writer.startWriting(), std::nullopt);
    for (int i = 0; i < frames; ++i) {
        const auto frame = i == 0  ? halves(red, blue)
                           : i < 3 ? Image::filled(videoWidth, videoHeight, green)
                                   : Image::filled(videoWidth, videoHeight, white);
        ASSERT_EQ(writer.appendImage(*frame), std::nullopt);
    }
    ASSERT_EQ(writer.finishWriting(), std::nullopt);
}

class AssetTest : public ::testing::Test {
  protected:
    testing::TemporaryFolder folder_;
};

TEST_F(AssetTest, DescribesDurationTrackSizeAndRotation) {
    for (const double rotation : {0.0, 90.0, 180.0, 270.0}) {
        const std::string path = folder_ / ("clip" + std::to_string(int(rotation)) + ".mp4");
        writeVideo(path, 5, rotation);
        const auto asset = URLAsset::make(URL::fileURLWithPath(path));
        ASSERT_TRUE(asset->isReadable()) << asset->loadError()->description();
        EXPECT_NEAR(asset->duration().seconds(), 0.5, 0.05) << rotation;
        const auto videos = asset->tracksWithMediaType(MediaType::video);
        ASSERT_EQ(videos.size(), 1u);
        EXPECT_EQ(videos[0].naturalSize, (Size{videoWidth, videoHeight}));
        EXPECT_NEAR(videos[0].nominalFrameRate, framesPerSecond, 0.01);
        EXPECT_EQ(videos[0].preferredTransform.clockwiseQuarterTurns(), int(rotation) / 90)
            << rotation;
        const bool sideways = rotation == 90.0 || rotation == 270.0;
        EXPECT_EQ(videos[0].displaySize(),
                  sideways ? (Size{videoHeight, videoWidth}) : (Size{videoWidth, videoHeight}));
        EXPECT_FALSE(videos[0].codecName.empty());
        EXPECT_TRUE(asset->tracksWithMediaType(MediaType::audio).empty());
    }
}

TEST_F(AssetTest, FirstFrameComesOutAsStoredOrTurnedForDisplay) {
    const std::string plain = folder_ / "plain.mp4";
    const std::string portrait = folder_ / "portrait.mov";
    writeVideo(plain, 3);
    writeVideo(portrait, 3, 90);

    const struct {
        const std::string& path;
        bool applyTransform;
        int width, height;
        // Where the red half and the blue half must be.
        int redX, redY, blueX, blueY;
    } cases[] = {
        {plain, false, 64, 48, 8, 24, 56, 24},
        {plain, true, 64, 48, 8, 24, 56, 24},
        {portrait, false, 64, 48, 8, 24, 56, 24},
        // A clockwise quarter turn puts the left half on top.
        {portrait, true, 48, 64, 24, 8, 24, 56},
    };
    for (const auto& c : cases) {
        AssetImageGenerator generator(URLAsset::make(URL::fileURLWithPath(c.path)));
        generator.setAppliesPreferredTrackTransform(c.applyTransform);
        std::optional<Error> error;
        MediaTime actual = MediaTime::invalid();
        const auto image = generator.copyImageAtTime(MediaTime::make(0, 1000), &actual, &error);
        ASSERT_TRUE(image) << c.path << ": " << (error ? error->description() : "");
        EXPECT_EQ(error, std::nullopt);
        EXPECT_EQ(actual.seconds(), 0.0);
        EXPECT_EQ(image->pixelWidth(), c.width) << c.path << " " << c.applyTransform;
        EXPECT_EQ(image->pixelHeight(), c.height);
        EXPECT_TRUE(near(image->pixelAt(c.redX, c.redY), red)) << c.path << " " << c.applyTransform;
        EXPECT_TRUE(near(image->pixelAt(c.blueX, c.blueY), blue))
            << c.path << " " << c.applyTransform;
    }
}

TEST_F(AssetTest, ImageAtALaterTimeIsTheFrameShowingThen) {
    const std::string path = folder_ / "timed.mp4";
    writeVideo(path, 6);
    AssetImageGenerator generator(URLAsset::make(URL::fileURLWithPath(path)));
    const struct {
        MediaTime time;
        Pixel colour;
        double frameStart;
    } cases[] = {
        {MediaTime::make(150, 1000), green, 0.1},
        {MediaTime::make(1, 4), green, 0.2},
        {MediaTime::make(450, 1000), white, 0.4},
        {MediaTime::make(30, 1), white, 0.5},  // past the end: the last frame
    };
    for (const auto& c : cases) {
        MediaTime actual;
        const auto image = generator.copyImageAtTime(c.time, &actual);
        ASSERT_TRUE(image) << c.time.seconds();
        EXPECT_TRUE(near(image->pixelAt(32, 24), c.colour)) << c.time.seconds();
        EXPECT_NEAR(actual.seconds(), c.frameStart, 0.001) << c.time.seconds();
    }
}

TEST_F(AssetTest, WhatIsNoVideoFailsWithAnError) {
    const auto pngPath = folder_ / "picture.png";
    const auto png = Image::filled(8, 8, red)->pngData().value();
    std::ofstream(pngPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    testing::writeText(folder_ / "notes.txt", "some words that are not a film\n");
    testing::writeText(folder_ / "fake.mp4", std::string(2048, 'x'));
    testing::writeText(folder_ / "empty.mp4", "");

    const std::string media = MediaError::domain;
    const struct {
        URL url;
        std::string domain;
        std::int64_t code;
    } cases[] = {
        {URL::fileURLWithPath(folder_ / "notes.txt"), media, MediaError::fileFormatNotRecognized},
        {URL::fileURLWithPath(folder_ / "fake.mp4"), media, MediaError::fileFormatNotRecognized},
        {URL::fileURLWithPath(folder_ / "empty.mp4"), media, MediaError::fileFormatNotRecognized},
        {URL::fileURLWithPath(pngPath), media, MediaError::fileFormatNotRecognized},
        // A missing file keeps its errno.
        {URL::fileURLWithPath(folder_ / "missing.mp4"), POSIXError::domain, ENOENT},
        {*URL::fromString("pinlet://player/video"), media,
         MediaError::operationNotSupportedForAsset},
    };
    for (const auto& c : cases) {
        const auto asset = URLAsset::make(c.url);
        AssetImageGenerator generator(asset);
        generator.setAppliesPreferredTrackTransform(true);
        std::optional<Error> error;
        EXPECT_EQ(generator.copyImageAtTime(MediaTime::zero(), nullptr, &error), nullptr)
            << c.url.absoluteString();
        ASSERT_TRUE(error.has_value()) << c.url.absoluteString();
        EXPECT_EQ(error->domain(), c.domain);
        EXPECT_EQ(error->code(), c.code) << c.url.absoluteString();
        EXPECT_EQ(asset->loadError()->code(), c.code);
        EXPECT_TRUE(asset->tracks().empty());
        EXPECT_FALSE(asset->duration().isValid());
    }
}

TEST_F(AssetTest, BadTimesAndSettingsAreRefused) {
    const std::string path = folder_ / "short.mp4";
    writeVideo(path, 2);
    AssetImageGenerator generator(URLAsset::make(URL::fileURLWithPath(path)));
    for (const MediaTime time : {MediaTime::invalid(), MediaTime::make(-1, 10)}) {
        std::optional<Error> error;
        EXPECT_EQ(generator.copyImageAtTime(time, nullptr, &error), nullptr);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code(), MediaError::invalidArgument);
    }

    for (const auto& settings :
         {AssetWriter::VideoSettings{63, 48}, AssetWriter::VideoSettings{0, 48},
          AssetWriter::VideoSettings{64, 48, 0}}) {
        AssetWriter writer(URL::fileURLWithPath(folder_ / "bad.mp4"), settings);
        const auto error = writer.startWriting();
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code(), MediaError::invalidArgument);
    }
    EXPECT_FALSE(FileManager::defaultManager().fileExists(folder_ / "bad.mp4"));
}

TEST_F(AssetTest, AnAbandonedWriterLeavesNoPartialFile) {
    const std::string path = folder_ / "abandoned.mp4";
    {
        AssetWriter writer(URL::fileURLWithPath(path), AssetWriter::VideoSettings{64, 48});
        ASSERT_EQ(writer.startWriting(), std::nullopt);
        ASSERT_EQ(writer.appendImage(*halves(red, blue)), std::nullopt);
        EXPECT_TRUE(FileManager::defaultManager().fileExists(path));
    }
    EXPECT_FALSE(FileManager::defaultManager().fileExists(path));
}

}  // namespace
}  // namespace pindle::platform
