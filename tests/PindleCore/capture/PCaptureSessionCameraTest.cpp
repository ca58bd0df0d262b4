// The legacy capture session on a real camera: a camera whose pictures come from a movie
// file goes through the same stream as a V4L2 device, and going away at the file's end is
// what an unplugged camera does. The recording made so far is finished and kept.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "PindleCore/capture/PCaptureSession.hpp"
#include "platform/app/Application.hpp"
#include "platform/capture/LinuxCamera.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/MediaSummary.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::legacy {
namespace {

namespace fs = std::filesystem;

// The camera decodes and scales every picture of its file as it plays it; on a busy machine
// under the sanitizers that is slower than the pictures' own pace, so going away at the end
// takes several times the clip's length, and the recording's file is finished after that.
constexpr double kEndPatience = 60;

class Failures : public PCaptureSessionDelegate {
  public:
    void captureSessionFailedWithError(PCaptureSession&, const platform::Error&) override {
        ++count;
    }
    std::atomic<int> count{0};
};

TEST(PCaptureSessionCameraTest, ACameraUnpluggedWhileRecordingEndsCaptureAndKeepsTheRecording) {
    platform::testing::TemporaryFolder folder;
    const std::string clip = folder / "camera.mp4";
    platform::testing::ClipOptions options;
    options.width = 640;
    options.height = 480;
    // Long enough that the recording surely begins while the camera still delivers, however
    // long capture takes to start.
    options.seconds = 3;
    options.bFrames = false;
    ASSERT_TRUE(platform::testing::writeClip(clip, options).ok());
    auto& hardware = platform::CaptureHardware::shared();
    hardware.reset();
    hardware.useRealCameras({platform::LinuxCamera::fromFile(
        clip, "File Camera", {{"MJPG", 1280, 720, 30}, {"YUYV", 640, 480, 30}})});
    platform::Application::shared().setStatusBarOrientation(1);

    // The desktop's webcam faces no particular way and serves as the back camera.
    EXPECT_TRUE(PCaptureSession::canCaptureWithSessionMode(PCaptureModeBackCamera));
    EXPECT_FALSE(PCaptureSession::canCaptureWithSessionMode(PCaptureModeFrontCamera));
    auto capture = PCaptureSession::make();
    auto failures = std::make_shared<Failures>();
    capture->setDelegate(failures);
    capture->startCaptureWithCaptureSessionMode(PCaptureModeBackCamera);
    ASSERT_TRUE(platform::testing::eventually(
        [&] { return capture->state() == PCaptureSessionStateCapturing; }));
    capture->startRecordingWithFileNamePattern(folder / "camera-%@.mp4", {"360p"});
    ASSERT_TRUE(platform::testing::eventually(
        [&] { return capture->state() == PCaptureSessionStateRecording; }));

    // The camera goes away: capture stops on its own and ends idle.
    ASSERT_TRUE(platform::MainThread::runUntil(
        [&] { return capture->state() == PCaptureSessionStateIdle; }, kEndPatience));
    ASSERT_TRUE(pindle::testing::drain(capture->captureQueue()));
    const std::string recording = folder / "camera-360p.mp4";
    platform::Error error;
    std::optional<platform::testing::MediaSummary> summary;
    ASSERT_TRUE(platform::MainThread::runUntil(
        [&] {
            summary = platform::testing::MediaSummary::read(recording, &error);
            return summary && summary->duration > 0.5;
        },
        kEndPatience))
        << error.localizedDescription();
    EXPECT_TRUE(summary->hasVideo);
    EXPECT_EQ(failures->count.load(), 0);
    hardware.reset();
}

}  // namespace
}  // namespace pindle::legacy
