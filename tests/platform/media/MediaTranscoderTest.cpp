#include "platform/media/MediaTranscoder.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/MediaWriter.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/MediaSummary.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

namespace fs = std::filesystem;
using testing::MediaSummary;
using Status = MediaTranscoder::Status;

constexpr double timeout = 60;

struct Source {
    int width = 64;
    int height = 48;
    int rotation = 0;
    int frames = 6;
    double frameRate = 12;
    bool video = true;
    bool audio = true;
};

// What a finished run reported, gathered on the transcoder's queue.
struct Outcome {
    std::atomic<int> calls{0};
    std::atomic<bool> done{false};
    Status status = Status::unknown;
    std::optional<Error> error;
};

class MediaTranscoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = pindle::testing::makeScratchFolder("transcoder-");
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    std::string makeSource(const std::string& name, const Source& source) {
        MediaWriter::Settings settings;
        settings.container = MediaWriter::Container::mov;
        settings.rotation = source.rotation;
        if (source.video) {
            settings.video.emplace();
            settings.video->width = source.width;
            settings.video->height = source.height;
            settings.video->frameRate = source.frameRate;
        }
        if (source.audio) {
            settings.audio.emplace();
        }
        const std::string file = path(name);
        Error error;
        auto writer = MediaWriter::create(file, settings, &error);
        EXPECT_TRUE(writer) << error.description();
        if (!writer)
            return file;
        std::vector<uint8_t> pixels(static_cast<size_t>(source.width) * source.height * 4);
        for (int i = 0; source.video && i < source.frames; ++i) {
            std::fill(pixels.begin(), pixels.end(), static_cast<uint8_t>(i * 30));
            EXPECT_EQ(
                writer->appendVideoFrame(pixels.data(), source.width * 4, i / source.frameRate),
                std::nullopt);
        }
        const auto count = static_cast<size_t>(44100 * source.frames / source.frameRate);
        std::vector<int16_t> samples(count * 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<int16_t>(6000 * std::sin(i * 0.03));
        }
        if (source.audio) {
            EXPECT_EQ(writer->appendAudioSamples(samples.data(), count), std::nullopt);
        }
        EXPECT_EQ(writer->finish(), std::nullopt);
        return file;
    }

    static void run(MediaTranscoder& transcoder, Outcome& outcome) {
        ASSERT_TRUE(transcoder.start([&outcome](Status status, std::optional<Error> error) {
            outcome.status = status;
            outcome.error = std::move(error);
            ++outcome.calls;
            outcome.done = true;
        }));
        ASSERT_TRUE(MainThread::runUntil([&] { return outcome.done.load(); }, timeout));
        // A second completion would come on the same serial queue; let it drain.
        ASSERT_TRUE(pindle::testing::drain(transcoder.queue()));
        EXPECT_EQ(outcome.calls.load(), 1);
    }

    static MediaTranscoder::Settings sized(int width, int height) {
        MediaTranscoder::Settings settings;
        settings.video.emplace();
        settings.video->width = width;
        settings.video->height = height;
        settings.audio.emplace();
        return settings;
    }

    fs::path folder_;
};

