// MainThread: the one thread that runs the main queue, and its main loop.
//
// Policy. The main queue (DispatchQueue::main(), OperationQueue::main()) is one serial
// executor bound to one thread, the main thread. Which thread that is gets settled on first
// use of the main queue:
//   - by default the platform starts a dedicated main thread that runs the loop for the life
//     of the process (a host without a loop of its own needs nothing more);
//   - a host or a test that wants its own thread to be the main thread calls
//     adoptCurrentThread() BEFORE first use, and then runs the loop itself with run(),
//     runUntil() or drain(). Work sent to the main queue waits until that thread pumps.
// The test suites adopt the test thread (tests/support/TestMain.cpp), so a test pumps the
// main queue with drain() or runUntil().
//
// A display showing windows adds its pump to the loop (setPump): the loop then also wakes when
// the pump is due, so the display's events and refreshes run on the main thread between
// blocks. The blocks queued when the pump ran all run before it runs again, so a pump slower
// than the rate it asks for (a long refresh) cannot hold the queue to one block per run.
//
// Thread-safety: adoptCurrentThread(), isMainThread(), stop() and submit() are safe from any
// thread. run(), runUntil() and drain() run main-queue work on the calling thread; called
// from inside main-queue work they run later blocks nested in it.
// REQUIRES (run, runUntil, drain): called on the main thread.
#pragma once

#include <functional>

namespace pindle::platform {

class MainThread {
  public:
    MainThread() = delete;

    // Binds the calling thread as the main thread. Returns false (and changes nothing) when
    // a main thread is already bound, be it this one or another.
    static bool adoptCurrentThread();

    // True on the main thread. Never binds one.
    static bool isMainThread();

    // Runs main-queue work until stop() is called.
    static void run();
    // Makes run() return after the block it is running (from any thread).
    static void stop();

    // Runs main-queue work until `predicate` returns true or `timeoutSeconds` of real time
    // pass. The predicate is checked before and after every block and, while the queue is
    // empty, every kPollInterval (it may depend on other threads). Returns whether the
    // predicate became true.
    static bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds);

    // Runs everything queued on the main queue now and whatever that queues in turn, until
    // the queue is empty. Work that other threads add while it runs may be run as well.
    static void drain();

    // Queues `work` to run on the main thread, binding the default main thread if none is
    // bound yet. This is the main queue's own entry; code sends work through
    // DispatchQueue::main().
    static void submit(std::function<void()> work);

    // A display's pump: while one is set, run() and runUntil() call it on the main thread
    // when it is due, between blocks; it does its work (events, a refresh) and returns the
    // seconds until it wants to run again. Null removes it. Hosts that never show a window
    // never set one, and their loop waits for work alone. drain() does not pump.
    // REQUIRES: called on the main thread.
    static void setPump(std::function<double()> pump);

    // How often runUntil() re-checks its predicate while the queue is empty.
    static constexpr double kPollInterval = 0.002;
};

}  // namespace pindle::platform
