// The camera's preview: a layer in a window on a real X server in memory shows the session's
// latest picture (the synthetic camera's numbered frames), and a snapshot draws it too.
#include "platform/capture/CapturePreviewLayer.hpp"

#include <gtest/gtest.h>

#include "platform/capture/CaptureDevice.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/display/Display.hpp"
#include "platform/media/VideoFrame.hpp"
#include "platform/ui/Window.hpp"
#include "support/MediaFixtures.hpp"
#include "support/XvfbServer.hpp"

namespace pindle::platform {
namespace {

constexpr double patience = 20;

class CapturePreviewLayerTest : public pindle::testing::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        CaptureHardware::shared().reset();
    }
    void TearDown() override {
        if (session_)
            session_->stopRunning();
        DesktopTest::TearDown();
    }

    CaptureSessionPtr session_;
};

TEST_F(CapturePreviewLayerTest, TheWindowShowsTheCamerasLatestPicture) {
    session_ = CaptureSession::make();
    session_->addInput(
        CaptureDeviceInput::make(CaptureDevice::camera(CaptureDevicePosition::back)));
    session_->setSessionPreset(CaptureHardware::presetIFrame960x540);
    auto preview = CapturePreviewLayer::make(session_);
    auto window = ui::Window::make(ui::Rect::make(0, 0, 480, 270));
    preview->setFrame(ui::Rect::make(0, 0, 480, 270));
    window->layer()->addSublayer(preview);
    window->makeKeyAndVisible();
    ASSERT_TRUE(Display::isPresented(*window));
    session_->startRunning();
    ASSERT_TRUE(MainThread::runUntil([&] { return preview->currentFrame() != nullptr; }, patience));

    // The snapshot's way: the picture converted once to an image.
    const auto frame = preview->currentFrame();
    EXPECT_TRUE(frame->isPlanar());
    EXPECT_EQ(frame->width(), 960);
    EXPECT_EQ(frame->height(), 540);
    ASSERT_TRUE(frame->image());
    const auto snapshotNumber = testing::readFrameNumber(*frame->image());
    ASSERT_TRUE(snapshotNumber);

    // The screen's way: a later picture, scaled to the window.
    std::optional<int> shown;
    ASSERT_TRUE(MainThread::runUntil(
        [&] {
            const auto image = server().capture(Display::nativeHandle(*window));
            shown = image ? testing::readFrameNumber(*image) : std::nullopt;
            return shown && *shown > *snapshotNumber;
        },
        patience));
    preview->removeFromSuperlayer();
}

}  // namespace
}  // namespace pindle::platform
