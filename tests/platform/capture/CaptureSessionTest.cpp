#include "platform/capture/CaptureSession.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "platform/capture/private/SyntheticCaptureSource.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/log/StandardError.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/Gate.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::platform {
namespace {

// The frame number a synthetic picture carries, read from its luma (or grey) top band.
int frameNumberOf(const PixelBuffer& picture) {
    const int band = std::max(1, picture.height() / 4);
    const int bytesPerPixel = picture.format() == PixelBuffer::Format::nv12 ? 1 : 4;
    const int channel = picture.format() == PixelBuffer::Format::bgra ? 1 : 0;
    int number = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int x = (2 * bit + 1) * picture.width() / 32;
        const std::uint8_t value =
            picture.baseAddress(0)[band / 2 * picture.bytesPerRow(0) + x * bytesPerPixel + channel];
        number = (number << 1) | (value > 160 ? 1 : 0);
    }
    return number;
}

class Recorder : public CaptureOutputSampleBufferDelegate,
                 public CaptureMetadataOutputObjectsDelegate {
  public:
    void captureOutput(CaptureOutput& output, const SampleBufferPtr& sample,
                       CaptureConnection&) override {
        (output.mediaType() == CaptureMediaType::video ? pictures : sounds).push_back(sample);
    }
    void captureOutput(CaptureMetadataOutput&, const std::vector<MetadataObject>& objects,
                       CaptureConnection&) override {
        metadata.push_back(objects);
    }
    std::vector<SampleBufferPtr> pictures, sounds;
    std::vector<std::vector<MetadataObject>> metadata;
};

class CaptureSessionTest : public testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        CaptureHardware::shared().reset();
        SyntheticCaptureSource::shared().setManual(false);
        SyntheticCaptureSource::shared().setQRCode(std::nullopt);
        for (const char* name : {CaptureSession::didStartRunningNotification,
                                 CaptureSession::didStopRunningNotification,
                                 CaptureSession::wasInterruptedNotification,
                                 CaptureSession::runtimeErrorNotification}) {
            registrations_.push_back(NotificationCenter::defaultCenter().addObserverForName(
                name, nullptr, nullptr,
                [this](const Notification& n) { posted_.push_back(n.name); }));
        }
    }
    void TearDown() override {
        if (session_)
            session_->stopRunning();
        session_.reset();
        CaptureHardware::shared().reset();
        SyntheticCaptureSource::shared().setManual(false);
        for (const auto& registration : registrations_) registration->remove();
        VirtualTimeTest::TearDown();
    }

    // A session with the back camera and the microphone feeding video, audio and metadata
    // outputs whose delegate runs on the main queue; the video output keeps late pictures.
    void build(const std::string& preset = CaptureHardware::presetIFrame960x540) {
        session_ = CaptureSession::make();
        session_->addInput(
            CaptureDeviceInput::make(CaptureDevice::camera(CaptureDevicePosition::back)));
        session_->addInput(
            CaptureDeviceInput::make(CaptureDevice::defaultDevice(CaptureMediaType::audio)));
        session_->setSessionPreset(preset);
        video_ = CaptureVideoDataOutput::make();
        audio_ = CaptureAudioDataOutput::make();
        metadata_ = CaptureMetadataOutput::make();
        metadata_->setMetadataObjectTypes({MetadataObject::typeQRCode});
        for (const CaptureOutputPtr& output :
             std::vector<CaptureOutputPtr>{video_, audio_, metadata_})
            session_->addOutput(output);
        video_->setAlwaysDiscardsLateVideoFrames(false);  // a recorder: every picture
        video_->setSampleBufferDelegate(recorder_, DispatchQueue::main());
        audio_->setSampleBufferDelegate(recorder_, DispatchQueue::main());
        metadata_->setMetadataObjectsDelegate(recorder_, DispatchQueue::main());
    }
    void run(double seconds) {
        advance(seconds);
        MainThread::drain();
    }

    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    CaptureSessionPtr session_;
    std::shared_ptr<CaptureVideoDataOutput> video_;
    std::shared_ptr<CaptureAudioDataOutput> audio_;
    std::shared_ptr<CaptureMetadataOutput> metadata_;
    std::vector<NotificationCenter::RegistrationPtr> registrations_;
    std::vector<std::string> posted_;
};

