// AVDeviceLibrary: FFmpeg's device demuxers (libavdevice), opened with dlopen the first time
// a process streams from a camera, after the media layer's own FFmpeg libraries. libavdevice
// brings in the desktop's capture and display libraries, which nothing else should pay for.
//
// Thread-safety: ready() loads once, under the C++ runtime's static-initialisation lock.
#pragma once

#include <string>

namespace pindle::platform {

class AVDeviceLibrary {
  public:
    AVDeviceLibrary() = delete;

    // True once the device demuxers (video4linux2 among them) are registered with FFmpeg;
    // false, with `why`, when libavdevice or FFmpeg cannot be opened.
    static bool ready(std::string* why = nullptr);
};

}  // namespace pindle::platform
