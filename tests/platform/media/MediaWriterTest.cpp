#include "platform/foundation/Status.hpp"
#include "platform/media/MediaWriter.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/foundation/MediaError.hpp"
#include "tests/support/MediaSummary.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

namespace fs = std::filesystem;
using testing::MediaSummary;

MediaWriter::VideoSettings sized(int width, int height,
                                 MediaWriter::VideoCodec codec = MediaWriter::VideoCodec::h264) {
    MediaWriter::VideoSettings settings;
    settings.width = width;
    settings.height = height;
    settings.codec = codec;
    return settings;
}

class MediaWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = pindle::testing::makeScratchFolder("media-writer-");
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    // Writes `frames` pictures at `frameRate` and, with audio, a matching stretch of a tone.
    static platform::Status writeMovie(MediaWriter& writer, const MediaWriter::Settings& s,
                                       int frames, double frameRate) {
        if (s.video) {
            const int width = s.video->width;
            std::vector<uint8_t> pixels(static_cast<size_t>(width) * s.video->height * 4);
            for (int i = 0; i < frames; ++i) {
                for (size_t p = 0; p < pixels.size(); ++p) {
                    pixels[p] = static_cast<uint8_t>(p * 7 + i * 40);
                }
                if (platform::Status status =
                        writer.appendVideoFrame(pixels.data(), width * 4, i / frameRate);
                    !status.ok())
                    return status;
            }
        }
        if (s.audio) {
            const auto count = static_cast<size_t>(s.audio->sampleRate * frames / frameRate);
            std::vector<int16_t> samples(count * s.audio->channels);
            for (size_t i = 0; i < samples.size(); ++i) {
                samples[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
            }
            if (platform::Status status = writer.appendAudioSamples(samples.data(), count);
                !status.ok())
                return status;
        }
        return writer.finish();
    }

    fs::path folder_;
};

TEST_F(MediaWriterTest, ProbeReadsBackWhatWasWritten) {
    struct Case {
        MediaWriter::Container container;
        MediaWriter::VideoCodec codec;
        bool video;
        bool audio;
        int rotation;
        Size display;
        const char* videoCodec;
    };
    using C = MediaWriter::Container;
    using V = MediaWriter::VideoCodec;
    const Case cases[] = {
        {C::mp4, V::h264, true, true, 0, {64, 48}, "h264"},
        {C::mov, V::h264, true, false, 90, {48, 64}, "h264"},
        {C::mov, V::mpeg4, true, true, 180, {64, 48}, "mpeg4"},
        {C::mp4, V::mpeg4, true, false, 270, {48, 64}, "mpeg4"},
        {C::mp4, V::h264, false, true, 0, {0, 0}, ""},
    };
    const int frames = 6;
    const double rate = 12;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "rotation " << c.rotation << " codec " << c.videoCodec);
        MediaWriter::Settings settings;
        settings.container = c.container;
        if (c.video) {
            settings.video = sized(64, 48, c.codec);
            settings.video->frameRate = rate;
        }
        if (c.audio)
            settings.audio = MediaWriter::AudioSettings{};
        settings.rotation = c.rotation;
        settings.metadata = {{"com.apple.quicktime.creationdate", "2024-05-01T10:20:30+0200"},
                             {"com.apple.quicktime.location.ISO6709", "+48.8577+002.2950+035.000/"},
                             {"creation_time", "2024-05-01T08:20:30.000000Z"}};
        const std::string file =
            path("movie" + std::to_string(&c - cases) + (c.container == C::mp4 ? ".mp4" : ".mov"));
        Error error;
        auto writer = MediaWriter::create(file, settings, &error);
        ASSERT_TRUE(writer) << error.description();
        ASSERT_EQ(writeMovie(*writer, settings, frames, rate), std::nullopt);

        auto probe = MediaSummary::read(file, &error);
        ASSERT_TRUE(probe) << error.description();
        EXPECT_EQ(probe->hasVideo, c.video);
        EXPECT_EQ(probe->hasAudio, c.audio);
        EXPECT_NEAR(probe->duration, frames / rate, 0.1);
        if (c.video) {
            EXPECT_EQ(probe->naturalSize, (Size{64, 48}));
            EXPECT_EQ(probe->displaySize(), c.display);
            EXPECT_EQ(probe->preferredTransform,
                      AffineTransform::rotationInQuarterTurns(c.rotation, Size{64, 48}));
            EXPECT_NEAR(probe->nominalFrameRate, rate, 0.5);
            EXPECT_EQ(probe->videoCodec, c.videoCodec);
        }
        if (c.audio) {
            EXPECT_EQ(probe->audioChannels, 2);
            EXPECT_EQ(probe->audioSampleRate, 44100);
            EXPECT_EQ(probe->audioCodec, "aac");
        }
        EXPECT_EQ(probe->metadata["com.apple.quicktime.location.ISO6709"],
                  "+48.8577+002.2950+035.000/");
        EXPECT_EQ(probe->metadata["com.apple.quicktime.creationdate"], "2024-05-01T10:20:30+0200");
        EXPECT_EQ(probe->metadata["creation_time"].substr(0, 19), "2024-05-01T08:20:30");
    }
}

