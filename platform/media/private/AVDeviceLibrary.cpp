#include "platform/media/private/AVDeviceLibrary.hpp"

#include <dlfcn.h>

extern "C" {
#include <libavdevice/avdevice.h>
}

#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

namespace {

#define PINDLE_AVDEVICE_SONAME(major) "libavdevice.so." AV_STRINGIFY(major)

}  // namespace

bool AVDeviceLibrary::ready(std::string* why) {
    // The handle is never closed: the registered demuxers live in FFmpeg's tables.
    static const std::string failure = []() -> std::string {
        Error error;
        if (!ffmpeg::loadLibrary(&error))
            return error.localizedDescription();
        void* handle =
            dlopen(PINDLE_AVDEVICE_SONAME(LIBAVDEVICE_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* reason = dlerror();
            return reason ? reason : "cannot open libavdevice";
        }
        auto* registerAll = reinterpret_cast<decltype(&avdevice_register_all)>(
            dlsym(handle, "avdevice_register_all"));
        if (!registerAll)
            return "libavdevice has no avdevice_register_all";
        registerAll();
        return {};
    }();
    if (!failure.empty() && why)
        *why = failure;
    return failure.empty();
}

}  // namespace pindle::platform