TEST_F(CaptureSessionTest, DevicesLocksZoomAndAccess) {
    auto& hardware = CaptureHardware::shared();
    ASSERT_EQ(CaptureDevice::devices(CaptureMediaType::video).size(), 2u);
    auto back = CaptureDevice::camera(CaptureDevicePosition::back);
    auto front = CaptureDevice::camera(CaptureDevicePosition::front);
    EXPECT_TRUE(back->hasTorch());
    EXPECT_FALSE(front->hasTorch());
    EXPECT_TRUE(back->supportsPreset(CaptureHardware::presetIFrame960x540));
    EXPECT_FALSE(front->supportsPreset(CaptureHardware::presetIFrame960x540));

    back->setTorchMode(CaptureDevice::TorchMode::on);  // without the lock: ignored
    EXPECT_EQ(back->torchMode(), CaptureDevice::TorchMode::off);
    hardware.setConfigurationLocksFail(true);
    Error error;
    EXPECT_FALSE(back->lockForConfiguration(&error));
    hardware.setConfigurationLocksFail(false);
    ASSERT_TRUE(back->lockForConfiguration());
    back->setTorchMode(CaptureDevice::TorchMode::on);
    EXPECT_EQ(back->torchMode(), CaptureDevice::TorchMode::on);
    back->setVideoZoomFactor(1);
    back->rampToVideoZoomFactor(8, 10);  // clamped to the format's 4.0, doubling every 0.1 s
    back->unlockForConfiguration();
    advance(0.1);
    EXPECT_NEAR(back->videoZoomFactor(), 2.0, 1e-9);
    advance(1.0);
    EXPECT_DOUBLE_EQ(back->videoZoomFactor(), 4.0);
    ASSERT_TRUE(back->lockForConfiguration());
    back->setVideoZoomFactor(0.2);
    back->setTorchMode(CaptureDevice::TorchMode::off);
    back->unlockForConfiguration();
    EXPECT_DOUBLE_EQ(back->videoZoomFactor(), 1.0);

    hardware.setAuthorizationStatus(CaptureMediaType::video, CaptureAuthorizationStatus::denied);
    EXPECT_FALSE(CaptureDeviceInput::make(back, &error));
    EXPECT_EQ(error.code(), CaptureDeviceInput::notAuthorizedCode);
    hardware.reset();
    hardware.setInputCreationFails(true);
    EXPECT_FALSE(CaptureDeviceInput::make(CaptureDevice::defaultDevice(CaptureMediaType::audio)));
}

TEST_F(CaptureSessionTest, PacedOnTheClockAtThePresetSizeAndTurnedUpright) {
    build();
    session_->startRunning();
    run(1.0);
    ASSERT_EQ(recorder_->pictures.size(), 30u);
    EXPECT_NEAR(static_cast<double>(recorder_->sounds.size()), 43, 1);
    const auto& first = *recorder_->pictures.front()->imageBuffer();
    EXPECT_EQ(first.width(), 960);
    EXPECT_EQ(first.height(), 540);
    for (std::size_t i = 0; i < recorder_->pictures.size(); ++i)
        ASSERT_EQ(frameNumberOf(*recorder_->pictures[i]->imageBuffer()), static_cast<int>(i));
    EXPECT_NEAR(recorder_->pictures[3]->presentationTimeStamp().seconds() -
                    recorder_->pictures[2]->presentationTimeStamp().seconds(),
                1.0 / 30, 1e-6);
    EXPECT_EQ(recorder_->sounds.front()->numSamples(), 1024u);

    video_->connection(CaptureMediaType::video)
        ->setVideoOrientation(CaptureConnection::VideoOrientation::portrait);
    video_->setPixelFormat(PixelBuffer::Format::bgra);
    run(0.1);
    const auto& turned = *recorder_->pictures.back()->imageBuffer();
    EXPECT_EQ(turned.width(), 540);
    EXPECT_EQ(turned.height(), 960);
    EXPECT_EQ(frameNumberOf(turned), static_cast<int>(recorder_->pictures.size()) - 1);
}

