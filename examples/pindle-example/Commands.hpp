// Commands: the example host's subcommands other than the demo, each one SDK operation whose
// result is printed as JSON lines.
//
// run() points the SDK at the gateway of the command line, starts the session (from the API
// token and identity, or from a session token), then runs the command. Records print one
// line each ({"video": ...}); every command ends with one summary line
// {"command": NAME, "ok": true|false, ...}, which carries the error when the call failed.
//
// Thread-safety: use from one thread; it blocks on each SDK call in turn. Callbacks: none.
#pragma once

#include <set>
#include <string>

#include "examples/pindle-example/BlockingClient.hpp"
#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "examples/pindle-example/PlayCommand.hpp"

namespace pindle::example {

class Commands {
  public:
    static constexpr int succeeded = 0;
    static constexpr int failed = 1;

    // How `play` runs the player; the program finds it in its extras module, in-process users
    // pass pindleExamplePlay. Without one, `play` fails.
    using PlayRunner = decltype(&pindleExamplePlay);

    Commands(CommandLine line, JsonLines& out, PlayRunner play = nullptr);
    Commands(const Commands&) = delete;
    Commands& operator=(const Commands&) = delete;

    // REQUIRES: the command line names a command other than "demo".
    // Returns `succeeded` or `failed`.
    int run();

  private:
    int session();
    int get();
    int list();
    int byTags();
    int byIdentity();
    int byIds();
    int count();
    int remove();
    int sync();
    int download();
    int upload();
    int importToLibrary();
    int resume();
    int uploads();
    int record();

    // Hands `file` to the upload road and waits for it; `command` names the summary line.
    int uploadFile(const std::string& path, const char* command);
    // Waits until none of `videoIDs` is on its way any more, printing progress lines and one
    // {"video": ...} line per upload that finished; whether all of them were uploaded.
    bool waitForUploads(std::set<std::string> videoIDs, const char* lastLineCommand);
    int play();

    // Prints the records and the summary line of a list command.
    int printVideos(const BlockingClient::Result<std::shared_ptr<PNVideosResponse>>& result);
    // The summary line of a failed command.
    int printFailure(const platform::Error& error);
    Json summary(bool ok) const;

    CommandLine line_;
    JsonLines& out_;
    BlockingClient client_;
    BlockingClient::SessionStart started_;
    PlayRunner play_;
};

}  // namespace pindle::example
