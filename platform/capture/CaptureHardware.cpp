#include "platform/capture/CaptureHardware.hpp"

namespace pindle::platform {

CaptureHardware& CaptureHardware::shared() {
    static auto* hardware = new CaptureHardware;
    return *hardware;
}

CaptureHardware::CaptureHardware() {
    reset();
}

void CaptureHardware::reset() {
    std::lock_guard lock(mutex_);
    back_ = Camera{};
    front_ = Camera{};
    front_.position = CaptureDevicePosition::front;
    front_.hasTorch = false;
    front_.hasFlash = false;
    front_.supportsAutoFocus = false;
    front_.presets = {presetMedium, presetHigh};
    microphone_ = true;
    video_ = audio_ = CaptureAuthorizationStatus::authorized;
    answer_ = true;
    locksFail_ = inputsFail_ = false;
}

CaptureHardware::Camera CaptureHardware::camera(CaptureDevicePosition position) const {
    std::lock_guard lock(mutex_);
    return position == CaptureDevicePosition::front ? front_ : back_;
}

void CaptureHardware::setCamera(const Camera& camera) {
    std::lock_guard lock(mutex_);
    (camera.position == CaptureDevicePosition::front ? front_ : back_) = camera;
}

bool CaptureHardware::hasMicrophone() const {
    std::lock_guard lock(mutex_);
    return microphone_;
}

void CaptureHardware::setHasMicrophone(bool present) {
    std::lock_guard lock(mutex_);
    microphone_ = present;
}

CaptureAuthorizationStatus CaptureHardware::authorizationStatus(CaptureMediaType type) const {
    std::lock_guard lock(mutex_);
    return type == CaptureMediaType::video ? video_ : audio_;
}

void CaptureHardware::setAuthorizationStatus(CaptureMediaType type,
                                             CaptureAuthorizationStatus status) {
    std::lock_guard lock(mutex_);
    (type == CaptureMediaType::video ? video_ : audio_) = status;
}

void CaptureHardware::setAnswerToAccessRequests(bool granted) {
    std::lock_guard lock(mutex_);
    answer_ = granted;
}

bool CaptureHardware::answerToAccessRequests() const {
    std::lock_guard lock(mutex_);
    return answer_;
}

bool CaptureHardware::configurationLocksFail() const {
    std::lock_guard lock(mutex_);
    return locksFail_;
}

void CaptureHardware::setConfigurationLocksFail(bool fail) {
    std::lock_guard lock(mutex_);
    locksFail_ = fail;
}

bool CaptureHardware::inputCreationFails() const {
    std::lock_guard lock(mutex_);
    return inputsFail_;
}

void CaptureHardware::setInputCreationFails(bool fail) {
    std::lock_guard lock(mutex_);
    inputsFail_ = fail;
}

}  // namespace pindle::platform
