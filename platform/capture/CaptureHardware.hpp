// CaptureHardware: the synthetic capture hardware of this host, configurable by hosts and
// tests: which cameras and microphone exist, whether access to them is granted, what each
// camera can do, and injected failures (a configuration lock that fails, an input that cannot
// be created). Devices and inputs read it when they are asked, so changes apply at once.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace pindle::platform {

enum class CaptureDevicePosition { unspecified = 0, back = 1, front = 2 };
enum class CaptureMediaType { video, audio };
enum class CaptureAuthorizationStatus {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    authorized = 3
};

class CaptureHardware {
  public:
    static constexpr const char* presetIFrame960x540 = "AVCaptureSessionPresetiFrame960x540";
    static constexpr const char* presetMedium = "AVCaptureSessionPresetMedium";
    static constexpr const char* presetHigh = "AVCaptureSessionPresetHigh";

    struct Camera {
        CaptureDevicePosition position = CaptureDevicePosition::back;
        bool present = true;
        bool hasTorch = true;
        bool hasFlash = true;
        bool supportsAutoFocus = true;
        bool supportsContinuousAutoExposure = true;
        bool supportsPointsOfInterest = true;
        bool supportsLowLightBoost = false;
        double videoMaxZoomFactor = 4.0;
        std::vector<std::string> presets{presetIFrame960x540, presetMedium, presetHigh};
    };

    static CaptureHardware& shared();
    CaptureHardware(const CaptureHardware&) = delete;
    CaptureHardware& operator=(const CaptureHardware&) = delete;

    // Back to two cameras (the front one without torch or flash), a microphone, access
    // granted, no injected failures.
    void reset();

    Camera camera(CaptureDevicePosition position) const;
    void setCamera(const Camera& camera);
    bool hasMicrophone() const;
    void setHasMicrophone(bool present);

    CaptureAuthorizationStatus authorizationStatus(CaptureMediaType type) const;
    void setAuthorizationStatus(CaptureMediaType type, CaptureAuthorizationStatus status);
    // What requestAccess answers while the status is not determined.
    void setAnswerToAccessRequests(bool granted);
    bool answerToAccessRequests() const;

    bool configurationLocksFail() const;
    void setConfigurationLocksFail(bool fail);
    bool inputCreationFails() const;
    void setInputCreationFails(bool fail);

  private:
    CaptureHardware();

    mutable std::mutex mutex_;
    Camera back_;             // guarded by mutex_
    Camera front_;            // guarded by mutex_
    bool microphone_ = true;  // guarded by mutex_
    CaptureAuthorizationStatus video_ = CaptureAuthorizationStatus::authorized;  // guarded
    CaptureAuthorizationStatus audio_ = CaptureAuthorizationStatus::authorized;  // guarded
    bool answer_ = true;       // guarded by mutex_
    bool locksFail_ = false;   // guarded by mutex_
    bool inputsFail_ = false;  // guarded by mutex_
};

}  // namespace pindle::platform
