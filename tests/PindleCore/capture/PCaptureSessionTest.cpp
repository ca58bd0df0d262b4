#include "PindleCore/capture/PCaptureSession.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/app/Application.hpp"
#include "platform/app/Device.hpp"
#include "platform/capture/CaptureVideoDataOutput.hpp"
#include "platform/capture/private/SyntheticCaptureSource.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/PindleCore/support/AudioLevel.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/FreshProcess.hpp"
#include "tests/support/Gate.hpp"
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

class FailureDelegate : public PCaptureSessionDelegate {
  public:
    void captureSessionFailedWithError(PCaptureSession&, const platform::Error& error) override {
        onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
        errors.push_back(error);
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<bool> onMainThread{true};
    std::vector<platform::Error> errors;  // touched on the main thread only
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
    // Twice: a step on the capture queue may post a notification whose handler queues
    // another.
    void flush() {
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(pindle::testing::drain(capture_->captureQueue()));
            platform::MainThread::drain();
        }
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
    // Holds the capture queue until the returned gate is opened, so that a test sees the state
    // the caller's thread set before the queued step catches up.
    std::shared_ptr<pindle::testing::Gate> holdQueue(
        std::chrono::milliseconds bound = pindle::testing::barrierPatience) {
        auto gate = std::make_shared<pindle::testing::Gate>();
        capture_->captureQueue()->async([gate, bound] { gate->wait(bound); });
        return gate;
    }
    std::shared_ptr<platform::URLAsset> asset(const std::string& name) {
        return platform::URLAsset::make(platform::URL::fileURLWithPath(folder_ / name));
    }
    // The time of pushed picture `i`: one frame period (33,363 µs) apart from 10 s on.
    static MediaTime pushedFrameTime(int i) {
        return MediaTime(10, 1) + MediaTime(i * 33363, 1000000);
    }
    // The number of the picture a recording of pushed pictures shows in frame period `i`.
    static std::optional<int> frameNumberAt(platform::AssetImageGenerator& generator, int i) {
        const auto image = generator.copyImageAtTime(MediaTime(i * 33363 + 5000, 1000000));
        return image ? platform::testing::readFrameNumber(*image) : std::nullopt;
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

    for (const char* resolution : {"720p", "540p", "360p"}) {
        // The pattern is no format: "%d" stays as it is.
        const std::string name = std::string("rec-") + resolution + "-%d.mp4";
        ASSERT_TRUE(fs::exists(folder_ / name)) << name;
        const auto video = asset(name)->tracksWithMediaType(platform::MediaType::video);
        ASSERT_EQ(video.size(), 1u);
        EXPECT_EQ(video[0].naturalSize, (platform::Size{720, 1280}));
        EXPECT_NEAR(video[0].duration.seconds(), 1.5, 0.1);
        EXPECT_EQ(asset(name)->tracksWithMediaType(platform::MediaType::audio).size(), 1u);
    }
    // Each rendition's encoder was given its own bit rate: the encoder names its settings in
    // the stream. (The files' sizes cannot tell: a second and a half of the synthetic picture
    // takes far less than any of the three rates.)
    const std::pair<const char*, const char*> rates[] = {{"rec-720p-%d.mp4", "bitrate=3072 "},
                                                         {"rec-540p-%d.mp4", "bitrate=1536 "},
                                                         {"rec-360p-%d.mp4", "bitrate=1024 "}};
    for (const auto& [name, rate] : rates) {
        std::ifstream file(folder_ / name, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), {}};
        EXPECT_NE(bytes.find(rate), std::string::npos) << name << " lacks " << rate;
    }

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
    // Pushed pictures are numbered across the process: counted from the first one here.
    std::optional<int> first;
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
        const auto number = platform::testing::readFrameNumber(*image);
        ASSERT_TRUE(number) << c.ms;
        if (!first)
            first = number;
        EXPECT_EQ(*number - *first, c.frameNumber) << c.ms;
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

// The device forms of zoom, torch and focus act on the device given, not the camera in use.
TEST_F(PCaptureSessionTest, ZoomTorchAndFocusGoToTheDeviceGiven) {
    startCapturing(PCaptureModeBackCamera);
    const auto back = platform::CaptureDevice::camera(platform::CaptureDevicePosition::back);
    const auto front = platform::CaptureDevice::camera(platform::CaptureDevicePosition::front);
    ASSERT_EQ(capture_->getVideoDevice(), back);
    EXPECT_TRUE(PCaptureSession::torchEnabledDevice(back));
    EXPECT_FALSE(PCaptureSession::torchEnabledDevice(front)) << "the front camera has no torch";
    EXPECT_FALSE(PCaptureSession::torchEnabledDevice(nullptr));

    // The devices live for the process: settle the camera in use, then compare it with itself.
    ASSERT_TRUE(back->lockForConfiguration());
    back->setVideoZoomFactor(1);
    back->unlockForConfiguration();
    const double backZoom = back->videoZoomFactor();
    const auto backExposure = back->exposurePointOfInterest();
    capture_->setZoomFactor(9.0f, front);
    advance(1.0);
    EXPECT_DOUBLE_EQ(front->videoZoomFactor(), 4.0);
    EXPECT_DOUBLE_EQ(back->videoZoomFactor(), backZoom);
    const platform::CapturePoint point{0.25, 0.75};
    capture_->setFocusPoint(point, front);
    EXPECT_EQ(front->exposurePointOfInterest(), point) << "the front camera only exposes";
    EXPECT_EQ(back->exposurePointOfInterest(), backExposure);
    EXPECT_EQ(capture_->focusPoint(), point);
    capture_->setTorch(true, front);
    EXPECT_FALSE(capture_->torch()) << "no torch to switch";
    capture_->setTorch(true, back);
    EXPECT_TRUE(capture_->torch());
    EXPECT_EQ(back->torchMode(), platform::CaptureDevice::TorchMode::on);
    capture_->setZoomFactor(2.0f, nullptr);
    EXPECT_FLOAT_EQ(capture_->zoomFactor(), 4.0f);
}

// The orientation is taken on request; a synchronous stop is over when it returns.
TEST_F(PCaptureSessionTest, OrientationOnRequestAndASynchronousStop) {
    EXPECT_STREQ(PCapturedDeviceOrientationValue, "PCapturedDeviceOrientationValue");
    EXPECT_STREQ(PCapturedDeviceOrientationTimeStamp, "PCapturedDeviceOrientationTimeStamp");
    startCapturing();
    platform::Application::shared().setStatusBarOrientation(3);
    platform::Device::current().simulateOrientationChange(
        platform::Device::Orientation::landscapeLeft);
    capture_->updateWriterAccordingCurrentOrientation();
    flush();
    EXPECT_EQ(capture_->rectToRecord(), platform::ui::Rect::make(0, 0, 1280, 720));
    platform::Application::shared().setStatusBarOrientation(1);
    platform::Device::current().simulateOrientationChange(platform::Device::Orientation::portrait);

    capture_->startRecordingWithFileNamePattern(folder_ / "sync-%@.mp4", {"360p"});
    flush();
    advance(0.3);
    const auto session = capture_->captureSession();
    capture_->stopCapturePrivateSync();
    EXPECT_FALSE(session->isRunning()) << "stopped before it returns";
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateIdle);
    EXPECT_TRUE(platform::testing::eventually([&] {
        return asset("sync-360p.mp4")->duration().seconds() > 0.2;
    })) << "the file is finished";
    // From the capture queue itself it stops at once rather than wait for itself.
    startCapturing();
    std::atomic<bool> stopped{false};
    capture_->captureQueue()->async([&stopped, capture = capture_] {
        const auto running = capture->captureSession();
        capture->stopCapturePrivateSync();
        stopped = !running->isRunning();
    });
    flush();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(capture_->state(), PCaptureSessionStateIdle);
}

TEST(PCaptureSessionTimeTest, WholeSecondsAndTheStepAfterThem) {
    const struct {
        MediaTime time;
        bool close;
        MediaTime whole;
    } rows[] = {
        {MediaTime(3, 1), true, MediaTime(3, 1)},
        {MediaTime(302321, 100000), true, MediaTime(3, 1)},
        {MediaTime(302322, 100000), false, MediaTime(3, 1)},
        {MediaTime(3999, 1000), false, MediaTime(3, 1)},
        {MediaTime(1, 100), true, MediaTime(0, 1)},
        {MediaTime(-15, 10), true, MediaTime(-1, 1)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.time.seconds());
        EXPECT_EQ(PCaptureSession::closeToIntegerTime(row.time), row.close);
        const MediaTime whole = PCaptureSession::closestIntegerTimer(row.time);
        EXPECT_EQ(whole, row.whole);
        EXPECT_EQ(whole.timescale, 1);
    }
    EXPECT_FALSE(PCaptureSession::closeToIntegerTime(MediaTime::invalid()));
    EXPECT_FALSE(PCaptureSession::closestIntegerTimer(MediaTime::invalid()).isValid());
}

TEST_F(PCaptureSessionTest, StatesLeadOnTheCallersThreadAndTheQueueFollows) {
    capture_ = PCaptureSession::make();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateIdle);
    EXPECT_FALSE(capture_->captureSession());