TEST_F(MediaWriterTest, UnfinishedOrCancelledWritersLeaveNoFile) {
    MediaWriter::Settings settings;
    settings.video = sized(64, 48);
    std::vector<uint8_t> pixels(64 * 48 * 4, 128);
    {
        auto writer = MediaWriter::create(path("dropped.mp4"), settings);
        ASSERT_TRUE(writer);
        ASSERT_EQ(writer->appendVideoFrame(pixels.data(), 64 * 4, 0), std::nullopt);
        EXPECT_TRUE(fs::exists(path("dropped.mp4")));
    }
    EXPECT_FALSE(fs::exists(path("dropped.mp4")));

    auto writer = MediaWriter::create(path("cancelled.mp4"), settings);
    ASSERT_TRUE(writer);
    ASSERT_EQ(writer->appendVideoFrame(pixels.data(), 64 * 4, 0), std::nullopt);
    writer->cancel();
    EXPECT_FALSE(fs::exists(path("cancelled.mp4")));
    EXPECT_FALSE(writer->finish().ok());
    EXPECT_FALSE(writer->appendVideoFrame(pixels.data(), 64 * 4, 1).ok());
}

// Created exclusively, a writer refuses a file that is there and leaves it as it was; the
// default still replaces it. Audio of any layout readies its converter.
TEST_F(MediaWriterTest, AnExclusiveWriterLeavesAFileThatIsThereAlone) {
    std::ofstream(path("taken.mp4")) << "someone else's";
    MediaWriter::Settings settings;
    settings.video = sized(64, 48);
    settings.replaceExisting = false;
    Error error;
    EXPECT_FALSE(MediaWriter::create(path("taken.mp4"), settings, &error));
    EXPECT_EQ(error.domain(), MediaError::domain);
    EXPECT_EQ(error.code(), MediaError::fileAlreadyExists);
    std::string kept;
    std::getline(std::ifstream(path("taken.mp4")), kept);
    EXPECT_EQ(kept, "someone else's");

    for (const auto& [channels, rate] : {std::pair{1, 44100}, {2, 48000}, {6, 22050}}) {
        SCOPED_TRACE(channels);
        settings.audio = MediaWriter::AudioSettings{channels, rate, 128000};
        const std::string fresh = path("fresh-" + std::to_string(channels) + ".mp4");
        auto writer = MediaWriter::create(fresh, settings, &error);
        ASSERT_TRUE(writer) << error.description();
        std::vector<std::int16_t> samples(static_cast<std::size_t>(channels) * 2048, 100);
        EXPECT_EQ(writer->appendAudioSamples(samples.data(), 2048), std::nullopt);
        EXPECT_EQ(writer->finish(), std::nullopt);
    }

    settings.replaceExisting = true;
    auto replacing = MediaWriter::create(path("taken.mp4"), settings);
    ASSERT_TRUE(replacing);
    std::vector<uint8_t> pixels(64 * 48 * 4, 128);
    ASSERT_EQ(replacing->appendVideoFrame(pixels.data(), 64 * 4, 0), std::nullopt);
    EXPECT_EQ(replacing->finish(), std::nullopt);
    EXPECT_TRUE(MediaSummary::read(path("taken.mp4")));
}

TEST_F(MediaWriterTest, RefusesUnusableSettingsAndFrames) {
    MediaWriter::Settings none;
    MediaWriter::Settings odd;
    odd.video = sized(63, 48);
    MediaWriter::Settings badRotation;
    badRotation.video = sized(64, 48);
    badRotation.rotation = 45;
    for (const auto* settings : {&none, &odd, &badRotation}) {
        Error error;
        EXPECT_FALSE(MediaWriter::create(path("bad.mp4"), *settings, &error));
        EXPECT_EQ(error.domain(), MediaError::domain);
        EXPECT_FALSE(fs::exists(path("bad.mp4")));
    }
    MediaWriter::Settings fine;
    fine.video = sized(64, 48);
    Error error;
    EXPECT_FALSE(MediaWriter::create(path("no/such/folder/x.mp4"), fine, &error));
    EXPECT_EQ(error.domain(), POSIXError::domain);
    EXPECT_EQ(error.code(), ENOENT);

    MediaWriter::Settings videoOnly;
    videoOnly.video = sized(64, 48);
    auto writer = MediaWriter::create(path("order.mp4"), videoOnly);
    ASSERT_TRUE(writer);
    std::vector<uint8_t> pixels(64 * 48 * 4, 0);
    ASSERT_EQ(writer->appendVideoFrame(pixels.data(), 64 * 4, 0.5), std::nullopt);
    EXPECT_FALSE(writer->appendVideoFrame(pixels.data(), 64 * 4, 0.5).ok());
    EXPECT_FALSE(writer->appendVideoFrame(pixels.data(), 64 * 4, 0.1).ok());
    EXPECT_FALSE(writer->appendVideoFrame(pixels.data(), 32 * 4, 0.55).ok());
    int16_t sample[2] = {};
    EXPECT_FALSE(writer->appendAudioSamples(sample, 1).ok());
    EXPECT_EQ(writer->appendVideoFrame(pixels.data(), 64 * 4, 0.6), std::nullopt);
    EXPECT_EQ(writer->finish(), std::nullopt);
    EXPECT_TRUE(MediaSummary::read(path("order.mp4")));
}

TEST_F(MediaWriterTest, ProbeRejectsFilesThatHoldNoMedia) {
    std::ofstream(path("notes.mov")) << "These are plain words, not a movie.\n";
    Error error;
    EXPECT_FALSE(MediaSummary::read(path("notes.mov"), &error));
    EXPECT_EQ(error.domain(), MediaError::domain);
    EXPECT_EQ(error.code(), MediaError::fileFormatNotRecognized);

    EXPECT_FALSE(MediaSummary::read(path("missing.mov"), &error));
    EXPECT_EQ(error.domain(), POSIXError::domain);
    EXPECT_EQ(error.code(), ENOENT);
}

}  // namespace
}  // namespace pindle::platform
