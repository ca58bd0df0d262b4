// NetworkThread: one thread that drives the transfers of one URL session through libcurl's
// multi interface, over that session's own pool of connections.
//
// Other threads hand it commands (add, remove, resume a transfer); they run on the network
// thread in the order given. Transfers report through their TransferEvents on this thread.
//
// The thread stops when its NetworkThread is destroyed, or at process exit for threads of
// sessions that live until then, so no transfer is running while the process tears down
// the TLS library. Transfers still running when it stops are abandoned without a report.
//
// One made DrivenByCaller has no thread of its own: its commands run and its transfers move
// only while a caller is in runUntil(), on that caller's thread, and its connections wait idle
// in between. The exit handler stops it too: it waits until no caller drives it. A thread that
// would only wait for one transfer so does the work itself, with no hand-over to another thread and
// back.
//
// Thread-safety: all operations may be called from any thread, the destructor included
// (also from the network thread itself, when a transfer held the last reference).
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace pindle::platform {

class CurlTransfer;

class NetworkThread {
  public:
    explicit NetworkThread(int maximumConnectionsPerHost);
    struct DrivenByCaller {
        explicit DrivenByCaller() = default;
    };
    NetworkThread(int maximumConnectionsPerHost, DrivenByCaller);
    ~NetworkThread();

    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    void add(std::shared_ptr<CurlTransfer> transfer);
    // Stops `transfer` at once; it reports nothing more.
    void remove(std::shared_ptr<CurlTransfer> transfer);
    // Lets a paused transfer go on.
    void unpause(std::shared_ptr<CurlTransfer> transfer);
    // Runs `work` on the network thread, in order with the commands above.
    void perform(std::function<void()> work);

    // Runs the loop on the calling thread until `finished()` holds, which it asks after each
    // round of commands; false when the process's exit stopped the loop first (its transfers
    // are then abandoned). REQUIRES: made DrivenByCaller; no other thread is in runUntil().
    bool runUntil(const std::function<bool()>& finished);

    // The multi-handle loop the thread runs; defined in the source file.
    class Loop;

  private:
    std::shared_ptr<Loop> loop_;
    std::thread thread_;  // none when driven by its callers
};

}  // namespace pindle::platform
