#include "platform/ui/private/TextLibrary.hpp"

#include <dlfcn.h>

namespace pindle::platform::ui {

namespace {

struct Loaded {
    const TextLibrary* library = nullptr;
    std::string reason;
};

}  // namespace

std::vector<std::string> TextLibrary::libraryNames() {
    // The major versions are those of the headers the platform was built with (FreeType's
    // and fontconfig's sonames have not followed their headers' major numbers).
    return {"libfreetype.so.6", "libharfbuzz.so.0", "libfontconfig.so.1"};
}

// Fills the table once. The handles are never closed: faces and fontconfig's configuration
// live as long as the process.
const TextLibrary* TextLibrary::load(std::string* reason) {
    static const Loaded loaded = [] {
        Loaded result;
        std::vector<void*> handles;
        for (const std::string& file : libraryNames()) {
            void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char* why = dlerror();
                result.reason = why ? why : file;
                return result;
            }
            handles.push_back(handle);
        }
        auto* library = new TextLibrary();
        std::string missing;
#define PINDLE_TEXT_RESOLVE(index, function)                                       \
    if (void* symbol = dlsym(handles[index], #function))                           \
        library->function = reinterpret_cast<decltype(library->function)>(symbol); \
    else if (missing.empty())                                                      \
        missing = #function;
        PINDLE_TEXT_FUNCTIONS(PINDLE_TEXT_RESOLVE)
#undef PINDLE_TEXT_RESOLVE
        if (!missing.empty()) {
            delete library;
            result.reason = "no function " + missing;
            return result;
        }
        result.library = library;
        return result;
    }();
    if (!loaded.library && reason)
        *reason = loaded.reason;
    return loaded.library;
}

}  // namespace pindle::platform::ui
