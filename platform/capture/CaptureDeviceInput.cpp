#include "platform/capture/CaptureDeviceInput.hpp"

#include "platform/capture/LinuxCamera.hpp"
#include "platform/foundation/MediaError.hpp"

namespace pindle::platform {

CaptureDeviceInputPtr CaptureDeviceInput::make(const CaptureDevicePtr& device, Error* error) {
    const auto refuse = [&](std::int64_t code, const std::string& why) -> CaptureDeviceInputPtr {
        if (error)
            *error = MediaError::make(code, why);
        return nullptr;
    };
    if (!device)
        return refuse(MediaError::invalidArgument, "No device");
    const auto& hardware = CaptureHardware::shared();
    if (hardware.authorizationStatus(device->mediaType()) != CaptureAuthorizationStatus::authorized)
        return refuse(notAuthorizedCode, "Not authorized");
    if (const auto& camera = device->linuxCamera(); camera && camera->isDenied())
        return refuse(notAuthorizedCode, "denied: " + camera->deniedWhy());
    if (hardware.inputCreationFails())
        return refuse(MediaError::unknown, "The device cannot be opened");
    return std::make_shared<CaptureDeviceInput>(Private{}, device);
}

CaptureDeviceInput::CaptureDeviceInput(Private, CaptureDevicePtr device)
    : device_(std::move(device)) {}

}  // namespace pindle::platform