    // A mode whose camera is missing does not start.
    auto back = platform::CaptureHardware::shared().camera(platform::CaptureDevicePosition::back);
    back.present = false;
    platform::CaptureHardware::shared().setCamera(back);
    capture_->startCaptureWithCaptureSessionMode(PCaptureModeBackCamera);
    EXPECT_EQ(capture_->state(), PCaptureSessionStateIdle);
    platform::CaptureHardware::shared().reset();

    auto gate = holdQueue();
    capture_->startCaptureWithCaptureSessionMode(PCaptureModeFrontCamera);
    EXPECT_EQ(capture_->state(), PCaptureSessionStateStarting);
    EXPECT_EQ(capture_->queuedState(), PCaptureSessionStateStarting);
    capture_->startCaptureWithCaptureSessionMode(PCaptureModeBackCamera);  // not idle: ignored
    EXPECT_EQ(capture_->captureMode(), PCaptureModeFrontCamera);
    ASSERT_TRUE(gate->open());
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateCapturing);
    EXPECT_EQ(capture_->queuedState(), PCaptureSessionStateCapturing);
    ASSERT_TRUE(capture_->captureSession());
    EXPECT_TRUE(capture_->captureSession()->isRunning());

    // Pausing and continuing need a recording; an empty first file name starts none.
    capture_->pauseRecording();
    capture_->continueRecording();
    capture_->startRecordingWithFileNamePattern("", {"360p"});
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateCapturing);

    capture_->startRecordingWithFileNamePattern(folder_ / "states-%@.mp4", {"360p"});
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateRecording);
    EXPECT_EQ(capture_->queuedState(), PCaptureSessionStateRecording);
    struct Move {
        const char* name;
        std::function<void()> call;
        int state;
    };
    const Move moves[] = {
        {"pause", [&] { capture_->pauseRecording(); }, PCaptureSessionStatePaused},
        {"pause again", [&] { capture_->pauseRecording(); }, PCaptureSessionStatePaused},
        {"continue", [&] { capture_->continueRecording(); }, PCaptureSessionStateRecording},
        {"stop", [&] { capture_->stopRecordingWithCompletionBlock({}); },
         PCaptureSessionStateStopping},
    };
    for (const Move& move : moves) {
        SCOPED_TRACE(move.name);
        const int queued = capture_->queuedState();
        gate = holdQueue();
        move.call();
        EXPECT_EQ(capture_->state(), move.state);
        EXPECT_EQ(capture_->queuedState(), queued) << "the queue has not caught up yet";
        ASSERT_TRUE(gate->open());
        flush();
        if (move.state != PCaptureSessionStateStopping) {
            EXPECT_EQ(capture_->queuedState(), move.state);
        }
    }
    ASSERT_TRUE(platform::testing::eventually(
        [&] { return capture_->state() == PCaptureSessionStateCapturing; }));
    EXPECT_EQ(capture_->queuedState(), PCaptureSessionStateCapturing);
    EXPECT_TRUE(asset("states-360p.mp4")->duration().isNumeric());

    capture_->stopCapture();
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateIdle);
    EXPECT_EQ(capture_->queuedState(), PCaptureSessionStateIdle);
    EXPECT_FALSE(capture_->captureSession());
    capture_->startCaptureWithCaptureSessionMode(PCaptureModeBackCamera);
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateCapturing) << "an idle object starts again";
}

