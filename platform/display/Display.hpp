// Display: where windows appear. On a desktop (DISPLAY or WAYLAND_DISPLAY set and SDL's video
// starting on an X11 or Wayland server) every window made key and visible gets a desktop
// window of its own, presented once per display refresh; otherwise, or when
// PINDLE_DISPLAY=headless, the display is headless and windows exist only in memory
// (snapshots still work). The choice is made the first time a window is shown, said once on
// standard error with its reason, and holds until reset(). SDL is told to leave the process's
// signals alone: SIGINT and SIGTERM stay the host's.
//
// On a desktop the main thread's loop pumps the display (MainThread::setPump) while a window
// is shown: input becomes Touch sequences sent through Window::sendEvent, keys and typed text
// go to the first responder, a resize lays the window out again, and a closed window ("closed"),
// Escape pressed with nothing being edited ("escape"), or a display that goes away ("display
// lost") post Window::didCloseNotification with that "reason". A display that went away is
// said once and leaves the process headless for good (reset() included): windows live on in
// memory, players play on. Processes that never show a window never load SDL.
//
// Thread-safety: every operation REQUIRES the main thread. Window::didCloseNotification is
// posted on the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pindle::platform::ui {
class Window;
}

namespace pindle::platform {

class Display {
  public:
    Display() = delete;

    static constexpr const char* environmentVariable = "PINDLE_DISPLAY";

    enum class Kind { headless, desktop };

    // The display chosen for this process, choosing now if not yet chosen.
    static Kind kind();
    // Why the display is what it is, as said when it was chosen: "X11, 60 Hz" for a desktop,
    // the reason for a headless one ("PINDLE_DISPLAY=headless", "no desktop answers at
    // DISPLAY=:5; ..."). Chooses now if not yet chosen.
    static std::string reason();
    // Makes the display headless until reset(), saying `why` once, for a host that wants no
    // desktop windows whatever the environment offers (as PINDLE_DISPLAY=headless does,
    // without changing the environment). Desktop windows already shown are closed.
    static void chooseHeadless(const std::string& why);
    // Closes every desktop window and forgets the choice: the next window shown chooses
    // again (tests that start their own X server use this).
    static void reset();

    // Pixels per point of the desktop windows shown from now on (1 by default).
    static void setScale(double pixelsPerPoint);

    // Gives `window` a desktop window when the display is a desktop; called by
    // Window::makeKeyAndVisible.
    static void show(const std::shared_ptr<ui::Window>& window);
    // Takes `window`'s desktop window away (the window stays as it is).
    static void hide(const ui::Window& window);

    // What the presentation of one window has done so far.
    struct Statistics {
        std::uint64_t refreshes = 0;       // display refreshes gone by
        std::uint64_t presents = 0;        // of which presented a new picture
        std::uint64_t rasterisations = 0;  // times the interface was drawn again
        std::uint64_t videoFramesShown = 0;
        std::uint64_t videoFramesDropped = 0;  // passed without ever being on screen
    };
    // Zero for a window without a desktop window.
    static Statistics statistics(const ui::Window& window);
    // The desktop's handle of the window (an X11 window id); 0 when there is none.
    static std::uint64_t nativeHandle(const ui::Window& window);
    // True while `window` has a desktop window.
    static bool isPresented(const ui::Window& window);
};

}  // namespace pindle::platform
