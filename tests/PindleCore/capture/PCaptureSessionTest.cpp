#include "PindleCore/capture/PCaptureSession.hpp"

#include <gtest/gtest.h>

#include <array>

#include <atomic>
#include <filesystem>

#include "platform/app/Application.hpp"
#include "platform/capture/SyntheticCaptureSource.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::legacy {
namespace {

namespace fs = std::filesystem;
using platform::MediaTime;

class QRDelegate : public PCaptureSessionDelegate {
  public:
    bool respondsToQROutput() const override { return true; }
    void captureSessionQROutput(PCaptureSession&, const std::string& text) override {
        codes.push_back(text);
    }
    std::vector<std::string> codes;  // touched on the capture queue, read after a flush
};

class PCaptureSessionTest : public platform::testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        platform::CaptureHardware::shared().reset();
        platform::SyntheticCaptureSource::shared().setManual(false);
        platform::SyntheticCaptureSource::shared().setQRCode(std::nullopt);
        platform::Application::shared().setStatusBarOrientation(1);
    }
    void TearDown() override {
        if (capture_) {
            capture_->stopCapture();
            flush();
            capture_.reset();
        }
        platform::SyntheticCaptureSource::shared().setManual(false);
        platform::SyntheticCaptureSource::shared().setQRCode(std::nullopt);
        VirtualTimeTest::TearDown();
    }
    void flush() {
        capture_->captureQueue()->sync([] {});
        platform::MainThread::drain();
    }
    void startCapturing(int mode = PCaptureModeBackCamera) {
        capture_ = PCaptureSession::make();
        capture_->startCaptureWithCaptureSessionMode(mode);
        flush();
        ASSERT_EQ(capture_->state(), PCaptureSessionStateCapturing);
    }
    void stopRecording() {
        std::atomic<bool> done{false};
        capture_->stopRecordingWithCompletionBlock([&] { done = true; });
        ASSERT_TRUE(platform::testing::eventually([&] { return done.load(); }));
        EXPECT_EQ(capture_->state(), PCaptureSessionStateCapturing);
    }
    std::shared_ptr<platform::URLAsset> asset(const std::string& name) {
        return platform::URLAsset::make(platform::URL::fileURLWithPath(folder_ / name));
    }

    platform::testing::TemporaryFolder folder_;
    std::shared_ptr<PCaptureSession> capture_;
};

