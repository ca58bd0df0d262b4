// Real cameras: the choice of a camera mode for a session's picture size, and the stream a
// capture session reads from a camera, run with pictures from a movie file through the same
// negotiation, decoding and conversion as a V4L2 device; and, where this machine has a V4L2
// camera, that camera itself.
#include "platform/capture/LinuxCamera.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/capture/CaptureSession.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/media/CameraStream.hpp"
#include "platform/media/Image.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/SpinUntil.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

TEST(CameraModeTest, ChoosesTheNearestModeForAPictureSize) {
    const CameraMode yuyv640{"YUYV", 640, 480, 30};
    const CameraMode yuyv960{"YUYV", 960, 540, 15};
    const CameraMode mjpg960{"MJPG", 960, 540, 30};
    const CameraMode yuyv1280{"YUYV", 1280, 720, 10};
    const CameraMode mjpg1280{"MJPG", 1280, 720, 30};
    const CameraMode mjpg1920{"MJPG", 1920, 1080, 30};
    const CameraMode h264{"H264", 960, 540, 30};
    struct Case {
        const char* what;
        std::vector<CameraMode> offered;
        int width, height;
        std::optional<CameraMode> chosen;
    };
    const Case cases[] = {
        {"the exact size, at the rate nearest 30",
         {yuyv640, yuyv960, mjpg960, mjpg1280},
         960,
         540,
         mjpg960},
        {"the exact size, the raw format at an equal rate",
         {{"MJPG", 960, 540, 30}, {"YUYV", 960, 540, 30}},
         960,
         540,
         CameraMode{"YUYV", 960, 540, 30}},
        {"no exact size: the nearest larger, scaled down",
         {yuyv640, mjpg1920, mjpg1280},
         960,
         540,
         mjpg1280},
        {"a slow raw mode loses to a fast compressed one of its size",
         {yuyv1280, mjpg1280},
         1280,
         720,
         mjpg1280},
        {"nothing larger: the largest, scaled up",
         {yuyv640, {"YUYV", 320, 240, 30}},
         1280,
         720,
         yuyv640},
        {"larger in one direction only is not larger",
         {{"YUYV", 1280, 480, 30}, yuyv640},
         960,
         540,
         CameraMode{"YUYV", 1280, 480, 30}},
        {"formats that cannot be converted are never chosen", {h264, yuyv640}, 960, 540, yuyv640},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CameraMode::choose(c.offered, c.width, c.height), c.chosen);
    }

    std::string why;
    EXPECT_FALSE(CameraMode::choose({}, 960, 540, &why));
    EXPECT_EQ(why, "the camera offers no picture size");
    EXPECT_FALSE(CameraMode::choose({h264}, 960, 540, &why));
    EXPECT_EQ(why, "the camera offers no picture format that can be converted");
}

class Pictures : public CaptureOutputSampleBufferDelegate {
  public:
    void captureOutput(CaptureOutput&, const SampleBufferPtr& sample, CaptureConnection&) override {
        std::lock_guard lock(mutex);
        samples.push_back(sample);
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return samples.size();
    }
    std::mutex mutex;
    std::vector<SampleBufferPtr> samples;  // guarded by mutex
};

class FileCameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clip_ = pindle::testing::makeScratchFolder("camera-") + "/camera.mp4";
        testing::ClipOptions options;
        options.width = 640;
        options.height = 480;
        options.seconds = 0.5;
        options.bFrames = false;
        ASSERT_TRUE(testing::writeClip(clip_, options).ok());
        frames_ = testing::clipFrameCount(options);
    }
    void TearDown() override { CaptureHardware::shared().reset(); }

    std::string clip_;
    int frames_ = 0;
};

