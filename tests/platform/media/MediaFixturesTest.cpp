#include "tests/support/MediaFixtures.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/foundation/URL.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform::testing {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MediaFixturesTest, EveryFrameDecodesBackToItsNumber) {
    const fs::path folder = pindle::testing::makeScratchFolder("fixtures-");
    fs::create_directories(folder);
    const struct {
        const char* name;
        ClipOptions options;
    } cases[] = {
        {"faststart-bframes.mp4",
         {.seconds = 1, .faststart = true, .bFrames = true, .toneHz = 440}},
        {"tail-index.mp4", {.seconds = 1, .faststart = false, .bFrames = false}},
        {"small.mp4", {.width = 96, .height = 64, .fps = 10, .seconds = 2, .bFrames = false}},
    };
    for (const auto& c : cases) {
        const fs::path path = folder / c.name;
        ASSERT_EQ(writeClip(path.string(), c.options), std::nullopt) << c.name;

        // The index sits before the media data exactly when the clip asked for faststart.
        const std::string bytes = readFile(path);
        const auto moov = bytes.find("moov");
        const auto mdat = bytes.find("mdat");
        ASSERT_NE(moov, std::string::npos);
        EXPECT_EQ(moov < mdat, c.options.faststart) << c.name;

        AssetImageGenerator generator(URLAsset::make(URL::fileURLWithPath(path.string())));
        const int frames = clipFrameCount(c.options);
        for (int frame : {0, 1, frames / 2, frames - 1}) {
            const auto image =
                generator.copyImageAtTime(MediaTime::make(frame * 1000 / c.options.fps + 1, 1000));
            ASSERT_TRUE(image) << c.name << " frame " << frame;
            EXPECT_EQ(readFrameNumber(*image), frame) << c.name;
        }
    }
    fs::remove_all(folder);
}

TEST(MediaFixturesTest, CodeSurvivesScalingAndIsAbsentFromPlainPictures) {
    std::vector<std::uint8_t> pixels(320 * 240 * 4, 0);
    for (int number : {0, 1, 0x8001, 0xFFFF, 12345}) {
        drawFrameNumber(pixels.data(), 320, 240, 320 * 4, number);
        const auto image = Image::make(320, 240, pixels);
        EXPECT_EQ(readFrameNumber(*image), number);
        EXPECT_EQ(readFrameNumber(*image->scaledToPixelSize(160, 90)), number);
    }
    EXPECT_EQ(readFrameNumber(*Image::filled(320, 240, {128, 128, 128, 255})), std::nullopt);
    EXPECT_EQ(readFrameNumber(*Image::filled(8, 8, {0, 0, 0, 255})), std::nullopt);
}

}  // namespace
}  // namespace pindle::platform::testing
