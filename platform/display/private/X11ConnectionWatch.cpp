#include "platform/display/private/X11ConnectionWatch.hpp"

#include <dlfcn.h>

#include <atomic>

namespace pindle::platform::display {

namespace {

constexpr const char* x11Library = "libX11.so.6";

// Xlib's own types, kept opaque: only the handlers' shapes matter here.
using IOErrorHandler = int (*)(void* display);
using IOErrorExitHandler = void (*)(void* display, void* data);
using SetIOErrorHandler = IOErrorHandler (*)(IOErrorHandler);
using SetIOErrorExitHandler = void (*)(void* display, IOErrorExitHandler, void* data);

std::atomic<bool> broken{false};

int quietIOError(void*) {
    broken.store(true);
    return 0;
}

void returnInsteadOfExit(void*, void*) {
    broken.store(true);
}

}  // namespace

bool X11ConnectionWatch::watch(void* xDisplay) {
    if (!xDisplay)
        return false;
    // Already loaded by SDL; RTLD_NOLOAD only finds it.
    void* handle = dlopen(x11Library, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle)
        return false;
    auto setExit = reinterpret_cast<SetIOErrorExitHandler>(dlsym(handle, "XSetIOErrorExitHandler"));
    auto setHandler = reinterpret_cast<SetIOErrorHandler>(dlsym(handle, "XSetIOErrorHandler"));
    if (!setExit || !setHandler) {
        dlclose(handle);
        return false;
    }
    setHandler(quietIOError);
    setExit(xDisplay, returnInsteadOfExit, nullptr);
    // The reference taken here keeps libX11 mapped while the handlers are installed.
    return true;
}

bool X11ConnectionWatch::lost() {
    return broken.load();
}

}  // namespace pindle::platform::display
