// The one file that sees FFmpeg's real function names: the table is filled by name here.
#define PINDLE_FFMPEG_NO_REDIRECT
#include "platform/media/private/FFmpegLibrary.hpp"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "platform/foundation/MediaError.hpp"

namespace pindle::platform::ffmpeg {

namespace {

#define PINDLE_FFMPEG_SONAME(name, major) "lib" #name ".so." AV_STRINGIFY(major)

// Dependencies first, so each library finds the ones it needs already mapped.
std::vector<std::string> defaultLibraryNames() {
    return {PINDLE_FFMPEG_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR),
            PINDLE_FFMPEG_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR),
            PINDLE_FFMPEG_SONAME(swscale, LIBSWSCALE_VERSION_MAJOR),
            PINDLE_FFMPEG_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR),
            PINDLE_FFMPEG_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR)};
}

// The key of each library in PINDLE_FFMPEG_FUNCTIONS, in the order of defaultLibraryNames().
constexpr const char* libraryKeys[] = {"avutil", "swresample", "swscale", "avcodec", "avformat"};

// Never destroyed, so that a worker still reaching media while the process exits finds it.
struct Names {
    std::mutex mutex;
    std::vector<std::string> inUse = defaultLibraryNames();  // guarded by mutex
};
Names& names() {
    static Names* shared = new Names();
    return *shared;
}

struct Loaded {
    const FFmpegLibrary* library = nullptr;
    std::optional<Error> error;
};

Error cannotLoad(const std::string& what) {
    return MediaError::make(MediaError::unknown, "The media libraries cannot be loaded: " + what);
}

}  // namespace

// Fills the table once. The handles are never closed: FFmpeg keeps global state (codec
// registries, thread pools) that must outlive every media object of the process.
const FFmpegLibrary* FFmpegLibrary::load(Error* error) {
    static const Loaded loaded = [] {
        Loaded result;
        std::map<std::string, void*> handles;
        const std::vector<std::string> files = libraryNames();
        for (std::size_t index = 0; index < files.size(); ++index) {
            void* handle = dlopen(files[index].c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char* reason = dlerror();
                result.error = cannotLoad(reason ? reason : files[index]);
                return result;
            }
            if (index < std::size(libraryKeys))
                handles[libraryKeys[index]] = handle;
        }
        auto* library = new FFmpegLibrary();
        std::string missing;
#define PINDLE_FFMPEG_RESOLVE(key, function)                                            \
    if (void* symbol = handles.count(#key) ? dlsym(handles[#key], #function) : nullptr) \
        library->function = reinterpret_cast<decltype(library->function)>(symbol);      \
    else if (missing.empty())                                                           \
        missing = #function;
        PINDLE_FFMPEG_FUNCTIONS(PINDLE_FFMPEG_RESOLVE)
#undef PINDLE_FFMPEG_RESOLVE
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

const FFmpegLibrary& FFmpegLibrary::shared() {
    if (const FFmpegLibrary* library = load())
        return *library;
    Error error;
    load(&error);
    std::fprintf(stderr, "pindle: %s\n", error.localizedDescription().c_str());
    std::abort();
}

std::vector<std::string> FFmpegLibrary::libraryNames() {
    std::lock_guard lock(names().mutex);
    return names().inUse;
}

void FFmpegLibrary::setLibraryNamesForTesting(std::vector<std::string> replacement) {
    std::lock_guard lock(names().mutex);
    names().inUse = std::move(replacement);
}

}  // namespace pindle::platform::ffmpeg
