// DeviceChoice: the example host's view of the desktop's devices: `devices` lists the
// cameras, microphone, sound output, display and location service the platform finds, with
// why each fallback was taken; `record` picks its camera (--camera DEVICE, --synthetic) and
// checks that it can stream before it starts.
//
// Thread-safety: use from one thread (list(): the main thread, or one that can become it).
// Callbacks: none.
#pragma once

#include <optional>
#include <string>

#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/JsonLines.hpp"

namespace pindle::example {

class DeviceChoice {
  public:
    DeviceChoice() = delete;

    // Prints one line per device kind (and one per camera) and the summary line; returns 0.
    // Asks the display and the location service themselves, on this thread, which becomes
    // the main thread (1 when another thread already is).
    static int list(JsonLines& out);

    // Makes the camera of `line` the one recordings use and opens it once to see that it
    // streams. Nothing when it can; else why not, naming the device ("camera /dev/video2:
    // Device or resource busy"). A movie file named as the camera stands in for one, its
    // pictures paced as they were filmed (so that a benchmark can give the recorder and a peer
    // the same moving picture); the microphone is then the synthetic one.
    static std::optional<std::string> prepareRecording(const CommandLine& line);
};

}  // namespace pindle::example
