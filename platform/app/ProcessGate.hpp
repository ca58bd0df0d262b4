// ProcessGate: named points on the SDK's data paths where a crash test can stop this process,
// to kill it there and check that nothing acknowledged is lost when a fresh process resumes.
//
// A test arms one point for a child process through its environment:
//   PINDLE_STOP_AT=<point>[#<n>]   the point, and which arrival stops (1 when not given);
//   PINDLE_STOP_FD=<fd>            an inherited descriptor that hears "<point>\n" on arrival.
// At that arrival the process writes the line and stops itself (SIGSTOP), so every thread
// stands still exactly there; the test then sends SIGKILL. Without the environment variable a
// point costs one relaxed atomic load.
//
// Thread-safety: reach() may be called from any thread.
#pragma once

namespace pindle::platform {

class ProcessGate {
  public:
    ProcessGate() = delete;

    static constexpr const char* pointVariable = "PINDLE_STOP_AT";
    static constexpr const char* descriptorVariable = "PINDLE_STOP_FD";

    static void reach(const char* point);
};

}  // namespace pindle::platform
