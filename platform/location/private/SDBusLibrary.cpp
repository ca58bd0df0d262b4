#include "platform/location/private/SDBusLibrary.hpp"

#include <dlfcn.h>

namespace pindle::platform {

namespace {

// The major version of libsystemd's ABI, stable since 2015.
constexpr const char* libraryName = "libsystemd.so.0";

struct Loaded {
    const SDBusLibrary* library = nullptr;
    std::string why;
};

}  // namespace

// The handle is never closed: connections made through it may be closing on other threads
// while the process exits.
const SDBusLibrary* SDBusLibrary::load(std::string* why) {
    static const Loaded loaded = [] {
        Loaded result;
        void* handle = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* reason = dlerror();
            result.why = reason ? reason : std::string("cannot open ") + libraryName;
            return result;
        }
        auto* library = new SDBusLibrary();
#define PINDLE_SDBUS_RESOLVE(function)                                             \
    if (void* symbol = dlsym(handle, #function))                                   \
        library->function = reinterpret_cast<decltype(library->function)>(symbol); \
    else if (result.why.empty())                                                   \
        result.why = std::string(libraryName) + " has no " #function;
        PINDLE_SDBUS_FUNCTIONS(PINDLE_SDBUS_RESOLVE)
#undef PINDLE_SDBUS_RESOLVE
        if (!result.why.empty()) {
            delete library;
            return result;
        }
        result.library = library;
        return result;
    }();
    if (!loaded.library && why)
        *why = loaded.why;
    return loaded.library;
}

}  // namespace pindle::platform
