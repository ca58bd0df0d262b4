// The export session's outcomes as its handlers see them, an output that is already there,
// and the default composition's layout rules.
#include "PindleCore/uploads/PSDAVAssetExportSession.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/Barriers.hpp"
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
    ASSERT_EQ(firstStatus.wait_for(pindle::testing::barrierPatience), std::future_status::ready);
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

// Runs an export to its end; false when it never ended.
bool exportAndWait(PSDAVAssetExportSession& session) {
    std::promise<void> done;
    session.exportAsynchronouslyWithCompletionHandler([&] { done.set_value(); });
    return done.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready;
}

// The metadata items set are what the output carries, and the stand-ins of the reader, the
// writer and their outputs and inputs describe what the export was given.
TEST_F(PSDAVAssetExportSessionTest, MetadataAndTheExportsPartsAreWhatItWasGiven) {
    auto session = makeSession(folder_ / "tagged.mp4");
    const std::map<std::string, std::string> items{
        {"title", "Holiday"}, {"com.apple.quicktime.location.ISO6709", "+37.3318-122.0312/"}};
    session->setMetadata(items);
    const platform::Dictionary decoded{{"PixelFormatType", 875704438}};
    session->setVideoInputSettings(decoded);
    EXPECT_FALSE(session->reader());
    EXPECT_FALSE(session->writer());
    ASSERT_TRUE(exportAndWait(*session));
    ASSERT_EQ(session->status(), Status::completed);

    std::map<std::string, std::string> written;
    const auto output =
        platform::URLAsset::make(platform::URL::fileURLWithPath(folder_ / "tagged.mp4"));
    for (const auto& item : output->metadata()) written[item.key] = item.value;
    for (const auto& [key, value] : items) EXPECT_EQ(written[key], value) << key;

    const auto reader = session->reader();
    const auto writer = session->writer();
    ASSERT_TRUE(reader && writer);
    EXPECT_EQ(reader->asset, session->asset());
    EXPECT_EQ(reader->status(), PSDAVAssetExportSession::Reader::Status::completed);
    EXPECT_EQ(writer->status(), platform::AssetWriter::Status::completed);
    EXPECT_EQ(writer->outputURL.path(), folder_ / "tagged.mp4");
    EXPECT_EQ(writer->metadata, items);
    const auto source = session->asset();
    const auto videoOutput = session->videoOutput();
    const auto audioOutput = session->audioOutput();
    ASSERT_TRUE(videoOutput && audioOutput);
    EXPECT_EQ(videoOutput->trackIDs,
              std::vector<std::int32_t>{
                  source->tracksWithMediaType(platform::MediaType::video).front().trackID});
    EXPECT_EQ(videoOutput->videoSettings, decoded);
    ASSERT_TRUE(videoOutput->videoComposition);
    EXPECT_EQ(videoOutput->videoComposition->renderSize, (platform::Size{160, 120}));
    EXPECT_EQ(audioOutput->mediaType, platform::MediaType::audio);
    ASSERT_TRUE(session->videoInput() && session->audioInput());
    EXPECT_EQ(session->videoInput()->videoSettings->width, 160);
    EXPECT_EQ(session->audioInput()->audioSettings->sampleRate, 44100);
    const auto adaptor = session->videoPixelBufferAdaptor();
    ASSERT_TRUE(adaptor);
    EXPECT_EQ(adaptor->assetWriterInput, session->videoInput());
    EXPECT_EQ(adaptor->sourcePixelBufferAttributes.at("Width").asDouble(),
              std::optional<double>(160));

    // An export refused before it started has no parts.
    session->setOutputURL(std::nullopt);
    ASSERT_TRUE(exportAndWait(*session));
    EXPECT_EQ(session->status(), Status::failed);
    EXPECT_FALSE(session->reader());
    EXPECT_FALSE(session->videoInput());
}

// Nothing to export (an empty range): progress is 1 from the start, not a division by zero.
TEST_F(PSDAVAssetExportSessionTest, ProgressOfAnExportOfNoTimeIsWhole) {
    auto session = makeSession(folder_ / "empty.mp4");
    session->setTimeRange(platform::TimeRange{MediaTime(1, 1), MediaTime::zero()});
    std::promise<std::pair<float, Status>> seen;
    session->exportAsynchronouslyWithCompletionHandler([&] {
        seen.set_value({session->progress(), session->status()});
    });
    auto outcome = seen.get_future();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const auto [progress, status] = outcome.get();
    EXPECT_EQ(status, Status::completed)
        << (session->error() ? session->error()->description() : "");
    EXPECT_EQ(progress, 1.0f);
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
