// The export session's outcomes as its handlers see them, an output that is already there,
// and the default composition's layout rules.
#include "PindleCore/uploads/PSDAVAssetExportSession.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "platform/media/MediaError.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/Gate.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle::legacy {
namespace {

using platform::MediaTime;
using Status = PSDAVAssetExportSession::Status;

class PSDAVAssetExportSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(platform::testing::writeClip(
                      source_,
                      {.width = 160, .height = 120, .seconds = 2, .bFrames = false, .toneHz = 440}),
                  std::nullopt);
    }

    std::shared_ptr<PSDAVAssetExportSession> makeSession(const std::string& output) {
        auto session = PSDAVAssetExportSession::exportSessionWithAsset(
            platform::URLAsset::make(platform::URL::fileURLWithPath(source_)));
        session->setOutputURL(platform::URL::fileURLWithPath(output));
        PSDAVAssetExportSession::VideoSettings video;
        video.width = 160;
        video.height = 120;
        session->setVideoSettings(video);
        session->setAudioSettings(PSDAVAssetExportSession::AudioSettings{});
        return session;
    }

    platform::testing::TemporaryFolder folder_;
    const std::string source_ = folder_ / "source.mp4";
};

// Started again before the first export ran: the first handler hears that its own export was
// cancelled, the second that its export completed.
TEST_F(PSDAVAssetExportSessionTest, ARestartedExportsHandlerSeesItsOwnCancel) {
    auto session = makeSession(folder_ / "restarted.mp4");
    auto gate = std::make_shared<pindle::testing::Gate>();
    session->inputQueue()->async([gate] { gate->wait(); });
    std::promise<Status> first, second;
    session->exportAsynchronouslyWithCompletionHandler([&] { first.set_value(session->status()); });
    session->exportAsynchronouslyWithCompletionHandler(
        [&] { second.set_value(session->status()); });
    ASSERT_TRUE(gate->open());
    auto firstStatus = first.get_future();
    auto secondStatus = second.get_future();
    ASSERT_EQ(secondStatus.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    ASSERT_EQ(firstStatus.wait_for(std::chrono::seconds(1)), std::future_status::ready);
    EXPECT_EQ(firstStatus.get(), Status::cancelled);
    EXPECT_EQ(secondStatus.get(), Status::completed);
    EXPECT_EQ(session->status(), Status::completed);
    EXPECT_TRUE(std::filesystem::exists(folder_ / "restarted.mp4"));
}

// Someone's file at the output URL fails the export with the writer's error and is kept as it
// was, not written over and then deleted with the failed run.
TEST_F(PSDAVAssetExportSessionTest, AnOutputThatExistsIsRefusedAndKept) {
    const std::string output = folder_ / "taken.mp4";
    platform::testing::writeText(output, "someone else's");
    auto session = makeSession(output);
    std::promise<void> done;
    session->exportAsynchronouslyWithCompletionHandler([&] { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(session->status(), Status::failed);
    ASSERT_TRUE(session->error());
    EXPECT_EQ(session->error()->domain(), platform::MediaError::domain);
    EXPECT_EQ(session->error()->code(), platform::MediaError::fileAlreadyExists);
    EXPECT_EQ(platform::testing::readText(output), "someone else's");
}

// The default layout: the preferred transform (a -560 translation counting as none), then the
// fit inside the render size, centred.
TEST(PSDAVAssetExportSessionDefaultCompositionTest, TurnsFitsAndIgnoresTheBogusTranslation) {
    using platform::AffineTransform;
    using platform::Size;
    PSDAVAssetExportSession::VideoSettings landscape;
    landscape.width = 1280;
    landscape.height = 720;
    PSDAVAssetExportSession::VideoSettings portrait = landscape;
    portrait.width = 720;
    portrait.height = 1280;
    portrait.averageNonDroppableFrameRate = 24;
    const struct {
        const char* name;
        Size natural;
        AffineTransform preferred;
        std::optional<PSDAVAssetExportSession::VideoSettings> settings;
        Size render;
        AffineTransform layer;
        MediaTime frameDuration;
    } cases[] = {
        {"scaled down",
         {1920, 1080},
         {},
         landscape,
         {1280, 720},
         {2.0 / 3, 0, 0, 2.0 / 3, 0, 0},
         MediaTime(1, 30)},
        {"pillarboxed",
         {640, 480},
         {},
         landscape,
         {1280, 720},
         {1.5, 0, 0, 1.5, 160, 0},
         MediaTime(1, 30)},
        {"a quarter turn",
         {1280, 720},
         {0, 1, -1, 0, 720, 0},
         portrait,
         {720, 1280},
         {0, 1, -1, 0, 720, 0},
         MediaTime(1, 24)},
        {"a quarter turn with the bogus translation",
         {1280, 720},
         {0, 1, -1, 0, 720, -560},
         portrait,
         {720, 1280},
         {0, 1, -1, 0, 720, 0},
         MediaTime(1, 24)},
        {"the bogus translation on both axes",
         {1280, 720},
         {1, 0, 0, 1, -560, -560},
         landscape,
         {1280, 720},
         {1, 0, 0, 1, 0, 0},
         MediaTime(1, 30)},
        {"another translation is kept",
         {1280, 720},
         {1, 0, 0, 1, -100, 0},
         landscape,
         {1280, 720},
         {1, 0, 0, 1, -100, 0},
         MediaTime(1, 30)},
        {"no settings: the displayed size at the track's rate",
         {1280, 720},
         {0, -1, 1, 0, 0, 1280},
         std::nullopt,
         {720, 1280},
         {0, -1, 1, 0, 0, 1280},
         MediaTime(1, 25)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::AssetTrack track;
        track.trackID = 7;
        track.mediaType = platform::MediaType::video;
        track.naturalSize = c.natural;
        track.preferredTransform = c.preferred;
        track.nominalFrameRate = 25;
        const auto composition =
            PSDAVAssetExportSession::defaultVideoComposition(track, c.settings, MediaTime(3, 1));
        EXPECT_EQ(composition.renderSize, c.render);
        EXPECT_EQ(composition.frameDuration, c.frameDuration);
        ASSERT_EQ(composition.instructions.size(), 1u);
        const auto& instruction = composition.instructions.front();
        EXPECT_EQ(instruction.timeRange.start, MediaTime::zero());
        EXPECT_EQ(instruction.timeRange.duration, MediaTime(3, 1));
        ASSERT_EQ(instruction.layerInstructions.size(), 1u);
        EXPECT_EQ(instruction.layerInstructions.front().trackID, 7);
        const AffineTransform& layer = instruction.layerInstructions.front().transform;
        for (const auto& [got, want] : {std::pair{layer.a, c.layer.a},
                                        {layer.b, c.layer.b},
                                        {layer.c, c.layer.c},
                                        {layer.d, c.layer.d},
                                        {layer.tx, c.layer.tx},
                                        {layer.ty, c.layer.ty}})
            EXPECT_NEAR(got, want, 1e-4);
    }
}

}  // namespace
}  // namespace pindle::legacy