// However late the pacing timers fire, samples carry their device clock's times: pictures
// whole frame periods apart (a picture that could not be handed over in time is dropped, and
// the next keeps its own time and number), sound buffers one after the other, none missing.
TEST_F(CaptureSessionTest, SamplesAreStampedOnTheDeviceClockNotWhenTheTimersFire) {
    build();
    session_->startRunning();
    // Uneven steps, several ticks falling due at once, as under load.
    for (const double step : {0.011, 0.25, 0.004, 0.3, 0.1, 0.335}) run(step);
    const auto& pictures = recorder_->pictures;
    const auto& sounds = recorder_->sounds;
    ASSERT_GE(pictures.size(), 10u);
    const MediaTime first = pictures.front()->presentationTimeStamp();
    const int firstNumber = frameNumberOf(*pictures.front()->imageBuffer());
    for (std::size_t i = 1; i < pictures.size(); ++i) {
        SCOPED_TRACE(i);
        const MediaTime since = pictures[i]->presentationTimeStamp() - first;
        ASSERT_GT(since, pictures[i - 1]->presentationTimeStamp() - first);
        const MediaTime periods = since.convertScale(30);
        ASSERT_EQ(periods, since) << "whole frame periods";
        EXPECT_EQ(frameNumberOf(*pictures[i]->imageBuffer()) - firstNumber, periods.value);
    }
    EXPECT_NEAR(static_cast<double>(sounds.size()), 43, 1);
    for (std::size_t i = 1; i < sounds.size(); ++i)
        ASSERT_EQ(sounds[i]->presentationTimeStamp() - sounds[i - 1]->presentationTimeStamp(),
                  MediaTime(1024, 44100))
            << i;
}

TEST_F(CaptureSessionTest, InterruptionRuntimeErrorAndStopFollowTheNotifications) {
    build();
    session_->startRunning();
    run(0.5);
    session_->simulateInterruption();
    const auto before = recorder_->pictures.size();
    run(0.5);
    EXPECT_EQ(recorder_->pictures.size(), before) << "nothing while interrupted";
    session_->simulateInterruptionEnded();
    run(0.5);
    EXPECT_GT(recorder_->pictures.size(), before);
    session_->simulateRuntimeError(MediaError::make(MediaError::unknown, "camera gone"));
    EXPECT_FALSE(session_->isRunning());
    const auto after = recorder_->pictures.size();
    run(0.5);
    EXPECT_EQ(recorder_->pictures.size(), after);
    EXPECT_EQ(posted_, (std::vector<std::string>{CaptureSession::didStartRunningNotification,
                                                 CaptureSession::wasInterruptedNotification,
                                                 CaptureSession::runtimeErrorNotification,
                                                 CaptureSession::didStopRunningNotification}));
}