// Whatever happens to the camera, the object ends idle and can start again; an interruption
// keeps the session until it ends.
TEST_F(PCaptureSessionTest, InterruptionsAndRuntimeErrorsEndIdleAndCanStartAgain) {
    enum class Event {
        interrupt,
        systemStops,
        interruptionEnds,
        hostStops,
        hostStopsThenInterruptionEnds,
        hostStopsWhileFilesFinish,
        runtimeError,
        runtimeErrorThenHostStopsRecording
    };
    struct Step {
        Event event;
        int state;
        bool running = false;  // unless idle: whether the kept session runs
    };
    struct Case {
        const char* name;
        bool recording;
        std::vector<Step> steps;
    };
    const int capturing = PCaptureSessionStateCapturing, idle = PCaptureSessionStateIdle;
    const Case cases[] = {
        {"the system stops the camera during an interruption",
         false,
         {{Event::interrupt, capturing, true},
          {Event::systemStops, capturing, false},
          {Event::interruptionEnds, capturing, true},
          {Event::hostStops, idle}}},
        {"an interruption that ends with the camera running",
         false,
         {{Event::interrupt, capturing, true},
          {Event::interruptionEnds, capturing, true},
          {Event::hostStops, idle}}},
        {"the host stops during an interruption",
         true,
         {{Event::interrupt, PCaptureSessionStateRecording, true}, {Event::hostStops, idle}}},
        {"the interruption ends just after the host stops",
         false,
         {{Event::interrupt, capturing, true}, {Event::hostStopsThenInterruptionEnds, idle}}},
        {"the interruption ends just after the host stops a recording",
         true,
         {{Event::interrupt, PCaptureSessionStateRecording, true},
          {Event::hostStopsThenInterruptionEnds, idle}}},
        {"the host stops capture while the files finish",
         true,
         {{Event::hostStopsWhileFilesFinish, idle}}},
        {"a runtime error", false, {{Event::runtimeError, idle}}},
        {"a runtime error while recording", true, {{Event::runtimeError, idle}}},
        {"the host stops the recording when a runtime error has stopped capture",
         true,
         {{Event::runtimeErrorThenHostStopsRecording, idle}}},
        {"a runtime error during an interruption",
         false,
         {{Event::interrupt, capturing, true}, {Event::runtimeError, idle}}},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startCapturing();
        const auto session = capture_->captureSession();
        const std::string file = "event-" + std::to_string(++run) + "-360p.mp4";
        if (c.recording) {
            capture_->startRecordingWithFileNamePattern(
                folder_ / ("event-" + std::to_string(run) + "-%@.mp4"), {"360p"});
            flush();
            ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
            advance(0.5);
        }
        for (const Step& step : c.steps) {
            switch (step.event) {
                case Event::interrupt:
                    session->simulateInterruption();
                    break;
                case Event::systemStops:
                    session->stopRunning();
                    break;
                case Event::interruptionEnds:
                    session->simulateInterruptionEnded();
                    break;
                case Event::hostStops:
                    capture_->stopCapture();
                    break;
                case Event::hostStopsThenInterruptionEnds: {
                    // The end is posted while the stop waits on the capture queue: the camera
                    // must stay off.
                    auto gate = holdQueue();
                    capture_->stopCapture();
                    session->simulateInterruptionEnded();
                    ASSERT_TRUE(gate->open());
                    break;
                }
                case Event::hostStopsWhileFilesFinish: {
                    // The files finish on their writers' queues after the stop is queued.
                    auto finished = std::make_shared<std::atomic<bool>>(false);
                    capture_->stopRecordingWithCompletionBlock([finished] { *finished = true; });
                    capture_->stopCapture();
                    ASSERT_TRUE(platform::testing::eventually([&] { return finished->load(); }));
                    break;
                }
                case Event::runtimeError:
                    session->simulateRuntimeError(platform::Error("test.capture", 1));
                    break;
                case Event::runtimeErrorThenHostStopsRecording: {
                    // The failure's stop is queued first; the host, told of the failure, asks
                    // for the recording's stop before that stop has run.
                    auto gate = holdQueue();
                    session->simulateRuntimeError(platform::Error("test.capture", 1));
                    auto finished = std::make_shared<std::atomic<bool>>(false);
                    capture_->stopRecordingWithCompletionBlock([finished] { *finished = true; });
                    ASSERT_TRUE(gate->open());
                    ASSERT_TRUE(platform::testing::eventually([&] { return finished->load(); }));
                    break;
                }
            }
            flush();
            EXPECT_EQ(capture_->state(), step.state) << static_cast<int>(step.event);
            EXPECT_EQ(capture_->queuedState(), step.state) << static_cast<int>(step.event);
            if (step.state != idle) {
                EXPECT_EQ(capture_->captureSession(), session) << "kept";
                EXPECT_EQ(session->isRunning(), step.running) << static_cast<int>(step.event);
            } else {
                EXPECT_FALSE(capture_->captureSession());
                EXPECT_FALSE(session->isRunning());
            }
        }
        if (c.recording) {
            // The writers were finished, not abandoned: the file plays.
            EXPECT_TRUE(platform::testing::eventually(
                [&] { return asset(file)->duration().seconds() > 0.3; }));
        }
        capture_->startCaptureWithCaptureSessionMode(PCaptureModeBackCamera);
        flush();
        EXPECT_EQ(capture_->state(), PCaptureSessionStateCapturing);
        capture_->stopCapture();
        flush();
        capture_.reset();
    }
}

