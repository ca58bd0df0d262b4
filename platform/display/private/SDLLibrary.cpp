#include "platform/display/private/SDLLibrary.hpp"

#include <dlfcn.h>

namespace pindle::platform::display {

namespace {

constexpr const char* kLibraryName = "libSDL2-2.0.so.0";

struct Loaded {
    const SDLLibrary* library = nullptr;
    std::string reason;
};

}  // namespace

// The handle is never closed: SDL keeps threads and X11 state that outlive any one window.
const SDLLibrary* SDLLibrary::load(std::string* reason) {
    static const Loaded loaded = [] {
        Loaded result;
        void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* error = dlerror();
            result.reason = error ? error : kLibraryName;
            return result;
        }
        auto* library = new SDLLibrary();
        std::string missing;
#define PINDLE_SDL_RESOLVE(function)                                               \
    if (void* symbol = dlsym(handle, #function))                                   \
        library->function = reinterpret_cast<decltype(library->function)>(symbol); \
    else if (missing.empty())                                                      \
        missing = #function;
        PINDLE_SDL_FUNCTIONS(PINDLE_SDL_RESOLVE)
#undef PINDLE_SDL_RESOLVE
        if (!missing.empty()) {
            delete library;
            result.reason = std::string(kLibraryName) + " lacks " + missing;
            return result;
        }
        result.library = library;
        return result;
    }();
    if (!loaded.library && reason)
        *reason = loaded.reason;
    return loaded.library;
}

}  // namespace pindle::platform::display