TEST_F(CaptureSessionTest, ManualPushesKeepTheirTimesAndQRCodesReachTheMetadataOutput) {
    SyntheticCaptureSource::shared().setManual(true);
    build(CaptureHardware::presetMedium);
    session_->startRunning();
    run(1.0);
    EXPECT_TRUE(recorder_->pictures.empty()) << "nothing is paced in manual mode";
    auto& source = SyntheticCaptureSource::shared();
    const std::vector<MediaTime> times = {MediaTime(0, 1000000), MediaTime(33363, 1000000),
                                          MediaTime(133363, 1000000)};
    for (const auto& t : times) source.pushVideo(t);
    source.pushAudio(MediaTime(5000, 1000000), 512);
    source.setQRCode("https://example.com/qr");
    source.pushVideo(MediaTime(166726, 1000000));
    MainThread::drain();
    ASSERT_EQ(recorder_->pictures.size(), 4u);
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(recorder_->pictures[i]->presentationTimeStamp(), times[i]);
    EXPECT_EQ(recorder_->pictures[0]->imageBuffer()->width(), 480);
    ASSERT_EQ(recorder_->sounds.size(), 1u);
    EXPECT_EQ(recorder_->sounds[0]->numSamples(), 512u);
    ASSERT_EQ(recorder_->metadata.size(), 1u);
    EXPECT_EQ(recorder_->metadata[0][0].stringValue, "https://example.com/qr");
}

// A delegate that falls behind is lent a bounded number of samples: one picture when late
// pictures are discarded, a second of them when they are kept, ten seconds of sound. What comes
// past that is dropped, counted and logged; what was lent still arrives, in order.
TEST_F(CaptureSessionTest, ADelegateThatFallsBehindLosesSamplesPastTheBound) {
    SyntheticCaptureSource::shared().setManual(true);
    build();
    session_->startRunning();
    auto& source = SyntheticCaptureSource::shared();
    const auto pictureTime = [](int i) {
        return MediaTime(i, 30);
    };
    const auto soundTime = [](int i) {
        return MediaTime(i * 1024, 44100);
    };
    const struct {
        const char* name;
        bool video;
        bool discardsLate;
        std::size_t bound;
    } cases[] = {
        {"pictures, late ones discarded", true, true, 1},
        {"pictures, late ones kept", true, false, CaptureVideoDataOutput::maxPicturesInFlight},
        {"sound", false, false, CaptureAudioDataOutput::maxSoundBuffersInFlight},
    };
    const auto behind = DispatchQueue::create("behind");
    video_->setSampleBufferDelegate(recorder_, behind);
    audio_->setSampleBufferDelegate(recorder_, behind);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        video_->setAlwaysDiscardsLateVideoFrames(c.discardsLate);
        const std::shared_ptr<CaptureDataOutput> output =
            c.video ? std::static_pointer_cast<CaptureDataOutput>(video_) : audio_;
        auto& received = c.video ? recorder_->pictures : recorder_->sounds;
        received.clear();
        const auto droppedBefore = output->droppedSampleCount();
        StandardError::Capture log;
        auto gate = std::make_shared<pindle::testing::Gate>();
        // Held until the pushes end: each picture is drawn and converted, which at load under
        // the sanitizers can outlast a gate's usual patience, and a gate that gave up lets the
        // delegate catch up.
        behind->async([gate] { gate->wait(std::chrono::minutes(3)); });
        constexpr int tooMany = 20;
        for (int i = 0; i < static_cast<int>(c.bound) + tooMany; ++i) {
            if (c.video)
                source.pushVideo(pictureTime(i));
            else
                source.pushAudio(soundTime(i));
        }
        EXPECT_EQ(output->samplesInFlight(), c.bound);
        EXPECT_EQ(output->droppedSampleCount() - droppedBefore, static_cast<unsigned>(tooMany));
        ASSERT_TRUE(gate->open());
        ASSERT_TRUE(pindle::testing::drain(behind));
        EXPECT_EQ(output->samplesInFlight(), 0u);
        ASSERT_EQ(received.size(), c.bound);
        for (std::size_t i = 0; i < c.bound; ++i) {
            const int index = static_cast<int>(i);
            EXPECT_EQ(received[i]->presentationTimeStamp(),
                      c.video ? pictureTime(index) : soundTime(index));
        }
        bool logged = false;
        for (const auto& line : log.writes())
            logged = logged || line.find("dropped") != std::string::npos;
        EXPECT_EQ(logged, droppedBefore == 0) << "an output's first drop is logged";
    }
}

}  // namespace
}  // namespace pindle::platform
