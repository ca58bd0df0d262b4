// V4L2Device: one opened video device node (/dev/videoN) of the kernel's camera interface,
// for what the capture layer asks of it besides streaming: whether it captures and streams,
// its name, the modes it offers, its controls (zoom, focus, exposure, torch, where it
// faces), and setting them. Streaming itself goes through libavdevice (CameraStream).
//
// Thread-safety: one object per thread; the kernel serialises the ioctls of several.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/CameraMode.hpp"

namespace pindle::platform {

class V4L2Device {
  public:
    struct ControlRange {
        std::int32_t minimum = 0;
        std::int32_t maximum = 0;
        std::int32_t defaultValue = 0;
    };

    // /dev/video* nodes, in number order.
    static std::vector<std::string> nodes();

    // Opens `path` read-write without blocking; null with `error` set to the errno.
    static std::unique_ptr<V4L2Device> open(const std::string& path, int* error);
    ~V4L2Device();
    V4L2Device(const V4L2Device&) = delete;
    V4L2Device& operator=(const V4L2Device&) = delete;

    const std::string& path() const { return path_; }
    // The driver's name for the device ("card").
    std::string name() const;
    // A video capture device that can stream (metadata nodes and outputs cannot).
    bool capturesAndStreams() const;
    // Every size and rate of every pixel format the device offers.
    std::vector<CameraMode> modes() const;
    // Where it says it faces; nothing when it does not say.
    bool facesFront() const;

    // A control's range when the device has it and it is not disabled.
    std::optional<ControlRange> control(std::uint32_t id) const;
    bool setControl(std::uint32_t id, std::int32_t value) const;

    V4L2Device(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  private:
    int ioctlRetrying(unsigned long request, void* argument) const;

    std::string path_;
    int fd_;
};

}  // namespace pindle::platform
