// ExampleProgram: what the tools tests share to run the example host. Spawned runs it (or the
// standalone emulator) as a child process: a clean environment of the child's own (no test or
// SDK settings, HOME in a scratch folder), standard output and error in files of their own,
// read while it runs or once it has ended; killed if still running when the test lets go of
// it. emulatorServing() is a backend for it to play from.
//
// Thread-safety: use from the test's thread. No callbacks.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/MediaFixtures.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace pindle::example {

// How long a program may run before a test gives up on it: recording, converting and sending
// together take minutes under the sanitizers on a loaded machine.
constexpr auto programLimit = std::chrono::seconds(300);

std::vector<std::string> linesOf(const std::filesystem::path& path);
// The lines, each with its newline.
std::string joined(const std::vector<std::string>& lines);

struct ProgramRun {
    int status = -1;  // -1: it did not end within the limit; 128 + N: ended by signal N
    std::vector<std::string> out;
    std::vector<std::string> err;
};

class Spawned {
  public:
    // `extra` entries ("NAME=value") are added to the environment the child inherits, which
    // loses every GTEST_, PINDLE_ and ASAN_OPTIONS setting and HOME (set to `folder`).
    Spawned(const std::string& program, const std::vector<std::string>& arguments,
            const std::filesystem::path& folder, const std::vector<std::string>& extra = {});
    ~Spawned();
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    bool started() const { return pid_ > 0; }
    std::vector<std::string> out() const { return linesOf(out_); }
    std::vector<std::string> err() const { return linesOf(err_); }

    // Whether `condition` held within `limit` while the child ran.
    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);
    // Whether a line of standard output satisfied `wanted` within `limit`, while the child ran.
    bool waitForOutput(const std::function<bool(const std::string& line)>& wanted,
                       std::chrono::milliseconds limit);
    // Sends `signal` to the child.
    void signal(int signal);
    // Waits for the end, at most `limit` (then kills it and gives status -1).
    ProgramRun wait(std::chrono::milliseconds limit = programLimit);

  private:
    const std::filesystem::path out_;
    const std::filesystem::path err_;
    pid_t pid_ = -1;
};

// An emulator started on loopback whose videos `ids` (alice's, processed, tagged "a", titled
// "Video <id>") have `clip` as every rendition; null, with a failure added, when it does not
// start.
std::unique_ptr<emulator::BackendEmulator> emulatorServing(
    const std::vector<std::string>& ids, const platform::testing::ClipOptions& clip);

// Runs the example host to its end.
ProgramRun runExample(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment = {});

}  // namespace pindle::example
