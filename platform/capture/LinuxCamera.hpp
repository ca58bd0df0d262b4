// LinuxCamera: a real camera of this host, a V4L2 device node (/dev/videoN) that captures
// and streams, or a movie file standing in for one where no camera exists (tests, hosts
// showing the SDK without hardware). It says what the camera offers (modes, zoom, focus,
// exposure, torch, where it faces), sets those controls, and opens the stream a capture
// session reads: the mode nearest the session's picture size (CameraMode::choose), decoded
// and converted to the session's pixel format and size.
//
// A node the user may not open (EACCES) is still listed, as a camera that is denied.
//
// Thread-safety: all operations are safe from any thread; controls are set one at a time.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture/CaptureHardware.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/media/CameraMode.hpp"

namespace pindle::platform {

class CameraStream;
class V4L2Device;

class LinuxCamera {
  public:
    // Every /dev/video* that captures and can stream, in number order; `skipped` (when
    // given) collects why the others were left out.
    static std::vector<std::shared_ptr<LinuxCamera>> scan(std::vector<std::string>* skipped);
    // The device at `path`; null, with `why`, when it is missing or cannot stream.
    static std::shared_ptr<LinuxCamera> probe(const std::string& path, std::string* why);
    // A camera whose pictures come from the movie at `path`, offering `modes` to the
    // negotiation as a device would.
    static std::shared_ptr<LinuxCamera> fromFile(std::string path, std::string name,
                                                 std::vector<CameraMode> modes);

    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; }
    CaptureDevicePosition position() const { return position_; }
    bool isDenied() const { return denied_; }
    // Why it is denied ("cannot open /dev/video0: Permission denied"); empty when it is not.
    const std::string& deniedWhy() const { return deniedWhy_; }
    const std::vector<CameraMode>& modes() const { return modes_; }
    // As the capture layer describes a camera: present, torch, focus, exposure, the largest
    // zoom factor, and every preset (any preset is served by the nearest mode) unless the
    // camera offers no mode at all.
    CaptureHardware::Camera capabilities() const;

    // Each false when the camera has no such control or refuses the value.
    bool setTorch(bool on);
    bool setAutoFocus(bool on);
    bool setContinuousAutoExposure(bool on);
    // `factor` from 1 to capabilities().videoMaxZoomFactor, spread over the zoom control.
    bool setZoomFactor(double factor);

    // A stream of pictures for a `width` x `height` session, in the mode chosen for it
    // (`chosen`, when given). Null with `error`: "denied" for a node the user may not
    // open, a clear error for a camera with no usable mode, the device's errno when it is
    // busy or gone.
    std::unique_ptr<CameraStream> open(int width, int height, CameraMode* chosen,
                                       Error* error) const;
    // Opens the stream open() would and closes it again: false, with `error` as open() gives
    // it, when the camera cannot stream now (denied, busy, gone, no usable mode).
    bool canStream(int width, int height, Error* error) const;

    struct Controls {
        bool zoom = false;
        int zoomMinimum = 0;
        int zoomMaximum = 0;
        bool autoFocus = false;
        bool autoExposure = false;
        bool torch = false;
    };
    LinuxCamera(std::string path, std::string name, CaptureDevicePosition position,
                std::vector<CameraMode> modes, Controls controls, bool fromFile,
                std::string deniedWhy);
    ~LinuxCamera();

  private:
    bool set(std::uint32_t control, int value);

    const std::string path_;
    const std::string name_;
    const CaptureDevicePosition position_;
    const std::vector<CameraMode> modes_;
    const Controls controls_;
    const bool fromFile_;
    const bool denied_;
    const std::string deniedWhy_;

    std::mutex mutex_;
    std::unique_ptr<V4L2Device> controlDevice_;  // guarded by mutex_; opened on first use
};

}  // namespace pindle::platform
