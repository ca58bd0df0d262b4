#include <gtest/gtest.h>

#include <future>

#include "PindleCore/uploads/PSDAVAssetExportSession.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle::legacy {
namespace {

using platform::MediaTime;
using platform::TimeRange;

TEST(PSDAVAssetExportSessionRangeTest, OnlyThePartInTheTimeRangeIsExported) {
    platform::testing::TemporaryFolder folder;
    const std::string source = folder / "source.mp4";
    ASSERT_EQ(
        platform::testing::writeClip(
            source, {.width = 160, .height = 120, .seconds = 3, .bFrames = false, .toneHz = 440}),
        std::nullopt);
    const struct {
        const char* name;
        TimeRange range;
        double seconds;
        int firstFrame;
    } cases[] = {
        {"middle.mp4", TimeRange{MediaTime(1, 2), MediaTime(1, 1)}, 1.0, 15},
        {"tail.mp4", TimeRange{MediaTime(2, 1), MediaTime::positiveInfinityTime()}, 1.0, 60},
        {"whole.mp4", TimeRange{MediaTime::zero(), MediaTime::positiveInfinityTime()}, 3.0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto session = PSDAVAssetExportSession::exportSessionWithAsset(
            platform::URLAsset::make(platform::URL::fileURLWithPath(source)));
        const std::string output = folder / c.name;
        session->setOutputURL(platform::URL::fileURLWithPath(output));
        session->setOutputFileType(PSDAVAssetExportSession::fileTypeMPEG4);
        PSDAVAssetExportSession::VideoSettings videoSettings;
        videoSettings.width = 160;
        videoSettings.height = 120;
        session->setVideoSettings(videoSettings);
        session->setAudioSettings(PSDAVAssetExportSession::AudioSettings{});
        session->setTimeRange(c.range);
        std::promise<void> done;
        session->exportAsynchronouslyWithCompletionHandler([&] { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        ASSERT_EQ(session->status(), PSDAVAssetExportSession::Status::completed)
            << (session->error() ? session->error()->description() : "");

        const auto asset = platform::URLAsset::make(platform::URL::fileURLWithPath(output));
        const auto video = asset->tracksWithMediaType(platform::MediaType::video);
        const auto audio = asset->tracksWithMediaType(platform::MediaType::audio);
        ASSERT_EQ(video.size(), 1u);
        ASSERT_EQ(audio.size(), 1u);
        EXPECT_NEAR(video[0].duration.seconds(), c.seconds, 0.05);
        EXPECT_NEAR(audio[0].duration.seconds(), c.seconds, 0.06);
        const auto first = platform::AssetImageGenerator(asset).copyImageAtTime(MediaTime::zero());
        ASSERT_TRUE(first);
        EXPECT_EQ(platform::testing::readFrameNumber(*first), c.firstFrame);
    }
}

}  // namespace
}  // namespace pindle::legacy
