#include "platform/media/AssetWriter.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <vector>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/AssetWriterInputPixelBufferAdaptor.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle::platform {
namespace {

namespace fs = std::filesystem;
using Status = AssetWriter::Status;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr auto bound = std::chrono::seconds(20);

// A picture carrying `frame` as its code, in `format`, of any size.
PixelBufferPtr codedPicture(PixelBuffer::Format format, int width, int height, int frame) {
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4, 110);
    testing::drawFrameNumber(rgba.data(), width, height, width * 4, frame);
    auto buffer = PixelBuffer::make(format, width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t grey = rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            if (format == PixelBuffer::Format::nv12) {
                buffer->baseAddress(0)[y * buffer->bytesPerRow(0) + x] = grey;
            } else {
                std::uint8_t* pixel = buffer->baseAddress(0) + y * buffer->bytesPerRow(0) + x * 4;
                pixel[0] = pixel[1] = pixel[2] = pixel[3] = grey;
                pixel[format == PixelBuffer::Format::argb ? 0 : 3] = 255;  // opaque
            }
        }
    }
    if (format == PixelBuffer::Format::nv12) {
        std::fill_n(buffer->baseAddress(1), buffer->bytesPerRow(1) * height / 2, 128);
    }
    return buffer;
}

SampleBufferPtr tone(MediaTime at, std::size_t frames = 1024) {
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<std::int16_t>((i % 100) * 200);
    return SampleBuffer::makeAudio({44100, 1}, std::move(samples), at);
}

MediaTime seconds(double s) {
    return MediaTime::makeWithSeconds(s, 600);
}

class AssetWriterTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return folder_ / name; }

    // A writer with an H.264 input (real time) and an AAC input, started.
    AssetWriterPtr startedWriter(const std::string& name, AssetWriterInputPtr* video,
                                 AssetWriterInputPtr* audio) {
        auto writer =
            AssetWriter::make(URL::fileURLWithPath(path(name)), AssetWriter::fileTypeMPEG4);
        EXPECT_TRUE(writer);
        *video = AssetWriterInput::make(AssetWriterInput::VideoSettings{
            .width = kWidth,
            .height = kHeight,
            .averageBitRate = 1'000'000,
            .profileLevel = AssetWriterInput::profileH264HighAutoLevel,
            .maxKeyFrameInterval = 30});
        (*video)->setExpectsMediaDataInRealTime(true);
        *audio = AssetWriterInput::make(AssetWriterInput::AudioSettings{});
        EXPECT_TRUE(writer->canAdd(*video));
        writer->add(*video);
        writer->add(*audio);
        EXPECT_FALSE(writer->canAdd(AssetWriterInput::make(AssetWriterInput::AudioSettings{})));
        EXPECT_TRUE(writer->startWriting());
        return writer;
    }

    static void finish(const AssetWriterPtr& writer) {
        std::promise<void> done;
        writer->finishWriting([&] { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(bound), std::future_status::ready);
    }

    testing::TemporaryFolder folder_;
};

TEST_F(AssetWriterTest, RefusesAnExistingFileAMissingFolderAndOtherURLs) {
    testing::writeText(folder_ / "taken.mp4", "already here");
    const struct {
        URL url;
        std::string type;
        std::int64_t code;
    } cases[] = {
        {URL::fileURLWithPath(path("taken.mp4")), AssetWriter::fileTypeMPEG4,
         MediaError::fileAlreadyExists},
        {URL::fileURLWithPath(path("missing/clip.mp4")), AssetWriter::fileTypeMPEG4,
         MediaError::invalidArgument},
        {*URL::fromString("http://example.com/clip.mp4"), AssetWriter::fileTypeMPEG4,
         MediaError::invalidArgument},
        {URL::fileURLWithPath(path("clip.avi")), "public.avi", MediaError::invalidArgument},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_FALSE(AssetWriter::make(c.url, c.type, &error)) << c.url.absoluteString();
        EXPECT_EQ(error.code(), c.code) << c.url.absoluteString();
    }
    EXPECT_EQ(testing::readText(folder_ / "taken.mp4"), "already here");
}

