// The example host's demo: a walk through the SDK against a backend emulator it starts
// in-process on a free loopback port with its sample videos.
//
// Steps, one JSON line each ({"step": NAME, "ok": true|false, ...}): start the emulator and
// point the SDK at it in local mode, start a session with the emulator's application token,
// list the first page of videos and page through the rest, fetch one video, download its first
// bytes through the range downloader, delete one video and count what is left, stop the
// session. Every PNAccountStateChanged posted meanwhile prints as
// {"event": "PNAccountStateChanged", "state": ...}. The first failed step ends the walk; the
// session and the emulator are stopped in any case and the SDK's gateway is put back.
//
// Thread-safety: run one demo at a time (it drives the process-wide session). Blocks the
// calling thread until done; the calling thread may be the main thread, as the demo never
// waits for the main queue.
#pragma once

#include <ostream>

namespace pindle::example {

// Returns 0 when every step succeeded, 1 otherwise.
int runDemo(std::ostream& out);
// The same, printing to the process's standard output.
int runDemo();

}  // namespace pindle::example

// `demo` as the program reaches it: an entry point of the extras module (see main.cpp), which
// holds the embedded backend emulator. Runs runDemo() on standard output.
extern "C" int pindleExampleDemo();