TEST_F(PCaptureSessionTest, RecordsThreeResolutionsAtOnceInPortrait) {
    startCapturing();
    EXPECT_EQ(capture_->rectToRecord(), platform::ui::Rect::make(0, -90, 720, 1280));
    capture_->startRecordingWithFileNamePattern(folder_ / "rec-%@-%d.mp4",
                                                {"720p", "540p", "360p"});
    flush();
    ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
    advance(1.5);
    flush();
    stopRecording();

    std::vector<std::uintmax_t> sizes;
    for (const char* resolution : {"720p", "540p", "360p"}) {
        // The pattern is no format: "%d" stays as it is.
        const std::string name = std::string("rec-") + resolution + "-%d.mp4";
        ASSERT_TRUE(fs::exists(folder_ / name)) << name;
        sizes.push_back(fs::file_size(folder_ / name));
        const auto video = asset(name)->tracksWithMediaType(platform::MediaType::video);
        ASSERT_EQ(video.size(), 1u);
        EXPECT_EQ(video[0].naturalSize, (platform::Size{720, 1280}));
        EXPECT_NEAR(video[0].duration.seconds(), 1.5, 0.1);
        EXPECT_EQ(asset(name)->tracksWithMediaType(platform::MediaType::audio).size(), 1u);
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GT(sizes[1], sizes[2]);

    platform::AssetImageGenerator generator(asset("rec-720p-%d.mp4"));
    std::optional<int> previous;
    for (int i = 0; i < 40; i += 3) {
        const auto image = generator.copyImageAtTime(MediaTime(i * 1000 / 30 + 5, 1000));
        ASSERT_TRUE(image);
        const auto number = platform::testing::readFrameNumber(*image);
        ASSERT_TRUE(number);
        if (previous) {
            EXPECT_EQ(*number - *previous, 3) << i;
        }
        previous = number;
    }
}

TEST_F(PCaptureSessionTest, GapsAreFilledEarlySoundDroppedAndQRCodesDeduplicated) {
    auto& source = platform::SyntheticCaptureSource::shared();
    source.setManual(true);
    startCapturing();
    auto delegate = std::make_shared<QRDelegate>();
    capture_->setDelegate(delegate);
    capture_->startRecordingWithFileNamePattern(folder_ / "gap-%@.mp4", {"360p"});
    flush();
    const auto at = [](std::int64_t micros) {
        return MediaTime(micros, 1000000) + MediaTime(10, 1);
    };
    source.pushAudio(at(0));  // before the first picture: dropped
    source.pushVideo(at(0));
    source.pushVideo(at(100000));  // a 100 ms gap: two fillers
    for (std::int64_t t = 133363; t < 400000; t += 33363) source.pushVideo(at(t));
    flush();
    stopRecording();

    platform::AssetImageGenerator generator(asset("gap-360p.mp4"));
    const struct {
        int ms;
        double frameStart;
        int frameNumber;
    } cases[] = {{20, 0, 0}, {40, 0.033363, 0}, {70, 0.066726, 0}, {110, 0.1, 1}};
    for (const auto& c : cases) {
        MediaTime actual;
        const auto image = generator.copyImageAtTime(MediaTime(c.ms, 1000), &actual);
        ASSERT_TRUE(image) << c.ms;
        EXPECT_NEAR(actual.seconds(), c.frameStart, 0.0011) << c.ms;
        EXPECT_EQ(platform::testing::readFrameNumber(*image), c.frameNumber) << c.ms;
    }
    EXPECT_TRUE(asset("gap-360p.mp4")->tracksWithMediaType(platform::MediaType::audio).empty() ||
                asset("gap-360p.mp4")
                        ->tracksWithMediaType(platform::MediaType::audio)[0]
                        .duration.seconds() < 0.05)
        << "the early sound is not written";

    // A QR code is reported once within 4 s, again after them.
    source.pushMetadata(platform::MetadataObject::typeQRCode, "code");
    source.pushMetadata(platform::MetadataObject::typeQRCode, "code");
    flush();
    advance(4.5);
    source.pushMetadata(platform::MetadataObject::typeQRCode, "code");
    flush();
    EXPECT_EQ(delegate->codes, (std::vector<std::string>{"code", "code"}));
}

TEST_F(PCaptureSessionTest, TorchZoomAndFocusUnderTheLockAndStoppingWithoutWriters) {
    startCapturing();
    capture_->setZoomFactor(0.5f);
    EXPECT_FLOAT_EQ(capture_->zoomFactor(), 1.0f);
    capture_->setZoomFactor(9.0f);
    EXPECT_FLOAT_EQ(capture_->zoomFactor(), 4.0f);
    capture_->setTorch(true);
    EXPECT_TRUE(capture_->torch());
    EXPECT_TRUE(capture_->torchEnabled());
    platform::CaptureHardware::shared().setConfigurationLocksFail(true);
    capture_->setTorch(false);
    capture_->setFocusPoint({0.2, 0.3});
    EXPECT_TRUE(capture_->torch()) << "a failed lock changes nothing";
    EXPECT_EQ(capture_->focusPoint(), (platform::CapturePoint{}));
    platform::CaptureHardware::shared().setConfigurationLocksFail(false);

    std::atomic<bool> answered{false};
    capture_->setCaptureMode(PCaptureModeAudioOnly, [&](bool ok) { answered = ok; });
    flush();
    EXPECT_TRUE(answered);
    EXPECT_FALSE(capture_->torchEnabled());

    // Every writer fails to be made (the file exists): stopping still completes.
    platform::testing::writeText(folder_ / "taken-720p.mp4", "x");
    capture_->startRecordingWithFileNamePattern(folder_ / "taken-%@.mp4", {"720p"});
    flush();
    stopRecording();
}

TEST_F(PCaptureSessionTest, PlaceholderShowsTheMicrophoneImageOnLilac) {
    capture_ = PCaptureSession::make();
    const auto picture = capture_->micPixelBuffer();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width(), 480);
    ASSERT_EQ(picture->height(), 480);
    EXPECT_EQ(picture->format(), platform::PixelBuffer::Format::argb);
    const auto rgbAt = [&](int x, int y) {
        const std::uint8_t* pixel = picture->baseAddress() + y * picture->bytesPerRow() + x * 4;
        return std::array<int, 3>{pixel[1], pixel[2], pixel[3]};
    };
    const std::array<int, 3> lilac{156, 141, 255}, white{255, 255, 255};
    EXPECT_EQ(rgbAt(0, 0), lilac);
    EXPECT_EQ(rgbAt(479, 479), lilac);
    // Inside the microphone's head and its base, white; the image's transparent corner, in
    // the same rectangle, lets the field through (a drawn shape, not a filled box).
    EXPECT_EQ(rgbAt(240, 210), white);
    EXPECT_EQ(rgbAt(240, 296), white);
    EXPECT_EQ(rgbAt(210, 183), lilac);
    EXPECT_EQ(capture_->micPixelBuffer(), picture) << "made once";
}

}  // namespace
}  // namespace pindle::legacy
