// WindowDisplay: how a window made key reaches the screen. The display stands above the
// interface folder, so it installs its showing of a window as the library loads (Display.cpp)
// and Window::makeKeyAndVisible() calls show() on the main thread. Before that, during static
// initialisation only, a window is shown nowhere.
//
// Thread-safety: install() and show() are safe from any thread; the installed function runs
// with no lock held, on the calling thread.
#pragma once

#include <functional>
#include <memory>

namespace pindle::platform::ui {

class Window;

class WindowDisplay {
  public:
    using Show = std::function<void(const std::shared_ptr<Window>&)>;

    static void install(Show show);
    static void show(const std::shared_ptr<Window>& window);
};

}  // namespace pindle::platform::ui
