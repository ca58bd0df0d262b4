// SyntheticCaptureSource: the pictures and sound of the synthetic capture hardware, and the
// switch between paced and pushed delivery.
//
// Pictures: a grey field with a bar that moves once a second, the frame number as a row of
// 16 blocks across the top quarter (most significant bit on the left; bright for a one, dark
// for a zero), and a tint per camera (back bluish, front reddish). Sound: a 440 Hz sine, mono
// signed 16-bit at 44,100 Hz, in buffers of 1,024 frames. Times are Clock uptime, stamped as a
// device's clock does: picture k of a running session at its start + k/30 s (its number is
// k), sound buffer k at its start + k x 1,024/44,100 s, however late the pacing timers fire.
// Pictures a late timer could not hand over are dropped; sound buffers all come, in order (up
// to about two seconds back).
//
// Automatic mode (the default): every running session paces its own camera at 30 frames a
// second and its microphone buffer by buffer on Clock, so VirtualClock::advance() delivers
// them. Manual mode: nothing is paced; pushVideo, pushAudio and pushMetadata deliver to every
// running session at the times given, so tests can place gaps exactly.
//
// Thread-safety: all operations are safe from any thread. Deliveries reach each output's
// delegate on its queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/CaptureHardware.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/media/PixelBuffer.hpp"
#include "platform/media/SampleBuffer.hpp"

namespace pindle::platform {

class CaptureSession;

class SyntheticCaptureSource {
  public:
    static constexpr double framesPerSecond = 30;
    static constexpr int sampleRate = 44100;
    static constexpr std::size_t framesPerAudioBuffer = 1024;
    static constexpr double toneHz = 440;

    static SyntheticCaptureSource& shared();
    SyntheticCaptureSource(const SyntheticCaptureSource&) = delete;
    SyntheticCaptureSource& operator=(const SyntheticCaptureSource&) = delete;

    bool isManual() const;
    void setManual(bool manual);
    // A QR code in front of the camera: every picture then carries it (nothing when unset).
    void setQRCode(std::optional<std::string> text);
    std::optional<std::string> qrCode() const;

    // Manual mode: one picture (numbered in push order), one sound buffer, or one
    // recognised object, to every running session.
    void pushVideo(MediaTime presentationTime);
    void pushAudio(MediaTime presentationTime, std::size_t frames = framesPerAudioBuffer);
    void pushMetadata(const std::string& type, const std::string& text);

    // The picture of `frameNumber` from the camera at `position`.
    static PixelBufferPtr makePicture(PixelBuffer::Format format, int width, int height,
                                      CaptureDevicePosition position, std::int64_t frameNumber);
    // `frames` of the tone as they sound from `presentationTime` on.
    static SampleBufferPtr makeSound(MediaTime presentationTime, std::size_t frames);

    // Internal: sessions that run register so that pushes reach them.
    void sessionStarted(const std::shared_ptr<CaptureSession>& session);
    void sessionStopped(const CaptureSession* session);

  private:
    SyntheticCaptureSource() = default;
    std::vector<std::shared_ptr<CaptureSession>> runningSessions();

    mutable std::mutex mutex_;
    bool manual_ = false;                                  // guarded by mutex_
    std::optional<std::string> qrCode_;                    // guarded by mutex_
    std::int64_t pushedFrames_ = 0;                        // guarded by mutex_
    std::vector<std::weak_ptr<CaptureSession>> sessions_;  // guarded by mutex_
};

}  // namespace pindle::platform
