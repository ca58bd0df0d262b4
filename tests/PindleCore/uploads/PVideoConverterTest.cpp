#include "PindleCore/uploads/PVideoConverter.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "PindleCore/uploads/PSDAVAssetExportSession.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/media/MediaWriter.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/MediaSummary.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::legacy {
namespace {

namespace fs = std::filesystem;
using platform::MediaWriter;
using platform::Size;
using platform::URL;
using platform::testing::MediaSummary;

constexpr double timeout = 120;

struct Source {
    int width = 64;
    int height = 36;
    int rotation = 0;
    int frames = 3;
    bool video = true;
    bool audio = true;
};

// What a conversion reported; written on the export queue, read after `done`.
struct Outcome {
    std::atomic<int> calls{0};
    std::atomic<bool> done{false};
    bool cancelled = false;
    std::optional<platform::Error> error;

    PVideoConverter::Completion completion() {
        return [this](bool wasCancelled, std::optional<platform::Error> failure) {
            cancelled = wasCancelled;
            error = std::move(failure);
            ++calls;
            done = true;
        };
    }
    bool wait() const {
        return platform::MainThread::runUntil([this] { return done.load(); }, timeout);
    }
};

class PVideoConverterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = pindle::testing::makeScratchFolder("converter-");
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    URL makeSource(const std::string& name, const Source& source) {
        constexpr double kFrameRate = 10;
        MediaWriter::Settings settings;
        settings.container = MediaWriter::Container::mov;
        settings.rotation = source.rotation;
        if (source.video) {
            settings.video.emplace();
            settings.video->width = source.width;
            settings.video->height = source.height;
            settings.video->frameRate = kFrameRate;
        }
        if (source.audio) {
            settings.audio.emplace();
        }
        const std::string file = path(name);
        auto writer = MediaWriter::create(file, settings);
        EXPECT_TRUE(writer);
        if (!writer)
            return URL::fileURLWithPath(file);
        std::vector<uint8_t> pixels(static_cast<size_t>(source.width) * source.height * 4);
        for (int i = 0; source.video && i < source.frames; ++i) {
            std::fill(pixels.begin(), pixels.end(), static_cast<uint8_t>(40 + i * 20));
            EXPECT_EQ(writer->appendVideoFrame(pixels.data(), source.width * 4, i / kFrameRate),
                      std::nullopt);
        }
        if (source.audio) {
            const auto count = static_cast<size_t>(44100 * source.frames / kFrameRate);
            std::vector<int16_t> samples(count * 2);
            for (size_t i = 0; i < samples.size(); ++i) {
                samples[i] = static_cast<int16_t>(5000 * std::sin(i * 0.02));
            }
            EXPECT_EQ(writer->appendAudioSamples(samples.data(), count), std::nullopt);
        }
        EXPECT_EQ(writer->finish(), std::nullopt);
        return URL::fileURLWithPath(file);
    }

    fs::path folder_;
};

TEST_F(PVideoConverterTest, FitsTheDisplayedPictureIntoTheBox) {
    struct Case {
        Size natural;
        int clockwiseDegrees;
        Size expected;
    };
    const Case cases[] = {
        {{1920, 1080}, 0, {1280, 720}},    // landscape
        {{1920, 1080}, 90, {720, 1280}},   // a portrait recording, stored turned
        {{1920, 1080}, 270, {720, 1280}},  //
        {{1920, 1080}, 180, {1280, 720}},  // upside down stays landscape
        {{640, 480}, 0, {960, 720}},       // smaller sources are scaled up
        {{1080, 1080}, 0, {720, 720}},     // square counts as portrait
        {{3840, 1080}, 0, {1280, 360}},    // the width limits
        {{0, 0}, 0, {0, 0}},               // nothing to fit
    };
    for (const auto& c : cases) {
        platform::AssetTrack track;
        track.mediaType = platform::MediaType::video;
        track.naturalSize = c.natural;
        track.preferredTransform =
            platform::AffineTransform::rotationInQuarterTurns(c.clockwiseDegrees, c.natural);
        const Size size = PVideoConverter::outputSize(PVideoConverter::displayedSize(track));
        SCOPED_TRACE(::testing::Message() << c.natural.width << "x" << c.natural.height
                                          << " turned " << c.clockwiseDegrees);
        EXPECT_NEAR(size.width, c.expected.width, 0.001);
        EXPECT_NEAR(size.height, c.expected.height, 0.001);
    }
}

