#include "platform/ui/private/WindowDisplay.hpp"

#include "platform/foundation/private/InstalledFunction.hpp"

namespace pindle::platform::ui {

namespace {

using Installed = InstalledFunction<void(const std::shared_ptr<Window>&)>;

// Never destroyed: a window may be shown while other statics are torn down at exit.
Installed& installed() {
    static auto* function = new Installed([](const std::shared_ptr<Window>&) {});
    return *function;
}

}  // namespace

void WindowDisplay::install(Show show) {
    installed().install(std::move(show));
}

void WindowDisplay::show(const std::shared_ptr<Window>& window) {
    installed()(window);
}

}  // namespace pindle::platform::ui
