// PickerCameras: which cameras the image picker may offer when no host or test has set their
// availability (ImagePickerController::setCameraAvailability). The capture hardware stands
// above the interface folder, so it installs its answer as the library loads
// (CaptureHardware.cpp). Before that, during static initialisation only, there is no camera.
//
// Thread-safety: install() and isPresent() are safe from any thread; the installed function
// runs with no lock held, on the calling thread.
#pragma once

#include <functional>

#include "platform/ui/ImagePickerController.hpp"

namespace pindle::platform::ui {

class PickerCameras {
  public:
    using Presence = std::function<bool(ImagePickerController::CameraDevice)>;

    static void install(Presence presence);
    static bool isPresent(ImagePickerController::CameraDevice device);
};

}  // namespace pindle::platform::ui
