#include "platform/display/Display.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app/Application.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/display/private/SDLLibrary.hpp"
#include "platform/display/private/WindowPresenter.hpp"
#include "platform/display/private/X11ConnectionWatch.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/log/StandardError.hpp"
#include "platform/ui/TextInput.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/private/WindowDisplay.hpp"

namespace pindle::platform {

using display::SDLLibrary;
using display::WindowPresenter;
using display::X11ConnectionWatch;

namespace {

constexpr double defaultRefreshRate = 60;
// The present delay is the median of this many of the latest presents: a main thread put off
// the processor in the middle of one (a loaded machine) makes that one long, and a mean would
// pick frames for later than most presents show them. It counts from the fifth present on: a
// window's first presents also prepare its renderer.
constexpr std::size_t presentDelaysKept = 15;
constexpr std::size_t presentDelaysNeeded = 5;

void say(const std::string& line) {
    const std::string text = "Display: " + line + "\n";
    const std::string_view pieces[] = {text};
    StandardError::writeGathered(pieces);
}

double uptimeSeconds() {
    return std::chrono::duration<double>(Clock::current()->uptime()).count();
}

// Installed as the library loads: a window made key on the main thread is shown through it.
[[maybe_unused]] const bool windowDisplayInstalled = [] {
    ui::WindowDisplay::install(
        [](const std::shared_ptr<ui::Window>& window) { Display::show(window); });
    return true;
}();

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The one finger (or the mouse's left button) whose touches are being sent.
struct Tracking {
    std::uint32_t windowID = 0;
    std::int64_t finger = 0;
    bool mouse = false;
};

// Everything here is used on the main thread only.
struct State {
    std::optional<Display::Kind> kind;
    std::string reason;  // why `kind`, as said when it was chosen
    const SDLLibrary* sdl = nullptr;
    double scale = 1;
    double refreshInterval = 1 / defaultRefreshRate;
    double nextRefresh = 0;
    // How long a refresh that presents takes from its start until the picture is up (drawing,
    // uploading and presenting), a median of the latest; the time the last refresh picked frames
    // for, and the uptime it started at.
    double presentDelay = 0;
    std::vector<double> presentDelays;  // the latest, oldest first
    double lastShownAt = 0;
    double lastRefreshAt = 0;
    std::vector<std::unique_ptr<WindowPresenter>> presenters;
    std::optional<Tracking> touch;
    bool watchingConnection = false;
    bool desktopLost = false;  // for the rest of the process, reset() or not
};

State& state() {
    static State* shared = new State();
    return *shared;
}

// Says the choice once and keeps its reason for Display::reason().
Display::Kind chosen(State& s, Display::Kind kind, std::string reason) {
    say((kind == Display::Kind::desktop ? "desktop (" : "headless (") + reason + ")");
    s.reason = std::move(reason);
    return kind;
}

// The desktop the environment names, for people: "DISPLAY=:1", "WAYLAND_DISPLAY=wayland-0".
std::string namedDesktop() {
    std::string named;
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        if (!isSet(name))
            continue;
        named += (named.empty() ? "" : " or ") + std::string(name) + "=" + std::getenv(name);
    }
    return named;
}

Display::Kind choose(State& s) {
    using Kind = Display::Kind;
    if (const char* forced = std::getenv(Display::environmentVariable);
        forced && std::string_view(forced) == "headless")
        return chosen(s, Kind::headless, "PINDLE_DISPLAY=headless");
    if (s.desktopLost)
        return chosen(s, Kind::headless, "the desktop went away earlier in this process");
    if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY"))
        return chosen(s, Kind::headless, "neither DISPLAY nor WAYLAND_DISPLAY is set");
    std::string reason;
    const SDLLibrary* sdl = SDLLibrary::load(&reason);
    if (!sdl)
        return chosen(s, Kind::headless, "SDL cannot be loaded: " + reason);
    // The interface is drawn at the window's own size; video is scaled by the renderer.
    sdl->SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    sdl->SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Fingers are read as fingers; the mouse events SDL makes up from them are ignored.
    sdl->SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
    // SDL would otherwise take SIGINT and SIGTERM over and turn them into a quit event nobody
    // reads: signals are the host's business.
    sdl->SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl->SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return chosen(s, Kind::headless,
                      "the desktop at " + namedDesktop() + " refused: " + sdl->SDL_GetError());
    // With no server behind the variables SDL falls back to drivers that show nobody anything
    // (offscreen, a console's KMS): only a desktop's own driver is a desktop.
    const char* driver = sdl->SDL_GetCurrentVideoDriver();
    const std::string_view driverName = driver ? driver : "";
    if (driverName != "x11" && driverName != "wayland") {
        sdl->SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return chosen(s, Kind::headless,
                      "no desktop answers at " + namedDesktop() + "; SDL offered only its \"" +
                          std::string(driverName) + "\" video driver");
    }
    s.sdl = sdl;
    SDL_DisplayMode mode;
    if (sdl->SDL_GetCurrentDisplayMode(0, &mode) == 0 && mode.refresh_rate > 0)
        s.refreshInterval = 1.0 / mode.refresh_rate;
    return chosen(s, Kind::desktop,
                  std::string(driverName == "wayland" ? "Wayland" : "X11") + ", " +
                      std::to_string(static_cast<int>(std::lround(1 / s.refreshInterval))) + " Hz");
}

WindowPresenter* presenterOf(const ui::Window& window) {
    for (auto& presenter : state().presenters)
        if (presenter->windowAddress() == &window)
            return presenter.get();
    return nullptr;
}

WindowPresenter* presenterWithID(std::uint32_t id) {
    for (auto& presenter : state().presenters)
        if (presenter->sdlWindowID() == id)
            return presenter.get();
    return nullptr;
}

void postClosed(const std::shared_ptr<ui::Window>& window, const char* reason) {
    if (!window)
        return;
    NotificationCenter::defaultCenter().post(ui::Window::didCloseNotification, Value(window),
                                             Dictionary{{"reason", Value(reason)}});
}

void sendTouch(WindowPresenter& presenter, ui::TouchPhase phase, double x, double y, int taps) {
    auto window = presenter.window();
    if (!window)
        return;
    ui::Touch touch;
    touch.phase = phase;
    touch.locationInWindow = ui::Point{x / presenter.scale(), y / presenter.scale()};
    touch.tapCount = std::max(1, taps);
    touch.timestamp = uptimeSeconds();
    window->sendEvent(touch);
}

void sendKey(WindowPresenter& presenter, const SDL_KeyboardEvent& key) {
    auto responder = std::dynamic_pointer_cast<ui::TextInput>(ui::View::currentFirstResponder());
    switch (key.keysym.sym) {
        case SDLK_ESCAPE:
            if (responder)
                Application::shared().endEditing();
            else
                postClosed(presenter.window(), "escape");
            return;
        case SDLK_BACKSPACE:
            if (responder)
                responder->deleteBackward();
            return;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            if (responder)
                responder->insertText("\n");
            return;
        default:
            return;
    }
}

void closePresenter(WindowPresenter* presenter) {
    auto& list = state().presenters;
    auto it = std::find_if(list.begin(), list.end(),
                           [presenter](const auto& p) { return p.get() == presenter; });
    if (it == list.end())
        return;
    auto closing = std::move(*it);
    list.erase(it);
    if (state().touch && state().touch->windowID == closing->sdlWindowID())
        state().touch.reset();
    if (list.empty())
        MainThread::setPump(nullptr);
}

// The X server went away: every desktop window is gone. The windows stay as they are in memory
// and hear that they were closed; windows shown from now on stay in memory (headless). SDL is
// not called again in this process: its clean-up would wait forever for the dead server.
void loseDisplay() {
    auto& s = state();
    say("the desktop went away (the X server's connection broke); windows closed, "
        "headless from now on");
    std::vector<std::shared_ptr<ui::Window>> closed;
    while (!s.presenters.empty()) {
        closed.push_back(s.presenters.back()->window());
        s.presenters.back()->abandon();
        closePresenter(s.presenters.back().get());
    }
    s.sdl = nullptr;
    s.desktopLost = true;
    s.watchingConnection = false;
    s.kind = Display::Kind::headless;
    s.reason = "the desktop went away";
    s.touch.reset();
    for (const auto& window : closed) postClosed(window, "display lost");
}

void handle(const SDLLibrary& sdl, const SDL_Event& event) {
    auto& s = state();
    switch (event.type) {
        case SDL_WINDOWEVENT: {
            auto* presenter = presenterWithID(event.window.windowID);
            if (!presenter)
                return;
            if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                presenter->resized(event.window.data1, event.window.data2);
            } else if (event.window.event == SDL_WINDOWEVENT_EXPOSED) {
                presenter->exposed();
            } else if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                auto window = presenter->window();
                closePresenter(presenter);
                postClosed(window, "closed");
            }
            return;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
        case SDL_MOUSEMOTION: {
            if ((event.type == SDL_MOUSEMOTION ? event.motion.which : event.button.which) ==
                SDL_TOUCH_MOUSEID)
                return;
            if (event.type != SDL_MOUSEMOTION && event.button.button != SDL_BUTTON_LEFT)
                return;
            const std::uint32_t id =
                event.type == SDL_MOUSEMOTION ? event.motion.windowID : event.button.windowID;
            auto* presenter = presenterWithID(id);
            if (!presenter)
                return;
            if (event.type == SDL_MOUSEBUTTONDOWN) {
                if (s.touch)
                    return;
                s.touch = Tracking{id, 0, true};
                sendTouch(*presenter, ui::TouchPhase::began, event.button.x, event.button.y,
                          event.button.clicks);
            } else if (s.touch && s.touch->mouse && s.touch->windowID == id) {
                if (event.type == SDL_MOUSEMOTION) {
                    sendTouch(*presenter, ui::TouchPhase::moved, event.motion.x, event.motion.y, 1);
                } else {
                    s.touch.reset();
                    sendTouch(*presenter, ui::TouchPhase::ended, event.button.x, event.button.y,
                              event.button.clicks);
                }
            }
            return;
        }
        case SDL_FINGERDOWN:
        case SDL_FINGERMOTION:
        case SDL_FINGERUP: {
            auto* presenter = presenterWithID(event.tfinger.windowID);
            if (!presenter)
                return;
            auto window = presenter->window();
            if (!window)
                return;
            // Finger positions are fractions of the window.
            const ui::Rect bounds = window->bounds();
            const double x = event.tfinger.x * bounds.width() * presenter->scale();
            const double y = event.tfinger.y * bounds.height() * presenter->scale();
            const auto finger = static_cast<std::int64_t>(event.tfinger.fingerId);
            if (event.type == SDL_FINGERDOWN) {
                if (s.touch)
                    return;
                s.touch = Tracking{event.tfinger.windowID, finger, false};
                sendTouch(*presenter, ui::TouchPhase::began, x, y, 1);
            } else if (s.touch && !s.touch->mouse && s.touch->finger == finger) {
                if (event.type == SDL_FINGERMOTION) {
                    sendTouch(*presenter, ui::TouchPhase::moved, x, y, 1);
                } else {
                    s.touch.reset();
                    sendTouch(*presenter, ui::TouchPhase::ended, x, y, 1);
                }
            }
            return;
        }
        case SDL_KEYDOWN:
            if (auto* presenter = presenterWithID(event.key.windowID))
                sendKey(*presenter, event.key);
            return;
        case SDL_TEXTINPUT:
            if (auto responder =
                    std::dynamic_pointer_cast<ui::TextInput>(ui::View::currentFirstResponder()))
                responder->insertText(event.text.text);
            return;
        default:
            (void)sdl;
            return;
    }
}

void notePresentDelay(double delay) {
    auto& s = state();
    if (s.presentDelays.size() == presentDelaysKept)
        s.presentDelays.erase(s.presentDelays.begin());
    s.presentDelays.push_back(delay);
    if (s.presentDelays.size() < presentDelaysNeeded)
        return;
    std::vector<double> sorted = s.presentDelays;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>((sorted.size() - 1) / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    s.presentDelay = *middle;
}

// One turn of the display on the main thread: events, then a refresh when one is due.
double pump() {
    auto& s = state();
    if (!s.sdl)
        return 1;
    SDL_Event event;
    while (s.sdl->SDL_PollEvent(&event)) handle(*s.sdl, event);
    if (X11ConnectionWatch::lost()) {
        loseDisplay();
        return 1;
    }

    // Windows gone from the host's side go from the desktop too.
    for (std::size_t i = 0; i < s.presenters.size();) {
        if (!s.presenters[i]->window())
            closePresenter(s.presenters[i].get());
        else
            ++i;
    }
    const double now = uptimeSeconds();
    if (now >= s.nextRefresh) {
        // A presenter that fell behind starts again from now: the frames it missed are
        // dropped, not queued.
        s.nextRefresh = std::max(s.nextRefresh + s.refreshInterval, now);
        // The picture is up from the end of the present until the next one, a refresh later:
        // frames are picked for the middle of that, so that on average a frame is on screen
        // when its time is heard, early by at most half a refresh and late by at most as much.
        // Never earlier than the last refresh's: on a loaded machine the delay can drop by more
        // than the time between two refreshes, and the picture would step back.
        // (A clock that went back was replaced, by a test, and starts afresh.)
        double shownAt = now + s.presentDelay + s.refreshInterval / 2;
        if (now >= s.lastRefreshAt)
            shownAt = std::max(shownAt, s.lastShownAt);
        s.lastShownAt = shownAt;
        s.lastRefreshAt = now;
        bool presented = false;
        for (std::size_t i = 0; i < s.presenters.size(); ++i)
            presented = s.presenters[i]->refresh(shownAt) || presented;
        if (presented)
            notePresentDelay(uptimeSeconds() - now);
        if (X11ConnectionWatch::lost()) {
            loseDisplay();
            return 1;
        }
    }
    return std::max(0.0, s.nextRefresh - uptimeSeconds());
}

}  // namespace

Display::Kind Display::kind() {
    auto& s = state();
    if (!s.kind)
        s.kind = choose(s);
    return *s.kind;
}

void Display::reset() {
    auto& s = state();
    while (!s.presenters.empty()) closePresenter(s.presenters.back().get());
    if (s.sdl)
        s.sdl->SDL_QuitSubSystem(SDL_INIT_VIDEO);
    s.sdl = nullptr;
    s.kind.reset();
    s.reason.clear();
    s.touch.reset();
    s.watchingConnection = false;
    s.refreshInterval = 1 / defaultRefreshRate;
    s.presentDelay = 0;
    s.presentDelays.clear();
    s.lastShownAt = 0;
    s.lastRefreshAt = 0;
}

std::string Display::reason() {
    kind();
    return state().reason;
}

void Display::chooseHeadless(const std::string& why) {
    auto& s = state();
    if (s.kind == Kind::headless)
        return;
    reset();
    s.kind = chosen(s, Kind::headless, why);
}

void Display::setScale(double pixelsPerPoint) {
    if (pixelsPerPoint > 0)
        state().scale = pixelsPerPoint;
}

void Display::show(const std::shared_ptr<ui::Window>& window) {
    if (!window || kind() != Kind::desktop || presenterOf(*window))
        return;
    auto& s = state();
    std::string reason;
    auto presenter = WindowPresenter::make(*s.sdl, window, s.scale, &reason);
    if (!presenter) {
        say("the window cannot be shown (" + reason + ")");
        return;
    }
    if (!s.watchingConnection && presenter->xConnection()) {
        s.watchingConnection = X11ConnectionWatch::watch(presenter->xConnection());
        if (!s.watchingConnection)
            say("this libX11 ends the process if the X server goes away");
    }
    const bool first = s.presenters.empty();
    s.presenters.push_back(std::move(presenter));
    if (first) {
        s.nextRefresh = uptimeSeconds();
        MainThread::setPump(pump);
    }
}

void Display::hide(const ui::Window& window) {
    if (auto* presenter = presenterOf(window))
        closePresenter(presenter);
}

Display::Statistics Display::statistics(const ui::Window& window) {
    auto* presenter = presenterOf(window);
    return presenter ? presenter->statistics() : Statistics{};
}

std::uint64_t Display::nativeHandle(const ui::Window& window) {
    auto* presenter = presenterOf(window);
    return presenter ? presenter->nativeHandle() : 0;
}

bool Display::isPresented(const ui::Window& window) {
    return presenterOf(window) != nullptr;
}

}  // namespace pindle::platform
