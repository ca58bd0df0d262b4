// pindle-window-bench: plays one movie in a desktop window (a player layer filling a window
// of the movie's size) for a number of seconds and exits, so that scripts/bench can take the
// whole process's CPU time beside ffplay playing the same file in a window of the same size.
// Prints {"refreshes": N, "presents": N, "framesShown": N, "framesDropped": N} at the end.
//
// usage: pindle-window-bench MOVIE WIDTH HEIGHT SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dispatch/MainThread.hpp"
#include "platform/display/Display.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/ui/PlayerLayer.hpp"
#include "platform/ui/Window.hpp"

int main(int argc, char** argv) {
    using namespace pindle::platform;
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s MOVIE WIDTH HEIGHT SECONDS\n", argv[0]);
        return 2;
    }
    const double width = std::atof(argv[2]);
    const double height = std::atof(argv[3]);
    const double seconds = std::atof(argv[4]);
    MainThread::adoptCurrentThread();
    auto window = ui::Window::make(ui::Rect::make(0, 0, width, height));
    auto player = Player::make(PlayerItem::make(URLAsset::make(URL::fileURLWithPath(argv[1]))));
    auto layer = ui::PlayerLayer::make(player);
    layer->setFrame(window->bounds());
    window->layer()->addSublayer(layer);
    window->makeKeyAndVisible();
    if (!Display::isPresented(*window)) {
        std::fprintf(stderr, "no desktop to show the window on\n");
        return 1;
    }
    if (!MainThread::runUntil([&] { return layer->isReadyForDisplay(); }, 30)) {
        std::fprintf(stderr, "the movie did not become ready\n");
        return 1;
    }
    player->play();
    MainThread::runUntil([&] { return player->currentTime().seconds() >= seconds; },
                         seconds * 2 + 10);
    const auto statistics = Display::statistics(*window);
    std::printf(
        "{\"refreshes\": %llu, \"presents\": %llu, \"framesShown\": %llu, "
        "\"framesDropped\": %llu}\n",
        static_cast<unsigned long long>(statistics.refreshes),
        static_cast<unsigned long long>(statistics.presents),
        static_cast<unsigned long long>(statistics.videoFramesShown),
        static_cast<unsigned long long>(statistics.videoFramesDropped));
    return 0;
}
