// PCaptureSession: the legacy camera and recording object: it shows the camera, records
// video and sound into one MPEG-4 file per requested resolution at once ("720p", "540p",
// "360p", each with its own bit rate), reads QR codes and drives torch, zoom and focus.
//
// It wraps one platform CaptureSession with a camera input, the microphone input and video,
// audio and metadata outputs, all delivering to one serial capture queue the object owns.
// `state` follows the public calls on the caller's thread; the queued work and the sample
// callbacks follow `queuedState` on the capture queue. States: 0 idle, 1 starting, 2
// capturing, 3 stopping a recording, 4 starting a recording, 5 paused, 6 recording.
//
// Recording rebuilds the timeline on the capture queue: the first picture fixes every file's
// start; a video gap of n frame periods is filled with n - 1 repeated pictures 33,363 µs
// apart; sound is re-timed in steps of 2,322/100,000 s, and a gap of three or more steps is
// filled with muted copies (the rounding carried in a compensation time); sound before the
// first picture is dropped; a pause leaves no hole. Without camera frames (audio only) the
// placeholder picture is written; with no camera at all, the sound's own times place one
// placeholder picture per frame period, so an audio-only recording still keeps its sound.
//
// Where it differs from a plain reading of its contract, it does the sound thing: a file-name
// pattern is never used as a format string (its first "%@" is replaced, nothing else); a
// resolution whose file another resolution of the recording already has gets no writer (a
// pattern without "%@"; the first keeps the file, written whole, never interleaved); appends
// skip writers that failed or are not writing, so nothing waits for ever on a writer; stopping
// a recording with no writer returns to capturing and calls the completion; muting zeroes
// every byte of a buffer; a muted filler is a copy that leaves its original intact; and
// destroying the object stops the camera, detaches the delegates on the capture queue and
// cancels open writers. An interruption that ends clears the interruption (and starts the
// camera again when it was stopped meanwhile); a recording goes on through an interruption,
// also one during which the system stops the camera (only a start in progress becomes
// capturing when the camera runs), and the interrupted stretch is left out of the files as a
// pause is, not filled with repeated pictures and muted sound; a stop the host asks for is final
// even during an interruption, so the object always comes back to idle, and an interruption
// that ends after it leaves the camera off; a did-stop-running of a session the object no
// longer uses changes nothing; capture stopped while the recorded files are still finishing
// leaves the object idle (the stop-recording completion still runs); the platform session
// stopping for good under a recording (the host stopping it itself) finishes and keeps the
// files, as stopping capture does; a stop of the recording asked for while files are still
// being finished answers on the capture queue once they are complete, not at once; and a
// figure change while capturing re-attaches the camera on the capture queue, where the
// sample callbacks read the inputs, not on the caller's thread.
//
// The video output keeps late frames (up to a second of them wait for the capture queue) and
// the platform drops what comes past that: an encoder slower than the camera loses pictures,
// whose gaps are filled as any other, instead of queueing them without end.
//
// Delegate calls: torch-enabled and QR output on the capture queue, failed-with-error on the
// main queue. The delegate is held weakly. Thread-safety: all public operations are safe
// from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/capture/PCaptureSessionDelegate.hpp"
#include "platform/capture/CaptureSession.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Rect.hpp"
#include "platform/foundation/WeakDelegate.hpp"
#include "platform/media/AssetWriter.hpp"
#include "platform/media/AssetWriterInputPixelBufferAdaptor.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/PixelBufferScaler.hpp"

