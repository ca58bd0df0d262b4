// CaptureHardware: the capture hardware of this host: which cameras and microphone exist,
// whether access to them is granted, what each camera can do.
//
// Cameras are real or synthetic, decided once, on first use: the V4L2 cameras of the host
// (LinuxCamera) when there are any, else the synthetic ones, said once in the log
// (DeviceChoiceLog, kind "camera"). PINDLE_CAPTURE=synthetic forces the synthetic ones. Of
// the real cameras, the one a host selects (else the first not facing front) serves as the
// back camera, the first facing front as the front camera.
//
// The microphone likewise: the sound server's default source when one answers, else the
// synthetic microphone.
//
// The synthetic hardware is configurable by hosts and tests (cameras and their abilities,
// the microphone, access, injected failures: a configuration lock that fails, an input that
// cannot be created). Devices and inputs read it when they are asked, so changes apply at
// once.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pindle::platform {

class LinuxCamera;
class PulseMicrophone;

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

    static constexpr const char* environmentVariable = "PINDLE_CAPTURE";

    static CaptureHardware& shared();
    CaptureHardware(const CaptureHardware&) = delete;
    CaptureHardware& operator=(const CaptureHardware&) = delete;

    // Back to two cameras (the front one without torch or flash), a microphone, access
    // granted, no injected failures.
    void reset();

    // The camera at `position`: the real one's abilities with real cameras, else the
    // synthetic one's; `present` false when there is none.
    Camera camera(CaptureDevicePosition position) const;
    // Configures a synthetic camera.
    void setCamera(const Camera& camera);

    // Real cameras: whether they are used (deciding on the first call), all of them, and
    // the one at `position` (null when none).
    bool usesRealCameras() const;
    std::vector<std::shared_ptr<LinuxCamera>> realCameras() const;
    std::shared_ptr<LinuxCamera> realCamera(CaptureDevicePosition position) const;
    // What the cameras are and why ("synthetic cameras (no V4L2 camera found)").
    std::string cameraChoice() const;
    // The host's choice of the camera at `path` as the back camera; false, with `why`, when
    // real cameras are not in use or no such camera was found.
    bool selectCamera(const std::string& path, std::string* why);
    // Uses these cameras instead of scanning the host (file cameras in tests), or, with none,
    // the synthetic ones for the reason given. reset() forgets the choice.
    void useRealCameras(std::vector<std::shared_ptr<LinuxCamera>> cameras);
    void useSyntheticCameras(const std::string& why);
    bool hasMicrophone() const;
    void setHasMicrophone(bool present);

    // The microphone: the default source of the sound server, or the synthetic one, decided
    // on the first call (PINDLE_CAPTURE=synthetic forces the synthetic one) and said once in
    // the log (kind "microphone"). Null when the synthetic one is used.
    std::shared_ptr<PulseMicrophone> realMicrophone() const;
    // What the microphone is and why ("the synthetic microphone (no sound server: ...)").
    std::string microphoneChoice() const;
    // Records the default source of the server at `address` from now on (tests of the real
    // microphone; hosts that name their server); false, with `why`, when it has none, and the
    // synthetic microphone is used. reset() forgets the choice.
    bool useMicrophoneServer(const std::string& address, std::string* why);
    void useSyntheticMicrophone(const std::string& why);

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
    // Scans the host unless decided already. REQUIRES: realMutex_ held.
    void decideLocked() const;

    mutable std::mutex mutex_;
    Camera back_;             // guarded by mutex_
    Camera front_;            // guarded by mutex_
    bool microphone_ = true;  // guarded by mutex_
    CaptureAuthorizationStatus video_ = CaptureAuthorizationStatus::authorized;  // guarded
    CaptureAuthorizationStatus audio_ = CaptureAuthorizationStatus::authorized;  // guarded
    bool answer_ = true;       // guarded by mutex_
    bool locksFail_ = false;   // guarded by mutex_
    bool inputsFail_ = false;  // guarded by mutex_

    // Taken before mutex_ when both are needed; held while the host is scanned.
    mutable std::mutex realMutex_;
    mutable bool decided_ = false;                            // guarded by realMutex_
    mutable std::vector<std::shared_ptr<LinuxCamera>> real_;  // guarded by realMutex_
    mutable std::string choice_;                              // guarded by realMutex_
    std::string selected_;                                    // guarded by realMutex_

    // Held while the sound server is asked; taken before mutex_ when both are needed.
    mutable std::mutex microphoneMutex_;
    mutable bool microphoneDecided_ = false;                   // guarded by microphoneMutex_
    mutable std::shared_ptr<PulseMicrophone> realMicrophone_;  // guarded by microphoneMutex_
    mutable std::string microphoneChoice_;                     // guarded by microphoneMutex_
    // Decides unless decided already. REQUIRES: microphoneMutex_ held.
    void decideMicrophoneLocked() const;
};

}  // namespace pindle::platform
