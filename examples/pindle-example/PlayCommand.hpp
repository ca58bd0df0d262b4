// PlayCommand: `play`, which plays through the SDK's full-screen player controller in a
// headless window: one video by identifier, or with --playlist the videos of some tags in
// order, advancing at the end of each. It prints the controller's events as JSON lines
// ({"event": "ready" | "buffering" | "progress" | "end" | "error" | "snapshot", ...}; a
// "ready" line for every video that becomes current and ready), plays for --seconds of
// playback (media time played at rate 1, summed over the videos; or until the last video ends
// or the one shown fails), then pauses and, with --snapshot, writes a PNG of the window and
// prints the playback time of the frame it shows. Playback that falls short within --seconds
// plus the reply timeout of wall time has stalled: the outcome is an error with "stalled".
//
// Thread-safety: use from one thread, which becomes the main thread: the command runs the
// main queue while it plays. The controller's events are printed from the threads they
// arrive on (JsonLines is safe from any thread).
#pragma once

#include "examples/pindle-example/BlockingClient.hpp"
#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/JsonLines.hpp"

namespace pindle::example {

class PlayCommand {
  public:
    PlayCommand(const CommandLine& line, JsonLines& out, BlockingClient& client);
    PlayCommand(const PlayCommand&) = delete;
    PlayCommand& operator=(const PlayCommand&) = delete;

    // The summary line's fields, or the error that stopped the command.
    struct Outcome {
        Json fields = Json::object();
        std::optional<platform::Error> error;
    };
    Outcome run();

  private:
    const CommandLine& line_;
    JsonLines& out_;
    BlockingClient& client_;
};

}  // namespace pindle::example

// `play` as the program reaches it: an entry point of the extras module (see main.cpp), which
// holds the commands that need the player library, so that the program itself does not load
// that library. Runs PlayCommand(line, out, client).
extern "C" pindle::example::PlayCommand::Outcome pindleExamplePlay(
    const pindle::example::CommandLine& line, pindle::example::JsonLines& out,
    pindle::example::BlockingClient& client);
