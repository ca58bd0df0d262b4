#include "platform/capture/CaptureHardware.hpp"

#include <cstdlib>
#include <cstring>

#include "platform/audio/PulseMicrophone.hpp"
#include "platform/capture/LinuxCamera.hpp"
#include "platform/log/DeviceChoiceLog.hpp"
#include "platform/ui/private/PickerCameras.hpp"

namespace pindle::platform {

namespace {

// Installed as the library loads: the image picker offers the cameras this hardware has.
[[maybe_unused]] const bool pickerCamerasInstalled = [] {
    ui::PickerCameras::install([](ui::ImagePickerController::CameraDevice device) {
        const auto position = device == ui::ImagePickerController::CameraDevice::front
                                  ? CaptureDevicePosition::front
                                  : CaptureDevicePosition::back;
        return CaptureHardware::shared().camera(position).present;
    });
    return true;
}();

}  // namespace

CaptureHardware& CaptureHardware::shared() {
    static auto* hardware = new CaptureHardware;
    return *hardware;
}

CaptureHardware::CaptureHardware() {
    reset();
}

void CaptureHardware::reset() {
    {
        std::lock_guard real(realMutex_);
        decided_ = false;
        real_.clear();
        choice_.clear();
        selected_.clear();
    }
    {
        std::lock_guard microphone(microphoneMutex_);
        microphoneDecided_ = false;
        realMicrophone_.reset();
        microphoneChoice_.clear();
    }
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
    if (usesRealCameras()) {
        if (const auto real = realCamera(position))
            return real->capabilities();
        Camera none;
        none.position = position;
        none.present = false;
        return none;
    }
    std::lock_guard lock(mutex_);
    return position == CaptureDevicePosition::front ? front_ : back_;
}

void CaptureHardware::setCamera(const Camera& camera) {
    std::lock_guard lock(mutex_);
    (camera.position == CaptureDevicePosition::front ? front_ : back_) = camera;
}

void CaptureHardware::decideLocked() const {
    if (decided_)
        return;
    decided_ = true;
    const char* forced = std::getenv(environmentVariable);
    if (forced && std::strcmp(forced, "synthetic") == 0) {
        choice_ = std::string("synthetic cameras (") + environmentVariable + "=synthetic)";
    } else {
        std::vector<std::string> skipped;
        real_ = LinuxCamera::scan(&skipped);
        if (real_.empty()) {
            choice_ = "synthetic cameras (no V4L2 camera that can stream";
            for (const auto& why : skipped) choice_ += "; " + why;
            choice_ += ")";
        } else {
            choice_ = "V4L2 cameras:";
            for (const auto& camera : real_)
                choice_ += " " + camera->path() + " (" + camera->name() +
                           (camera->isDenied() ? ", denied" : "") + ")";
        }
    }
    DeviceChoiceLog::note("camera", choice_);
}

bool CaptureHardware::usesRealCameras() const {
    std::lock_guard lock(realMutex_);
    decideLocked();
    return !real_.empty();
}

std::vector<std::shared_ptr<LinuxCamera>> CaptureHardware::realCameras() const {
    std::lock_guard lock(realMutex_);
    decideLocked();
    return real_;
}

std::shared_ptr<LinuxCamera> CaptureHardware::realCamera(CaptureDevicePosition position) const {
    std::lock_guard lock(realMutex_);
    decideLocked();
    if (position == CaptureDevicePosition::front) {
        for (const auto& camera : real_)
            if (camera->position() == CaptureDevicePosition::front && camera->path() != selected_)
                return camera;
        return nullptr;
    }
    for (const auto& camera : real_)
        if (camera->path() == selected_)
            return camera;
    for (const auto& camera : real_)
        if (camera->position() != CaptureDevicePosition::front)
            return camera;
    return nullptr;
}

std::string CaptureHardware::cameraChoice() const {
    std::lock_guard lock(realMutex_);
    decideLocked();
    return choice_;
}

bool CaptureHardware::selectCamera(const std::string& path, std::string* why) {
    std::lock_guard lock(realMutex_);
    decideLocked();
    for (const auto& camera : real_)
        if (camera->path() == path) {
            selected_ = path;
            return true;
        }
    if (why)
        *why = real_.empty() ? "no camera " + path + " (" + choice_ + ")"
                             : "no camera " + path + " among the V4L2 cameras found";
    return false;
}

void CaptureHardware::useRealCameras(std::vector<std::shared_ptr<LinuxCamera>> cameras) {
    std::lock_guard lock(realMutex_);
    decided_ = true;
    real_ = std::move(cameras);
    selected_.clear();
    choice_ = real_.empty() ? "synthetic cameras" : "cameras chosen by the host";
}

void CaptureHardware::useSyntheticCameras(const std::string& why) {
    std::lock_guard lock(realMutex_);
    decided_ = true;
    real_.clear();
    selected_.clear();
    choice_ = "synthetic cameras (" + why + ")";
    DeviceChoiceLog::note("camera", choice_);
}

void CaptureHardware::decideMicrophoneLocked() const {
    if (microphoneDecided_)
        return;
    microphoneDecided_ = true;
    const char* forced = std::getenv(environmentVariable);
    if (forced && std::strcmp(forced, "synthetic") == 0) {
        microphoneChoice_ =
            std::string("the synthetic microphone (") + environmentVariable + "=synthetic)";
    } else {
        std::string why;
        realMicrophone_ = PulseMicrophone::connect({}, &why);
        microphoneChoice_ = realMicrophone_ ? realMicrophone_->description()
                                            : "the synthetic microphone (" + why + ")";
    }
    DeviceChoiceLog::note("microphone", microphoneChoice_);
}

std::shared_ptr<PulseMicrophone> CaptureHardware::realMicrophone() const {
    std::lock_guard lock(microphoneMutex_);
    decideMicrophoneLocked();
    return realMicrophone_;
}

std::string CaptureHardware::microphoneChoice() const {
    std::lock_guard lock(microphoneMutex_);
    decideMicrophoneLocked();
    return microphoneChoice_;
}

bool CaptureHardware::useMicrophoneServer(const std::string& address, std::string* why) {
    std::string reason;
    auto microphone = PulseMicrophone::connect(address, &reason);
    std::lock_guard lock(microphoneMutex_);
    microphoneDecided_ = true;
    realMicrophone_ = microphone;
    microphoneChoice_ =
        microphone ? microphone->description() : "the synthetic microphone (" + reason + ")";
    if (!microphone && why)
        *why = reason;
    return microphone != nullptr;
}

void CaptureHardware::useSyntheticMicrophone(const std::string& why) {
    std::lock_guard lock(microphoneMutex_);
    microphoneDecided_ = true;
    realMicrophone_.reset();
    microphoneChoice_ = "the synthetic microphone (" + why + ")";
    DeviceChoiceLog::note("microphone", microphoneChoice_);
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