// Two writers made for one path before either started: the file is made once, by the first
// to start; the second fails with the writer's error and leaves it whole.
TEST_F(AssetWriterTest, OfTwoWritersForOnePathOnlyTheFirstToStartWritesIt) {
    const URL url = URL::fileURLWithPath(path("shared.mp4"));
    std::vector<AssetWriterPtr> writers;
    std::vector<std::shared_ptr<AssetWriterInputPixelBufferAdaptor>> adaptors;
    for (int i = 0; i < 2; ++i) {
        auto writer = AssetWriter::make(url, AssetWriter::fileTypeMPEG4);
        ASSERT_TRUE(writer);
        auto video = AssetWriterInput::make(
            AssetWriterInput::VideoSettings{.width = kWidth, .height = kHeight});
        writer->add(video);
        adaptors.push_back(AssetWriterInputPixelBufferAdaptor::make(video));
        writers.push_back(writer);
    }
    ASSERT_TRUE(writers[0]->startWriting());
    EXPECT_FALSE(writers[1]->startWriting());
    EXPECT_EQ(writers[1]->status(), Status::failed);
    ASSERT_TRUE(writers[1]->error());
    EXPECT_EQ(writers[1]->error()->code(), MediaError::fileAlreadyExists);

    writers[0]->startSession(MediaTime::zero());
    for (int frame = 0; frame < 10; ++frame)
        ASSERT_TRUE(
            adaptors[0]->append(codedPicture(PixelBuffer::Format::bgra, kWidth, kHeight, frame),
                                seconds(frame / 30.0)));
    finish(writers[0]);
    writers[1]->cancelWriting();
    writers.clear();
    const auto asset = URLAsset::make(url);
    const auto video = asset->tracksWithMediaType(MediaType::video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_NEAR(video[0].duration.seconds(), 10 / 30.0, 0.01);
    const auto last = AssetImageGenerator(asset).copyImageAtTime(seconds(9.2 / 30));
    ASSERT_TRUE(last);
    EXPECT_EQ(testing::readFrameNumber(*last), 9);
}

TEST_F(AssetWriterTest, CameraAndDrawnPicturesAndLateAudioShareOneTimeline) {
    AssetWriterInputPtr video, audio;
    auto writer = startedWriter("recording.mp4", &video, &audio);
    auto adaptor = AssetWriterInputPixelBufferAdaptor::make(video);
    std::vector<int> statuses;
    writer->observe(AssetWriter::statusKey, static_cast<unsigned>(KVOOption::newValue),
                    [&](const KVOChange& change) {
                        statuses.push_back(static_cast<int>(*change.newValue.asWholeNumber()));
                    });

    const double origin = 10.0;  // source times need not start at zero
    EXPECT_FALSE(adaptor->append(codedPicture(PixelBuffer::Format::argb, kWidth, kHeight, 0),
                                 seconds(origin)))
        << "nothing is written before the session starts";
    writer->startSession(seconds(origin));
    EXPECT_TRUE(audio->append(tone(seconds(origin - 0.2)))) << "early audio is dropped";
    constexpr int kFrames = 45;
    for (int i = 0; i < kFrames; ++i) {
        // Camera frames at twice the size and drawn pictures at half, alternately.
        const auto picture =
            i % 2 == 0 ? codedPicture(PixelBuffer::Format::nv12, kWidth * 2, kHeight * 2, i)
                       : codedPicture(PixelBuffer::Format::argb, kWidth / 2, kHeight / 2, i);
        ASSERT_TRUE(adaptor->append(picture, MediaTime(origin * 30 + i, 30))) << i;
    }
    EXPECT_FALSE(adaptor->append(codedPicture(PixelBuffer::Format::bgra, kWidth, kHeight, 0),
                                 MediaTime(origin * 30 + 3, 30)))
        << "a frame behind the last one is refused";
    // Audio from 0.5 s on, with a 0.2 s hole, up to the end of the video.
    for (double t = 0.5; t < 1.5; t += 1024.0 / 44100) {
        if (t < 0.9 || t > 1.1) {
            ASSERT_TRUE(audio->append(tone(seconds(origin + t))));
        }
    }
    EXPECT_TRUE(writer->status() == Status::writing);
    finish(writer);
    EXPECT_EQ(writer->status(), Status::completed);
    EXPECT_EQ(statuses, std::vector<int>{2});
    EXPECT_FALSE(video->isReadyForMoreMediaData());
    EXPECT_FALSE(audio->append(tone(seconds(origin + 2))));

    const auto asset = URLAsset::make(URL::fileURLWithPath(path("recording.mp4")));
    const auto videoTracks = asset->tracksWithMediaType(MediaType::video);
    const auto audioTracks = asset->tracksWithMediaType(MediaType::audio);
    ASSERT_EQ(videoTracks.size(), 1u);
    ASSERT_EQ(audioTracks.size(), 1u);
    EXPECT_EQ(videoTracks[0].naturalSize, (Size{kWidth, kHeight}));
    EXPECT_EQ(videoTracks[0].codecName, "h264");
    EXPECT_EQ(audioTracks[0].audioChannelCount, 2);
    EXPECT_NEAR(videoTracks[0].duration.seconds(), 1.5, 0.05);
    // Leading silence and the filled hole keep the audio on the video's timeline.
    EXPECT_NEAR(audioTracks[0].duration.seconds(), 1.5, 0.06);

    AssetImageGenerator generator(asset);
    for (int frame : {0, 1, 2, 17, 44}) {
        const auto image = generator.copyImageAtTime(MediaTime(frame * 1000 / 30 + 5, 1000));
        ASSERT_TRUE(image);
        EXPECT_EQ(testing::readFrameNumber(*image), frame);
    }
}

TEST_F(AssetWriterTest, PicturesOfAnotherShapeFillTheFrameCutEvenly) {
    AssetWriterInputPtr video, audio;
    auto writer = startedWriter("fill.mp4", &video, &audio);
    writer->startSession(MediaTime::zero());
    // Twice as wide: the outer quarters are cut off, so only the middle (white) shows.
    auto wide = PixelBuffer::make(PixelBuffer::Format::bgra, kWidth * 2, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth * 2; ++x) {
            const bool middle = x >= kWidth / 2 && x < kWidth * 3 / 2;
            std::uint8_t* pixel = wide->baseAddress() + y * wide->bytesPerRow() + x * 4;
            pixel[0] = middle ? 255 : 0;  // blue
            pixel[1] = middle ? 255 : 0;
            pixel[2] = middle ? 255 : 200;  // red outside
            pixel[3] = 255;
        }
    }
    ASSERT_TRUE(video->append(SampleBuffer::makeVideo(wide, MediaTime::zero())));
    finish(writer);
    const auto image = AssetImageGenerator(URLAsset::make(URL::fileURLWithPath(path("fill.mp4"))))
                           .copyImageAtTime(MediaTime::zero());
    ASSERT_TRUE(image);
    for (int x : {2, kWidth / 2, kWidth - 3}) {
        const auto pixel = image->pixelAt(x, kHeight / 2);
        EXPECT_GT(pixel.green, 200) << x;
        EXPECT_GT(pixel.blue, 200) << x;
    }
}