// The system stops the camera during an interruption and starts it again when the interruption
// ends: the recording goes on, its stop finishes the file, and the interrupted stretch is left
// out of it as a pause is.
TEST_F(PCaptureSessionTest, ARecordingGoesOnThroughAnInterruptionThatStopsTheCamera) {
    startCapturing();
    const auto session = capture_->captureSession();
    capture_->startRecordingWithFileNamePattern(folder_ / "through-%@.mp4", {"360p"});
    flush();
    ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
    advance(0.5);
    flush();
    session->simulateInterruption();
    flush();
    session->stopRunning();
    flush();
    advance(3);
    session->simulateInterruptionEnded();
    flush();
    EXPECT_TRUE(session->isRunning());
    EXPECT_EQ(capture_->state(), PCaptureSessionStateRecording);
    EXPECT_EQ(capture_->queuedState(), PCaptureSessionStateRecording);
    advance(0.5);
    flush();
    stopRecording();

    const auto recorded = asset("through-360p.mp4");
    const auto video = recorded->tracksWithMediaType(platform::MediaType::video);
    const auto audio = recorded->tracksWithMediaType(platform::MediaType::audio);
    ASSERT_EQ(video.size(), 1u);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_NEAR(video[0].duration.seconds(), 1.0, 0.15);
    EXPECT_NEAR(audio[0].duration.seconds(), 1.0, 0.15);
}

