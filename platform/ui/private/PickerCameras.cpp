#include "platform/ui/private/PickerCameras.hpp"

#include "platform/foundation/private/InstalledFunction.hpp"

namespace pindle::platform::ui {

namespace {

using Installed = InstalledFunction<bool(ImagePickerController::CameraDevice)>;

// Never destroyed: a picker may ask while other statics are torn down at exit.
Installed& installed() {
    static auto* function =
        new Installed([](ImagePickerController::CameraDevice) { return false; });
    return *function;
}

}  // namespace

void PickerCameras::install(Presence presence) {
    installed().install(std::move(presence));
}

bool PickerCameras::isPresent(ImagePickerController::CameraDevice device) {
    return installed()(device);
}

}  // namespace pindle::platform::ui
