// WSRunLoopThread: the one network thread that carries the socket streams of every
// WebSocket. It runs a platform RunLoop for the life of the process; an exit handler stops
// and joins it, so no stream event is handled while the process tears down.
//
// Thread-safety: sharedThread() and runLoop() may be called from any thread. The loop's
// handlers run on the thread "com.quarry.WebSocket.NetworkThread" and run no user code:
// sockets move their events to their own work queues.
#pragma once

#include <memory>

#include "platform/net/stream/RunLoop.hpp"

namespace pindle {

class WSRunLoopThread {
  public:
    static constexpr const char* threadName = "com.quarry.WebSocket.NetworkThread";

    static WSRunLoopThread& sharedThread();

    WSRunLoopThread(const WSRunLoopThread&) = delete;
    WSRunLoopThread& operator=(const WSRunLoopThread&) = delete;

    // The thread's loop; waits until the thread has started running it.
    std::shared_ptr<platform::RunLoop> runLoop();

  private:
    WSRunLoopThread();
    struct State;
    std::shared_ptr<State> state_;
};

// The shared thread's loop.
std::shared_ptr<platform::RunLoop> WSNetworkRunLoop();

}  // namespace pindle