TEST_F(AssetWriterTest, FailureCancelAndAbandonLeaveNoFileAndNoWaiting) {
    // An input the encoder cannot take: starting fails, observably, and nothing waits.
    {
        auto writer =
            AssetWriter::make(URL::fileURLWithPath(path("odd.mp4")), AssetWriter::fileTypeMPEG4);
        auto video =
            AssetWriterInput::make(AssetWriterInput::VideoSettings{.width = 63, .height = 48});
        writer->add(video);
        std::vector<int> statuses;
        writer->observe(AssetWriter::statusKey, static_cast<unsigned>(KVOOption::newValue),
                        [&](const KVOChange& change) {
                            statuses.push_back(static_cast<int>(*change.newValue.asWholeNumber()));
                        });
        EXPECT_FALSE(writer->startWriting());
        EXPECT_EQ(writer->status(), Status::failed);
        EXPECT_EQ(statuses, std::vector<int>{3});
        EXPECT_TRUE(writer->error().has_value());
        EXPECT_FALSE(video->isReadyForMoreMediaData());
        EXPECT_FALSE(video->append(SampleBuffer::makeVideo(
            PixelBuffer::make(PixelBuffer::Format::argb, 64, 48), MediaTime::zero())));
        finish(writer);  // the completion still comes
        EXPECT_EQ(writer->status(), Status::failed);
    }
    // Cancelled, and abandoned while writing: both remove what was written.
    for (const bool cancel : {true, false}) {
        const std::string name = cancel ? "cancelled.mp4" : "abandoned.mp4";
        {
            AssetWriterInputPtr video, audio;
            auto writer = startedWriter(name, &video, &audio);
            writer->startSession(MediaTime::zero());
            ASSERT_TRUE(video->append(SampleBuffer::makeVideo(
                codedPicture(PixelBuffer::Format::argb, kWidth, kHeight, 0), MediaTime::zero())));
            EXPECT_TRUE(fs::exists(path(name)));
            if (cancel) {
                writer->cancelWriting();
                EXPECT_EQ(writer->status(), Status::cancelled);
                EXPECT_FALSE(audio->isReadyForMoreMediaData());
            }
        }
        EXPECT_FALSE(fs::exists(path(name))) << name;
    }
}

}  // namespace
}  // namespace pindle::platform
