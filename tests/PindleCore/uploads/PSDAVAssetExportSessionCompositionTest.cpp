#include <gtest/gtest.h>

#include <cmath>
#include <future>

#include "PindleCore/uploads/PSDAVAssetExportSession.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/PindleCore/support/AudioLevel.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle::legacy {
namespace {

using pindle::testing::audioLevel;
using platform::MediaTime;
using platform::TimeRange;

class ExportCompositionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = folder_ / "source.mp4";
        ASSERT_EQ(platform::testing::writeClip(
                      source_,
                      {.width = 160, .height = 120, .seconds = 2, .bFrames = false, .toneHz = 440}),
                  std::nullopt);
    }

    std::shared_ptr<PSDAVAssetExportSession> makeSession(const std::string& name) {
        auto session = PSDAVAssetExportSession::exportSessionWithAsset(
            platform::URLAsset::make(platform::URL::fileURLWithPath(source_)));
        session->setOutputURL(platform::URL::fileURLWithPath(folder_ / name));
        PSDAVAssetExportSession::VideoSettings video;
        video.width = 160;
        video.height = 120;
        session->setVideoSettings(video);
        session->setAudioSettings(PSDAVAssetExportSession::AudioSettings{});
        return session;
    }

    static void run(PSDAVAssetExportSession& session) {
        std::promise<void> done;
        session.exportAsynchronouslyWithCompletionHandler([&] { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        ASSERT_EQ(session.status(), PSDAVAssetExportSession::Status::completed)
            << (session.error() ? session.error()->description() : "");
    }

    static platform::AssetPtr output(const PSDAVAssetExportSession& session) {
        return platform::URLAsset::make(*session.outputURL());
    }

    platform::testing::TemporaryFolder folder_;
    std::string source_;
};

TEST_F(ExportCompositionTest, CompositionSetsTheSizeAndTurnsThePicture) {
    auto session = makeSession("turned.mp4");
    // A clockwise quarter turn of the 160x120 picture into a 120x160 portrait frame.
    PSDAVAssetExportSession::VideoComposition composition;
    composition.renderSize = {120, 160};
    composition.frameDuration = MediaTime(1, 15);
    composition.instructions.push_back(
        {TimeRange{MediaTime::zero(), MediaTime(2, 1)}, {{1, {0, 1, -1, 0, 120, 0}}}});
    session->setVideoComposition(composition);
    run(*session);

    const auto asset = output(*session);
    const auto video = asset->tracksWithMediaType(platform::MediaType::video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].naturalSize.width, 120);
    EXPECT_EQ(video[0].naturalSize.height, 160);
    EXPECT_NEAR(video[0].nominalFrameRate, 15, 0.5);

    const auto shown = platform::AssetImageGenerator(asset).copyImageAtTime(MediaTime(1, 1));
    ASSERT_TRUE(shown);
    EXPECT_EQ(platform::testing::readFrameNumber(*shown), std::nullopt);
    // Turned back by hand, the frame code reads again: the picture went where the transform
    // said, not merely into a frame of that size.
    std::vector<std::uint8_t> back(160 * 120 * 4);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            const auto pixel = shown->pixelAt(119 - y, x);
            std::uint8_t* to = back.data() + (y * 160 + x) * 4;
            to[0] = pixel.red;
            to[1] = pixel.green;
            to[2] = pixel.blue;
            to[3] = 255;
        }
    }
    const auto upright = platform::Image::make(160, 120, std::move(back));
    ASSERT_TRUE(upright);
    // At 15 frames a second the frame shown at 1 s is one of the source's around it.
    EXPECT_NEAR(platform::testing::readFrameNumber(*upright).value_or(-10), 30, 1);
}

TEST_F(ExportCompositionTest, AudioMixSetsTheLevelOverTime) {
    const struct {
        const char* name;
        float volume;
        std::vector<PSDAVAssetExportSession::VolumeRamp> ramps;
        bool loudEarly;
        bool loudLate;
    } cases[] = {
        {"plain.mp4", 1, {}, true, true},
        {"muted.mp4", 0, {}, false, false},
        {"fadein.mp4", 0, {{0, 1, TimeRange{MediaTime(1, 1), MediaTime(1, 2)}}}, false, true},
        {"fadeout.mp4", 1, {{1, 0, TimeRange{MediaTime(1, 2), MediaTime(1, 2)}}}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto session = makeSession(c.name);
        const auto tracks = session->asset()->tracksWithMediaType(platform::MediaType::audio);
        ASSERT_EQ(tracks.size(), 1u);
        session->setAudioMix(
            PSDAVAssetExportSession::AudioMix{{{tracks[0].trackID, c.volume, c.ramps}}});
        run(*session);
        const std::string path = session->outputURL()->path();
        const double early = audioLevel(path, 0.2, 0.45);
        const double late = audioLevel(path, 1.6, 1.9);
        ASSERT_GE(early, 0);
        ASSERT_GE(late, 0);
        EXPECT_EQ(early > 0.05, c.loudEarly) << early;
        EXPECT_EQ(late > 0.05, c.loudLate) << late;
        EXPECT_TRUE(early < 0.005 || early > 0.05) << early;
        EXPECT_TRUE(late < 0.005 || late > 0.05) << late;
    }
}

class PaintingDelegate : public PSDAVAssetExportSessionDelegate {
  public:
    bool implementsRenderFrame() const override { return true; }
    void exportSessionRenderFrame(PSDAVAssetExportSession&, const platform::PixelBuffer& source,
                                  MediaTime time, platform::PixelBuffer& destination) override {
        sourceWidth = source.width();
        destinationWidth = destination.width();
        destinationHeight = destination.height();
        EXPECT_GE(time.seconds(), lastSeconds);
        lastSeconds = time.seconds();
        ++frames;
        for (int y = 0; y < destination.height(); ++y) {
            std::uint8_t* row = destination.baseAddress() + y * destination.bytesPerRow();
            for (int x = 0; x < destination.width(); ++x) {
                // BGRA: pure blue.
                row[x * 4 + 0] = 255;
                row[x * 4 + 1] = 0;
                row[x * 4 + 2] = 0;
                row[x * 4 + 3] = 255;
            }
        }
    }
    int sourceWidth = 0;
    int destinationWidth = 0;
    int destinationHeight = 0;
    double lastSeconds = -1;
    int frames = 0;
};

TEST_F(ExportCompositionTest, WhatTheDelegateDrawsIsWhatIsWritten) {
    auto session = makeSession("painted.mp4");
    PSDAVAssetExportSession::VideoSettings video;
    video.width = 96;
    video.height = 64;
    session->setVideoSettings(video);
    auto delegate = std::make_shared<PaintingDelegate>();
    session->setDelegate(delegate);
    run(*session);

    EXPECT_EQ(delegate->frames, 60);
    EXPECT_EQ(delegate->sourceWidth, 160);
    EXPECT_EQ(delegate->destinationWidth, 96);
    EXPECT_EQ(delegate->destinationHeight, 64);
    const auto shown =
        platform::AssetImageGenerator(output(*session)).copyImageAtTime(MediaTime(1, 1));
    ASSERT_TRUE(shown);
    for (const auto& [x, y] : {std::pair{0, 0}, {48, 32}, {95, 63}}) {
        const auto pixel = shown->pixelAt(x, y);
        EXPECT_LT(pixel.red, 40);
        EXPECT_LT(pixel.green, 40);
        EXPECT_GT(pixel.blue, 210);
    }
}

}  // namespace
}  // namespace pindle::legacy
