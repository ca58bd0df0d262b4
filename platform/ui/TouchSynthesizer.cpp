#include "platform/ui/TouchSynthesizer.hpp"

#include <algorithm>
#include <chrono>

#include "platform/dispatch/Clock.hpp"
#include "platform/ui/SwipeGestureRecognizer.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::platform::ui {
namespace {

constexpr double swipeLength = 100;

double now() {
    return std::chrono::duration<double>(Clock::current()->uptime()).count();
}

void send(const std::shared_ptr<Window>& window, TouchPhase phase, Point point) {
    window->sendEvent(Touch{phase, point, 1, now()});
}

}  // namespace

void TouchSynthesizer::tap(const ViewPtr& view, Point point) {
    auto window = view ? view->window() : nullptr;
    if (!window)
        return;
    const Point at = view->convertPointTo(point, window.get());
    send(window, TouchPhase::began, at);
    send(window, TouchPhase::ended, at);
}

void TouchSynthesizer::tap(const ViewPtr& view) {
    if (view)
        tap(view, view->bounds().center());
}

void TouchSynthesizer::drag(const ViewPtr& view, Point from, Point to, int steps) {
    auto window = view ? view->window() : nullptr;
    if (!window)
        return;
    const Point a = view->convertPointTo(from, window.get());
    const Point b = view->convertPointTo(to, window.get());
    send(window, TouchPhase::began, a);
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        const double f = static_cast<double>(i) / steps;
        send(window, TouchPhase::moved, Point{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f});
    }
    send(window, TouchPhase::ended, b);
}

void TouchSynthesizer::swipe(const ViewPtr& view, unsigned direction) {
    if (!view)
        return;
    const Point c = view->bounds().center();
    Point end = c;
    if (direction & SwipeGestureRecognizer::Direction::right)
        end.x += swipeLength;
    else if (direction & SwipeGestureRecognizer::Direction::left)
        end.x -= swipeLength;
    else if (direction & SwipeGestureRecognizer::Direction::up)
        end.y -= swipeLength;
    else if (direction & SwipeGestureRecognizer::Direction::down)
        end.y += swipeLength;
    drag(view, c, end, 4);
}

}  // namespace pindle::platform::ui
