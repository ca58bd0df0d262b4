#include "platform/media/private/FFmpegLibrary.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/MediaWriter.hpp"
#include "platform/media/private/FFmpegSupport.hpp"
#include "tests/support/FreshProcess.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

// Whether any of FFmpeg's libraries is mapped into this process.
bool ffmpegMapped() {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)),
                           std::istreambuf_iterator<char>());
    return text.find("/libavcodec.so") != std::string::npos ||
           text.find("/libavformat.so") != std::string::npos ||
           text.find("/libavutil.so") != std::string::npos;
}

TEST(FFmpegLibraryTest, FFmpegIsMappedOnlyOnceMediaIsUsed) {
    testing::inFreshProcess([] {
        // Pictures that need no codec leave FFmpeg unloaded.
        ImagePtr image = Image::filled(4, 2, {10, 20, 30, 255});
        ASSERT_NE(image, nullptr);
        EXPECT_FALSE(ffmpegMapped());

        std::optional<Data> png = image->pngData();
        ASSERT_TRUE(png.has_value());
        EXPECT_TRUE(ffmpegMapped());
        ImagePtr decoded = Image::fromData(*png);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(decoded->rgba(), image->rgba());
    });
}

TEST(FFmpegLibraryTest, AMissingLibraryIsAnErrorAtEachEntryPoint) {
    testing::inFreshProcess([] {
        ffmpeg::FFmpegLibrary::setLibraryNamesForTesting({"libpindle-missing-media.so.0"});
        Error error;
        EXPECT_EQ(ffmpeg::FFmpegLibrary::load(&error), nullptr);
        EXPECT_EQ(error.domain(), MediaError::domain);
        EXPECT_NE(error.localizedDescription().find("libpindle-missing-media.so.0"),
                  std::string::npos)
            << error.localizedDescription();

        // Every way into the media layer fails softly instead of reaching a missing function.
        ImagePtr image = Image::filled(4, 2, {10, 20, 30, 255});
        EXPECT_FALSE(image->pngData().has_value());
        EXPECT_EQ(image->scaledToPixelSize(8, 4), nullptr);
        EXPECT_EQ(Image::fromData(Data{0x89, 'P', 'N', 'G'}), nullptr);

        Error openError;
        const Data bytes{1, 2, 3, 4};
        EXPECT_EQ(ffmpeg::Input::open(ffmpeg::Source::fromData(bytes), &openError), nullptr);
        EXPECT_EQ(openError.domain(), MediaError::domain);

        MediaWriter::Settings settings;
        settings.video.emplace();
        settings.video->width = 16;
        settings.video->height = 16;
        Error writeError;
        const std::string path = testing::makeScratchFolder("ffmpeg-missing") + "/movie.mp4";
        EXPECT_EQ(MediaWriter::create(path, settings, &writeError), nullptr);
        EXPECT_EQ(writeError.domain(), MediaError::domain);
        EXPECT_FALSE(ffmpegMapped());
    });
}

}  // namespace
}  // namespace pindle::platform