TEST_F(FileCameraTest, ASessionGetsTheCamerasPicturesInItsFormatAndSizeUntilItGoesAway) {
    // The file's 640x480 stand for the nearest larger mode of a camera that has no 960x540.
    CaptureHardware::shared().useRealCameras({LinuxCamera::fromFile(
        clip_, "File Camera", {{"YUYV", 640, 480, 30}, {"MJPG", 1280, 720, 30}})});
    const auto device = CaptureDevice::camera(CaptureDevicePosition::back);
    ASSERT_TRUE(device && device->linuxCamera());
    EXPECT_EQ(device->localizedName(), "File Camera");
    EXPECT_EQ(device->position(), CaptureDevicePosition::unspecified);
    EXPECT_TRUE(device->supportsPreset(CaptureHardware::presetIFrame960x540));
    EXPECT_FALSE(device->hasTorch());
    EXPECT_FALSE(CaptureDevice::camera(CaptureDevicePosition::front));

    auto session = CaptureSession::make();
    session->addInput(CaptureDeviceInput::make(device));
    auto output = CaptureVideoDataOutput::make();
    auto pictures = std::make_shared<Pictures>();
    const auto queue = DispatchQueue::create("camera-test");
    output->setSampleBufferDelegate(pictures, queue);
    output->setAlwaysDiscardsLateVideoFrames(false);  // every picture is counted below
    output->setPixelFormat(PixelBuffer::Format::nv12);
    session->addOutput(output);
    session->setSessionPreset(CaptureHardware::presetIFrame960x540);
    std::vector<Error> errors;
    std::mutex errorsMutex;
    auto registration = NotificationCenter::defaultCenter().addObserverForName(
        CaptureSession::runtimeErrorNotification, session.get(), nullptr,
        [&](const Notification& note) {
            std::lock_guard lock(errorsMutex);
            if (const auto found = note.userInfo.find(CaptureSession::errorKey);
                found != note.userInfo.end())
                if (const auto error = found->second.asError())
                    errors.push_back(*error);
        });
    session->startRunning();

    // The end of the file is the camera going away: a runtime error, then the session stops.
    ASSERT_TRUE(pindle::testing::spinUntil([&] { return !session->isRunning(); }));
    registration->remove();
    ASSERT_TRUE(pindle::testing::drain(queue));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors.front().localizedDescription().find(clip_), std::string::npos);

    std::lock_guard lock(pictures->mutex);
    ASSERT_EQ(pictures->samples.size(), static_cast<std::size_t>(frames_));
    int previous = -1;
    for (const auto& sample : pictures->samples) {
        const auto& picture = *sample->imageBuffer();
        ASSERT_EQ(picture.format(), PixelBuffer::Format::nv12);
        ASSERT_EQ(picture.width(), 960);
        ASSERT_EQ(picture.height(), 540);
        std::vector<std::uint8_t> luma(960 * 540);
        for (int y = 0; y < 540; ++y)
            std::copy_n(picture.baseAddress(0) + y * picture.bytesPerRow(0), 960,
                        luma.begin() + y * 960);
        // Cropped to 16:9 from the middle, the frame code in the top quarter still reads.
        const auto number = testing::readFrameNumber(*Image::fromGrey8(960, 540, luma));
        ASSERT_TRUE(number);
        EXPECT_EQ(*number, previous + 1);
        previous = *number;
    }
}

TEST_F(FileCameraTest, ACameraWithNoUsableModeGivesAClearError) {
    auto camera = LinuxCamera::fromFile(clip_, "Odd Camera", {{"H264", 1280, 720, 30}});
    EXPECT_TRUE(camera->capabilities().presets.empty());
    Error error;
    EXPECT_FALSE(camera->open(960, 540, nullptr, &error));
    EXPECT_EQ(error.localizedDescription(),
              "The camera " + clip_ +
                  " cannot stream: the camera offers no picture format that can be converted");
}

TEST(LinuxCameraProbeTest, AMissingNodeOrOneThatIsNoCameraIsLeftOutWithItsReason) {
    std::string why;
    EXPECT_FALSE(LinuxCamera::probe("/dev/video-missing", &why));
    EXPECT_EQ(why, std::strerror(ENOENT));
    EXPECT_FALSE(LinuxCamera::probe("/dev/null", &why));
    EXPECT_EQ(why, "not a video capture device that can stream");

    // Streaming from a node that is not there names it and keeps the errno.
    Error error;
    EXPECT_FALSE(CameraStream::openDevice("/dev/video-missing", {"YUYV", 640, 480, 30}, &error));
    EXPECT_NE(error.localizedDescription().find("/dev/video-missing"), std::string::npos)
        << error.localizedDescription();
}

// Runs only where this machine has a V4L2 camera: the real device through the same path.
TEST(V4L2CameraTest, AHostCameraStreamsPicturesOfTheSessionsSize) {
    std::vector<std::string> skipped;
    const auto cameras = LinuxCamera::scan(&skipped);
    std::shared_ptr<LinuxCamera> usable;
    for (const auto& camera : cameras)
        if (!camera->isDenied())
            usable = camera;
    if (!usable) {
        std::string why = "no V4L2 camera that can stream on this machine";
        for (const auto& reason : skipped) why += "; " + reason;
        for (const auto& camera : cameras) why += "; " + camera->deniedWhy();
        GTEST_SKIP() << why;
    }
    CameraMode mode;
    Error error;
    auto stream = usable->open(480, 360, &mode, &error);
    if (!stream && error.domain() == POSIXError::domain && error.code() == EBUSY)
        GTEST_SKIP() << usable->path() << " is busy: " << error.localizedDescription();
    ASSERT_TRUE(stream) << error.localizedDescription();
    std::mutex mutex;
    std::vector<PixelBufferPtr> got;
    stream->start(
        {PixelBuffer::Format::bgra, 480, 360},
        [&](const PixelBufferPtr& picture) {
            std::lock_guard lock(mutex);
            got.push_back(picture);
        },
        [](const Error&) {});
    EXPECT_TRUE(pindle::testing::spinUntil([&] {
        std::lock_guard lock(mutex);
        return got.size() >= 3;
    }));
    stream->stop();
    std::lock_guard lock(mutex);
    for (const auto& picture : got) {
        EXPECT_EQ(picture->width(), 480);
        EXPECT_EQ(picture->height(), 360);
    }
}

}  // namespace
}  // namespace pindle::platform
