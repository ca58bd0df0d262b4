// Assets, still images of their frames, and the writer that makes the test videos.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle::platform {
namespace {

using Pixel = Image::Pixel;

constexpr int videoWidth = 160;
constexpr int videoHeight = 120;
constexpr int framesPerSecond = 10;
constexpr Pixel red{255, 0, 0, 255};

// Writes `frames` at 10 per second, each carrying its frame number, so that the image taken
// at a time tells which frame it is.
void writeVideo(const std::string& path, int frames, int rotation = 0) {
    ASSERT_EQ(testing::writeClip(path, {.width = videoWidth,
                                        .height = videoHeight,
                                        .fps = framesPerSecond,
                                        .seconds = static_cast<double>(frames) / framesPerSecond,
                                        .rotation = rotation,
                                        .bFrames = false}),
              std::nullopt);
}

class AssetTest : public ::testing::Test {
  protected:
    testing::TemporaryFolder folder_;
};

TEST_F(AssetTest, DescribesDurationTrackSizeAndRotation) {
    for (const double rotation : {0.0, 90.0, 180.0, 270.0}) {
        const std::string path = folder_ / ("clip" + std::to_string(int(rotation)) + ".mp4");
        writeVideo(path, 5, static_cast<int>(rotation));
        const auto asset = URLAsset::make(URL::fileURLWithPath(path));
        ASSERT_TRUE(asset->isReadable())
            << (asset->loadError() ? asset->loadError()->description() : "no load error");
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
        // Clockwise quarter turns that bring the image back to the stored picture.
        int turnsBack;
    } cases[] = {
        {plain, false, videoWidth, videoHeight, 0},
        {plain, true, videoWidth, videoHeight, 0},
        {portrait, false, videoWidth, videoHeight, 0},
        {portrait, true, videoHeight, videoWidth, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (c.applyTransform ? " turned" : " as stored"));
        AssetImageGenerator generator(URLAsset::make(URL::fileURLWithPath(c.path)));
        generator.setAppliesPreferredTrackTransform(c.applyTransform);
        std::optional<Error> error;
        MediaTime actual = MediaTime::invalid();
        const auto image = generator.copyImageAtTime(MediaTime::make(0, 1000), &actual, &error);
        ASSERT_TRUE(image) << (error ? error->description() : "");
        EXPECT_EQ(error, std::nullopt);
        EXPECT_EQ(actual.seconds(), 0.0);
        EXPECT_EQ(image->pixelWidth(), c.width);
        EXPECT_EQ(image->pixelHeight(), c.height);
        const auto stored = c.turnsBack ? image->rotatedClockwise(c.turnsBack) : image;
        EXPECT_EQ(testing::readFrameNumber(*stored), 0);
    }
}

TEST_F(AssetTest, ImageAtALaterTimeIsTheFrameShowingThen) {
    const std::string path = folder_ / "timed.mp4";
    writeVideo(path, 6);
    AssetImageGenerator generator(URLAsset::make(URL::fileURLWithPath(path)));
    const struct {
        MediaTime time;
        int frame;
    } cases[] = {
        {MediaTime::make(150, 1000), 1},
        {MediaTime::make(1, 4), 2},
        {MediaTime::make(450, 1000), 4},
        {MediaTime::make(30, 1), 5},  // past the end: the last frame
    };
    for (const auto& c : cases) {
        MediaTime actual;
        const auto image = generator.copyImageAtTime(c.time, &actual);
        ASSERT_TRUE(image) << c.time.seconds();
        EXPECT_EQ(testing::readFrameNumber(*image), c.frame) << c.time.seconds();
        EXPECT_NEAR(actual.seconds(), c.frame / double(framesPerSecond), 0.001) << c.time.seconds();
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
        ASSERT_TRUE(asset->loadError());
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
}

}  // namespace
}  // namespace pindle::platform
