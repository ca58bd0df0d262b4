#include "platform/capture/LinuxCamera.hpp"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/capture/private/V4L2Device.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/media/CameraStream.hpp"

namespace pindle::platform {

namespace {

// A zoom control whose range starts at 0 says nothing of magnification; it is spread over
// this factor.
constexpr double assumedZoomRange = 4.0;

}  // namespace

std::vector<std::shared_ptr<LinuxCamera>> LinuxCamera::scan(std::vector<std::string>* skipped) {
    std::vector<std::shared_ptr<LinuxCamera>> cameras;
    for (const auto& path : V4L2Device::nodes()) {
        std::string why;
        if (auto camera = probe(path, &why))
            cameras.push_back(std::move(camera));
        else if (skipped)
            skipped->push_back(path + ": " + why);
    }
    return cameras;
}

std::shared_ptr<LinuxCamera> LinuxCamera::probe(const std::string& path, std::string* why) {
    int error = 0;
    auto device = V4L2Device::open(path, &error);
    if (!device) {
        if (error == EACCES || error == EPERM)
            return std::make_shared<LinuxCamera>(
                path, path, CaptureDevicePosition::unspecified, std::vector<CameraMode>{},
                Controls{}, false, "cannot open " + path + ": " + std::strerror(error));
        if (why)
            *why = std::strerror(error);
        return nullptr;
    }
    if (!device->capturesAndStreams()) {
        if (why)
            *why = "not a video capture device that can stream";
        return nullptr;
    }
    Controls controls;
    if (const auto zoom = device->control(V4L2_CID_ZOOM_ABSOLUTE);
        zoom && zoom->maximum > zoom->minimum) {
        controls.zoom = true;
        controls.zoomMinimum = zoom->minimum;
        controls.zoomMaximum = zoom->maximum;
    }
    controls.autoFocus = device->control(V4L2_CID_FOCUS_AUTO).has_value();
    controls.autoExposure = device->control(V4L2_CID_EXPOSURE_AUTO).has_value();
    if (const auto led = device->control(V4L2_CID_FLASH_LED_MODE))
        controls.torch = led->maximum >= V4L2_FLASH_LED_MODE_TORCH;
    return std::make_shared<LinuxCamera>(
        path, device->name(),
        device->facesFront() ? CaptureDevicePosition::front : CaptureDevicePosition::unspecified,
        device->modes(), controls, false, std::string());
}

std::shared_ptr<LinuxCamera> LinuxCamera::fromFile(std::string path, std::string name,
                                                   std::vector<CameraMode> modes) {
    return std::make_shared<LinuxCamera>(std::move(path), std::move(name),
                                         CaptureDevicePosition::unspecified, std::move(modes),
                                         Controls{}, true, std::string());
}

LinuxCamera::LinuxCamera(std::string path, std::string name, CaptureDevicePosition position,
                         std::vector<CameraMode> modes, Controls controls, bool fromFile,
                         std::string deniedWhy)
    : path_(std::move(path)),
      name_(std::move(name)),
      position_(position),
      modes_(std::move(modes)),
      controls_(controls),
      fromFile_(fromFile),
      denied_(!deniedWhy.empty()),
      deniedWhy_(std::move(deniedWhy)) {}

LinuxCamera::~LinuxCamera() = default;

CaptureHardware::Camera LinuxCamera::capabilities() const {
    CaptureHardware::Camera camera;
    camera.position = position_;
    camera.present = true;
    camera.hasTorch = controls_.torch;
    camera.hasFlash = false;
    camera.supportsAutoFocus = controls_.autoFocus;
    camera.supportsContinuousAutoExposure = controls_.autoExposure;
    camera.supportsPointsOfInterest = false;
    camera.supportsLowLightBoost = false;
    camera.videoMaxZoomFactor = 1;
    if (controls_.zoom)
        camera.videoMaxZoomFactor =
            controls_.zoomMinimum > 0
                ? static_cast<double>(controls_.zoomMaximum) / controls_.zoomMinimum
                : assumedZoomRange;
    const bool usable = std::any_of(modes_.begin(), modes_.end(), [](const CameraMode& mode) {
        return CameraMode::isConvertible(mode.pixelFormat);
    });
    if (!usable)
        camera.presets.clear();
    return camera;
}

bool LinuxCamera::set(std::uint32_t control, int value) {
    if (fromFile_ || denied_)
        return false;
    std::lock_guard lock(mutex_);
    if (!controlDevice_) {
        int error = 0;
        controlDevice_ = V4L2Device::open(path_, &error);
        if (!controlDevice_)
            return false;
    }
    return controlDevice_->setControl(control, value);
}

bool LinuxCamera::setTorch(bool on) {
    return controls_.torch &&
           set(V4L2_CID_FLASH_LED_MODE, on ? V4L2_FLASH_LED_MODE_TORCH : V4L2_FLASH_LED_MODE_NONE);
}

bool LinuxCamera::setAutoFocus(bool on) {
    return controls_.autoFocus && set(V4L2_CID_FOCUS_AUTO, on ? 1 : 0);
}

bool LinuxCamera::setContinuousAutoExposure(bool on) {
    if (!controls_.autoExposure)
        return false;
    if (!on)
        return set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
    // Most webcams offer only aperture priority as their automatic mode.
    return set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_AUTO) ||
           set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY);
}

bool LinuxCamera::setZoomFactor(double factor) {
    if (!controls_.zoom)
        return false;
    const double largest = capabilities().videoMaxZoomFactor;
    const double share = largest > 1 ? (std::clamp(factor, 1.0, largest) - 1) / (largest - 1) : 0;
    const int value =
        controls_.zoomMinimum +
        static_cast<int>(std::lround(share * (controls_.zoomMaximum - controls_.zoomMinimum)));
    return set(V4L2_CID_ZOOM_ABSOLUTE, value);
}

std::unique_ptr<CameraStream> LinuxCamera::open(int width, int height, CameraMode* chosen,
                                                Error* error) const {
    if (denied_) {
        if (error)
            *error = MediaError::make(MediaError::notAuthorized, "denied: " + deniedWhy_);
        return nullptr;
    }
    std::string why;
    const auto mode = CameraMode::choose(modes_, width, height, &why);
    if (!mode) {
        if (error)
            *error = MediaError::make(MediaError::invalidArgument,
                                      "The camera " + path_ + " cannot stream: " + why);
        return nullptr;
    }
    if (chosen)
        *chosen = *mode;
    return fromFile_ ? CameraStream::openFile(path_, error)
                     : CameraStream::openDevice(path_, *mode, error);
}

bool LinuxCamera::canStream(int width, int height, Error* error) const {
    return open(width, height, nullptr, error) != nullptr;
}

}  // namespace pindle::platform
