#include "examples/pindle-example/PlayWindow.hpp"

#include "PindleCore/model/PNError.hpp"
#include "platform/display/Display.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/SwipeGestureRecognizer.hpp"

namespace pindle::example {

PlayWindow::PlayWindow(bool onDesktop, JsonLines& out) : onDesktop_(onDesktop), desktop_(out) {
    // A command-line tool that plays for a few seconds opens no window unless asked to.
    if (!onDesktop_)
        platform::Display::chooseHeadless("play without --window");
}

PlayWindow::~PlayWindow() {
    if (auto window = window_.lock())
        platform::Display::hide(*window);
}

platform::Status PlayWindow::watch(const std::shared_ptr<platform::ui::Window>& window) {
    if (!onDesktop_)
        return std::nullopt;
    window_ = window;
    return desktop_.watch(window, "window");
}

void PlayWindow::addSwipes(const std::shared_ptr<PNPlayerViewController>& controller) {
    if (!onDesktop_ || !controller)
        return;
    using Direction = platform::ui::SwipeGestureRecognizer::Direction;
    std::weak_ptr<PNPlayerViewController> weak = controller;
    for (const unsigned direction : {Direction::up, Direction::down}) {
        const bool forward = direction == Direction::up;
        auto swipe = std::make_shared<platform::ui::SwipeGestureRecognizer>(platform::weakly(
            weak,
            [forward](PNPlayerViewController& self, platform::ui::GestureRecognizer& recognizer) {
                auto playlist = self.playlist();
                if (!playlist ||
                    recognizer.state() != platform::ui::GestureRecognizer::State::ended)
                    return;
                const std::int64_t index = self.playlistIndex() + (forward ? 1 : -1);
                if (index < 0 || index >= playlist->count())
                    return;
                // The next video comes up from below, the previous one down from above.
                self.play(index, forward ? PNPlayerTransition::down(slideSeconds)
                                         : PNPlayerTransition::up(slideSeconds));
            }));
        swipe->setDirection(direction);
        controller->addGestureRecognizer(swipe);
    }
}

}  // namespace pindle::example