// A pattern without "%@" (or a resolution named twice) names one file for several writers:
// the first resolution keeps it, and it holds one whole recording, not interleaved ones.
TEST_F(PCaptureSessionTest, WritersThatWouldShareAFileLeaveItToTheFirst) {
    startCapturing();
    capture_->startRecordingWithFileNamePattern(folder_ / "shared.mp4", {"720p", "540p", "360p"});
    flush();
    ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
    advance(1.0);
    flush();
    stopRecording();

    const auto recorded = asset("shared.mp4");
    const auto video = recorded->tracksWithMediaType(platform::MediaType::video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_NEAR(video[0].duration.seconds(), 1.0, 0.1);
    platform::AssetImageGenerator generator(recorded);
    std::optional<int> previous;
    for (int i = 0; i < 28; i += 3) {
        const auto image = generator.copyImageAtTime(MediaTime(i * 1000 / 30 + 5, 1000));
        ASSERT_TRUE(image) << i;
        const auto number = platform::testing::readFrameNumber(*image);
        ASSERT_TRUE(number) << i;
        if (previous) {
            EXPECT_EQ(*number - *previous, 3) << i;
        }
        previous = number;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()), 1)
        << "no other file was made";
}

// The disk fills up under a recording: the writer fails, the delegate hears it on the main
// thread, the other appends skip the failed writer and stopping still completes.
TEST_F(PCaptureSessionTest, AWriterFailureReachesTheDelegateOnTheMainQueue) {
    pindle::testing::inFreshProcess([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        limit.rlim_cur = 16 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

        auto delegate = std::make_shared<FailureDelegate>();
        startCapturing();
        capture_->setDelegate(delegate);
        capture_->startRecordingWithFileNamePattern(folder_ / "full-%@.mp4", {"720p"});
        flush();
        ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
        advance(2.0);
        flush();
        stopRecording();
        ASSERT_TRUE(platform::testing::eventually([&] { return !delegate->errors.empty(); }));
        EXPECT_TRUE(delegate->onMainThread);
        EXPECT_EQ(delegate->errors.size(), 1u);
        EXPECT_FALSE(fs::exists(folder_ / "full-720p.mp4")) << "a failed file is removed";
    });
}

TEST_F(PCaptureSessionTest, TheRecordingRectangleFollowsOrientationFigureAndResolution) {
    capture_ = PCaptureSession::make();
    // Before capture the size tables are empty: only the portrait offset is left.
    EXPECT_EQ(capture_->rectToRecord(), platform::ui::Rect::make(0, 270, 0, 0));
    EXPECT_EQ(capture_->getRecorderRectForOrientation(3, "720p"),
              platform::ui::Rect::make(0, 0, 0, 0));
    capture_.reset();
    startCapturing();

    struct Row {
        int orientation;
        int figure;
        const char* resolution;
        platform::ui::Rect rect;
    };
    using platform::ui::Rect;
    const Row rows[] = {
        // Landscape, full screen: the portrait sizes turned.
        {3, 1, "720p", Rect::make(0, 0, 1280, 720)},
        {4, 1, "540p", Rect::make(0, 0, 960, 540)},
        {3, 1, "360p", Rect::make(0, 0, 640, 360)},
        // Landscape, square.
        {4, 0, "720p", Rect::make(0, 0, 720, 720)},
        {3, 2, "540p", Rect::make(0, 0, 540, 540)},
        {4, 2, "360p", Rect::make(0, 0, 360, 360)},
        // Any other orientation, full screen: centred on a 540 high frame, above it for 720p.
        {1, 1, "720p", Rect::make(0, -90, 720, 1280)},
        {2, 1, "540p", Rect::make(0, 0, 540, 960)},
        {0, 1, "360p", Rect::make(0, 90, 360, 640)},
        // Any other orientation, square.
        {5, 2, "720p", Rect::make(0, -90, 720, 720)},
        {1, -1, "540p", Rect::make(0, 0, 540, 540)},
        {2, 2, "360p", Rect::make(0, 90, 360, 360)},
        // An unknown resolution has no sizes.
        {1, 1, "1080p", Rect::make(0, 270, 0, 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.orientation) + " " + std::to_string(row.figure) + " " +
                     row.resolution);
        capture_->setFigure(row.figure);
        EXPECT_EQ(capture_->getRecorderRectForOrientation(row.orientation, row.resolution),
                  row.rect);
    }

    // The session's own rectangle is the 720p one for the interface's orientation.
    capture_->setFigure(2);
    EXPECT_EQ(capture_->rectToRecord(), Rect::make(0, -90, 720, 720));
    platform::Application::shared().setStatusBarOrientation(3);
    platform::Device::current().simulateOrientationChange(
        platform::Device::Orientation::landscapeLeft);
    capture_->setFigure(1);
    EXPECT_EQ(capture_->rectToRecord(), Rect::make(0, 0, 1280, 720));
    platform::Application::shared().setStatusBarOrientation(1);
    platform::Device::current().simulateOrientationChange(platform::Device::Orientation::portrait);
}

