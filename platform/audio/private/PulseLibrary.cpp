// The one file that sees libpulse's real function names: the table is filled by name here.
#define PINDLE_PULSE_NO_REDIRECT
#include "platform/audio/private/PulseLibrary.hpp"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/foundation/MediaError.hpp"

namespace pindle::platform::pulse {

namespace {

constexpr const char* libraryName = "libpulse.so.0";

std::atomic<bool> attempted{false};

struct Loaded {
    const PulseLibrary* library = nullptr;
    std::optional<Error> error;
};

Error cannotLoad(const std::string& what) {
    return MediaError::make(MediaError::unknown,
                            "The sound server library cannot be loaded: " + what);
}

}  // namespace

// The handle is never closed: libpulse keeps per-process state (its configuration, the
// threads of live connections) that must outlive every connection.
const PulseLibrary* PulseLibrary::load(Error* error) {
    attempted.store(true);
    static const Loaded loaded = [] {
        Loaded result;
        void* handle = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* reason = dlerror();
            result.error = cannotLoad(reason ? reason : libraryName);
            return result;
        }
        auto* library = new PulseLibrary();
        std::string missing;
#define PINDLE_PULSE_RESOLVE(function)                                             \
    if (void* symbol = dlsym(handle, #function))                                   \
        library->function = reinterpret_cast<decltype(library->function)>(symbol); \
    else if (missing.empty())                                                      \
        missing = #function;
        PINDLE_PULSE_FUNCTIONS(PINDLE_PULSE_RESOLVE)
#undef PINDLE_PULSE_RESOLVE
        if (!missing.empty()) {
            delete library;
            result.error = cannotLoad("no function " + missing);
            return result;
        }
        result.library = library;
        return result;
    }();
    if (!loaded.library && error)
        *error = *loaded.error;
    return loaded.library;
}

const PulseLibrary& PulseLibrary::shared() {
    Error error;
    if (const PulseLibrary* library = load(&error))
        return *library;
    std::fprintf(stderr, "pindle: %s\n", error.localizedDescription().c_str());
    std::abort();
}

bool PulseLibrary::wasLoadAttempted() {
    return attempted.load();
}

}  // namespace pindle::platform::pulse
