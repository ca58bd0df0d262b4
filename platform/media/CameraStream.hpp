// CameraStream: pictures from a camera, decoded and converted to what a capture session
// wants. A stream reads its source on a thread of its own: a V4L2 device through
// libavdevice's video4linux2 demuxer, in the mode negotiated for it, or a movie file, which
// goes through the same decoding and conversion and serves where no camera exists (tests,
// demonstrations). Each picture is decoded (raw or MJPEG) and converted with swscale to the
// target's pixel format and size, filling the target (cropped to its aspect ratio, then
// scaled).
//
// The stream ends, with one call of the end handler, when the source fails: a device that
// went away (unplugged), an I/O error, a camera that delivers nothing for
// `silenceLimit`, or the end of a file. stop() ends it without that call.
//
// Thread-safety: start() and stop() from one owner thread, never from the handlers; the
// handlers run on the stream's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/Error.hpp"
#include "platform/media/CameraMode.hpp"
#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

namespace ffmpeg {
class Input;
}

class CameraStream {
  public:
    struct Target {
        PixelBuffer::Format format = PixelBuffer::Format::nv12;
        int width = 0;
        int height = 0;
    };
    using FrameHandler = std::function<void(const PixelBufferPtr& picture)>;
    using EndHandler = std::function<void(const Error& why)>;

    static constexpr std::chrono::seconds silenceLimit{3};

    // The device node streaming `mode`. Null with `error`: POSIX EACCES for a node the user
    // may not open, EBUSY for a camera another program streams from, ENOENT or ENODEV for
    // one that is gone; a MediaError when FFmpeg cannot be opened.
    static std::unique_ptr<CameraStream> openDevice(const std::string& path, const CameraMode& mode,
                                                    Error* error);
    // The first video track of a movie file, delivered at its own frame rate.
    static std::unique_ptr<CameraStream> openFile(const std::string& path, Error* error);
    ~CameraStream();
    CameraStream(const CameraStream&) = delete;
    CameraStream& operator=(const CameraStream&) = delete;

    void start(const Target& target, FrameHandler onFrame, EndHandler onEnd);
    void stop();

    // What the stream reads ("/dev/video0 (MJPG 1280x720 at 30 fps)", a file's path).
    const std::string& description() const { return description_; }

    CameraStream(std::unique_ptr<ffmpeg::Input> input, std::string description, bool paced);

  private:
    void run(Target target, FrameHandler onFrame, EndHandler onEnd);
    // Waits up to `duration` unless stop() comes first; false when stopped.
    bool pause(std::chrono::microseconds duration);

    std::unique_ptr<ffmpeg::Input> input_;
    const std::string description_;
    const bool paced_;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;  // guarded by mutex_
};

}  // namespace pindle::platform