// Audio only from the start: every picture is the placeholder; a ten-second pause is not in
// the files.
TEST_F(PCaptureSessionTest, AudioOnlyRecordsThePlaceholderAndAPauseLeavesNoHole) {
    startCapturing(PCaptureModeAudioOnly);
    capture_->startRecordingWithFileNamePattern(folder_ / "mic-%@.mp4", {"720p"});
    flush();
    ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
    advance(0.5);
    flush();
    capture_->pauseRecording();
    flush();
    advance(10);
    flush();
    capture_->continueRecording();
    flush();
    advance(0.5);
    flush();
    stopRecording();

    const auto recorded = asset("mic-720p.mp4");
    const auto video = recorded->tracksWithMediaType(platform::MediaType::video);
    const auto audio = recorded->tracksWithMediaType(platform::MediaType::audio);
    ASSERT_EQ(video.size(), 1u);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_NEAR(video[0].duration.seconds(), 1.0, 0.15);
    EXPECT_NEAR(audio[0].duration.seconds(), 1.0, 0.15);

    // The 480x480 placeholder fills the 720x1280 frame (aspect fill): lilac at the edges, the
    // white microphone in the middle, before and after the pause.
    platform::AssetImageGenerator generator(recorded);
    for (const double seconds : {0.2, 0.8}) {
        SCOPED_TRACE(seconds);
        const auto image =
            generator.copyImageAtTime(MediaTime(static_cast<std::int64_t>(seconds * 1000), 1000));
        ASSERT_TRUE(image);
        const auto edge = image->pixelAt(20, 20);
        EXPECT_NEAR(edge.red, 156, 12);
        EXPECT_NEAR(edge.green, 141, 12);
        EXPECT_NEAR(edge.blue, 255, 12);
        const auto microphone = image->pixelAt(360, 560);
        EXPECT_GT(microphone.red, 230);
        EXPECT_GT(microphone.green, 230);
    }
}

// With no camera at all, nothing but the sound can place pictures: the placeholder follows the
// sound's clock, so the sound is recorded rather than dropped for want of a first picture.
TEST_F(PCaptureSessionTest, AudioOnlyWithNoCameraRecordsItsSoundOverThePlaceholder) {
    auto& hardware = platform::CaptureHardware::shared();
    for (const auto position :
         {platform::CaptureDevicePosition::back, platform::CaptureDevicePosition::front}) {
        auto camera = hardware.camera(position);
        camera.present = false;
        hardware.setCamera(camera);
    }
    startCapturing(PCaptureModeAudioOnly);
    capture_->startRecordingWithFileNamePattern(folder_ / "nocam-%@.mp4", {"360p"});
    flush();
    ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
    advance(1.0);
    flush();
    stopRecording();

    const auto recorded = asset("nocam-360p.mp4");
    const auto audio = recorded->tracksWithMediaType(platform::MediaType::audio);
    const auto video = recorded->tracksWithMediaType(platform::MediaType::video);
    ASSERT_EQ(audio.size(), 1u);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_NEAR(audio[0].duration.seconds(), 1.0, 0.15);
    EXPECT_NEAR(video[0].duration.seconds(), 1.0, 0.15);
    const auto image =
        platform::AssetImageGenerator(recorded).copyImageAtTime(MediaTime(500, 1000));
    ASSERT_TRUE(image);
    const auto edge = image->pixelAt(20, 20);
    EXPECT_NEAR(edge.red, 156, 12);
    EXPECT_NEAR(edge.blue, 255, 12);
}

// The host may read the placeholder while the capture queue makes and replaces it (each
// recording's writers drop it): no read races that, and every read is a whole picture.
TEST_F(PCaptureSessionTest, ThePlaceholderCanBeReadWhileRecording) {
    startCapturing(PCaptureModeAudioOnly);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, broken{0};
    std::thread host([&] {
        while (!done) {
            const auto picture = capture_->micPixelBuffer();
            if (!picture || picture->width() != 480 || picture->height() != 480)
                ++broken;
            ++reads;
        }
    });
    for (int round = 0; round < 3; ++round) {
        capture_->startRecordingWithFileNamePattern(
            folder_ / ("read-" + std::to_string(round) + "-%@.mp4"), {"720p", "360p"});
        flush();
        advance(0.2);
        flush();
        stopRecording();
    }
    done = true;
    host.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(broken.load(), 0);
}

