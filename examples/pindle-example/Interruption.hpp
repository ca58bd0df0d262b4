// Interruption: SIGINT and SIGTERM, for the example host. install(), first thing in main(),
// blocks both signals in every thread of the program and waits for them on a thread of its
// own. When one arrives requested() turns true, and every wait of the commands (the main
// loop's, a reply's, an upload's, a recording's) ends early: the command lets go of what it
// holds (a window closed, recordings finished and kept, an upload's records left for
// `resume`), prints its summary with "interrupted", and the program exits with 128 + the
// signal's number (130 for SIGINT, 143 for SIGTERM). A second signal, or a command still
// running `graceSeconds` after the first, ends the program at once with that status.
//
// The libraries never touch the signals: this is the host's business. Without install() (the
// in-process tests) nothing is blocked and requested() stays false.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <string>

#include "platform/foundation/Error.hpp"

namespace pindle::example {

class Interruption {
  public:
    Interruption() = delete;

    // How long a command may take to wind down after a signal before the program ends anyway.
    static constexpr int graceSeconds = 10;

    // REQUIRES: called before the program starts any other thread.
    static void install();

    // The signal that asked the program to end; 0 while none has.
    static int signal();
    static bool requested() { return signal() != 0; }
    // 128 + signal().
    static int exitStatus();
    // "SIGINT" or "SIGTERM".
    static std::string signalName();
    // What a call cut short by the signal reports: domain "pindle-example", the exit status as
    // its code, "interrupted by SIGINT".
    static platform::Error error();
};

}  // namespace pindle::example