TEST_F(PVideoConverterTest, ConvertsToTheUploadFormat) {
    struct Case {
        const char* name;
        Source source;
        Size expected;
    };
    // Small sources with the aspect of the full-size cases; the rules scale them up.
    const Case cases[] = {
        {"16:9 landscape", {}, {1280, 720}},
        {"16:9 with a quarter turn", {.rotation = 90}, {720, 1280}},
        {"4:3", {.width = 64, .height = 48}, {960, 720}},
        {"square", {.width = 48, .height = 48}, {720, 720}},
        {"video only", {.audio = false}, {1280, 720}},
        {"audio only", {.video = false}, {0, 0}},
    };
    auto& converter = PVideoConverter::getInstance();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const URL source = makeSource("source.mov", c.source);
        const std::string output = path("output.mp4");
        Outcome outcome;
        ASSERT_TRUE(converter.convertMOVfileByURL(source, output, outcome.completion()));
        ASSERT_TRUE(outcome.wait());
        EXPECT_FALSE(outcome.cancelled);
        ASSERT_EQ(outcome.error, std::nullopt) << outcome.error->description();

        platform::Error error;
        auto probe = MediaSummary::read(output, &error);
        ASSERT_TRUE(probe) << error.description();
        EXPECT_EQ(probe->hasVideo, c.source.video);
        EXPECT_EQ(probe->hasAudio, c.source.audio);
        if (c.source.video) {
            EXPECT_EQ(probe->videoCodec, "h264");
            EXPECT_EQ(probe->naturalSize, c.expected);
            EXPECT_EQ(probe->displaySize(), c.expected);
            EXPECT_NEAR(probe->nominalFrameRate, 30, 0.5);
        }
        if (c.source.audio) {
            EXPECT_EQ(probe->audioCodec, "aac");
            EXPECT_EQ(probe->audioChannels, 2);
            EXPECT_EQ(probe->audioSampleRate, 44100);
        }
        EXPECT_NEAR(probe->duration, 0.3, 0.07);
        EXPECT_EQ(outcome.calls.load(), 1);
        fs::remove(output);
    }
}

TEST_F(PVideoConverterTest, OneConversionPerSourceAndCancellationByURL) {
    auto& converter = PVideoConverter::getInstance();
    const URL source = makeSource("long.mov", {.frames = 30});
    const std::string output = path("output.mp4");

    Outcome first;
    ASSERT_TRUE(converter.convertMOVfileByURL(source, output, first.completion()));
    Outcome second;
    EXPECT_FALSE(converter.convertMOVfileByURL(source, path("other.mp4"), second.completion()));
    converter.cancelConverting(source);
    ASSERT_TRUE(first.wait());
    EXPECT_TRUE(first.cancelled);
    EXPECT_EQ(first.error, std::nullopt);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(path("other.mp4")));

    // Cancelling what is not running changes nothing; the source can be converted again.
    converter.cancelConverting(source);
    converter.cancelConverting(URL::fileURLWithPath(path("never.mov")));
    Outcome again;
    ASSERT_TRUE(converter.convertMOVfileByURL(source, output, again.completion()));
    ASSERT_TRUE(again.wait());
    EXPECT_FALSE(again.cancelled);
    EXPECT_EQ(again.error, std::nullopt);
    EXPECT_TRUE(fs::exists(output));

    platform::MainThread::drain();
    EXPECT_EQ(first.calls.load(), 1);
    EXPECT_EQ(second.calls.load(), 0);
    EXPECT_EQ(again.calls.load(), 1);
}

