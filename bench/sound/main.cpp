// pindle-sound-bench FILE SECONDS: plays FILE with sound through the platform's player for
// SECONDS of media time (or to its end), on whatever sound server libpulse finds, and
// exits. scripts/bench times its CPU beside ffmpeg playing the same file to the same server.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/URLAsset.hpp"

using namespace pindle::platform;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pindle-sound-bench FILE SECONDS\n");
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    MainThread::adoptCurrentThread();
    auto item = PlayerItem::make(URLAsset::make(URL::fileURLWithPath(argv[1])));
    auto player = Player::make(item);
    if (!MainThread::runUntil([&] { return item->status() != PlayerItem::Status::unknown; }, 30) ||
        item->status() != PlayerItem::Status::readyToPlay) {
        std::fprintf(stderr, "pindle-sound-bench: %s does not play\n", argv[1]);
        return 1;
    }
    // The main thread sleeps until the player's own observer ends the run, as a host's loop
    // would: a polling wait would bill its wake-ups to the player.
    auto token = player->addPeriodicTimeObserver(
        MediaTime(1, 4), DispatchQueue::main(), [&](MediaTime time) {
            if (time.seconds() >= seconds || player->rate() == 0)
                MainThread::stop();
        });
    DispatchQueue::main()->asyncAfter(seconds * 2 + 10, [] { MainThread::stop(); });
    player->play();
    MainThread::run();
    player->pause();
    player->removeTimeObserver(token);
    return 0;
}
