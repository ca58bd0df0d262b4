// CaptureDevice: a camera or the microphone, with the settings a camera offers (torch,
// flash, focus, exposure and their points of interest, low-light boost, frame durations,
// zoom). A camera is synthetic, or real (a LinuxCamera, see CaptureHardware for which are
// used): a real camera's abilities are what its controls offer, and a setting it has a
// control for (torch, focus mode, exposure mode, zoom) is applied to the device too. The
// microphone is synthetic, or the sound server's default source (a PulseMicrophone).
//
// Settings change only between lockForConfiguration() and unlockForConfiguration(); a change
// made without the lock is ignored (and logged), and a lock fails when the hardware says so.
// Zoom ramps on Clock: rampToVideoZoomFactor(f, rate) doubles (or halves) the factor every
// 1/rate seconds until it reaches f, clamped to [1, the active format's maximum].
//
// Thread-safety: all operations are safe from any thread. requestAccess answers on a global
// queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture/CaptureHardware.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle::platform {

class CaptureDevice;
using CaptureDevicePtr = std::shared_ptr<CaptureDevice>;

struct CapturePoint {
    double x = 0.5;
    double y = 0.5;
    bool operator==(const CapturePoint&) const = default;
};

class CaptureDevice : public Object {
  public:
    enum class TorchMode { off = 0, on = 1, automatic = 2 };
    enum class FlashMode { off = 0, on = 1, automatic = 2 };
    enum class FocusMode { locked = 0, autoFocus = 1, continuousAutoFocus = 2 };
    enum class ExposureMode { locked = 0, autoExpose = 1, continuousAutoExposure = 2 };

    struct Format {
        double videoMaxZoomFactor = 1;
    };

    // The cameras that exist, back first, or the microphone.
    static std::vector<CaptureDevicePtr> devices(CaptureMediaType type);
    // The back camera or the microphone; null when absent.
    static CaptureDevicePtr defaultDevice(CaptureMediaType type);
    static CaptureDevicePtr camera(CaptureDevicePosition position);

    static CaptureAuthorizationStatus authorizationStatus(CaptureMediaType type);
    // Asks once: while not determined, the hardware's scripted answer becomes the status.
    static void requestAccess(CaptureMediaType type, std::function<void(bool granted)> handler);

    struct Private {
        explicit Private() = default;
    };
    CaptureDevice(Private, CaptureMediaType type, CaptureDevicePosition position);
    CaptureDevice(Private, std::shared_ptr<LinuxCamera> camera);
    CaptureDevice(Private, std::shared_ptr<PulseMicrophone> microphone);

    CaptureMediaType mediaType() const { return type_; }
    bool hasMediaType(CaptureMediaType type) const { return type == type_; }
    CaptureDevicePosition position() const { return position_; }
    // A real camera's device node ("/dev/video0"); an identifier of the synthetic hardware.
    const std::string& uniqueID() const { return uniqueID_; }
    std::string localizedName() const;
    // The real camera behind this device; null for the synthetic hardware.
    const std::shared_ptr<LinuxCamera>& linuxCamera() const { return linux_; }
    // The sound server's source behind this microphone; null for the synthetic one.
    const std::shared_ptr<PulseMicrophone>& pulseMicrophone() const { return pulse_; }
    bool supportsPreset(const std::string& preset) const;

    // False with `error` (when given) when the hardware refuses.
    bool lockForConfiguration(Error* error = nullptr);
    void unlockForConfiguration();

    bool hasTorch() const;
    bool hasFlash() const;
    bool isTorchModeSupported(TorchMode mode) const;
    bool isFlashModeSupported(FlashMode mode) const;
    bool isFocusModeSupported(FocusMode mode) const;
    bool isExposureModeSupported(ExposureMode mode) const;
    bool isFocusPointOfInterestSupported() const;
    bool isExposurePointOfInterestSupported() const;
    bool isLowLightBoostSupported() const;

    TorchMode torchMode() const;
    void setTorchMode(TorchMode mode);
    FlashMode flashMode() const;
    void setFlashMode(FlashMode mode);
    FocusMode focusMode() const;
    void setFocusMode(FocusMode mode);
    ExposureMode exposureMode() const;
    void setExposureMode(ExposureMode mode);
    CapturePoint focusPointOfInterest() const;
    void setFocusPointOfInterest(CapturePoint point);
    CapturePoint exposurePointOfInterest() const;
    void setExposurePointOfInterest(CapturePoint point);
    bool automaticallyEnablesLowLightBoostWhenAvailable() const;
    // Allowed without the lock, as the camera set-up does it.
    void setAutomaticallyEnablesLowLightBoostWhenAvailable(bool enabled);
    MediaTime activeVideoMinFrameDuration() const;
    void setActiveVideoMinFrameDuration(MediaTime duration);
    MediaTime activeVideoMaxFrameDuration() const;
    void setActiveVideoMaxFrameDuration(MediaTime duration);

    Format activeFormat() const;
    // The factor now, on the ramp when one is running.
    double videoZoomFactor() const;
    void setVideoZoomFactor(double factor);
    void rampToVideoZoomFactor(double factor, double rate);

  private:
    CaptureHardware::Camera camera() const;
    // With mutex_ held: true when the lock is held, else logs the refused change.
    bool mayChangeLocked(const char* what) const;
    double zoomAtLocked(double uptimeSeconds) const;

    const CaptureMediaType type_;
    const CaptureDevicePosition position_;
    const std::string uniqueID_;
    const std::shared_ptr<LinuxCamera> linux_;
    const std::shared_ptr<PulseMicrophone> pulse_;

    mutable std::mutex mutex_;
    bool locked_ = false;                                           // guarded by mutex_
    TorchMode torch_ = TorchMode::off;                              // guarded by mutex_
    FlashMode flash_ = FlashMode::off;                              // guarded by mutex_
    FocusMode focus_ = FocusMode::continuousAutoFocus;              // guarded by mutex_
    ExposureMode exposure_ = ExposureMode::continuousAutoExposure;  // guarded by mutex_
    CapturePoint focusPoint_;                                       // guarded by mutex_
    CapturePoint exposurePoint_;                                    // guarded by mutex_
    bool lowLightBoost_ = false;                                    // guarded by mutex_
    MediaTime minFrameDuration_{1, 30};                             // guarded by mutex_
    MediaTime maxFrameDuration_{1, 30};                             // guarded by mutex_
    // The zoom ramp: from `zoomFrom_` at `rampStart_` toward `zoomTarget_` at `zoomRate_`.
    double zoomFrom_ = 1;    // guarded by mutex_
    double zoomTarget_ = 1;  // guarded by mutex_
    double zoomRate_ = 0;    // guarded by mutex_; 0: no ramp
    double rampStart_ = 0;   // guarded by mutex_; uptime in seconds
};

}  // namespace pindle::platform