TEST_F(PVideoConverterTest, FailuresReachTheCompletion) {
    auto& converter = PVideoConverter::getInstance();
    std::ofstream(path("notes.mov")) << "a shopping list, not a movie";
    struct Case {
        const char* name;
        URL source;
        std::string output;
        std::int64_t code;
    };
    const Case cases[] = {
        {"no video", URL::fileURLWithPath(path("notes.mov")), path("out.mp4"),
         platform::MediaError::fileFormatNotRecognized},
        {"no output", makeSource("source.mov", {}), "", platform::MediaError::exportFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome outcome;
        ASSERT_TRUE(converter.convertMOVfileByURL(c.source, c.output, outcome.completion()));
        ASSERT_TRUE(outcome.wait());
        EXPECT_FALSE(outcome.cancelled);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->domain(), platform::MediaError::domain);
        EXPECT_EQ(outcome.error->code(), c.code);
        EXPECT_FALSE(fs::exists(path("out.mp4")));
        EXPECT_EQ(outcome.calls.load(), 1);
    }
}

TEST_F(PVideoConverterTest, ExportSessionReportsStatusProgressAndErrors) {
    const URL source = makeSource("source.mov", {});
    auto session =
        PSDAVAssetExportSession::exportSessionWithAsset(platform::URLAsset::make(source));
    EXPECT_EQ(session->status(), PSDAVAssetExportSession::Status::unknown);
    EXPECT_EQ(session->progress(), 0.0f);

    // Without an output URL the handler runs before the call returns.
    int refusals = 0;
    session->exportAsynchronouslyWithCompletionHandler([&] { ++refusals; });
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(session->status(), PSDAVAssetExportSession::Status::failed);
    ASSERT_TRUE(session->error());
    EXPECT_EQ(session->error()->domain(), "AVFoundationErrorDomain");
    EXPECT_EQ(session->error()->code(), -11820);
    EXPECT_EQ(session->error()->localizedDescription(), "Output URL not set");

    // Cancelled before its queue gets to it, then started again to completion.
    const std::string output = path("output.mp4");
    session->setOutputURL(URL::fileURLWithPath(output));
    session->setOutputFileType(PSDAVAssetExportSession::fileTypeMPEG4);
    PSDAVAssetExportSession::VideoSettings video;
    video.width = 128;
    video.height = 72;
    session->setVideoSettings(video);
    session->setAudioSettings(PSDAVAssetExportSession::AudioSettings{});
    session->setShouldOptimizeForNetworkUse(true);

    std::atomic<int> cancelledCalls{0};
    std::atomic<int> completedCalls{0};
    std::atomic<PSDAVAssetExportSession::Status> seen{PSDAVAssetExportSession::Status::unknown};
    session->inputQueue()->suspend();
    session->exportAsynchronouslyWithCompletionHandler([&] {
        seen = session->status();
        ++cancelledCalls;
    });
    EXPECT_EQ(session->status(), PSDAVAssetExportSession::Status::exporting);
    session->cancelExport();
    session->inputQueue()->resume();
    ASSERT_TRUE(platform::MainThread::runUntil([&] { return cancelledCalls > 0; }, timeout));
    EXPECT_EQ(seen.load(), PSDAVAssetExportSession::Status::cancelled);
    EXPECT_EQ(session->error(), std::nullopt);
    EXPECT_FALSE(fs::exists(output));

    session->exportAsynchronouslyWithCompletionHandler([&] { ++completedCalls; });
    ASSERT_TRUE(platform::MainThread::runUntil([&] { return completedCalls > 0; }, timeout));
    ASSERT_TRUE(pindle::testing::drain(session->inputQueue()));
    EXPECT_EQ(session->status(), PSDAVAssetExportSession::Status::completed);
    EXPECT_EQ(session->error(), std::nullopt);
    EXPECT_EQ(session->progress(), 1.0f);
    auto probe = MediaSummary::read(output);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->naturalSize, (Size{128, 72}));
    EXPECT_EQ(cancelledCalls.load(), 1);
    EXPECT_EQ(completedCalls.load(), 1);

    // Settings the writer cannot honour are refused up front.
    video.profileLevel = "H264_Extreme_9_9";
    session->setVideoSettings(video);
    int refused = 0;
    session->exportAsynchronouslyWithCompletionHandler([&] { ++refused; });
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(session->status(), PSDAVAssetExportSession::Status::failed);
}

}  // namespace
}  // namespace pindle::legacy