TEST_F(MediaTranscoderTest, WritesTheRequestedFormatWhateverTheSource) {
    struct Case {
        const char* name;
        Source source;
        int width, height;  // requested
        Size expected;
    };
    const Case cases[] = {
        {"plain", {}, 128, 96, {128, 96}},
        {"quarter turn", {.rotation = 90}, 96, 128, {96, 128}},
        {"half turn, letterboxed", {.rotation = 180}, 64, 64, {64, 64}},
        {"odd size rounds down to even", {}, 97, 73, {96, 72}},
        {"video only", {.audio = false}, 64, 48, {64, 48}},
        {"audio only", {.video = false}, 64, 48, {0, 0}},
        {"slow source", {.frames = 3, .frameRate = 6}, 64, 48, {64, 48}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = makeSource("source.mov", c.source);
        const std::string output = path("output.mp4");
        auto transcoder = MediaTranscoder::create(source, output, sized(c.width, c.height));
        Outcome outcome;
        run(*transcoder, outcome);
        ASSERT_EQ(outcome.status, Status::completed) << outcome.error->description();
        EXPECT_EQ(transcoder->status(), Status::completed);
        EXPECT_EQ(transcoder->progress(), 1.0f);

        Error error;
        auto probe = MediaSummary::read(output, &error);
        ASSERT_TRUE(probe) << error.description();
        EXPECT_EQ(probe->hasVideo, c.source.video);
        EXPECT_EQ(probe->hasAudio, c.source.audio);
        EXPECT_NEAR(probe->duration, c.source.frames / c.source.frameRate, 0.1);
        if (c.source.video) {
            EXPECT_EQ(probe->videoCodec, "h264");
            EXPECT_EQ(probe->displaySize(), c.expected);
            EXPECT_EQ(probe->naturalSize, c.expected);  // the turn is in the pixels now
            EXPECT_NEAR(probe->nominalFrameRate, c.source.frameRate, 0.5);
        }
        if (c.source.audio) {
            EXPECT_EQ(probe->audioCodec, "aac");
            EXPECT_EQ(probe->audioChannels, 2);
            EXPECT_EQ(probe->audioSampleRate, 44100);
        }
        fs::remove(output);
    }
}

TEST_F(MediaTranscoderTest, TurnsAndFitsThePictureWithBlackBars) {
    // A stored 64x32 picture, red on its left half and green on its right, shown turned by
    // the source's rotation inside a 64x64 frame (66 high: bars of odd height).
    const int width = 64;
    const int height = 32;
    enum Colour { black, red, green };
    struct Spot {
        int x, y;
        Colour colour;
    };
    struct Case {
        const char* name;
        int rotation;
        int outputHeight;
        bool hostRenders;  // a frame renderer that leaves the picture as drawn
        std::vector<Spot> spots;
    };
    const std::vector<Spot> upright = {{32, 4, black}, {16, 32, red}, {48, 32, green}};
    const std::vector<Spot> quarter = {{4, 32, black}, {32, 16, red}, {32, 48, green}};
    const Case cases[] = {
        {"upright", 0, 64, false, upright},
        {"quarter turn", 90, 64, false, quarter},
        {"half turn", 180, 64, false, {{32, 60, black}, {16, 32, green}, {48, 32, red}}},
        {"three quarters", 270, 64, false, {{60, 32, black}, {32, 16, green}, {32, 48, red}}},
        {"odd bars", 0, 66, false, {{32, 4, black}, {16, 33, red}, {48, 33, green}}},
        {"drawn by the host", 90, 64, true, quarter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MediaWriter::Settings settings;
        settings.container = MediaWriter::Container::mov;
        settings.rotation = c.rotation;
        settings.video.emplace();
        settings.video->width = width;
        settings.video->height = height;
        const std::string source = path("halves.mov");
        auto writer = MediaWriter::create(source, settings);
        ASSERT_TRUE(writer);
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
        for (size_t i = 0; i < pixels.size(); i += 4) {
            const bool left = (i / 4) % width < static_cast<size_t>(width / 2);
            pixels[i] = left ? 255 : 0;
            pixels[i + 1] = left ? 0 : 255;
            pixels[i + 2] = 0;
            pixels[i + 3] = 255;
        }
        for (int frame = 0; frame < 3; ++frame) {
            ASSERT_EQ(writer->appendVideoFrame(pixels.data(), width * 4, frame / 30.0),
                      std::nullopt);
        }
        ASSERT_EQ(writer->finish(), std::nullopt);

        auto transcode = sized(64, c.outputHeight);
        if (c.hostRenders) {
            transcode.frameRenderer = [](const PixelBuffer&, double, PixelBuffer&) {
                return true;
            };
        }
        const std::string output = path("turned.mp4");
        auto transcoder = MediaTranscoder::create(source, output, transcode);
        Outcome outcome;
        run(*transcoder, outcome);
        ASSERT_EQ(outcome.status, Status::completed) << outcome.error->description();

        AssetImageGenerator generator(URLAsset::make(URL::fileURLWithPath(output)));
        auto image = generator.copyImageAtTime(MediaTime::zero());
        ASSERT_TRUE(image);
        ASSERT_EQ(image->pixelWidth(), 64);
        ASSERT_EQ(image->pixelHeight(), c.outputHeight);
        for (const auto& spot : c.spots) {
            const Image::Pixel pixel = image->pixelAt(spot.x, spot.y);
            SCOPED_TRACE(::testing::Message()
                         << "at " << spot.x << "," << spot.y << ": " << int(pixel.red) << " "
                         << int(pixel.green) << " " << int(pixel.blue));
            EXPECT_EQ(pixel.red > 160, spot.colour == red);
            EXPECT_EQ(pixel.green > 160, spot.colour == green);
            EXPECT_LT(pixel.blue, 60);
        }
        fs::remove(source);
        fs::remove(output);
    }
}

TEST_F(MediaTranscoderTest, ResamplesToTheRequestedFrameRateAndReportsProgress) {
    const std::string source = makeSource("source.mov", {.frames = 5, .frameRate = 10});
    auto settings = sized(64, 48);
    settings.video->frameRate = 30;
    settings.audio->channels = 1;
    settings.audio->sampleRate = 22050;
    settings.optimizeForNetworkUse = true;
    settings.metadata = {{"com.apple.quicktime.creationdate", "2024-01-02T03:04:05Z"}};
    auto transcoder = MediaTranscoder::create(source, path("output.mp4"), settings);
    std::vector<float> reported;  // touched only on the transcoder's queue until it completes
    transcoder->setProgressHandler([&](float progress) { reported.push_back(progress); });
    Outcome outcome;
    run(*transcoder, outcome);
    ASSERT_EQ(outcome.status, Status::completed);

    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_GT(reported.front(), 0.0f);
    EXPECT_FLOAT_EQ(reported.back(), 1.0f);

    auto probe = MediaSummary::read(path("output.mp4"));
    ASSERT_TRUE(probe);
    EXPECT_NEAR(probe->nominalFrameRate, 30, 0.5);
    EXPECT_NEAR(probe->duration, 0.5, 0.05);
    EXPECT_EQ(probe->audioChannels, 1);
    EXPECT_EQ(probe->audioSampleRate, 22050);
    EXPECT_EQ(probe->metadata["com.apple.quicktime.creationdate"], "2024-01-02T03:04:05Z");

    // Optimised for network use: the index comes before the media data.
    std::ifstream file(path("output.mp4"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_NE(bytes.find("moov"), std::string::npos);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

TEST_F(MediaTranscoderTest, CancellingDeletesThePartialOutputAndCompletesOnce) {
    const std::string source = makeSource("source.mov", {.frames = 24});
    const std::string output = path("output.mp4");

    // Cancelled in the middle of the run, from its first progress report.
    auto transcoder = MediaTranscoder::create(source, output, sized(64, 48));
    std::atomic<bool> sawPartialFile{false};
    transcoder->setProgressHandler([&](float) {
        sawPartialFile = sawPartialFile || fs::exists(output);
        transcoder->cancel();
    });
    Outcome outcome;
    run(*transcoder, outcome);
    EXPECT_EQ(outcome.status, Status::cancelled);
    EXPECT_EQ(outcome.error, std::nullopt);
    EXPECT_EQ(transcoder->status(), Status::cancelled);
    EXPECT_TRUE(sawPartialFile.load());
    EXPECT_FALSE(fs::exists(output));
    transcoder->setProgressHandler(nullptr);

    // Cancelled before it starts: nothing is written at all.
    auto early = MediaTranscoder::create(source, output, sized(64, 48));
    early->cancel();
    Outcome earlyOutcome;
    run(*early, earlyOutcome);
    EXPECT_EQ(earlyOutcome.status, Status::cancelled);
    EXPECT_FALSE(fs::exists(output));

    // A transcoder runs once.
    EXPECT_FALSE(early->start([](Status, std::optional<Error>) { ADD_FAILURE(); }));
}

TEST_F(MediaTranscoderTest, FailuresCarryTheirCauseAndLeaveNoOutput) {
    std::ofstream(path("notes.mov")) << "not a movie at all";
    const std::string good = makeSource("source.mov", {});
    struct Case {
        const char* name;
        std::string source;
        std::string output;
        const char* domain;
        std::int64_t code;
    };
    const Case cases[] = {
        {"no media", path("notes.mov"), path("out.mp4"), MediaError::domain,
         MediaError::fileFormatNotRecognized},
        {"missing source", path("missing.mov"), path("out.mp4"), POSIXError::domain, ENOENT},
        {"output folder missing", good, path("no/folder/out.mp4"), POSIXError::domain, ENOENT},
        {"output is the source", good, good, MediaError::domain, MediaError::exportFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto transcoder = MediaTranscoder::create(c.source, c.output, sized(64, 48));
        Outcome outcome;
        run(*transcoder, outcome);
        EXPECT_EQ(outcome.status, Status::failed);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->domain(), c.domain);
        EXPECT_EQ(outcome.error->code(), c.code);
        EXPECT_EQ(transcoder->error(), outcome.error);
        if (c.output != good) {
            EXPECT_FALSE(fs::exists(c.output));
        }
    }
    EXPECT_TRUE(MediaSummary::read(good)) << "the source must survive";
}

}  // namespace
}  // namespace pindle::platform