// Sound is re-timed in whole steps of 2,322/100,000 s: a gap of three steps or more is filled
// with muted copies of the next buffer, and the rounding of one large gap is carried into the
// next. Buffers are pushed at times given in steps from the first picture.
TEST_F(PCaptureSessionTest, SoundGapsAreFilledWithMutedCopiesAndTheRoundingIsCarried) {
    auto& source = platform::SyntheticCaptureSource::shared();
    source.setManual(true);
    startCapturing();
    capture_->startRecordingWithFileNamePattern(folder_ / "sound-%@.mp4", {"360p"});
    flush();
    const MediaTime start(10, 1);
    const auto at = [&](double steps) {
        return start + MediaTime(std::llround(steps * 2322), 100000);
    };
    constexpr double kStep = 0.02322;
    source.pushVideo(start);
    // Ten buffers in a row from 0; a gap of 3.6 steps (4 written: three muted fillers, 0.4
    // carried); ten in a row; a gap of 3.3 steps, which with the carry is again 4.
    std::vector<double> captured;
    for (int i = 0; i < 10; ++i) captured.push_back(i);
    for (int i = 0; i < 10; ++i) captured.push_back(12.6 + i);
    for (int i = 0; i < 10; ++i) captured.push_back(24.9 + i);
    for (const double steps : captured) source.pushAudio(at(steps));
    for (int frame = 1; frame * 0.033363 < 36 * kStep; ++frame)
        source.pushVideo(start + MediaTime(frame * 33363, 1000000));
    flush();
    stopRecording();

    const std::string path = folder_ / "sound-360p.mp4";
    const auto level = [&](double from, double to) {
        return pindle::testing::audioLevel(path, from * kStep, to * kStep);
    };
    const double tone = level(2, 8);
    ASSERT_GT(tone, 0.05);
    EXPECT_NEAR(level(14, 21), tone, tone * 0.2) << "the buffer the fillers copy keeps its sound";
    EXPECT_NEAR(level(28, 34), tone, tone * 0.2);
    EXPECT_LT(level(10.5, 12.5), tone * 0.1) << "fillers are muted";
    // With the carry the third run starts at step 26, not 25.
    EXPECT_LT(level(25.1, 25.7), tone * 0.3);
    const auto audio = asset("sound-360p.mp4")->tracksWithMediaType(platform::MediaType::audio);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_NEAR(audio[0].duration.seconds(), 36 * kStep, 0.5 * kStep);
}

// Let go of while recording: the camera stops and the unfinished file is removed rather than
// left half written.
TEST_F(PCaptureSessionTest, LettingGoWhileRecordingStopsTheCameraAndCancelsTheFiles) {
    startCapturing();
    capture_->startRecordingWithFileNamePattern(folder_ / "dropped-%@.mp4", {"360p"});
    flush();
    advance(0.5);
    flush();
    ASSERT_TRUE(fs::exists(folder_ / "dropped-360p.mp4"));
    const auto session = capture_->captureSession();
    const auto queue = capture_->captureQueue();
    std::weak_ptr<PCaptureSession> released = capture_;
    capture_.reset();
    ASSERT_TRUE(released.expired());
    EXPECT_FALSE(session->isRunning());
    ASSERT_TRUE(pindle::testing::drain(queue));
    EXPECT_FALSE(fs::exists(folder_ / "dropped-360p.mp4"));
}

// The host stops the platform session itself while recording: the files are finished and kept
// as when capture is stopped, and the recording's stop, asked for afterwards, answers once
// they are complete.
TEST_F(PCaptureSessionTest, TheHostStoppingThePlatformSessionKeepsTheRecording) {
    startCapturing();
    capture_->startRecordingWithFileNamePattern(folder_ / "kept-%@.mp4", {"720p", "360p"});
    flush();
    ASSERT_EQ(capture_->state(), PCaptureSessionStateRecording);
    advance(1.0);
    flush();
    capture_->captureSession()->stopRunning();
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateIdle);
    EXPECT_FALSE(capture_->captureSession());

    std::atomic<bool> done{false};
    capture_->stopRecordingWithCompletionBlock([&] { done = true; });
    ASSERT_TRUE(platform::testing::eventually([&] { return done.load(); }));
    for (const char* name : {"kept-720p.mp4", "kept-360p.mp4"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(folder_ / name));
        const auto video = asset(name)->tracksWithMediaType(platform::MediaType::video);
        ASSERT_EQ(video.size(), 1u);
        EXPECT_NEAR(video[0].duration.seconds(), 1.0, 0.1);
    }
    capture_->startCaptureWithCaptureSessionMode(PCaptureModeBackCamera);
    flush();
    EXPECT_EQ(capture_->state(), PCaptureSessionStateCapturing) << "and it can start again";
}

