// PlayWindow: what `play --window` adds to the play command. Without --window the player's
// window stays in memory whatever desktop the command runs on; with it the window appears on
// the desktop, and the command ends when the person closes the window or presses Escape
// (exit 0), besides --seconds when given. On the desktop a swipe up over the player plays the
// playlist's next video, sliding in from below, and a swipe down the previous one. Prints {"event":
// "window", "shown": ...} once the window is up, {"event": "closed", "reason": ...} when it
// goes, and at the end, the window still up, what it presented: {"event": "display", "refreshes",
// "presents", "rasterisations", "framesShown", "framesDropped"}.
//
// Thread-safety: use from the command's thread, the main thread; the close arrives there.
#pragma once

#include <memory>
#include <optional>

#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "examples/pindle-example/WindowOnDesktop.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::example {

class PlayWindow {
  public:
    // Call before the window is made visible: it settles where the window will appear.
    PlayWindow(bool onDesktop, JsonLines& out);
    ~PlayWindow();
    PlayWindow(const PlayWindow&) = delete;
    PlayWindow& operator=(const PlayWindow&) = delete;

    // Watches `window`, made key and visible; an error when --window was asked for and no
    // desktop shows it.
    platform::Status watch(const std::shared_ptr<platform::ui::Window>& window);
    bool closed() const { return desktop_.closed(); }
    // On the desktop, lets swipes move `controller` through its playlist.
    void addSwipes(const std::shared_ptr<PNPlayerViewController>& controller);

    // How long the slide to the next or previous video takes, in seconds.
    static constexpr double slideSeconds = 0.4;

  private:
    const bool onDesktop_;
    JsonLines& out_;
    WindowOnDesktop desktop_;
    // Held to the end, which outlasts the command's own reference: the figures of the
    // desktop window are read last.
    std::shared_ptr<platform::ui::Window> window_;
};

}  // namespace pindle::example