namespace pindle::legacy {

// Exported for hosts that pass a device orientation and its time along; nothing here reads
// them.
inline constexpr const char* PCapturedDeviceOrientationValue = "PCapturedDeviceOrientationValue";
inline constexpr const char* PCapturedDeviceOrientationTimeStamp =
    "PCapturedDeviceOrientationTimeStamp";

enum PCaptureSessionState : int {
    PCaptureSessionStateIdle = 0,
    PCaptureSessionStateStarting = 1,
    PCaptureSessionStateCapturing = 2,
    PCaptureSessionStateStopping = 3,
    PCaptureSessionStateStartingRecording = 4,
    PCaptureSessionStatePaused = 5,
    PCaptureSessionStateRecording = 6,
};

enum PCaptureMode : int {
    PCaptureModeBackCamera = 0,
    PCaptureModeFrontCamera = 1,
    PCaptureModeAudioOnly = 2
};

class PCaptureSession : public platform::KeyValueObservable,
                        public platform::CaptureOutputSampleBufferDelegate,
                        public platform::CaptureMetadataOutputObjectsDelegate {
  public:
    static constexpr const char* captureModeKey = "captureMode";

    // Made first and set up after, so that the object can hand out weak references to itself.
    static std::shared_ptr<PCaptureSession> make();
    struct Private {
        explicit Private() = default;
    };
    explicit PCaptureSession(Private);
    ~PCaptureSession() override;

    void setDelegate(const std::shared_ptr<PCaptureSessionDelegate>& delegate);

    static bool canCaptureWithSessionMode(int mode);
    void startCaptureWithCaptureSessionMode(int mode);
    // Stops capture on the capture queue, after what is queued there already; returns at once.
    void stopCapture();
    // The same, waiting until the stop has run: the camera is stopped and open files are
    // being finished when it returns (the state reaches idle once the session's stop news is
    // handled on the capture queue). Called on the capture queue itself it runs at once,
    // where waiting could never end.
    void stopCapturePrivateSync();
    void setCaptureMode(int mode, std::function<void(bool)> block);

    // The platform session while capturing; null when idle.
    platform::CaptureSessionPtr captureSession() const;
    int state() const { return state_.load(); }
    int queuedState() const { return queuedState_.load(); }
    int captureMode() const;
    platform::Value valueForKey(std::string_view key) const override;

    int figure() const;
    void setFigure(int figure);
    platform::ui::Rect rectToRecord() const;
    platform::ui::Rect getRecorderRectForOrientation(int orientation,
                                                     const std::string& resolution) const;
    int getCurrentVideoOrientation() const;
    platform::CaptureDevicePtr getVideoDevice() const;

    // Queued on the capture queue: turns the video connection to the interface's orientation
    // and recomputes the recording rectangle, which writers made after it take.
    void updateWriterAccordingCurrentOrientation();

    // Each setting goes to the camera in use (getVideoDevice()), or to the device given; a
    // missing device, or one whose configuration lock fails, changes nothing.
    float zoomFactor() const;
    void setZoomFactor(float factor);
    // The factor, kept between 1 and the active format's largest zoom, ramped to at rate 10.
    void setZoomFactor(float factor, const platform::CaptureDevicePtr& device);
    bool torch() const;
    void setTorch(bool on);
    void setTorch(bool on, const platform::CaptureDevicePtr& device);
    // False in audio-only mode, else torchEnabledDevice() of the camera in use.
    bool torchEnabled() const;
    // Whether `device` has a torch that can be switched on.
    static bool torchEnabledDevice(const platform::CaptureDevicePtr& device);
    platform::CapturePoint focusPoint() const;
    void setFocusPoint(platform::CapturePoint point);
    // Exposure and focus on the point, in the device's normalised coordinates, where the
    // device supports them; the point is kept only when the lock succeeded.
    void setFocusPoint(platform::CapturePoint point, const platform::CaptureDevicePtr& device);

    // Whether `time` lies less than one re-timed sound step (2,322/100,000 s) past its whole
    // seconds (truncated toward zero). False for a time that is no number.
    static bool closeToIntegerTime(platform::MediaTime time);
    // `time` truncated toward zero to whole seconds, at timescale 1; a time that is no number
    // comes back as it is.
    static platform::MediaTime closestIntegerTimer(platform::MediaTime time);

    // The pattern's first "%@" receives the resolution name; the result is the file's path.
    void startRecordingWithFileNamePattern(const std::string& pattern,
                                           const std::vector<std::string>& resolutions);
    void pauseRecording();
    void continueRecording();
    void stopRecordingWithCompletionBlock(std::function<void()> completion);

    // Zeroes all the buffer's samples.
    static void muteAudioInBuffer(platform::SampleBuffer& buffer);
    // The picture written while there are no camera frames: 480x480 ARGB, the bundle's
    // "recorder_btn_mic" image on a lilac field. Made on first use and again after each
    // writer is built; safe to read from any thread, also while recording.
    platform::PixelBufferPtr micPixelBuffer();
    // A new opaque ARGB buffer of `size`: the lilac field with `image` (if any) drawn in the
    // microphone's place. Null when the size cannot be made.
    static platform::PixelBufferPtr pixelBufferFromImage(const platform::ImagePtr& image,
                                                         platform::Size size);

    // The serial queue everything runs on (for hosts and tests that need to wait for it).
    const std::shared_ptr<platform::DispatchQueue>& captureQueue() const { return queue_; }

    void captureOutput(platform::CaptureOutput& output,
                       const platform::SampleBufferPtr& sampleBuffer,
                       platform::CaptureConnection& connection) override;
    void captureOutput(platform::CaptureMetadataOutput& output,
                       const std::vector<platform::MetadataObject>& objects,
                       platform::CaptureConnection& connection) override;

  private:
    // Moves the state from `from` to `to` at once, and the capture queue's copy after the
    // frames already queued; nothing happens when the state is not `from`.
    void moveRecordingState(int from, int to, const char* logLine);
    struct Writer {
        platform::AssetWriterPtr writer;
        platform::AssetWriterInputPtr video;
        platform::AssetWriterInputPtr audio;
        std::shared_ptr<platform::AssetWriterInputPixelBufferAdaptor> adaptor;
        platform::KeyValueObservationPtr statusObservation;
    };

    std::shared_ptr<PCaptureSession> self();
    void setUp();
    // Capture-queue steps.
    void startCaptureOnQueue();
    void initDevices();
    void updateSessionVideoInputWithMode(int mode);
    void updateOrientation();
    void stopCaptureDef();
    void cleanSession();
    void setWriterForResolution(const std::string& resolution);
    void handleVideo(const platform::SampleBufferPtr& sample);
    // The picture step at `pts`: the camera's `sample`, or with none the placeholder.
    void handlePicture(platform::MediaTime pts, const platform::SampleBufferPtr& sample);
    // With no camera, a placeholder picture at `pts` when a frame period has passed.
    void placeholderPictureAt(platform::MediaTime pts);
    void handleAudio(const platform::SampleBufferPtr& sample);
    void appendPicture(const platform::PixelBufferPtr& picture, platform::MediaTime time);
    void appendSound(const platform::SampleBufferPtr& sound);
    void sessionStarted();
    void sessionStopped(const platform::Object* sender);
    void interruptionEnded(const platform::Object* sender);
    // Back to idle once the platform session has stopped for good.
    void finishStop();
    // Asks every writer to finish its file; `done` runs on the capture queue once all have
    // (at once when there is none).
    void finishWriters(std::function<void()> done);
    // `completion` on the capture queue once no file is being finished.
    void whenFilesFinished(std::function<void()> completion);
    void writerStatusChanged(const platform::AssetWriterPtr& writer);
    std::shared_ptr<PCaptureSessionDelegate> delegate() const;
    void updateRect();

    const std::shared_ptr<platform::DispatchQueue> queue_;
    std::atomic<int> state_{PCaptureSessionStateIdle};
    std::atomic<int> queuedState_{PCaptureSessionStateIdle};
    // Set by the host's stop of capture until the object is idle.
    std::atomic<bool> stopRequested_{false};

    // The files being finished, shared with the writers' completions, which may come after
    // the object is gone.
    struct FinishingFiles {
        platform::DispatchGroup group;
        std::atomic<int> count{0};
    };
    const std::shared_ptr<FinishingFiles> finishing_ = std::make_shared<FinishingFiles>();

    mutable std::mutex mutex_;
    platform::WeakDelegate<PCaptureSessionDelegate> delegate_;
    int captureMode_ = PCaptureModeBackCamera;                                  // guarded by mutex_
    int figure_ = 1;                                                            // guarded by mutex_
    int currentOrientation_ = 1;                                                // guarded by mutex_
    platform::ui::Rect rectToRecord_;                                           // guarded by mutex_
    bool tablesFilled_ = false;                                                 // guarded by mutex_
    float zoomVal_ = 1;                                                         // guarded by mutex_
    bool torchVal_ = false;                                                     // guarded by mutex_
    platform::CapturePoint focusPoint_;                                         // guarded by mutex_
    platform::CaptureSessionPtr session_;                                       // guarded by mutex_
    std::vector<platform::NotificationCenter::RegistrationPtr> registrations_;  // guarded

    // Capture-queue state: touched only on queue_.
    std::shared_ptr<platform::CaptureVideoDataOutput> videoOutput_;
    std::shared_ptr<platform::CaptureAudioDataOutput> audioOutput_;
    std::shared_ptr<platform::CaptureMetadataOutput> metadataOutput_;
    platform::CaptureDeviceInputPtr backCameraInput_;
    platform::CaptureDeviceInputPtr frontCameraInput_;
    platform::CaptureDeviceInputPtr audioInput_;
    bool hasVideoOutput_ = true;
    bool cameraAttached_ = false;
    bool startedWithAudioOnlyAndStillAudioOnly_ = false;
    bool isInterrupted_ = false;
    // Set by an interruption: the next picture and sound buffer follow the last ones by one
    // period, so the interrupted stretch is left out of the files as a pause is.
    bool rejoinVideo_ = false;
    bool rejoinSound_ = false;
    std::vector<std::string> activeResolutions_;
    std::map<std::string, std::string> fileNames_;
    std::map<std::string, Writer> writers_;
    // Brings a camera picture to the renditions' size once for all of them.
    platform::PixelBufferScaler recordingScaler_;
    platform::SampleBufferPtr lastFrame_;
    // The placeholder is also read by the host (micPixelBuffer()) while the capture queue
    // replaces it.
    mutable std::mutex placeholderMutex_;
    platform::PixelBufferPtr micPixelBuffer_;  // guarded by placeholderMutex_
    platform::MediaTime lastFrameTimeForCapture_ = platform::MediaTime::zero();
    platform::MediaTime lastFrameTimeForWriter_ = platform::MediaTime::zero();
    platform::MediaTime lastSoundFrameTimeCapture_ = platform::MediaTime::zero();
    platform::MediaTime lastSoundFrameTime_ = platform::MediaTime::zero();
    platform::MediaTime compensateTime_ = platform::MediaTime::zero();
    std::optional<std::string> lastQR_;
    std::optional<platform::Date> lastQRScanningDate_;
};

}  // namespace pindle::legacy
