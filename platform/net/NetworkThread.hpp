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
// Thread-safety: all operations may be called from any thread, the destructor included
// (also from the network thread itself, when a transfer held the last reference).
#pragma once

#include <memory>
#include <thread>

namespace pindle::platform {

class CurlTransfer;

class NetworkThread {
  public:
    explicit NetworkThread(int maximumConnectionsPerHost);
    ~NetworkThread();

    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    void add(std::shared_ptr<CurlTransfer> transfer);
    // Stops `transfer` at once; it reports nothing more.
    void remove(std::shared_ptr<CurlTransfer> transfer);
    // Lets a paused transfer go on.
    void unpause(std::shared_ptr<CurlTransfer> transfer);

    // The multi-handle loop the thread runs; defined in the source file.
    class Loop;

  private:
    std::shared_ptr<Loop> loop_;
    std::thread thread_;
};

}  // namespace pindle::platform
