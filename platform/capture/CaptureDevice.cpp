#include "platform/capture/CaptureDevice.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include "platform/audio/PulseMicrophone.hpp"
#include "platform/capture/LinuxCamera.hpp"

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/MediaError.hpp"

namespace pindle::platform {

namespace {

// The platform's code for a device another client holds locked.
constexpr std::int64_t deviceLockedCode = -11817;

double uptimeSeconds() {
    return std::chrono::duration<double>(Clock::current()->uptime()).count();
}

std::string idFor(CaptureMediaType type, CaptureDevicePosition position) {
    if (type == CaptureMediaType::audio)
        return "com.pindle.capture.microphone";
    return position == CaptureDevicePosition::front ? "com.pindle.capture.camera.front"
                                                    : "com.pindle.capture.camera.back";
}

// One device object per real camera, as the platform hands out.
CaptureDevicePtr deviceFor(const std::shared_ptr<LinuxCamera>& camera) {
    if (!camera)
        return nullptr;
    static std::mutex mutex;
    static auto* devices = new std::map<std::string, CaptureDevicePtr>();  // guarded by mutex
    std::lock_guard lock(mutex);
    auto& device = (*devices)[camera->path()];
    if (!device || device->linuxCamera() != camera)
        device = std::make_shared<CaptureDevice>(CaptureDevice::Private{}, camera);
    return device;
}

}  // namespace

std::vector<CaptureDevicePtr> CaptureDevice::devices(CaptureMediaType type) {
    std::vector<CaptureDevicePtr> found;
    if (type == CaptureMediaType::audio) {
        if (auto microphone = defaultDevice(type))
            found.push_back(std::move(microphone));
        return found;
    }
    if (CaptureHardware::shared().usesRealCameras()) {
        for (const auto& camera : CaptureHardware::shared().realCameras())
            found.push_back(deviceFor(camera));
        return found;
    }
    for (const auto position : {CaptureDevicePosition::back, CaptureDevicePosition::front})
        if (auto device = camera(position))
            found.push_back(std::move(device));
    return found;
}

CaptureDevicePtr CaptureDevice::defaultDevice(CaptureMediaType type) {
    if (type == CaptureMediaType::video)
        return camera(CaptureDevicePosition::back);
    if (!CaptureHardware::shared().hasMicrophone())
        return nullptr;
    if (auto real = CaptureHardware::shared().realMicrophone()) {
        static std::mutex mutex;
        static auto* device = new CaptureDevicePtr();  // guarded by mutex
        std::lock_guard lock(mutex);
        if (!*device || (*device)->pulseMicrophone() != real)
            *device = std::make_shared<CaptureDevice>(Private{}, real);
        return *device;
    }
    // One object per device, as the platform hands out.
    static auto* microphone = new CaptureDevicePtr(std::make_shared<CaptureDevice>(
        Private{}, CaptureMediaType::audio, CaptureDevicePosition::unspecified));
    return *microphone;
}

CaptureDevicePtr CaptureDevice::camera(CaptureDevicePosition position) {
    if (position == CaptureDevicePosition::unspecified)
        position = CaptureDevicePosition::back;
    if (CaptureHardware::shared().usesRealCameras())
        return deviceFor(CaptureHardware::shared().realCamera(position));
    if (!CaptureHardware::shared().camera(position).present)
        return nullptr;
    static auto* back = new CaptureDevicePtr(std::make_shared<CaptureDevice>(
        Private{}, CaptureMediaType::video, CaptureDevicePosition::back));
    static auto* front = new CaptureDevicePtr(std::make_shared<CaptureDevice>(
        Private{}, CaptureMediaType::video, CaptureDevicePosition::front));
    return position == CaptureDevicePosition::front ? *front : *back;
}

CaptureAuthorizationStatus CaptureDevice::authorizationStatus(CaptureMediaType type) {
    return CaptureHardware::shared().authorizationStatus(type);
}

void CaptureDevice::requestAccess(CaptureMediaType type, std::function<void(bool)> handler) {
    auto& hardware = CaptureHardware::shared();
    if (hardware.authorizationStatus(type) == CaptureAuthorizationStatus::notDetermined)
        hardware.setAuthorizationStatus(type, hardware.answerToAccessRequests()
                                                  ? CaptureAuthorizationStatus::authorized
                                                  : CaptureAuthorizationStatus::denied);
    const bool granted =
        hardware.authorizationStatus(type) == CaptureAuthorizationStatus::authorized;
    DispatchQueue::global()->async([handler = std::move(handler), granted] {
        if (handler)
            handler(granted);
    });
}

CaptureDevice::CaptureDevice(Private, CaptureMediaType type, CaptureDevicePosition position)
    : type_(type), position_(position), uniqueID_(idFor(type, position)) {}

CaptureDevice::CaptureDevice(Private, std::shared_ptr<LinuxCamera> camera)
    : type_(CaptureMediaType::video),
      position_(camera->position()),
      uniqueID_(camera->path()),
      linux_(std::move(camera)) {}

CaptureDevice::CaptureDevice(Private, std::shared_ptr<PulseMicrophone> microphone)
    : type_(CaptureMediaType::audio),
      position_(CaptureDevicePosition::unspecified),
      uniqueID_("pulse:" + microphone->sourceName()),
      pulse_(std::move(microphone)) {}

std::string CaptureDevice::localizedName() const {
    if (linux_)
        return linux_->name();
    if (pulse_)
        return pulse_->sourceName();
    if (type_ == CaptureMediaType::audio)
        return "Synthetic Microphone";
    return position_ == CaptureDevicePosition::front ? "Synthetic Front Camera"
                                                     : "Synthetic Back Camera";
}

CaptureHardware::Camera CaptureDevice::camera() const {
    if (linux_)
        return linux_->capabilities();
    if (type_ != CaptureMediaType::video) {
        CaptureHardware::Camera none;
        none.hasTorch = none.hasFlash = none.supportsAutoFocus = false;
        none.supportsContinuousAutoExposure = none.supportsPointsOfInterest = false;
        none.videoMaxZoomFactor = 1;
        none.presets.clear();
        return none;
    }
    return CaptureHardware::shared().camera(position_);
}

bool CaptureDevice::supportsPreset(const std::string& preset) const {
    const auto presets = camera().presets;
    return std::find(presets.begin(), presets.end(), preset) != presets.end();
}

bool CaptureDevice::lockForConfiguration(Error* error) {
    if (CaptureHardware::shared().configurationLocksFail()) {
        if (error)
            *error = MediaError::make(deviceLockedCode, "The device is locked by another client");
        return false;
    }
    std::lock_guard lock(mutex_);
    locked_ = true;
    return true;
}

void CaptureDevice::unlockForConfiguration() {
    std::lock_guard lock(mutex_);
    locked_ = false;
}

bool CaptureDevice::mayChangeLocked(const char* what) const {
    if (!locked_)
        std::fprintf(stderr, "CaptureDevice: %s changed without the configuration lock; ignored\n",
                     what);
    return locked_;
}

bool CaptureDevice::hasTorch() const {
    return camera().hasTorch;
}
bool CaptureDevice::hasFlash() const {
    return camera().hasFlash;
}
bool CaptureDevice::isTorchModeSupported(TorchMode) const {
    return hasTorch();
}
bool CaptureDevice::isFlashModeSupported(FlashMode) const {
    return hasFlash();
}
bool CaptureDevice::isFocusModeSupported(FocusMode mode) const {
    return type_ == CaptureMediaType::video &&
           (mode == FocusMode::locked || camera().supportsAutoFocus);
}
bool CaptureDevice::isExposureModeSupported(ExposureMode mode) const {
    return type_ == CaptureMediaType::video && (mode != ExposureMode::continuousAutoExposure ||
                                                camera().supportsContinuousAutoExposure);
}
bool CaptureDevice::isFocusPointOfInterestSupported() const {
    return camera().supportsPointsOfInterest && camera().supportsAutoFocus;
}
bool CaptureDevice::isExposurePointOfInterestSupported() const {
    return camera().supportsPointsOfInterest;
}
bool CaptureDevice::isLowLightBoostSupported() const {
    return camera().supportsLowLightBoost;
}

namespace {

// Real cameras get the settings they have a control for; the rest are kept, as on a phone.
void applyToCamera(LinuxCamera& camera, CaptureDevice::TorchMode mode) {
    camera.setTorch(mode == CaptureDevice::TorchMode::on);
}
void applyToCamera(LinuxCamera& camera, CaptureDevice::FocusMode mode) {
    camera.setAutoFocus(mode != CaptureDevice::FocusMode::locked);
}
void applyToCamera(LinuxCamera& camera, CaptureDevice::ExposureMode mode) {
    camera.setContinuousAutoExposure(mode != CaptureDevice::ExposureMode::locked);
}
template <class Setting>
void applyToCamera(LinuxCamera&, const Setting&) {}

}  // namespace

#define PINDLE_CAPTURE_SETTING(Type, getter, setter, field, supported) \
    Type CaptureDevice::getter() const {                               \
        std::lock_guard lock(mutex_);                                  \
        return field;                                                  \
    }                                                                  \
    void CaptureDevice::setter(Type value) {                           \
        const bool ok = supported;                                     \
        bool changed = false;                                          \
        {                                                              \
            std::lock_guard lock(mutex_);                              \
            if (ok && mayChangeLocked(#getter)) {                      \
                field = value;                                         \
                changed = true;                                        \
            }                                                          \
        }                                                              \
        if (changed && linux_)                                         \
            applyToCamera(*linux_, value);                             \
    }

PINDLE_CAPTURE_SETTING(CaptureDevice::TorchMode, torchMode, setTorchMode, torch_,
                       isTorchModeSupported(value))
PINDLE_CAPTURE_SETTING(CaptureDevice::FlashMode, flashMode, setFlashMode, flash_,
                       isFlashModeSupported(value))
PINDLE_CAPTURE_SETTING(CaptureDevice::FocusMode, focusMode, setFocusMode, focus_,
                       isFocusModeSupported(value))
PINDLE_CAPTURE_SETTING(CaptureDevice::ExposureMode, exposureMode, setExposureMode, exposure_,
                       isExposureModeSupported(value))
PINDLE_CAPTURE_SETTING(CapturePoint, focusPointOfInterest, setFocusPointOfInterest, focusPoint_,
                       isFocusPointOfInterestSupported())
PINDLE_CAPTURE_SETTING(CapturePoint, exposurePointOfInterest, setExposurePointOfInterest,
                       exposurePoint_, isExposurePointOfInterestSupported())
PINDLE_CAPTURE_SETTING(MediaTime, activeVideoMinFrameDuration, setActiveVideoMinFrameDuration,
                       minFrameDuration_, type_ == CaptureMediaType::video)
PINDLE_CAPTURE_SETTING(MediaTime, activeVideoMaxFrameDuration, setActiveVideoMaxFrameDuration,
                       maxFrameDuration_, type_ == CaptureMediaType::video)

#undef PINDLE_CAPTURE_SETTING

bool CaptureDevice::automaticallyEnablesLowLightBoostWhenAvailable() const {
    std::lock_guard lock(mutex_);
    return lowLightBoost_;
}

void CaptureDevice::setAutomaticallyEnablesLowLightBoostWhenAvailable(bool enabled) {
    const bool supported = isLowLightBoostSupported();
    std::lock_guard lock(mutex_);
    lowLightBoost_ = supported && enabled;
}

CaptureDevice::Format CaptureDevice::activeFormat() const {
    return Format{camera().videoMaxZoomFactor};
}

double CaptureDevice::zoomAtLocked(double now) const {
    if (zoomRate_ <= 0)
        return zoomFrom_;
    const double elapsed = std::max(0.0, now - rampStart_);
    const double step = std::exp2(zoomRate_ * elapsed);
    return zoomTarget_ >= zoomFrom_ ? std::min(zoomTarget_, zoomFrom_ * step)
                                    : std::max(zoomTarget_, zoomFrom_ / step);
}

double CaptureDevice::videoZoomFactor() const {
    const double now = uptimeSeconds();
    std::lock_guard lock(mutex_);
    return zoomAtLocked(now);
}

void CaptureDevice::setVideoZoomFactor(double factor) {
    const double clamped = std::clamp(factor, 1.0, activeFormat().videoMaxZoomFactor);
    std::lock_guard lock(mutex_);
    if (!mayChangeLocked("videoZoomFactor"))
        return;
    zoomFrom_ = zoomTarget_ = clamped;
    zoomRate_ = 0;
    if (linux_)
        linux_->setZoomFactor(clamped);
}

void CaptureDevice::rampToVideoZoomFactor(double factor, double rate) {
    const double clamped = std::clamp(factor, 1.0, activeFormat().videoMaxZoomFactor);
    const double now = uptimeSeconds();
    std::lock_guard lock(mutex_);
    if (!mayChangeLocked("videoZoomFactor"))
        return;
    zoomFrom_ = zoomAtLocked(now);
    zoomTarget_ = clamped;
    zoomRate_ = rate > 0 ? rate : 0;
    rampStart_ = now;
    if (zoomRate_ == 0)
        zoomFrom_ = clamped;
    // A camera's zoom control moves at its own pace; it is given the target at once.
    if (linux_)
        linux_->setZoomFactor(clamped);
}

}  // namespace pindle::platform
