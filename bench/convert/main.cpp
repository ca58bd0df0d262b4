// pindle-convert-bench: converts one movie the way an upload does (the upload road's converter,
// 1280x720 H.264 High 4.0 and AAC) and exits when it is done, so that scripts/bench can time
// the whole process beside the ffmpeg command line with the same settings.
//
// usage: pindle-convert-bench SOURCE OUTPUT
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/uploads/PVideoConverter.hpp"
#include "platform/foundation/URL.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE OUTPUT\n", argv[0]);
        return 2;
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;    // guarded by mutex
    std::string failure;  // guarded by mutex
    const bool started = pindle::legacy::PVideoConverter::getInstance().convertMOVfileByURL(
        pindle::platform::URL::fileURLWithPath(argv[1]), argv[2],
        [&](bool cancelled, std::optional<pindle::platform::Error> error) {
            std::lock_guard lock(mutex);
            if (cancelled) {
                failure = "cancelled";
            } else if (error) {
                failure = error->localizedDescription();
            }
            done = true;
            changed.notify_all();
        });
    if (!started) {
        std::fprintf(stderr, "the conversion did not start\n");
        return 1;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return done; });
    if (!failure.empty()) {
        std::fprintf(stderr, "conversion failed: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}
