#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {

std::recursive_mutex& UILock::mutex() {
    // Leaked on purpose: views released by late blocks at exit still take it.
    static std::recursive_mutex* instance = new std::recursive_mutex;
    return *instance;
}

}  // namespace pindle::platform::ui