// An encoder slower than the camera: while the capture queue is held (the encoder busy), at
// most a second of pictures waits for it; the later ones are dropped and counted, not queued
// without end, and the recording still covers the whole time, the gap filled with the last
// picture kept.
TEST_F(PCaptureSessionTest, PicturesPastASecondBehindAreDroppedAndTheirGapFilled) {
    auto& source = platform::SyntheticCaptureSource::shared();
    source.setManual(true);
    startCapturing();
    capture_->startRecordingWithFileNamePattern(folder_ / "late-%@.mp4", {"360p"});
    flush();
    std::shared_ptr<platform::CaptureVideoDataOutput> output;
    for (const auto& candidate : capture_->captureSession()->outputs())
        if (auto video = std::dynamic_pointer_cast<platform::CaptureVideoDataOutput>(candidate))
            output = video;
    ASSERT_TRUE(output);
    const std::size_t kept = platform::CaptureVideoDataOutput::maxPicturesInFlight;
    source.pushVideo(pushedFrameTime(0));
    flush();

    constexpr int behind = 90;  // three seconds of pictures while the encoder is busy
    // Each pushed picture is drawn and scaled; at load under the sanitizers ninety of them
    // take longer than a gate's usual patience, and a gate that gave up lets the queue run.
    auto gate = holdQueue(std::chrono::minutes(3));
    for (int i = 1; i <= behind; ++i) source.pushVideo(pushedFrameTime(i));
    EXPECT_EQ(output->samplesInFlight(), kept);
    EXPECT_EQ(output->droppedSampleCount(), behind - kept);
    ASSERT_TRUE(gate->open());
    flush();
    EXPECT_EQ(output->samplesInFlight(), 0u);
    source.pushVideo(pushedFrameTime(behind + 1));
    source.pushVideo(pushedFrameTime(behind + 2));
    flush();
    stopRecording();

    platform::AssetImageGenerator generator(asset("late-360p.mp4"));
    const auto first = frameNumberAt(generator, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(frameNumberAt(generator, static_cast<int>(kept)), *first + static_cast<int>(kept));
    EXPECT_EQ(frameNumberAt(generator, 60), *first + static_cast<int>(kept))
        << "the gap repeats the last kept";
    EXPECT_EQ(frameNumberAt(generator, behind + 1), *first + behind + 1);
}

// Switched to audio only while recording: the last camera picture stands in from then on.
TEST_F(PCaptureSessionTest, SwitchingToAudioOnlyWhileRecordingRepeatsTheLastCameraPicture) {
    auto& source = platform::SyntheticCaptureSource::shared();
    source.setManual(true);
    startCapturing();
    capture_->startRecordingWithFileNamePattern(folder_ / "switch-%@.mp4", {"360p"});
    flush();
    for (int i = 0; i < 5; ++i) source.pushVideo(pushedFrameTime(i));
    flush();
    std::atomic<bool> switched{false};
    capture_->setCaptureMode(PCaptureModeAudioOnly, [&](bool ok) { switched = ok; });
    flush();
    ASSERT_TRUE(switched);
    for (int i = 5; i < 10; ++i) source.pushVideo(pushedFrameTime(i));
    flush();
    stopRecording();

    platform::AssetImageGenerator generator(asset("switch-360p.mp4"));
    // Pushed pictures are numbered across tests: read the last camera one's number.
    const auto last = frameNumberAt(generator, 4);
    ASSERT_TRUE(last);
    EXPECT_EQ(frameNumberAt(generator, 2), *last - 2);
    for (const int i : {6, 8}) EXPECT_EQ(frameNumberAt(generator, i), *last) << i;
}

// A muted filler is silent in every channel, and the buffer it was copied from keeps its sound.
TEST(PCaptureSessionMuteTest, MutingSilencesEveryChannelOfACopyOnly) {
    for (const int channels : {1, 2, 6}) {
        SCOPED_TRACE(channels);
        const std::vector<std::int16_t> sound(1024 * channels, 1234);
        const auto original =
            platform::SampleBuffer::makeAudio({44100, channels}, sound, MediaTime::zero());
        ASSERT_TRUE(original);
        const auto filler = original->copyWithPresentationTime(MediaTime(1, 10));
        PCaptureSession::muteAudioInBuffer(*filler);
        const std::int16_t* muted = filler->audioData();
        EXPECT_TRUE(
            std::all_of(muted, muted + sound.size(), [](std::int16_t v) { return v == 0; }));
        EXPECT_TRUE(std::equal(sound.begin(), sound.end(), original->audioData()));
    }
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
