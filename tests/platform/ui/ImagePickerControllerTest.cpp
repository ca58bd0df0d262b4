// The scripted image picker: each presented picker hands its delegate the oldest scripted
// result, on the main queue, once it has appeared; availability follows the cameras.
#include <gtest/gtest.h>

#include "platform/capture/CaptureHardware.hpp"
#include "platform/foundation/UTType.hpp"
#include "platform/ui/ImagePickerController.hpp"
#include "platform/ui/Window.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle::platform::ui {
namespace {

class Delegate : public ImagePickerControllerDelegate {
  public:
    void imagePickerControllerDidFinishPickingMediaWithInfo(ImagePickerController&,
                                                            const Dictionary& answer) override {
        infos.push_back(answer);
    }
    void imagePickerControllerDidCancel(ImagePickerController&) override { ++cancels; }

    std::vector<Dictionary> infos;
    int cancels = 0;
};

class ImagePickerControllerTest : public testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        ImagePickerController::resetScript();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        ImagePickerController::resetScript();
        VirtualTimeTest::TearDown();
    }

    ImagePickerControllerPtr present() {
        auto picker = ImagePickerController::make();
        picker->setDelegate(delegate);
        root->present(picker, false);
        MainThread::drain();
        return picker;
    }

    std::shared_ptr<Window> window = Window::make(Rect::make(0, 0, 375, 667));
    ViewControllerPtr root = std::make_shared<ViewController>();
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
};

TEST_F(ImagePickerControllerTest, EachPresentedPickerAnswersTheNextScriptedResult) {
    auto picture = Image::filled(4, 2, {1, 2, 3, 255})->withOrientation(Image::Orientation::right);
    ImagePickerController::scriptNextResult(ImagePickerController::Result::picture(picture));
    ImagePickerController::scriptNextResult(
        ImagePickerController::Result::movie(URL::fileURLWithPath("/tmp/a.mov")));
    ImagePickerController::scriptNextResult(ImagePickerController::Result::cancelled());

    auto first = present();
    ASSERT_EQ(delegate->infos.size(), 1u);
    EXPECT_EQ(*delegate->infos[0][ImagePickerController::mediaTypeKey].asString(), UTType::image);
    auto image = delegate->infos[0][ImagePickerController::originalImageKey].asObjectOf<Image>();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->orientation(), Image::Orientation::right);
    first->dismiss(false);
    MainThread::drain();

    auto second = present();
    ASSERT_EQ(delegate->infos.size(), 2u);
    EXPECT_EQ(*delegate->infos[1][ImagePickerController::mediaURLKey].asString(),
              "file:///tmp/a.mov");
    second->dismiss(false);
    MainThread::drain();

    present();
    EXPECT_EQ(delegate->cancels, 1);
    EXPECT_EQ(delegate->infos.size(), 2u);
}

TEST_F(ImagePickerControllerTest, WithNothingScriptedThePickerWaitsForTheNextResult) {
    auto picker = present();
    EXPECT_EQ(delegate->cancels, 0);
    EXPECT_EQ(root->presentedViewController(), picker);
    ImagePickerController::scriptNextResult(ImagePickerController::Result::cancelled());
    MainThread::drain();
    EXPECT_EQ(delegate->cancels, 1);
    // Answered once: a later result waits for the next picker.
    ImagePickerController::scriptNextResult(ImagePickerController::Result::cancelled());
    MainThread::drain();
    EXPECT_EQ(delegate->cancels, 1);
}

TEST_F(ImagePickerControllerTest, TheCameraSourceFollowsTheCaptureHardwareUnlessOverridden) {
    using Picker = ImagePickerController;
    auto& hardware = CaptureHardware::shared();
    hardware.reset();
    EXPECT_TRUE(Picker::isSourceTypeAvailable(Picker::SourceType::camera));
    auto rear = hardware.camera(CaptureDevicePosition::back);
    rear.present = false;
    hardware.setCamera(rear);
    EXPECT_FALSE(Picker::isCameraDeviceAvailable(Picker::CameraDevice::rear));
    EXPECT_TRUE(Picker::isCameraDeviceAvailable(Picker::CameraDevice::front));
    hardware.reset();

    Picker::setCameraAvailability(
        [](Picker::CameraDevice device) { return device == Picker::CameraDevice::front; });
    EXPECT_FALSE(Picker::isCameraDeviceAvailable(Picker::CameraDevice::rear));
    EXPECT_TRUE(Picker::isSourceTypeAvailable(Picker::SourceType::camera));
    Picker::setCameraAvailability([](Picker::CameraDevice) { return false; });
    EXPECT_FALSE(Picker::isSourceTypeAvailable(Picker::SourceType::camera));
    Picker::setPhotoLibraryAvailable(false);
    EXPECT_FALSE(Picker::isSourceTypeAvailable(Picker::SourceType::photoLibrary));
}

}  // namespace
}  // namespace pindle::platform::ui
