// CaptureSession: joins capture inputs (cameras, the microphone) to outputs (video, audio and
// metadata data outputs) and runs them.
//
// While running and not interrupted, a real camera input (a LinuxCamera) streams its
// pictures, in the mode nearest the preset's size, converted to the video data output's
// pixel format and to the preset's size (960x540, 480x360 or 1280x720), stamped with the
// Clock's uptime when they arrive; a camera that fails or goes away (unplugged) ends in a
// runtime error and a stop, as a hardware failure does. A real microphone input (a
// PulseMicrophone) is recorded likewise: its sound, mono 16-bit at 44.1 kHz in buffers of
// 1,024 frames stamped by the sound's own clock, goes to the audio data outputs; the sound
// server going away ends in a runtime error and a stop.
//
// Otherwise the synthetic hardware delivers: pictures of the first
// camera input, sized by the preset (960x540 for iFrame 960x540, 480x360 for medium, 1280x720
// for high; turned upright for the portrait orientations of the video output's connection),
// to the video data outputs; sound of the microphone input to the audio data outputs; and the
// QR code in front of the camera, if any, to the metadata outputs, with each picture. Pacing
// and manual pushes are SyntheticCaptureSource's.
//
// Notifications (default center, the session as the object, on the thread that made the
// change or, for the hooks below, that called them): did-start-running, did-stop-running,
// was-interrupted, interruption-ended, and runtime-error with the error under `errorKey`
// (followed by a stop). "running" and "interrupted" are key-value observable.
//
// Thread-safety: all operations are safe from any thread; no lock is held while posting,
// announcing or delivering. Destroying a running session stops its pacing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/PulseMicrophone.hpp"
#include "platform/capture/CaptureAudioDataOutput.hpp"
#include "platform/capture/CaptureDeviceInput.hpp"
#include "platform/capture/CaptureMetadataOutput.hpp"
#include "platform/capture/CaptureVideoDataOutput.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchTimerSource.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/KeyValueObserving.hpp"

namespace pindle::platform {

class CameraStream;
class CaptureSession;
using CaptureSessionPtr = std::shared_ptr<CaptureSession>;

class CaptureSession : public KeyValueObservable {
  public:
    static constexpr const char* didStartRunningNotification =
        "AVCaptureSessionDidStartRunningNotification";
    static constexpr const char* didStopRunningNotification =
        "AVCaptureSessionDidStopRunningNotification";
    static constexpr const char* wasInterruptedNotification =
        "AVCaptureSessionWasInterruptedNotification";
    static constexpr const char* interruptionEndedNotification =
        "AVCaptureSessionInterruptionEndedNotification";
    static constexpr const char* runtimeErrorNotification =
        "AVCaptureSessionRuntimeErrorNotification";
    static constexpr const char* errorKey = "AVCaptureSessionErrorKey";

    static CaptureSessionPtr make();
    struct Private {
        explicit Private() = default;
    };
    explicit CaptureSession(Private);
    ~CaptureSession() override;

    bool canAddInput(const CaptureDeviceInputPtr& input) const;
    void addInput(const CaptureDeviceInputPtr& input);
    void removeInput(const CaptureDeviceInputPtr& input);
    std::vector<CaptureDeviceInputPtr> inputs() const;
    bool canAddOutput(const CaptureOutputPtr& output) const;
    void addOutput(const CaptureOutputPtr& output);
    void removeOutput(const CaptureOutputPtr& output);
    std::vector<CaptureOutputPtr> outputs() const;

    // True when every camera input supports the preset (any known preset without one).
    bool canSetSessionPreset(const std::string& preset) const;
    void setSessionPreset(const std::string& preset);
    std::string sessionPreset() const;
    void beginConfiguration();
    void commitConfiguration();

    void startRunning();
    void stopRunning();
    bool isRunning() const;
    bool isInterrupted() const;
    Value valueForKey(std::string_view key) const override;

    // Hooks for hosts and tests: a phone call, its end, a failure of the hardware.
    void simulateInterruption();
    void simulateInterruptionEnded();
    void simulateRuntimeError(const Error& error);

    // Internal, from SyntheticCaptureSource: deliver one picture, sound buffer or list of
    // recognised objects to the outputs now (nothing unless running and not interrupted).
    void deliverPicture(MediaTime presentationTime, std::int64_t frameNumber);
    void deliverSound(MediaTime presentationTime, std::size_t frames);
    void deliverMetadata(const std::vector<MetadataObject>& objects);

  private:
    bool delivering() const;
    CaptureDevicePtr camera() const;
    bool hasMicrophone() const;
    void startPacing();
    void stopPacing();
    void setFlag(const char* key, bool& field, bool value);
    void post(const char* name, Dictionary userInfo = {});
    // Starts, restarts or stops the real camera's stream and the real microphone's recording
    // to match the inputs, preset, pixel format and running state.
    void refreshStreams();
    void refreshCameraStream();
    void refreshMicrophoneRecording();
    CaptureDevicePtr microphone() const;
    void deliverMicrophoneSound(std::vector<std::int16_t> samples, MediaTime time);
    void deliverCameraPicture(const PixelBufferPtr& picture, MediaTime arrived);

    const std::shared_ptr<DispatchQueue> paceQueue_;

    mutable std::mutex mutex_;
    std::vector<CaptureDeviceInputPtr> inputs_;  // guarded by mutex_
    std::vector<CaptureOutputPtr> outputs_;      // guarded by mutex_
    std::string preset_;                         // guarded by mutex_
    int configurationDepth_ = 0;                 // guarded by mutex_
    bool running_ = false;                       // guarded by mutex_
    bool interrupted_ = false;                   // guarded by mutex_
    std::int64_t framesPaced_ = 0;               // guarded by mutex_; next picture due
    std::int64_t soundsPaced_ = 0;               // guarded by mutex_; next sound buffer due
    DispatchTimerSourcePtr videoTimer_;          // guarded by mutex_
    DispatchTimerSourcePtr audioTimer_;          // guarded by mutex_

    // Taken before mutex_, never by the stream's own thread; held while a stream is joined.
    std::mutex streamMutex_;
    std::unique_ptr<CameraStream> cameraStream_;  // guarded by streamMutex_
    std::string streamKey_;                       // guarded by streamMutex_; what it streams
    std::unique_ptr<PulseMicrophone::Recording> microphoneRecording_;  // guarded by streamMutex_
    std::shared_ptr<PulseMicrophone> recordingFrom_;                   // guarded by streamMutex_
};

}  // namespace pindle::platform
